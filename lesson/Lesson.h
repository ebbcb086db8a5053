// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson below the window: the current experiment's work — every run with its points, name, colour and
// visibility, the run chosen, the analysis results and the runs they belong to, how runs are collected, the
// work folder and its report — with one writer, announcing every change to whoever follows it (the chart,
// the table, the runs panel, paper, the classroom). Usable without any window.
#pragma once

#include "analysis/BeatRate.h"
#include "analysis/Results.h"
#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "measure/Collection.h"
#include "runs/Runs.h"
#include "runs/WorkFolder.h"

#include <QColor>
#include <QObject>
#include <QPointF>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A saved work as read from its folder, before it replaces what is open: read off the window's thread.
struct tSavedWork {
    QString Path;
    tOpenedWork Opened;
    tRunStore Runs;
};
// Reads the work folder `path`; raises Exception with the reason when it holds no work, EAbort when
// `progress` cancels.
tSavedWork ReadSavedWork(const QString& path, const tReadProgress& progress = {});

// The colour of the run that has `number` (its file's number, else its place counting from 1): kept for
// good, the first red and the second blue as the experiment's two lines, then others.
QColor RunColour(int number);

// An analysis of a run, to be done off the window's thread: the points it needs, copied, and what it found.
struct tAnalysisJob {
    std::vector<double> X, Y;
    tAnalysisResult Result; // the kind, model, region, run and quantity asked for; then what was found
    tSpectrum Spectrum;     // of a spectrum: all of it, for its window
    // Seconds added to every x before a fit (FitShift); the region and the result stay in the chart's x.
    double Shift = 0;
    // Runs the analysis (on any thread); `progress` cancels it with false.
    void Run(const tFitProgress& progress = {});
};

class tLesson : public QObject {
    Q_OBJECT
public:
    // Where the collection of a run stands.
    enum class tCollecting {
        Idle,      // no run is measured
        Countdown, // Пуск was pressed; the sensor starts when the countdown ends
        Waiting,   // the sensor streams; nothing is recorded until the value crosses the trigger level
        Recording, // the run records its points
    };
    enum class tSensorState { None, Connected, Lost };

    explicit tLesson(QObject* parent = nullptr);
    ~tLesson() override;

    // ---- The experiment and its work.
    // Opens `experiment` anew: no runs, no results, a work folder made on first need; runs collected as the
    // experiment says, the user's own settings over it. The work open before is closed (a run measured
    // ends first).
    void Open(const tExperiment& experiment);
    // Opens a saved work: `experiment` as its folder defines it, its runs, the run chosen, how its runs were
    // collected, its results; the next run goes on in the same folder.
    void Open(const tExperiment& experiment, tSavedWork work);
    bool IsOpen() const { return FOpen; }
    const tExperiment& Experiment() const { return FExperiment; }
    const tSensorDescription& Sensor() const;
    // The work open is one read back from disk.
    bool WorkOpened() const { return FWorkOpened; }
    // The work folder: none until a run, a report or a result needs it, or while it cannot be written.
    const tWorkFolder* Work() const { return FWork.get(); }
    // Whether the work is kept in a folder on disk (it is unless told otherwise: a lesson only looked at).
    void KeepOnDisk(bool keep) { FKeepOnDisk = keep; }
    // Keeps the report (RTF) in the work folder, made on first need; false when it cannot be written.
    bool SaveReport(const QByteArray& rtf);

    // ---- Runs.
    int RunCount() const { return FRuns.Count(); }
    const tRun& Run(int i) const { return FRuns.Run(i); }
    QString RunName(int i) const { return FRuns.Name(i); }
    QColor RunColour(int i) const;
    // The run markers, labels and analysis work on: the one chosen, else the newest; -1 without runs.
    int Chosen() const { return FRuns.Chosen(); }
    // The run being measured, -1 when none is.
    int Measured() const;
    void ChooseRun(int i);
    void ShowRun(int i, bool shown);
    // An empty name (or the run's own «Опыт N») gives it its own name back.
    void RenameRun(int i, const QString& name);
    // Its file goes to the work's deleted/, its results with it. Raises while the run is measured.
    void DeleteRun(int i);

    // ---- Measuring.
    tCollecting Collecting() const { return FCollecting; }
    // Пуск with a start delay: the countdown from `now` (seconds on any steady clock). False when the
    // collection has no delay.
    bool BeginCountdown(double now);
    bool CountdownOver(double now) const { return now >= FCountdownEnd; }
    // A run begins on `line` of the experiment's chart: it is the chosen one while it is measured, and its
    // file is opened.
    void BeginRun(int line);
    // An experiment without a sensor takes its points typed by hand, into a run of their own begun by the
    // first row. Row `row` (a new one when `row` is the row count) becomes (x, y); the rows stay in x order,
    // so the row may move: its place is returned. Every change is in the run's file at once.
    int SetTypedRow(int row, double x, double y);
    void RemoveTypedRow(int row);
    // The run typed by hand, or -1 before its first row.
    int TypedRun() const;
    // A run of an experiment of events keeps no point by itself: the readings of its last second are held,
    // and KeepEvent puts their mean (or `reading`, taken before) at the typed `x`, in x order (the place is
    // returned). Raises Exception with the reason when there is no run of events or no reading yet.
    std::optional<double> EventReading() const;
    int KeepEvent(double x, std::optional<double> reading = std::nullopt);
    // The value offered for the next event: the last one typed and its step on (EntryStep, else the step
    // between the last two); none before the first.
    std::optional<double> OfferedEntry() const;
    // Takes the values of channel 0 that complete points: each block of Average values is one point (a
    // complete block waits for one more value during a run; `last` takes it too), recorded as the collection
    // decides and labelled by `label` (asked once a point). The values used are removed from `values`.
    // Returns the number of points the run recorded.
    int TakeValues(std::vector<double>& values, bool last, const std::function<QString()>& label = {});
    // Between runs: the sensor's reading, blocks of Average values of channel 0, the newest shown and nothing
    // recorded; the values used are removed.
    void TakeReading(std::vector<double>& values);
    // "T, °C = 21,5": a reading as the tool bar shows it.
    QString ReadingText(double value) const;
    // The run has recorded its duration: it is to be stopped.
    bool RunComplete() const;
    // The run ends (a countdown is cancelled); a run that recorded nothing is dropped. True when it was kept.
    bool EndRun();
    // The newest value the sensor gave during this run, recorded or not.
    std::optional<double> NewestValue() const { return FNewest; }
    // While waiting for the trigger: the points of the last span of the time axis (MaxX − MinX) as they came,
    // oldest first, a point period apart; none once the run records.
    const std::deque<double>& WaitingValues() const { return FWaiting; }
    // The point-label box opened: the label goes to the first point measured from now on; points are held
    // from the disk until the box is closed with the label (empty: none).
    void BeginLabel();
    // True when the label went to a point (else the next point takes it).
    bool EndLabel(const QString& label);

    // ---- How runs are collected.
    const tCollection& Collection() const { return FCollection; }
    // Kept for the user per experiment and in the work folder.
    void SetCollection(const tCollection& collection);
    // What the status bar says of it at `now`: the countdown, the wait for the trigger, the time left, or
    // the settings between runs.
    QString CollectionStatus(double now) const;

    // ---- The sensor.
    void SetSensorState(tSensorState state);
    tSensorState SensorState() const { return FSensor; }

    // ---- Analysis results.
    int ResultCount() const { return int(FResults.size()); }
    const tAnalysisResult& Result(int i) const { return FResults[std::size_t(i)].Value; }
    // Where the box stands in fractions of the plotting area; negative: where the chart places it.
    QPointF ResultBox(int i) const { return FResults[std::size_t(i)].Box; }
    void SetResultBox(int i, QPointF box);
    // The index of the run the result is of, -1 when it is gone.
    int ResultRun(int i) const;
    // Drawn: its run is shown.
    bool ResultShown(int i) const;
    // What the result is of: its own quantity, else the experiment's.
    QString QuantityOf(const tAnalysisResult& result) const;
    // Analyses the chosen run between `from` and `to` (a slope at `from`); the result is kept and saved.
    // Raises Exception with the reason when there is nothing to analyse or the analysis fails.
    const tAnalysisResult& Analyse(tAnalysisKind kind, tFitModel model, double from, double to);
    // The same in three steps, the second on any thread: the points copied, the analysis, the result kept.
    // Where a fit takes the points of an averaged run: each at the middle of the block of values it is the
    // mean of, Shift seconds after the chart's x (k·Freq·Average); 0 without averaging. A fitted curve is
    // drawn at the chart's x through the model at x + Shift.
    double FitShift() const;
    tAnalysisJob PrepareAnalysis(tAnalysisKind kind, tFitModel model, double from, double to) const;
    const tAnalysisResult& AddResult(const tAnalysisJob& job);
    void RemoveResult(int i);
    void ClearResults();
    // The points of run `run` an analysis of `kind` takes: for a pulse run's statistics its beat rate, with
    // `quantity` set to the rate's caption; else the run's own points.
    const tPointSeries& AnalysedPoints(int run, tAnalysisKind kind, QString* quantity = nullptr) const;

signals:
    // An experiment or a saved work was opened: everything is new.
    void opened();
    void runStarted(int run);
    // Points [from, to) were added to `run`.
    void pointsAppended(int run, int from, int to);
    void runEnded(int run);
    // Renamed, shown or hidden.
    void runChanged(int run);
    void runChosen(int run);
    // Run `run` (its place before) was deleted or dropped.
    void runRemoved(int run);
    void resultAdded(int result);
    void resultRemoved(int result);
    // A box moved, or every result went.
    void resultsChanged();
    // A countdown, a wait, a recording began or ended, or the settings changed.
    void collectingChanged();
    void sensorStateChanged();
    // The newest value of a run, recorded or not.
    void valueMeasured(double value);
    // The work folder cannot be written: said once an experiment; measuring goes on.
    void workFailed(const QString& reason);

private:
    struct tResultEntry {
        tAnalysisResult Value;
        QPointF Box{-1, -1};
    };
    void Close();
    tWorkFolder& EnsureWork();
    // Runs `write` on the work folder; a failure is said once and the folder let go. False when nothing was
    // written.
    bool Write(const std::function<void(tWorkFolder&)>& write, bool make = false);
    void SaveRunViews();
    void SaveAnalysis();
    void LoadCollection();
    // The number a result names its run by: its file's number, else its place counting from 1.
    int RunNumber(int i) const;
    void RebuildRates(tRun& run) const;

    bool FOpen = false;
    tExperiment FExperiment;
    bool FWorkOpened = false;
    bool FKeepOnDisk = true;
    std::unique_ptr<tWorkFolder> FWork;
    bool FWorkFailed = false;  // said to the user
    bool FWorkFailing = false; // the last write failed
    bool FUnkeptRuns = false;  // a run began with no folder to keep it
    tRunStore FRuns;
    std::shared_ptr<tRun> FMeasured;
    std::shared_ptr<tRun> FTyped;
    // A run of the experiment, begun now, without points.
    std::shared_ptr<tRun> NewRun() const;
    // Makes the points of `run` (the typed or the measured one) the rows given (in x order), writes them and
    // says so.
    void PutRows(const std::shared_ptr<tRun>& run, const std::vector<std::pair<double, double>>& rows);
    // The points of `run` without the row `skip`, and (x, y) put in x order: the new rows and its place.
    static std::pair<std::vector<std::pair<double, double>>, int> RowsWith(const tRun& run, int skip,
                                                                           double x, double y);
    // Of a run of events: the readings of its last second, and the values typed, in the order typed.
    std::deque<double> FRecent;
    std::vector<double> FEntries;
    tCollection FCollection;
    tCollecting FCollecting = tCollecting::Idle;
    double FCountdownEnd = 0;
    std::optional<tCollector> FCollector;
    std::int64_t FSamples = 0;
    std::optional<double> FNewest;
    std::deque<double> FWaiting;
    tBeatDetector FBeats;
    // While the point-label box is open: the first point measured since it opened.
    int FLabelAt = -1;
    tSensorState FSensor = tSensorState::None;
    std::vector<tResultEntry> FResults;
    // The lines of analysis.txt that are no result this program knows, written back as they came.
    QStringList FUnknownAnalysis;
};
