// The high-resolution counter behind elapsed times.
#pragma once

#include <chrono>
#include <cstdint>

inline std::int64_t PerformanceFrequency() {
    using Period = std::chrono::steady_clock::period;
    return std::int64_t(Period::den / Period::num);
}

inline std::int64_t PerformanceCounter() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}
