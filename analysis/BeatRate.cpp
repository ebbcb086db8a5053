// Beat detection on the falling 70 % crossing of the last 5 seconds.
#include "analysis/BeatRate.h"

#include "core/Functions.h"
#include "runs/PointSeries.h"

#include <algorithm>

void tBeatDetector::Begin(double minSwing) {
    WindowMin = 10000;
    WindowMax = -10000;
    MinSwing = minSwing;
    LastBeat = -1;
    Beat = -1;
    ScanFrom = 0;
}

void tBeatDetector::Scan(const tPointSeries& wave, int count,
                         const std::function<void(double, double)>& rate) {
    const int n = std::min(count, wave.Count());
    if (n == 0 || wave.X(n - 1) < 5.3) return;
    const double t = wave.X(n - 1);
    WindowMin = 100000;
    WindowMax = -100000;
    for (int k = n - 1; k >= 0 && t - wave.X(k) < 5.0; --k) {
        WindowMin = std::min(WindowMin, wave.Y(k));
        WindowMax = std::max(WindowMax, wave.Y(k));
    }
    const double h = WindowMin + (WindowMax - WindowMin) * 0.7;
    if (ScanFrom < 2) ScanFrom = 2;
    if (WindowMax - WindowMin < MinSwing) {
        // No pulse in the window: no crossing counts, and the next beat starts afresh.
        LastBeat = -1;
        ScanFrom = n;
    }
    for (int i = ScanFrom; i < n; ++i) {
        if (!(wave.Y(i - 1) <= h && wave.Y(i - 2) >= h)) continue;
        const double c = wave.X(i - 1);
        if (LastBeat < 0) {
            LastBeat = c;
        } else if (c - LastBeat > 0.2) {
            Beat = c;
            rate((Beat + LastBeat) * 0.5, RoundHalf049(60 / (Beat - LastBeat)));
            LastBeat = Beat;
        }
    }
    ScanFrom = n;
}

void ScanWholeWave(const tPointSeries& wave, double minSwing, int pointsPerTick,
                   const std::function<void(double, double)>& rate) {
    // The wave grows tick by tick as it did while it was measured.
    tBeatDetector detector;
    detector.Begin(minSwing);
    const int step = std::max(1, pointsPerTick);
    for (int count = step; count < wave.Count() + step; count += step)
        detector.Scan(wave, std::min(count, wave.Count()), rate);
}
