// Statistics of a region of a run: count, mean, the sample standard deviation, the extremes.
#pragma once

#include <cstddef>
#include <span>

struct tStatistics {
    std::size_t Count = 0;
    double Mean = 0, StdDev = 0, Min = 0, Max = 0;
};

// StdDev is the sample one (n − 1); with one value it is 0. Values that are not numbers are left out. Sums
// are compensated and taken about the mean, so nine-digit values with a spread in their last digit keep it,
// and scaled, so values of any size keep theirs; a spread beyond the largest double is infinite.
tStatistics Describe(std::span<const double> values);
