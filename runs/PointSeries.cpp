// Storing points in chunks that grow step by step, with min/max summaries of every 256 points; times from
// the index and values as whole numbers of places while they are such.
#include "runs/PointSeries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The whole number `scaled` with value == scaled / 10^places exactly as doubles divide, when there is one.
bool Scaled(double value, double scale, std::int32_t& scaled) {
    const double times = value * scale;
    if (!(std::fabs(times) < 2147483647.0)) return false;
    scaled = std::int32_t(std::llround(times));
    return double(scaled) / scale == value;
}

// The microseconds `us` of a time, when the time is exactly they divided by a million.
bool Microseconds(double x, std::int64_t& us) {
    if (!(std::fabs(x) < 9e12)) return false;
    us = std::llround(x * 1e6);
    return double(us) / 1e6 == x;
}

} // namespace

void tPointSeries::Reserve(tChunk& c) {
    // The first chunk grows to its full size step by step, so short runs stay small; the others take it at
    // once (the system gives the pages as they are written): a long run leaves no freed steps behind it to
    // hold the process's memory.
    const size_t size = size_t(FCount & kChunkMask);
    const size_t capacity = FPlaces >= 0 ? c.Fixed.capacity() : c.Y.capacity();
    if (size < capacity) return;
    const size_t full = size_t(1) << kChunkBits;
    const size_t wanted = FCount >= int(full) ? full : std::min(full, std::max<size_t>(64, capacity * 2));
    if (FPlaces >= 0)
        c.Fixed.reserve(wanted);
    else
        c.Y.reserve(wanted);
    if (!FEven) c.X.reserve(wanted);
}

void tPointSeries::MakeUneven() {
    for (size_t k = 0; k < FChunks.size(); ++k) {
        tChunk& c = *FChunks[k];
        const int first = int(k << kChunkBits);
        const int last = std::min(FCount, first + (1 << kChunkBits));
        c.X.reserve(FPlaces >= 0 ? c.Fixed.capacity() : c.Y.capacity());
        for (int i = first; i < last; ++i) c.X.push_back(X(i));
    }
    FEven = false;
}

bool tPointSeries::Refix(int places) {
    if (places >= 0) {
        // Every value held in the new places, or none.
        const double factor = kScales[places - FPlaces];
        for (const auto& chunk : FChunks)
            for (const std::int32_t v : chunk->Fixed)
                if (!(std::fabs(double(v) * factor) < 2147483647.0)) return Refix(-1);
        for (const auto& chunk : FChunks)
            for (std::int32_t& v : chunk->Fixed) v = std::int32_t(double(v) * factor);
        FPlaces = places;
        return true;
    }
    for (const auto& chunk : FChunks) {
        chunk->Y.reserve(chunk->Fixed.capacity());
        for (const std::int32_t v : chunk->Fixed) chunk->Y.push_back(double(v) / kScales[FPlaces]);
        chunk->Fixed = {};
    }
    FPlaces = -1;
    return false;
}

void tPointSeries::Add(double x, double y, const QString& label) {
    if (FEven) {
        std::int64_t us = 0;
        if (!Microseconds(x, us)) {
            MakeUneven();
        } else if (FCount == 0) {
            FOriginUs = us;
        } else if (FCount == 1) {
            FStepUs = us - FOriginUs;
        } else if (us != FOriginUs + std::int64_t(FCount) * FStepUs) {
            MakeUneven();
        }
    }
    std::int32_t scaled = 0;
    if (FPlaces >= 0 && !Scaled(y, kScales[FPlaces], scaled)) {
        int places = FPlaces + 1;
        while (places <= kMaxPlaces && !Scaled(y, kScales[places], scaled)) ++places;
        if (places > kMaxPlaces || !Refix(places)) Refix(-1);
    }
    const size_t chunk = size_t(FCount >> kChunkBits);
    if (chunk == FChunks.size()) FChunks.push_back(std::make_unique<tChunk>());
    tChunk& c = *FChunks[chunk];
    Reserve(c);
    if (!FEven) c.X.push_back(x);
    if (FPlaces >= 0)
        c.Fixed.push_back(scaled);
    else
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
    // A chunk after the first takes its full size at once, but the system gives it the pages written only.
    for (size_t k = 0; k < FChunks.size(); ++k) {
        const tChunk& c = *FChunks[k];
        const auto held = [k](const auto& v) { return k == 0 ? v.capacity() : v.size(); };
        bytes +=
            sizeof(tChunk) + (held(c.X) + held(c.Y)) * sizeof(double) + held(c.Fixed) * sizeof(std::int32_t);
    }
    for (const auto& [index, label] : FLabels) bytes += 48 + size_t(label.size()) * 2;
    return bytes;
}
