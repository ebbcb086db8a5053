// The high-resolution counter behind elapsed times.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

inline std::int64_t PerformanceFrequency() {
    using Period = std::chrono::steady_clock::period;
    return std::int64_t(Period::den / Period::num);
}

inline std::int64_t PerformanceCounter() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

// The counter behind the elapsed time of a run and a countdown (of PerformanceFrequency ticks a second): the
// real one, unless a test set its own (an empty function gives the real one back).
std::int64_t ElapsedCounter();
void SetElapsedCounter(std::function<std::int64_t()> counter);
