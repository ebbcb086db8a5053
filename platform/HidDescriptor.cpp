// A HID report-descriptor walker that sums report sizes per report ID.
#include "platform/HidDescriptor.h"

#include <algorithm>
#include <array>
#include <map>

namespace {

struct tGlobals {
    std::uint32_t ReportSize = 0;
    std::uint32_t ReportCount = 0;
    std::uint32_t ReportId = 0;
};

// Bits per report ID and kind; sums are capped far above any real report so nothing overflows.
constexpr std::uint64_t kBitCap = std::uint64_t(1) << 32;
constexpr int kMaxPushDepth = 16;

int Bytes(std::uint64_t bits) {
    return int(std::min<std::uint64_t>((bits + 7) / 8, 1 << 20));
}

} // namespace

bool ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size, tHidReportLengths& lengths) {
    lengths = tHidReportLengths();
    if (!descriptor) return false;
    tGlobals globals;
    std::array<tGlobals, kMaxPushDepth> stack;
    int depth = 0;
    // [kind][report ID] -> bits; kind 0 input, 1 output, 2 feature.
    std::map<std::uint32_t, std::uint64_t> bits[3];
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = descriptor[i];
        if (prefix == 0xFE) {
            // A long item: data size in the next byte, then the tag, then the data.
            if (i + 2 >= size) return false;
            const std::size_t dataSize = descriptor[i + 1];
            if (i + 3 + dataSize > size) return false;
            i += 3 + dataSize;
            continue;
        }
        static const std::size_t kSizes[] = {0, 1, 2, 4};
        const std::size_t dataSize = kSizes[prefix & 3];
        if (i + 1 + dataSize > size) return false;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < dataSize; ++b) value |= std::uint32_t(descriptor[i + 1 + b]) << (8 * b);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 0) {
            int kind = -1;
            if (tag == 0x8)
                kind = 0;
            else if (tag == 0x9)
                kind = 1;
            else if (tag == 0xB)
                kind = 2;
            if (kind >= 0) {
                std::uint64_t& sum = bits[kind][globals.ReportId];
                sum = std::min(kBitCap, sum + std::uint64_t(globals.ReportSize) * globals.ReportCount);
            }
        } else if (type == 1) {
            switch (tag) {
            case 0x7:
                globals.ReportSize = value;
                break;
            case 0x8:
                globals.ReportId = value;
                lengths.NumberedReports = true;
                break;
            case 0x9:
                globals.ReportCount = value;
                break;
            case 0xA:
                if (depth >= kMaxPushDepth) return false;
                stack[std::size_t(depth++)] = globals;
                break;
            case 0xB:
                if (depth == 0) return false;
                globals = stack[std::size_t(--depth)];
                break;
            default:
                break;
            }
        }
        i += 1 + dataSize;
    }
    int* const out[3] = {&lengths.Input, &lengths.Output, &lengths.Feature};
    for (int kind = 0; kind < 3; ++kind) {
        std::uint64_t longest = 0;
        for (const auto& [id, sum] : bits[kind]) longest = std::max(longest, sum);
        // Windows counts one byte for the report ID, also when the device uses none.
        *out[kind] = bits[kind].empty() ? 0 : Bytes(longest) + 1;
    }
    return lengths.Input > 0 || lengths.Output > 0;
}
