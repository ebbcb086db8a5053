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
    tSum sum;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        if (result.Count == 0 || v < result.Min) result.Min = v;
        if (result.Count == 0 || v > result.Max) result.Max = v;
        sum.Add(v);
        ++result.Count;
    }
    if (result.Count == 0) return result;
    const double n = double(result.Count);
    const double mean = sum.Value() / n;
    // Two passes, the second corrected by the deviations' own sum.
    tSum squares;
    tSum deviations;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        const double d = v - mean;
        squares.Add(d * d);
        deviations.Add(d);
    }
    result.Mean = mean + deviations.Value() / n;
    if (result.Count > 1) {
        const double variance = (squares.Value() - deviations.Value() * deviations.Value() / n) / (n - 1);
        result.StdDev = std::sqrt(std::max(0.0, variance));
    }
    return result;
}
