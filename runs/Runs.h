// The runs of the current experiment: every measurement with its points, kept whatever the chart clears.
#pragma once

#include "runs/PointSeries.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// The time in seconds of point `index` of a run sampled every `freq` microseconds, `average` values a point:
// made in whole microseconds and divided once, so the 100th point of a 10 ms sensor is at 1, not
// 0.9999999999999999.
double PointTime(std::int64_t index, int freq, int average);
// The decimals a time needs to tell points `period` microseconds apart (2 at 100 Hz, at most 6).
int TimeDecimals(std::int64_t period);

struct tRun {
    QString Experiment;
    QString Sensor;
    QDateTime Start;
    QString CaptionX;
    QString CaptionY;
    QString FormatX;
    QString FormatY;
    // The chart line the run was drawn on.
    int Line = 0;
    // Microseconds from one point to the next (the sampling period times the values averaged); 0 unknown.
    std::int64_t Period = 0;
    // Its file's number in the work folder (run-NN.csv); 0 when it is not kept there.
    int Number = 0;
    // The number the lesson knows it by, given when it joins the lesson's runs and never given to another:
    // deleting a run renumbers none of the others.
    int Id = 0;
    // The name the user gave it; empty: «Опыт N».
    QString Name;
    // Drawn on the chart and shown in the table.
    bool Shown = true;
    std::shared_ptr<tPointSeries> Points = std::make_shared<tPointSeries>();
    // What is derived from the points as they come: the beat rate of a pulse wave (empty for other runs).
    std::shared_ptr<tPointSeries> Rates = std::make_shared<tPointSeries>();
};

class tRunStore {
public:
    void Clear();
    // Adds a run with an id above every one given before (and above every file number); the store keeps it
    // until cleared.
    void Add(std::shared_ptr<tRun> run);
    // Adds runs at once (a work opened).
    void Add(std::vector<std::shared_ptr<tRun>> runs);
    // Takes run i away (deleted by the user, or one that measured nothing).
    void Remove(int i);
    // The place of the run with `id`; -1 when there is none.
    int IndexOf(int id) const;
    // The number a run goes by: its file's number, else its id.
    int Number(int i) const;
    // The run's name: the one given, else «Опыт N» by its number.
    QString Name(int i) const;
    // The run that markers, labels and analysis work on: the one chosen, else the newest; -1 with no run.
    int Chosen() const;
    void Choose(int i) { FChosen = i; }
    int Count() const { return int(FRuns.size()); }
    const tRun& Run(int i) const { return *FRuns[size_t(i)]; }
    std::shared_ptr<tRun> Shared(int i) const { return FRuns[size_t(i)]; }

private:
    std::vector<std::shared_ptr<tRun>> FRuns;
    int FChosen = -1;
    int FLastId = 0;
};
