// TChart: the program's line chart on QCustomPlot: fixed axes, lines with point labels, markers drawn after
// painting, mouse release with Ctrl, pixel/value conversion, pan and zoom switches, bitmap and printing.
#pragma once

#include "widgets/FastLine.h"

#include <QImage>
#include <functional>
#include <vector>

class QPrinter;

class TChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit TChart(QWidget* parent = nullptr);

    // Lines: width 5, no point symbols, marks with their labels. A line `behind` is drawn under the others
    // and takes no new points (a run measured before).
    int AddSeries(const QColor& color, bool behind = false, double width = 5);
    void RemoveLastSeries();
    int SeriesCount() const { return int(FSeries.size()); }
    tFastLine* Series(int index) const { return FSeries[size_t(index)]; }

    void SetBottomAxis(double min, double max, double step, const QString& title);
    void SetLeftAxis(double min, double max, double step, const QString& title);
    QCPRange BottomRange() const { return xAxis->range(); }
    QCPRange LeftRange() const { return yAxis->range(); }
    void SetBottomRange(double min, double max);
    void SetLeftRange(double min, double max);
    QString BottomTitle() const { return xAxis->label(); }
    QString LeftTitle() const { return yAxis->label(); }

    // The plotting rectangle in widget coordinates.
    QRect PlotRect() const;
    double PixelToX(double pixel) const { return xAxis->pixelToCoord(pixel); }
    double XToPixel(double x) const { return xAxis->coordToPixel(x); }

    // Pan and zoom switches: while measuring only vertical panning, when idle both directions and zoom.
    void AllowPanZoom(bool horizontal, bool zoom);

    // Redraws; after new points only the part of the picture they changed is drawn again, the lines from a
    // picture kept of the old points, and only that part of the window is painted. When the time axis moved
    // on by whole pixels and nothing else changed, the plot's picture is moved (on the display's side as
    // well) and only the part uncovered, the axes and what stands still over the plot are drawn again.
    void Redraw();
    // The chart as a picture of its size on screen.
    QImage RenderImage();
    // Draws the chart at another size (a page) and lays it out for the screen again, so that clicks, the
    // wheel and drags keep meeting the axes where the screen shows them.
    void PaintOn(QCPPainter& painter, int width, int height);

    // Called after every painting, with the painter and the plotting rectangle.
    std::function<void(QPainter& painter, const QRect& plotRect)> OnAfterDraw;
    // What OnAfterDraw draws that stands where it is whatever the time axis shows (a legend, result boxes, a
    // notice): drawn anew wherever it stands when the plot's picture moves. Unset: all of it moves with the
    // data.
    std::function<QRegion()> OnFixedOverlay;
    // Called when a mouse button is released over the chart.
    std::function<void(Qt::MouseButton button, const QPoint& position, bool ctrl)> OnMouseUp;

    // Asked first of every press, move and release of the left mouse button: true takes the press and the
    // moves and release that follow it (a box dragged over the chart, a region swept with Shift), which then
    // neither pan nor place a marker.
    std::function<bool(QEvent::Type type, const QPoint& position, Qt::KeyboardModifiers modifiers)>
        OnMouseGrab;
    // True while the chart is drawn for a page or a picture, not for the screen.
    bool OffScreen() const { return FOffScreen; }

    // Markers placed on this chart (indices of points of the active line; -1 = none).
    int Marker = -1;
    int SecondMarker = -1;

protected:
    // Lays out again when the layout gave an axis another length than its ticks were chosen for.
    void updateLayout() override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void ApplyLocale();
    // Gives QCustomPlot the one opaque picture its layers are drawn on.
    void SetUpBuffers();
    // Where an axis draws: its side of the plot and the strip its ticks reach into.
    QRect AxisArea(const QCPAxis& axis) const;
    // Draws the part of the picture the lines' new points changed again and asks the window to paint that
    // part; false when the picture must be drawn whole.
    bool PatchLines();
    // The time axis moved on by `dx` whole pixels of the window, nothing else changed: the plot's picture
    // moves left and what it uncovered, the axes and the overlay's fixed parts are drawn again; false when
    // the picture must be drawn whole.
    bool ScrollLines(int dx);
    // By how many of the window's whole pixels the time axis moved on since the picture was drawn, its span,
    // the value axis, the size and the markers kept; 0 for any other change.
    int ScrolledPixels() const;
    // Draws `parts` of the picture again on `painter` (the picture's own): the background, then every layer,
    // each layerable clipped to the part it draws in.
    void DrawParts(QCPPainter& painter, const QRegion& parts);

    // What a whole replot drew the picture for.
    struct tDrawn {
        QCPRange Keys;
        QCPRange Values;
        QSize Size;
        double Ratio = 0;
        int Marker = -1;
        int SecondMarker = -1;
        bool SameAxes(const tDrawn& other) const {
            return Keys == other.Keys && Values == other.Values && Size == other.Size && Ratio == other.Ratio;
        }
    };
    tDrawn Drawn() const;

    std::vector<tFastLine*> FSeries;
    QCPLayer* FLinesLayer = nullptr;
    tDrawn FDrawn;
    // Where the overlay's fixed parts stand on the picture.
    QRegion FFixedDrawn;
    // Where they stand now.
    QRegion FixedOverlay() const { return OnFixedOverlay ? OnFixedOverlay() : QRegion(); }
    QPoint FPressedAt;
    bool FGrabbed = false;
    bool FOffScreen = false;
    // New points came while nothing of the chart could be seen (another page shown, the window covered): the
    // picture is drawn when it is painted next.
    bool FStale = false;
};
