#include "analysis/Spectrum.h"

#include "analysis/Statistics.h"

#include <algorithm>
#include <cmath>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_fft_real.h>
#include <numbers>

namespace {

// A long signal's spectrum is the mean of the spectra of this many samples at most, taken at places spread
// over it: the transform's memory and time stay bounded, its resolution fine.
constexpr std::size_t kSegment = std::size_t(1) << 20;
constexpr std::size_t kSegments = 8;

// Adds the amplitude spectrum of `y` (its mean removed, a Hann window, padded to `size`) to `amplitude`;
// false when it cannot be taken.
bool AddSpectrum(std::span<const double> y, std::size_t size, std::vector<double>& data,
                 std::vector<double>& amplitude) {
    const std::size_t n = y.size();
    const tStatistics stats = Describe(y);
    if (stats.Count != n) return false; // a value that is not a number
    std::fill(data.begin(), data.end(), 0.0);
    double windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(n - 1));
        data[i] = (y[i] - stats.Mean) * w;
        windowSum += w;
    }
    gsl_error_handler_t* previous = gsl_set_error_handler_off();
    const int status = gsl_fft_real_radix2_transform(data.data(), 1, size);
    gsl_set_error_handler(previous);
    if (status != GSL_SUCCESS) return false;
    // Half-complex order: the real parts up to size/2, then the imaginary ones backwards.
    for (std::size_t k = 0; k < amplitude.size(); ++k) {
        const double re = data[k];
        const double im = k > 0 && k < size / 2 ? data[size - k] : 0.0;
        amplitude[k] += (k == 0 || k == size / 2 ? 1.0 : 2.0) * std::hypot(re, im) / windowSum;
    }
    return true;
}

} // namespace

tSpectrum AmplitudeSpectrum(std::span<const double> y, double sampleRate) {
    tSpectrum spectrum;
    const std::size_t all = y.size();
    if (all < 4 || !(sampleRate > 0) || !std::isfinite(sampleRate)) return spectrum;
    const std::size_t n = std::min(all, kSegment);
    const std::size_t segments = all > n ? std::min(kSegments, (all + n - 1) / n) : 1;
    std::size_t size = 1;
    while (size < n) size <<= 1;
    size <<= 1;
    std::vector<double> data(size, 0.0);
    const std::size_t bins = size / 2 + 1;
    spectrum.Amplitude.assign(bins, 0.0);
    for (std::size_t k = 0; k < segments; ++k) {
        const std::size_t at = segments > 1 ? k * (all - n) / (segments - 1) : 0;
        if (!AddSpectrum(y.subspan(at, n), size, data, spectrum.Amplitude)) return tSpectrum();
    }
    spectrum.Frequency.resize(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        spectrum.Frequency[k] = double(k) * sampleRate / double(size);
        spectrum.Amplitude[k] /= double(segments);
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k + 1 < bins; ++k)
        if (spectrum.Amplitude[k] > spectrum.Amplitude[best] || best == 0) best = k;
    if (best == 0 || spectrum.Amplitude[best] <= 0) return spectrum;
    double shift = 0;
    const double a = spectrum.Amplitude[best - 1], b = spectrum.Amplitude[best],
                 c = spectrum.Amplitude[best + 1];
    if (a > 0 && c > 0) {
        const double la = std::log(a), lb = std::log(b), lc = std::log(c);
        const double curve = la - 2 * lb + lc;
        if (curve < 0) shift = std::clamp(0.5 * (la - lc) / curve, -0.5, 0.5);
    }
    // An oscillation shows at least two periods in the samples; a slower "peak" is the trend of a curve.
    const double peak = (double(best) + shift) * sampleRate / double(size);
    if (peak * double(n) / sampleRate < 2) return spectrum;
    spectrum.Peak = peak;
    spectrum.PeakAmplitude = b;
    return spectrum;
}

double DominantFrequency(std::span<const double> y, double sampleRate) {
    return AmplitudeSpectrum(y, sampleRate).Peak;
}

tSpectrum TimedSpectrum(std::span<const double> x, std::span<const double> y) {
    const std::size_t n = std::min(x.size(), y.size());
    const double rate = n > 1 ? double(n - 1) / (x[n - 1] - x[0]) : 0;
    return AmplitudeSpectrum(y.first(n), rate);
}
