#include "analysis/Statistics.h"

#include <algorithm>
#include <cmath>

namespace {

// Kahan–Babuška (Neumaier) summation.
class tSum {
public:
    void Add(double value) {
        const double t = FSum + value;
        FCarry += std::fabs(FSum) >= std::fabs(value) ? (FSum - t) + value : (value - t) + FSum;
        FSum = t;
    }
    double Value() const { return FSum + FCarry; }

private:
    double FSum = 0;
    double FCarry = 0;
};

} // namespace

tStatistics Describe(std::span<const double> values) {
    tStatistics result;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        if (result.Count == 0 || v < result.Min) result.Min = v;
        if (result.Count == 0 || v > result.Max) result.Max = v;
        ++result.Count;
    }
    if (result.Count == 0) return result;
    // Summed and squared scaled by a power of two (exactly) to about 1: values near 1e300 neither overflow
    // nor lose their spread, and 1e-300 do not underflow.
    const double largest = std::max(std::fabs(result.Min), std::fabs(result.Max));
    const int shift = largest > 0 ? std::ilogb(largest) : 0;
    const double n = double(result.Count);
    tSum sum;
    for (const double v : values)
        if (std::isfinite(v)) sum.Add(std::ldexp(v, -shift));
    // The compensated sum is the mean's own: a correction by the deviations would bring back what the
    // largest values' deviations lose to rounding ({0, 1e308, −1e308, 1} would have a mean of 0.375).
    const double mean = sum.Value() / n;
    // The squares in a second pass, corrected by the deviations' own sum.
    tSum squares;
    tSum deviations;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        const double d = std::ldexp(v, -shift) - mean;
        squares.Add(d * d);
        deviations.Add(d);
    }
    result.Mean = std::ldexp(mean, shift);
    if (result.Count > 1) {
        const double variance = (squares.Value() - deviations.Value() * deviations.Value() / n) / (n - 1);
        result.StdDev = std::ldexp(std::sqrt(std::max(0.0, variance)), shift);
    }
    return result;
}
