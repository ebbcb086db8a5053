#include "analysis/Calculus.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool Usable(std::span<const double> x, std::span<const double> y, double a) {
    return x.size() == y.size() && x.size() >= 2 && std::isfinite(a) && a >= x.front() && a <= x.back();
}

// y at `at` on the straight piece between the points about it.
double Interpolated(std::span<const double> x, std::span<const double> y, double at, std::size_t& after) {
    after = std::size_t(std::upper_bound(x.begin(), x.end(), at) - x.begin());
    if (after == 0) return y.front();
    if (after >= x.size()) return y.back();
    const double x0 = x[after - 1], x1 = x[after];
    return x1 > x0 ? y[after - 1] + (y[after] - y[after - 1]) * (at - x0) / (x1 - x0) : y[after];
}

} // namespace

double SlopeAt(std::span<const double> x, std::span<const double> y, double at) {
    if (!Usable(x, y, at)) return kNaN;
    const std::size_t n = x.size();
    const std::size_t nearest =
        std::min<std::size_t>(n - 1, std::size_t(std::lower_bound(x.begin(), x.end(), at) - x.begin()));
    const std::size_t half = std::clamp<std::size_t>(n / 50, 1, 100);
    const std::size_t first = nearest > half ? nearest - half : 0;
    const std::size_t last = std::min(n - 1, nearest + half);
    // A straight line through the window, its x taken about the window's mean.
    double mx = 0, my = 0;
    for (std::size_t i = first; i <= last; ++i) {
        mx += x[i];
        my += y[i];
    }
    const double count = double(last - first + 1);
    mx /= count;
    my /= count;
    double sxx = 0, sxy = 0;
    for (std::size_t i = first; i <= last; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    return sxx > 0 ? sxy / sxx : kNaN;
}

double Area(std::span<const double> x, std::span<const double> y, double from, double to) {
    if (!Usable(x, y, from) || !Usable(x, y, to)) return kNaN;
    if (to < from) return -Area(x, y, to, from);
    std::size_t i = 0;
    std::size_t end = 0;
    double px = from;
    double py = Interpolated(x, y, from, i);
    const double endY = Interpolated(x, y, to, end);
    double area = 0;
    for (; i < end; ++i) {
        area += (x[i] - px) * (y[i] + py) / 2;
        px = x[i];
        py = y[i];
    }
    return area + (to - px) * (endY + py) / 2;
}
