// Fuzz target: the report-descriptor parser must never read past its input, hang or crash.
#include "platform/HidDescriptor.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tHidReportLengths lengths;
    ParseReportDescriptor(data, size, lengths);
    return 0;
}
