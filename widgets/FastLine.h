// A chart line for long runs: points in chunks, block summaries for per-column envelopes, sparse point
// labels, and a cached picture to which new points are added while the axes stay still.
#pragma once

#include <qcustomplot.h>

#include <QImage>
#include <QString>
#include <map>
#include <memory>
#include <vector>

class tFastLine : public QCPAbstractPlottable {
    Q_OBJECT
public:
    tFastLine(QCPAxis* keyAxis, QCPAxis* valueAxis);
    ~tFastLine() override;

    // X values must not decrease: the line is a measurement in time.
    void Add(double x, double y, const QString& label = QString());
    void Clear();
    int Count() const { return FCount; }
    double X(int i) const { return FChunks[size_t(i >> kChunkBits)]->X[size_t(i & kChunkMask)]; }
    double Y(int i) const { return FChunks[size_t(i >> kChunkBits)]->Y[size_t(i & kChunkMask)]; }
    QString Label(int i) const;
    // Index of the first point whose X is greater than x.
    int UpperBound(double x) const;
    // Bytes held for the points, their summaries and labels.
    std::size_t BytesHeld() const;
    // Draws every point, the slow way: the reference picture for tests.
    void SetPlainDrawing(bool plain) { FPlain = plain; }

    double selectTest(const QPointF&, bool, QVariant* = nullptr) const override { return -1; }
    QCPRange getKeyRange(bool& found, QCP::SignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& found, QCP::SignDomain = QCP::sdBoth,
                           const QCPRange& = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

private:
    static constexpr int kChunkBits = 16;
    static constexpr int kChunkMask = (1 << kChunkBits) - 1;
    static constexpr int kBlockBits = 8;

    struct tChunk {
        std::vector<double> X;
        std::vector<double> Y;
    };
    struct tBlock {
        double Min;
        double Max;
    };

    void MinMax(int from, int to, double& low, double& high) const;
    // The polyline that covers the points [from, to] on screen: every point when they are few per pixel
    // column, else per column the first, lowest, highest and last point. Returns false when the points are
    // dense: `path` then holds per pixel column the x, the lowest and the highest pixel the line covers there
    // (three values a column, packed as two points: (x, low), (x, high)).
    bool BuildPath(int from, int to, QVector<QPointF>& path) const;
    void DrawPath(QPainter& painter, const QVector<QPointF>& path, bool sparse) const;
    void DrawLabels(QCPPainter* painter, int from, int to) const;

    std::vector<std::unique_ptr<tChunk>> FChunks;
    std::vector<tBlock> FBlocks;
    std::map<int, QString> FLabels;
    int FCount = 0;
    bool FPlain = false;

    // What the cached picture shows: the axes' ranges, the plot rectangle and how many points.
    QImage FCache;
    QCPRange FCacheKeys;
    QCPRange FCacheValues;
    QRect FCacheRect;
    QPen FCachePen;
    int FCachePoints = 0;
};
