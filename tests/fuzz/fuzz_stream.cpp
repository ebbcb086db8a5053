// Fuzz target: any bytes from a sensor, cut into reads of any size, are framed into packets that the window
// accepts, and decoding them never crashes. The first byte of the input picks the packet size, the next ones
// the read sizes.
#include "measure/RateFramer.h"
#include "measure/ValueStream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int packetSize = 5 + data[0] % 200;
    tRateFramer framer(packetSize, false);
    tChannels channels;
    int channel = 0;
    std::vector<std::uint8_t> payload;
    std::size_t at = 1;
    while (at < size) {
        framer.Begin();
        const int want = std::min<int>(framer.Room(), 1 + data[at] % 64);
        const bool good = (data[at] & 0x80) == 0;
        ++at;
        const int got = int(std::min<std::size_t>(std::size_t(want), size - at));
        std::memcpy(framer.Data(), data + at, std::size_t(got));
        at += std::size_t(got);
        std::unique_ptr<std::uint8_t[]> block = framer.Finish(got, good);
        if (!block) continue;
        payload.clear();
        if (!ExtractPayload(block.get(), std::size_t(packetSize), payload)) std::abort();
        DecodeValueStream(payload.data(), payload.size(), channel, channels);
        if (channel < 0 || channel > 15) std::abort();
    }
    return 0;
}
