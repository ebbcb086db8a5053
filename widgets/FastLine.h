// A chart line for long runs: it draws a point series (chunks, block summaries for per-column envelopes,
// sparse point labels) and keeps a cached picture to which new points are added while the axes stay still.
#pragma once

#include "runs/PointSeries.h"

#include <qcustomplot.h>

#include <QImage>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class tFastLine : public QCPAbstractPlottable {
    Q_OBJECT
public:
    tFastLine(QCPAxis* keyAxis, QCPAxis* valueAxis);
    ~tFastLine() override;

    // X values must not decrease: the line is a measurement in time.
    void Add(double x, double y, const QString& label = QString()) { FSeries->Add(x, y, label); }
    // Starts a new, empty series; whoever holds the old one keeps it.
    void Clear();
    // Shows `series` (a run read back from disk); the line draws it from now on.
    void SetSeries(std::shared_ptr<tPointSeries> series);
    const std::shared_ptr<tPointSeries>& Series() const { return FSeries; }
    int Count() const { return FSeries->Count(); }
    double X(int i) const { return FSeries->X(i); }
    double Y(int i) const { return FSeries->Y(i); }
    QString Label(int i) const { return FSeries->Label(i); }
    // Index of the first point whose X is greater than x.
    int UpperBound(double x) const { return FSeries->UpperBound(x); }
    // Whether a point with x in [from, to] has a label.
    bool LabelBetween(double from, double to) const;
    // Bytes held for the points, their summaries and labels.
    std::size_t BytesHeld() const { return FSeries->BytesHeld(); }
    // Draws every point, the slow way: the reference picture for tests.
    void SetPlainDrawing(bool plain) { FPlain = plain; }
    // Marks every point with a dot where the points stand apart (points typed, or kept at typed values).
    void SetPointMarks(bool marks);

    // Adds the points that came since the line was last drawn to its cached picture, the axes unchanged (or,
    // `movedOn`, the time axis moved on by whole pixels: the picture moves with it): the part of the plot
    // that changed (empty when nothing came), or nothing when the picture cannot be kept (the axes, the plot
    // or the pen changed otherwise, or the line is not drawn from a picture) and the line must be drawn
    // whole.
    std::optional<QRect> DrawNewPoints(qreal ratio, bool movedOn = false);
    // Draws the cached picture and the point labels, clipped to the plot.
    void DrawCached(QCPPainter* painter);

    double selectTest(const QPointF&, bool, QVariant* = nullptr) const override { return -1; }
    QCPRange getKeyRange(bool& found, QCP::SignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& found, QCP::SignDomain = QCP::sdBoth,
                           const QCPRange& = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

private:
    // The polyline that covers the points [from, to] on screen: every point when they are few per pixel
    // column (of `ratio` device pixels to a window's pixel), else per column the first, lowest, highest and
    // last point. Returns false when the points are
    // dense: `path` then holds per pixel column the x, the lowest and the highest pixel the line covers there
    // (three values a column, packed as two points: (x, low), (x, high)).
    bool BuildPath(int from, int to, QVector<QPointF>& path, qreal ratio = 1) const;
    // `cached`: drawn onto the line's cached picture (a close-packed wide line may then be filled as the area
    // its pen covers); otherwise stroked point to point, as printing needs.
    void DrawPath(QPainter& painter, const QVector<QPointF>& path, bool sparse, bool cached) const;
    void DrawLabels(QCPPainter* painter, int from, int to) const;
    // How many device pixels the time axis moved on (its span kept) since the cached picture was drawn: 0
    // when it stands still, -1 for any other change or a move by a fraction of a pixel.
    int ScrollPixels(qreal ratio) const;
    // The first and last point to draw for the time axis' range (one beyond each edge, to join the line up).
    std::pair<int, int> Visible() const;
    // The line's pen with round ends and joins.
    QPen LinePen() const;
    // Brings the cached picture up to the line's points and axes (only new points when they allow it, moved
    // when the time axis moved on by whole pixels); returns the part of the plot it changed. Nothing is done
    // (and nothing returned) when the axes changed more than `update` allows.
    enum class tCacheUpdate { NewPoints, MovedOn, Whole };
    std::optional<QRect> UpdateCache(qreal ratio, tCacheUpdate update);
    // Moves the cached picture left by that many device pixels; the uncovered columns become transparent.
    void ShiftCache(int pixels);

    std::shared_ptr<tPointSeries> FSeries = std::make_shared<tPointSeries>();
    bool FPlain = false;
    bool FMarks = false;

    // What the cached picture shows: the axes' ranges, the plot rectangle and how many points.
    QImage FCache;
    QCPRange FCacheKeys;
    QCPRange FCacheValues;
    QRect FCacheRect;
    QPen FCachePen;
    int FCachePoints = 0;
    // Whether the line's layer holds a picture of it (a cleared line must then be taken off).
    bool FShown = false;
};
