// SPDX-License-Identifier: GPL-3.0-or-later
// Decimals as sensors write them: powers of ten exact in 64 bits, and the mean of such values as the exact
// decimal mean.
#pragma once

#include <cstddef>
#include <cstdint>

// Integers a double holds exactly: below 2^53.
inline constexpr std::int64_t kExactInteger = std::int64_t(1) << 53;
inline constexpr std::int64_t kDecimalPowers[] = {1,
                                                  10,
                                                  100,
                                                  1000,
                                                  10000,
                                                  100000,
                                                  1000000,
                                                  10000000,
                                                  100000000,
                                                  1000000000,
                                                  10000000000,
                                                  100000000000,
                                                  1000000000000,
                                                  10000000000000,
                                                  100000000000000,
                                                  1000000000000000};

// The mean of `count` values that are decimals of at most nine places (as sensors send them), as the double
// nearest to the exact decimal mean: (20.1 + 20.2) / 2 is 20.15, not 20.150000000000002. Other values are
// averaged as doubles.
double DecimalMean(const double* values, std::size_t count);
