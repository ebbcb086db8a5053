// SPDX-License-Identifier: GPL-3.0-or-later
// The exact decimal mean.
#include "core/Decimal.h"

#include <cmath>

namespace {

// True when `value` is the double nearest to a decimal of `places` places, that decimal times 10^places being
// `scaled`.
bool IsDecimal(double value, int places, std::int64_t& scaled) {
    const double power = double(kDecimalPowers[places]);
    const double times = value * power;
    if (!(std::abs(times) < double(kExactInteger))) return false;
    scaled = std::llround(times);
    return double(scaled) / power == value;
}

} // namespace

double DecimalMean(const double* values, std::size_t count) {
    if (count == 0) return 0;
    if (count == 1) return values[0];
    int places = 0;
    std::int64_t sum = 0;
    bool exact = count < std::size_t(kDecimalPowers[6]);
    for (std::size_t i = 0; i < count && exact; ++i) {
        std::int64_t scaled = 0;
        while (places <= 9 && !IsDecimal(values[i], places, scaled)) ++places;
        exact = places <= 9;
    }
    for (std::size_t i = 0; i < count && exact; ++i) {
        std::int64_t scaled = 0;
        exact = IsDecimal(values[i], places, scaled) && std::abs(sum) < kExactInteger / 2 &&
                std::abs(scaled) < kExactInteger / 2;
        sum += scaled;
    }
    if (exact && std::abs(sum) < kExactInteger)
        return double(sum) / (double(kDecimalPowers[places]) * double(count));
    double plain = 0;
    for (std::size_t i = 0; i < count; ++i) plain += values[i];
    return plain / double(count);
}
