// The experiment definition: what experiment.txt says about the sensor, the sampling and the chart.
#pragma once

#include "analysis/Fit.h"
#include "runs/Collection.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <optional>

class QWidget;

class tExperiment {
public:
    QString Name;
    QString Path; // the experiment's folder, ending in "/"
    QString SensorName;
    QString FormatY;
    QString FormatX;
    int Freq = 0;
    int Average = 0;
    bool TwiceMarker = false;
    QString CaptionX;
    double MinX = 0;
    double MaxX = 0;
    double IncX = 0;
    QString CaptionY;
    double MinY = 0;
    double MaxY = 0;
    double IncY = 0;
    bool AutoSize = false;
    double YOffset = 0;
    int SeriesCount = 0;
    // The fit that answers the experiment's question (key Fit=, a model's name): first in the analysis menu.
    std::optional<tFitModel> SuggestedFit;
    // How its runs are collected unless the user set otherwise (keys Duration=, StartDelay=, TriggerLevel=,
    // TriggerSlope=, PreTrigger=).
    tCollection Collection;
    // Mode=Events: a run keeps a point only when the user asks, the mean of the last second of the sensor's
    // readings against a value the user types (EntryCaption, written as EntryFormat, offered EntryStep on
    // from the last one). The chart's x is that typed quantity: CaptionX and FormatX become the entry's.
    bool Events = false;
    QString EntryCaption;
    QString EntryFormat;
    double EntryStep = 0;

    // Microseconds from one point to the next: the sampling period times the values averaged into a point.
    std::int64_t Period() const { return std::int64_t(Freq) * std::max(1, Average); }

    // The left axis' range that places a run's first value `y` at YOffset of its height. When the height is a
    // whole number of label steps (IncY), the range is moved to the nearest step, so that both its ends carry
    // a label.
    std::pair<double, double> PlacedRange(double y) const;

    // What an experiment shows when its file cannot be read.
    void SetDefaults();

    // Reads `Path` + "experiment.txt"; raises Exception when the file cannot be read or names no sensor.
    void ReadFile();
    // The same from the file's bytes.
    void ReadText(const QByteArray& bytes);
};

// The experiment's file name in its folder.
extern const char kExperimentFile[];

// Fills `experiment` from the folder `path` (ending in "/") named `name`. A file that cannot be read is
// reported in a warning box (message 5012 and the reason); the experiment then keeps its defaults.
void LoadExperimentFolder(tExperiment& experiment, const QString& name, const QString& path, QWidget* parent);
