// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson below the window: the current experiment's work — every run with its points, name and
// visibility, the run chosen, the analysis results and the runs they belong to, how runs are collected — with
// one writer, announcing every change to whoever follows it (the work folder, the chart, the table, the runs
// panel, paper, the classroom). Its parts do the work: the runs' store, the recording of the run measured,
// the results, and the work folder, which writes what the lesson announces. Usable without any window.
//
// Notices name a run by its id (tRun::Id), which deleting another run never changes.
#pragma once

#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "lesson/Recording.h"
#include "lesson/ResultList.h"
#include "lesson/WorkWriter.h"
#include "runs/Runs.h"
#include "runs/WorkFolder.h"

#include <QObject>
#include <QPointF>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class tLesson : public QObject {
    Q_OBJECT
public:
    using tCollecting = tCollectingState;
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
    const tWorkFolder* Work() const;
    // Keeps the report (RTF) in the work folder, made on first need; false when it cannot be written.
    bool SaveReport(const QByteArray& rtf);

    // ---- Runs.
    const tRunStore& Runs() const { return FRuns; }
    int RunCount() const { return FRuns.Count(); }
    const tRun& Run(int i) const { return FRuns.Run(i); }
    QString RunName(int i) const { return FRuns.Name(i); }
    // The place of the run with `id`, -1 when it is gone.
    int RunIndex(int id) const { return FRuns.IndexOf(id); }
    // The run markers, labels and analysis work on: the one chosen, else the newest; -1 without runs.
    int Chosen() const { return FRuns.Chosen(); }
    // The run being measured, -1 when none is.
    int Measured() const;
    void ChooseRun(int i);
    void ShowRun(int i, bool shown);
    // An empty name (or the run's own «Опыт N») gives it its own name back.
    void RenameRun(int i, const QString& name);
    // Its file goes to the work's deleted/, its results with it. Raises while the run is measured, or when
    // the folder cannot take it (then nothing changes).
    void DeleteRun(int i);

    // ---- Measuring.
    tCollecting Collecting() const { return FRecording.State(); }
    const tRecording& Recording() const { return FRecording; }
    // Пуск with a start delay: the countdown from `now` (seconds on any steady clock). False when the
    // collection has no delay.
    bool BeginCountdown(double now);
    // A run begins on `line` of the experiment's chart: it is the chosen one while it is measured, and its
    // file is opened.
    void BeginRun(int line);
    // The values of channel 0 of the run measured, oldest first: blocks of Average values make points (a
    // complete block waits for one more value during a run; `last` takes it too), recorded as the collection
    // decides. The values used are removed from `values`.
    void TakeRunValues(std::vector<double>& values, bool last);
    // Between runs: the sensor's reading, blocks of Average values of channel 0, the newest shown and nothing
    // recorded; the values used are removed.
    void TakeReadingValues(std::vector<double>& values);
    // The newest value the sensor gave, in a run or between runs; none while no sensor gives one.
    std::optional<double> NewestValue() const { return FRecording.Newest(); }
    // The run has recorded its duration: it is to be stopped.
    bool RunComplete() const { return FRecording.Complete(); }
    // The run ends (a countdown is cancelled); a run that recorded nothing is dropped. True when it was kept.
    bool EndRun();
    // The point-label box opened: the label goes to the first point measured from now on; points are held
    // from the disk until the box is closed.
    void BeginLabel();
    bool LabelOpen() const { return FRecording.LabelOpen(); }
    // The box closed with `label` (empty: none). The place it went: the point, -1 for the next point; none
    // when it went nowhere (no label, or the run ended without a point).
    std::optional<int> EndLabel(const QString& label);

    // An experiment without a sensor takes its points typed by hand, into a run of their own begun by the
    // first row. Row `row` (a new one when `row` is the row count) becomes (x, y); the rows stay in x order,
    // so the row may move: its place is returned. Every change is in the run's file at once.
    int SetTypedRow(int row, double x, double y);
    void RemoveTypedRow(int row);
    // Rows pasted at once, each at its place in x order (after rows of the same x), in one change.
    void AddTypedRows(const std::vector<std::pair<double, double>>& rows);
    // The run typed by hand, or -1 before its first row.
    int TypedRun() const;
    // A run of an experiment of events keeps no point by itself: the readings of its last second are held,
    // and KeepEvent puts their mean (or `reading`, taken before) at the typed `x`, in x order (the place is
    // returned). Raises Exception with the reason when there is no run of events or no reading yet.
    int KeepEvent(double x, std::optional<double> reading = std::nullopt);
    std::optional<double> EventReading() const { return FRecording.EventReading(); }
    // The value offered for the next event: the last one typed and its step on (EntryStep, else the step
    // between the last two); none before the first.
    std::optional<double> OfferedEntry() const { return FRecording.OfferedEntry(FExperiment.EntryStep); }

    // ---- How runs are collected.
    const tCollection& Collection() const { return FRecording.Collection(); }
    // Kept for the user per experiment and in the work folder.
    void SetCollection(const tCollection& collection);

    // ---- The sensor.
    void SetSensorState(tSensorState state);
    tSensorState SensorState() const { return FSensor; }

    // ---- Analysis results.
    const tResultList& Results() const { return FResults; }
    int ResultCount() const { return FResults.Count(); }
    const tAnalysisResult& Result(int i) const { return FResults.Result(i); }
    QPointF ResultBox(int i) const { return FResults.Box(i); }
    void SetResultBox(int i, QPointF box);
    // The index of the run the result is of, -1 when it is gone.
    int ResultRun(int i) const;
    // Drawn: its run is shown.
    bool ResultShown(int i) const;
    // The number a result names run `i` by: its file's number, else its id.
    int RunNumber(int i) const { return FRuns.Number(i); }
    // The results the chart draws, in order: those of the runs shown; when they are more than
    // kMaxResultsOnChart (hundreds of boxes would hide the curves and each other), the newest of the chosen
    // run's alone. `shown` tells how many the runs shown have. Every result stays in the list and the file.
    std::vector<int> ResultsOnChart(int* shown = nullptr) const;
    static constexpr int kMaxResultsOnChart = 20;
    // What the result is of: its own quantity, else the experiment's.
    QString QuantityOf(const tAnalysisResult& result) const;
    // Where a fit takes the points of an averaged run (::FitShift of the experiment).
    double FitShift() const { return ::FitShift(FExperiment); }
    // An analysis of the chosen run between `from` and `to` (a slope at `from`), in three steps, the second
    // on any thread: the points copied, the analysis, the result kept (and saved). Raises Exception with the
    // reason when there is nothing to analyse or the analysis failed.
    tAnalysisJob PrepareAnalysis(tAnalysisKind kind, tFitModel model, double from, double to) const;
    const tAnalysisResult& AddResult(const tAnalysisJob& job);
    void RemoveResult(int i);
    void ClearResults();

signals:
    // An experiment or a saved work was opened: everything is new.
    void opened();
    void runStarted(int run);
    // Points [from, to) were added to `run`.
    void pointsAppended(int run, int from, int to);
    // The points of `run` from `from` on changed: rows typed, a point kept, a label given.
    void pointsChanged(int run, int from);
    void runEnded(int run);
    // Renamed, shown or hidden.
    void runChanged(int run);
    void runChosen(int run);
    // Run `run` was deleted or dropped.
    void runRemoved(int run);
    void resultAdded(int result);
    void resultRemoved(int result);
    // A box moved, or results went with their run, or every result went.
    void resultsChanged();
    // A countdown, a wait, a recording began or ended, or the settings changed.
    void collectingChanged();
    void sensorStateChanged();
    // The newest value of a run, recorded or not, or of the sensor between runs.
    void valueMeasured(double value);
    // The work folder cannot be written: said once an experiment; measuring goes on.
    void workFailed(const QString& reason);

private:
    void Close();
    // A run of the experiment, begun now, without points.
    std::shared_ptr<tRun> NewRun() const;
    // Makes the points of `run` (the typed or the measured one) the rows given (in x order) and says so.
    void PutRows(const std::shared_ptr<tRun>& run, const std::vector<std::pair<double, double>>& rows);
    void RebuildRates(tRun& run) const;

    bool FOpen = false;
    tExperiment FExperiment;
    bool FWorkOpened = false;
    tRunStore FRuns;
    tRecording FRecording;
    std::shared_ptr<tRun> FTyped;
    tSensorState FSensor = tSensorState::None;
    tResultList FResults;
    // Writes what the lesson announces; made first, so it hears every notice before the views.
    std::unique_ptr<tWorkWriter> FWriter;
};
