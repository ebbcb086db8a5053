// SPDX-License-Identifier: GPL-3.0-or-later
// The counter behind elapsed times, which tests may set.
#include "platform/Clock.h"

namespace {

std::function<std::int64_t()>& Override() {
    static std::function<std::int64_t()> counter;
    return counter;
}

} // namespace

std::int64_t ElapsedCounter() {
    return Override() ? Override()() : PerformanceCounter();
}

void SetElapsedCounter(std::function<std::int64_t()> counter) {
    Override() = std::move(counter);
}
