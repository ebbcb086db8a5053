// SPDX-License-Identifier: GPL-3.0-or-later
// How the run being measured records its points: the collection's settings kept for the user, the countdown
// before Пуск, the wait for the trigger, a set duration, blocks of values made points, the label asked for
// while the chart goes on, the beat rate of a pulse, the readings held for a run of events, and the sensor's
// newest value. It changes the run it records; the lesson says what changed.
#pragma once

#include "analysis/BeatRate.h"
#include "experiment/Experiment.h"
#include "runs/Collection.h"
#include "runs/Runs.h"

#include <QString>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

// Where the collection of a run stands.
enum class tCollectingState {
    Idle,      // no run is measured
    Countdown, // Пуск was pressed; the sensor starts when the countdown ends
    Waiting,   // the sensor streams; nothing is recorded until the value crosses the trigger level
    Recording, // the run records its points
};

class tRecording {
public:
    // Another experiment: nothing measured, no value, its collection as the experiment and the user set it.
    void Reset(const tExperiment& experiment);

    const tCollection& Collection() const { return FCollection; }
    void SetCollection(const tCollection& collection) { FCollection = collection; }
    // The collection kept for the user, for `experiment`.
    void KeepForUser(const tExperiment& experiment) const;
    tCollectingState State() const { return FState; }

    // Пуск with a start delay: the countdown from `now` (seconds on any steady clock). False when the
    // collection has no delay or something is measured.
    bool BeginCountdown(double now);
    bool CountdownOver(double now) const { return now >= FCountdownEnd; }
    double CountdownLeft(double now) const { return std::max(0.0, FCountdownEnd - now); }

    // `run` is recorded from now on, as the experiment's collection says (a run of events keeps no point by
    // itself).
    void Begin(std::shared_ptr<tRun> run, const tExperiment& experiment);
    // The run recorded, null while none is.
    const std::shared_ptr<tRun>& Run() const { return FRun; }

    // What a take of values did.
    struct tTaken {
        int From = 0, To = 0;      // the points [From, To) added to the run
        bool Value = false;        // a new value came
        bool StateChanged = false; // the wait for the trigger ended
    };
    // Takes the values that complete points: each block of Average values is one point (a complete block
    // waits for one more value during a run; `last` takes it too), recorded as the collection decides,
    // labelled with the label waiting. The values used are removed from `values`.
    tTaken Take(std::vector<double>& values, bool last, const tExperiment& experiment);
    // Between runs: blocks of Average values, the newest kept as the reading and nothing recorded; the values
    // used are removed. True when a reading came.
    bool TakeReading(std::vector<double>& values, int average);
    // The run has recorded its duration.
    bool Complete() const { return FCollector && FCollector->Phase() == tCollector::tPhase::Done; }
    // Seconds of the duration still to record; negative without a duration.
    double Remaining() const { return FCollector ? FCollector->Remaining() : -1; }
    // The run recorded ends (a countdown is cancelled): it is given back, null when none was recorded.
    std::shared_ptr<tRun> End();

    // The newest value the sensor gave, recorded or not; none once the sensor is gone.
    std::optional<double> Newest() const { return FNewest; }
    void ForgetNewest() { FNewest.reset(); }
    // While waiting for the trigger: the points of the last span of the time axis as they came, oldest first.
    const std::deque<double>& Waiting() const { return FWaiting; }

    // Of a run of events: the mean of the readings of its last second, and what is offered for the next event
    // (the last value typed and its step on).
    std::optional<double> EventReading() const;
    void Entered(double x) { FEntries.push_back(x); }
    std::optional<double> OfferedEntry(double step) const;

    // The point-label box opened: the label goes to the first point measured from now on.
    void BeginLabel();
    bool LabelOpen() const { return FLabelOpen; }
    // Where a label typed went.
    struct tLabelled {
        std::shared_ptr<tRun> Run; // null: to no point (empty, or no run)
        int Point = -1;            // -1: to the next point measured
    };
    // The box closed with `label`: on the first point measured since it opened; when none came, on the next
    // one, or on the run's last point when the run ended meanwhile.
    tLabelled EndLabel(const QString& label);

private:
    tCollection FCollection;
    tCollectingState FState = tCollectingState::Idle;
    double FCountdownEnd = 0;
    std::shared_ptr<tRun> FRun;
    bool FEvents = false;
    std::optional<tCollector> FCollector;
    std::int64_t FSamples = 0;
    std::optional<double> FNewest;
    std::deque<double> FWaiting;
    bool FBeatRate = false;
    tBeatDetector FBeats;
    // Of a run of events: the readings of its last second, and the values typed, in the order typed.
    std::deque<double> FRecent;
    std::vector<double> FEntries;
    // The label box: open, the run and the point count when it opened; a label for the next point.
    bool FLabelOpen = false;
    std::shared_ptr<tRun> FLabelRun;
    int FLabelAt = -1;
    QString FPendingLabel;
};

// Runs whose points come a period apart: not typed, nor kept at typed values.
bool TimedRuns(const tExperiment& experiment);
