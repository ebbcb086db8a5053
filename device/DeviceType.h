// The three links a sensor can be reached over; the same codes name them in the device and its thread.
#pragma once

#include <cstdint>

enum tDeviceType : std::uint8_t { dtFTDI = 0, dtCOM = 1, dtHID = 2 };
