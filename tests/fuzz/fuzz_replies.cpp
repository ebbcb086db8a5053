// Fuzz target: the sensor's answers to INFO, FREQ and START (39 bytes each) are read whatever they hold.
#include "device/Device.h"
#include "measure/Measurethread.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t reply[39] = {};
    std::memcpy(reply, data, std::min<std::size_t>(size, sizeof reply));
    int speed = -1;
    const tDeviceInfo info = ParseInfoReply(reply, &speed);
    if (info.Name.size() > 39) std::abort();
    (void)IsFreqAccepted(reply);
    if (PacketSizeFromResponse(reply, 39) < 0) std::abort();
    return 0;
}
