// Report lengths from a HID report descriptor, read defensively: malformed bytes give an answer or false,
// never more.
#pragma once

#include <cstddef>
#include <cstdint>

struct tHidReportLengths {
    int Input = 0; // bytes of the longest input report, plus one for the report ID
    int Output = 0;
    int Feature = 0;
    bool NumberedReports = false; // the descriptor declares report IDs
};

// False when the descriptor is malformed (an item running past its end, a push stack overflow) or declares no
// input and no output report.
bool ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size, tHidReportLengths& lengths);
