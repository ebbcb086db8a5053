// SPDX-License-Identifier: GPL-3.0-or-later
// How a run is collected: for how long, after what delay, and from which crossing of a level, keeping the
// moments just before it. Without any of it a run records every point from Пуск to Стоп.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <vector>

class tSettings;

struct tCollection {
    double Duration = 0;   // seconds; 0: until Стоп
    double StartDelay = 0; // seconds of countdown before the sensor starts
    bool Trigger = false;  // the run starts when the value crosses TriggerLevel
    double TriggerLevel = 0;
    bool TriggerRising = true; // rising above the level, else falling below it
    double PreTrigger = 0;     // seconds kept before the crossing, 0…2
    bool operator==(const tCollection&) const = default;
};

inline constexpr double kMaxPreTrigger = 2;

// The keys Duration=, StartDelay=, TriggerLevel= (a level turns the trigger on), TriggerSlope=up|down and
// PreTrigger= of `file`, over `defaults`; a value that is not a number or lies out of range keeps the
// default.
tCollection ReadCollection(const tSettings& file, tCollection defaults = {});
// The same keys, for the work folder and the user's own state; nothing for the defaults.
QStringList CollectionLines(const tCollection& collection);
// "длительность 10 с, запуск при росте выше 0,5": what the status bar and the dialog say; empty for none.
QString DescribeCollection(const tCollection& collection);

struct tCollectedPoint {
    double X = 0;
    double Y = 0;
};

// Decides point by point what a run records.
class tCollector {
public:
    // `periodUs`: microseconds from one point to the next.
    tCollector(const tCollection& collection, std::int64_t periodUs);

    enum class tPhase { Waiting, Recording, Done };
    // The point `index` periods after the sensor started. Appends to `out` what the run records now: the
    // point, its time counted from the crossing when there is a trigger; at the crossing the points kept
    // before it first. Nothing while waiting, and nothing after the duration. Times are made from whole
    // microseconds, divided once: -0.2, not -0.20000000000000007.
    void Feed(std::int64_t index, double y, std::vector<tCollectedPoint>& out);
    tPhase Phase() const { return FPhase; }
    // Seconds of the duration still to record; negative without a duration.
    double Remaining() const;

private:
    struct tKept {
        std::int64_t Index;
        double Y;
    };
    double Seconds(std::int64_t index) const;

    tCollection FSettings;
    std::int64_t FPeriodUs;
    std::int64_t FDurationUs;
    std::int64_t FPreTriggerUs;
    tPhase FPhase;
    std::deque<tKept> FBefore;
    bool FHasPrevious = false;
    double FPrevious = 0;
    std::int64_t FZero = 0;
    double FLastX = 0;
};
