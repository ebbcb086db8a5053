// The points of one measured run: X and Y in chunks, block summaries for fast envelopes, sparse labels. The
// chart's line draws it and the table reads it; the run keeps it when the line is cleared.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <vector>

class tPointSeries {
public:
    // X values must not decrease: the series is a measurement in time.
    void Add(double x, double y, const QString& label = QString());
    int Count() const { return FCount; }
    double X(int i) const { return FChunks[size_t(i >> kChunkBits)]->X[size_t(i & kChunkMask)]; }
    double Y(int i) const { return FChunks[size_t(i >> kChunkBits)]->Y[size_t(i & kChunkMask)]; }
    QString Label(int i) const;
    // Gives point i a label afterwards (an empty text takes it away).
    void SetLabel(int i, const QString& label);
    const std::map<int, QString>& Labels() const { return FLabels; }
    // Index of the first point whose X is greater than x.
    int UpperBound(double x) const;
    // The lowest and highest Y of the points [from, to).
    void MinMax(int from, int to, double& low, double& high) const;
    // Bytes held for the points, their summaries and labels.
    std::size_t BytesHeld() const;

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

    std::vector<std::unique_ptr<tChunk>> FChunks;
    std::vector<tBlock> FBlocks;
    std::map<int, QString> FLabels;
    int FCount = 0;
};
