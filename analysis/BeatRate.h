// The beat rate of a pulse wave: a beat where the curve falls through 70 % of the last five seconds' swing,
// the rate in beats per minute at the middle between two beats.
#pragma once

#include <functional>

class tPointSeries;

class tBeatDetector {
public:
    // A new wave: a beat needs the curve to swing over `minSwing` in the window.
    void Begin(double minSwing);
    // Examines the first `count` points of `wave` as far as they came since the last call; an accepted beat
    // hands its rate on.
    void Scan(const tPointSeries& wave, int count, const std::function<void(double x, double rate)>& rate);

    double WindowMin = 10000;
    double WindowMax = -10000;
    double LastBeat = -1;
    double Beat = -1;
    double MinSwing = 0;
    int ScanFrom = 0;
};

// The rates of a whole wave read back from disk, scanned as the live display scanned it: `pointsPerTick`
// points at a time.
void ScanWholeWave(const tPointSeries& wave, double minSwing, int pointsPerTick,
                   const std::function<void(double x, double rate)>& rate);
