// Storing points in chunks that grow step by step, with min/max summaries of every 256 points.
#include "runs/PointSeries.h"

#include <algorithm>
#include <limits>

void tPointSeries::Add(double x, double y, const QString& label) {
    const size_t chunk = size_t(FCount >> kChunkBits);
    if (chunk == FChunks.size()) FChunks.push_back(std::make_unique<tChunk>());
    tChunk& c = *FChunks[chunk];
    // Chunks grow to their full size step by step, so short runs stay small.
    if (c.X.size() == c.X.capacity()) {
        const size_t wanted =
            std::min<size_t>(size_t(1) << kChunkBits, std::max<size_t>(64, c.X.capacity() * 2));
        c.X.reserve(wanted);
        c.Y.reserve(wanted);
    }
    c.X.push_back(x);
    c.Y.push_back(y);
    const size_t block = size_t(FCount >> kBlockBits);
    if (block == FBlocks.size()) FBlocks.push_back({y, y});
    FBlocks[block].Min = std::min(FBlocks[block].Min, y);
    FBlocks[block].Max = std::max(FBlocks[block].Max, y);
    if (!label.isEmpty()) FLabels[FCount] = label;
    ++FCount;
}

QString tPointSeries::Label(int i) const {
    const auto it = FLabels.find(i);
    return it == FLabels.end() ? QString() : it->second;
}

void tPointSeries::SetLabel(int i, const QString& label) {
    if (i < 0 || i >= FCount) return;
    if (label.isEmpty())
        FLabels.erase(i);
    else
        FLabels[i] = label;
}

int tPointSeries::UpperBound(double x) const {
    int low = 0;
    int high = FCount;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (X(middle) <= x)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void tPointSeries::MinMax(int from, int to, double& low, double& high) const {
    low = std::numeric_limits<double>::infinity();
    high = -low;
    const int blockSize = 1 << kBlockBits;
    int i = from;
    for (; i < to && (i & (blockSize - 1)) != 0; ++i) low = std::min(low, Y(i)), high = std::max(high, Y(i));
    for (; i + blockSize <= to; i += blockSize) {
        const tBlock& block = FBlocks[size_t(i >> kBlockBits)];
        low = std::min(low, block.Min);
        high = std::max(high, block.Max);
    }
    for (; i < to; ++i) low = std::min(low, Y(i)), high = std::max(high, Y(i));
}

std::size_t tPointSeries::BytesHeld() const {
    std::size_t bytes = FBlocks.capacity() * sizeof(tBlock) + FChunks.capacity() * sizeof(void*);
    for (const auto& chunk : FChunks)
        bytes += sizeof(tChunk) + (chunk->X.capacity() + chunk->Y.capacity()) * sizeof(double);
    for (const auto& [index, label] : FLabels) bytes += 48 + size_t(label.size()) * 2;
    return bytes;
}
