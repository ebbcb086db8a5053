// The points of one measured run: X and Y in chunks, block summaries for fast envelopes, sparse labels. The
// chart's line draws it and the table reads it; the run keeps it when the line is cleared.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// A run measured at a fixed rate holds about 4 bytes a point: its times are made from the index (the whole
// microseconds of the sampling), its values are whole multiples of the sensor's last decimal place. Points
// that are not (times of another spacing, values of more places or not decimals at all) are kept as
// doubles, those before them too: every point reads back as exactly the double it was given.
class tPointSeries {
public:
    // X values must not decrease: the series is a measurement in time.
    void Add(double x, double y, const QString& label = QString());
    int Count() const { return FCount; }
    double X(int i) const {
        return FEven ? double(FOriginUs + std::int64_t(i) * FStepUs) / 1e6
                     : FChunks[size_t(i >> kChunkBits)]->X[size_t(i & kChunkMask)];
    }
    double Y(int i) const {
        const tChunk& chunk = *FChunks[size_t(i >> kChunkBits)];
        return FPlaces >= 0 ? double(chunk.Fixed[size_t(i & kChunkMask)]) / kScales[FPlaces]
                            : chunk.Y[size_t(i & kChunkMask)];
    }
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
    static constexpr int kMaxPlaces = 6;
    static constexpr double kScales[kMaxPlaces + 1] = {1, 10, 100, 1000, 10000, 100000, 1000000};

    struct tChunk {
        std::vector<double> X;           // while the times are not evenly spaced
        std::vector<std::int32_t> Fixed; // Y in units of the last place, while every Y is such
        std::vector<double> Y;           // else
    };
    struct tBlock {
        double Min;
        double Max;
    };

    // The times as doubles from now on.
    void MakeUneven();
    // Y in `places` places, or as doubles when -1 (or when a value does not fit): true when kept fixed.
    bool Refix(int places);
    // Room for one more point in the chunk's vectors in use.
    void Reserve(tChunk& chunk);

    std::vector<std::unique_ptr<tChunk>> FChunks;
    std::vector<tBlock> FBlocks;
    std::map<int, QString> FLabels;
    int FCount = 0;
    bool FEven = true;
    std::int64_t FOriginUs = 0;
    std::int64_t FStepUs = 0;
    int FPlaces = 0;
};
