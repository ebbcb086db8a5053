// The spectrum of a sampled signal (a sound, a vibration): amplitude against frequency, and its peak.
#pragma once

#include <span>
#include <vector>

struct tSpectrum {
    std::vector<double> Frequency; // Hz, from 0 up to half the sample rate
    std::vector<double> Amplitude; // a sine of amplitude A shows a peak near A
    double Peak = 0; // the strongest frequency, between the bins (Hz); 0 for none or under 2 periods
    double PeakAmplitude = 0;
};

// Samples taken `sampleRate` times a second, equally spaced: their mean removed, a Hann window, the transform
// of the samples padded with zeros to twice the next power of two; the peak interpolated between the bins on
// the logarithm of the amplitude. An empty spectrum for fewer than four samples or a rate that is not
// positive.
tSpectrum AmplitudeSpectrum(std::span<const double> y, double sampleRate);

// The spectrum of samples taken at the times x (seconds, evenly spaced): the rate from the first and last
// time.
tSpectrum TimedSpectrum(std::span<const double> x, std::span<const double> y);

// The frequency of the spectrum's peak in Hz (0 when there is none).
double DominantFrequency(std::span<const double> y, double sampleRate);
