// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson: what it is asked to do, done by its parts, and the notice of each change.
#include "lesson/Lesson.h"

#include "core/Exception.h"
#include "core/Settings.h"
#include "lesson/WorkWriter.h"

#include <cmath>

tLesson::tLesson(QObject* parent) : QObject(parent), FWriter(std::make_unique<tWorkWriter>(*this)) {
    connect(FWriter.get(), &tWorkWriter::failed, this, &tLesson::workFailed);
}

tLesson::~tLesson() {
    // The writer is a child too: it goes first, closing the run's file, while the lesson is whole.
    FWriter.reset();
}

// ---- The experiment and its work.

void tLesson::Close() {
    if (Collecting() != tCollecting::Idle) EndRun();
    FWriter->Reset();
    FTyped.reset();
    FWorkOpened = false;
    FRuns.Clear();
    FResults.Clear();
    FSensor = tSensorState::None;
}

void tLesson::Open(const tExperiment& experiment) {
    Close();
    FExperiment = experiment;
    FOpen = true;
    FRecording.Reset(FExperiment);
    emit opened();
    emit collectingChanged();
    emit sensorStateChanged();
}

void tLesson::Open(const tExperiment& experiment, tSavedWork work) {
    Close();
    FExperiment = experiment;
    FOpen = true;
    FWorkOpened = true;
    for (int i = 0; i < work.Runs.Count(); ++i) {
        tRun& run = *work.Runs.Shared(i);
        run.FormatX = experiment.FormatX;
        run.FormatY = experiment.FormatY;
        run.Period = TimedRuns(experiment) ? experiment.Period() : 0;
        run.Line = std::clamp(run.Line, 0, std::max(1, experiment.SeriesCount) - 1);
        RebuildRates(run);
    }
    FRuns = std::move(work.Runs);
    // The run chosen and how runs were collected, as the work was left.
    tSettings list(false);
    list.SetLines(work.Opened.ListLines);
    const int chosen = list.GetInt(QStringLiteral("Chosen"), 0);
    for (int i = 0; i < FRuns.Count(); ++i)
        if (chosen > 0 && FRuns.Run(i).Number == chosen) FRuns.Choose(i);
    FRecording.Reset(FExperiment);
    QStringList kept;
    for (const QString& line : work.Opened.ListLines)
        if (line.startsWith(QStringLiteral("Collection."), Qt::CaseInsensitive)) kept << line.mid(11);
    if (!kept.isEmpty()) {
        tSettings collection(false);
        collection.SetLines(kept);
        FRecording.SetCollection(ReadCollection(collection, FRecording.Collection()));
    }
    FResults.Load(work.Opened.AnalysisLines);
    FWriter->Adopt(work.Path, work.Opened.RunFiles, work.Opened.ListLines,
                   !work.Opened.AnalysisUnread.isEmpty());
    // Rows typed by hand go on in the newest run.
    if (!Sensor().Connects && FRuns.Count() > 0 && FRuns.Run(FRuns.Count() - 1).Number > 0 &&
        FWriter->ContinueRun(FRuns.Shared(FRuns.Count() - 1)))
        FTyped = FRuns.Shared(FRuns.Count() - 1);
    emit opened();
    emit collectingChanged();
    emit sensorStateChanged();
}

const tSensorDescription& tLesson::Sensor() const {
    return DescribeSensor(FExperiment.SensorName);
}

const tWorkFolder* tLesson::Work() const {
    return FWriter->Work();
}

bool tLesson::SaveReport(const QByteArray& rtf) {
    return FOpen && FWriter->SaveReport(rtf);
}

// ---- Runs.

int tLesson::Measured() const {
    const std::shared_ptr<tRun>& measured = FRecording.Run();
    return measured ? FRuns.IndexOf(measured->Id) : -1;
}

void tLesson::ChooseRun(int i) {
    if (i < 0 || i >= FRuns.Count() || i == Chosen()) return;
    // While a run is measured, markers and labels stay on it.
    if (!FRecording.Run()) FRuns.Choose(i);
    emit runChosen(FRuns.Run(Chosen()).Id);
}

void tLesson::ShowRun(int i, bool shown) {
    if (i < 0 || i >= FRuns.Count() || FRuns.Run(i).Shown == shown) return;
    FRuns.Shared(i)->Shown = shown;
    emit runChanged(FRuns.Run(i).Id);
}

void tLesson::RenameRun(int i, const QString& name) {
    if (i < 0 || i >= FRuns.Count()) return;
    const QString own = QStringLiteral("Опыт %1").arg(RunNumber(i));
    FRuns.Shared(i)->Name = name.trimmed() == own ? QString() : name.trimmed();
    emit runChanged(FRuns.Run(i).Id);
}

void tLesson::DeleteRun(int i) {
    if (i < 0 || i >= FRuns.Count()) return;
    const std::shared_ptr<tRun> run = FRuns.Shared(i);
    if (run == FRecording.Run())
        throw Exception(QStringLiteral("Опыт ещё идёт: остановите его, чтобы удалить."));
    // Its results go with it, kept beside its file; on the disk all of it or none: a run that cannot be
    // deleted there stays here too.
    QStringList gone;
    tResultList kept;
    const bool results = FResults.Without(RunNumber(i), gone, kept);
    const QByteArray remaining = AnalysisBytes(kept.Lines(), kept.Kept());
    FWriter->DeleteRun(run->Number, gone, results ? &remaining : nullptr, kept.Lines());
    if (run == FTyped) FTyped.reset();
    FRuns.Remove(i);
    FResults = std::move(kept);
    emit runRemoved(run->Id);
    if (results) emit resultsChanged();
}

std::shared_ptr<tRun> tLesson::NewRun() const {
    auto run = std::make_shared<tRun>();
    run->Experiment = FExperiment.Name;
    run->Sensor = FExperiment.SensorName;
    run->Start = QDateTime::currentDateTime();
    run->CaptionX = FExperiment.CaptionX;
    run->CaptionY = FExperiment.CaptionY;
    run->FormatX = FExperiment.FormatX;
    run->FormatY = FExperiment.FormatY;
    return run;
}

// ---- Measuring.

bool tLesson::BeginCountdown(double now) {
    if (!FRecording.BeginCountdown(now)) return false;
    emit collectingChanged();
    return true;
}

void tLesson::BeginRun(int line) {
    if (FRecording.Run()) EndRun();
    const std::shared_ptr<tRun> run = NewRun();
    // A run of events has its x typed, not counted in periods.
    run->Period = TimedRuns(FExperiment) ? FExperiment.Period() : 0;
    run->Line = line;
    // The new run is the chosen one while it is measured.
    FRuns.Choose(-1);
    FRuns.Add(run);
    FRecording.Begin(run, FExperiment);
    emit runStarted(run->Id);
    emit collectingChanged();
}

void tLesson::TakeRunValues(std::vector<double>& values, bool last) {
    const std::shared_ptr<tRun> run = FRecording.Run();
    if (!run) return;
    const tRecording::tTaken taken = FRecording.Take(values, last, FExperiment);
    if (taken.StateChanged) emit collectingChanged();
    if (taken.Value) emit valueMeasured(*FRecording.Newest());
    if (taken.To > taken.From) emit pointsAppended(run->Id, taken.From, taken.To);
}

void tLesson::TakeReadingValues(std::vector<double>& values) {
    if (FRecording.TakeReading(values, FExperiment.Average)) emit valueMeasured(*FRecording.Newest());
}

bool tLesson::EndRun() {
    if (Collecting() == tCollecting::Countdown) {
        // The countdown is cancelled: no run was started.
        FRecording.End();
        emit collectingChanged();
        return false;
    }
    const std::shared_ptr<tRun> run = FRecording.End();
    if (!run) return false;
    // A run that measured nothing (a start that failed, a stop at once) is no run: not in the table, not on
    // the disk.
    const bool empty = run->Points->Count() == 0;
    if (empty) {
        FRuns.Remove(FRuns.IndexOf(run->Id));
        emit runRemoved(run->Id);
    } else {
        emit runEnded(run->Id);
    }
    emit collectingChanged();
    return !empty;
}

void tLesson::BeginLabel() {
    FRecording.BeginLabel();
}

std::optional<int> tLesson::EndLabel(const QString& label) {
    const std::shared_ptr<tRun> measured = FRecording.Run();
    const tRecording::tLabelled labelled = FRecording.EndLabel(label);
    const std::shared_ptr<tRun>& run = labelled.Run ? labelled.Run : measured;
    // The points held back while the box was open go to the disk now, the label with them.
    if (run && FRuns.IndexOf(run->Id) >= 0)
        emit pointsChanged(run->Id, labelled.Point >= 0 ? labelled.Point : run->Points->Count());
    if (!labelled.Run) return std::nullopt;
    return labelled.Point;
}

int tLesson::TypedRun() const {
    return FTyped ? FRuns.IndexOf(FTyped->Id) : -1;
}

namespace {

// The points of `run` without the row `skip`, and (x, y) put in x order: the new rows and its place.
std::pair<std::vector<std::pair<double, double>>, int> RowsWith(const tRun& run, int skip, double x,
                                                                double y) {
    std::vector<std::pair<double, double>> rows;
    const tPointSeries& points = *run.Points;
    for (int i = 0; i < points.Count(); ++i)
        if (i != skip) rows.emplace_back(points.X(i), points.Y(i));
    const auto at =
        std::upper_bound(rows.begin(), rows.end(), x,
                         [](double value, const std::pair<double, double>& r) { return value < r.first; });
    const int place = int(at - rows.begin());
    rows.insert(at, {x, y});
    return {rows, place};
}

} // namespace

int tLesson::SetTypedRow(int row, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) throw Exception(QStringLiteral("Введите конечное число."));
    if (TypedRun() < 0) {
        if (FRecording.Run()) EndRun();
        FTyped = NewRun();
        FRuns.Choose(-1);
        FRuns.Add(FTyped);
        emit runStarted(FTyped->Id);
    }
    const auto [rows, place] = RowsWith(*FTyped, row, x, y);
    PutRows(FTyped, rows);
    return place;
}

void tLesson::AddTypedRows(const std::vector<std::pair<double, double>>& added) {
    if (added.empty()) return;
    for (const auto& [x, y] : added)
        if (!std::isfinite(x) || !std::isfinite(y)) throw Exception(QStringLiteral("Введите конечное число."));
    // The first row begins the run where there is none yet.
    const bool begun = TypedRun() < 0;
    if (begun) SetTypedRow(0, added.front().first, added.front().second);
    std::vector<std::pair<double, double>> rows;
    const tPointSeries& points = *FTyped->Points;
    for (int i = 0; i < points.Count(); ++i) rows.emplace_back(points.X(i), points.Y(i));
    rows.insert(rows.end(), added.begin() + (begun ? 1 : 0), added.end());
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    PutRows(FTyped, rows);
}

void tLesson::RemoveTypedRow(int row) {
    if (TypedRun() < 0 || row < 0 || row >= FTyped->Points->Count()) return;
    std::vector<std::pair<double, double>> rows;
    const tPointSeries& points = *FTyped->Points;
    for (int i = 0; i < points.Count(); ++i)
        if (i != row) rows.emplace_back(points.X(i), points.Y(i));
    PutRows(FTyped, rows);
}

int tLesson::KeepEvent(double x, std::optional<double> reading) {
    const std::shared_ptr<tRun> run = FRecording.Run();
    if (!run || !FExperiment.Events)
        throw Exception(QStringLiteral("Точки сохраняются во время опыта: нажмите «Пуск»."));
    if (!std::isfinite(x)) throw Exception(QStringLiteral("Введите конечное число."));
    if (!reading) reading = FRecording.EventReading();
    if (!reading) throw Exception(QStringLiteral("Датчик ещё не дал показаний: подождите секунду."));
    const auto [rows, place] = RowsWith(*run, -1, x, *reading);
    FRecording.Entered(x);
    PutRows(run, rows);
    return place;
}

void tLesson::PutRows(const std::shared_ptr<tRun>& run, const std::vector<std::pair<double, double>>& rows) {
    auto points = std::make_shared<tPointSeries>();
    for (const auto& [x, y] : rows) points->Add(x, y);
    run->Points = points;
    emit pointsChanged(run->Id, 0);
}

// ---- How runs are collected.

void tLesson::SetCollection(const tCollection& collection) {
    FRecording.SetCollection(collection);
    if (FOpen) FRecording.KeepForUser(FExperiment);
    emit collectingChanged();
}

// ---- The sensor.

void tLesson::SetSensorState(tSensorState state) {
    if (state == FSensor) return;
    FSensor = state;
    // A sensor gone gives no value: none is shown as if it were still there.
    if (state != tSensorState::Connected) FRecording.ForgetNewest();
    emit sensorStateChanged();
}

// ---- Analysis results.

int tLesson::ResultRun(int i) const {
    const int number = Result(i).Run;
    for (int k = 0; k < FRuns.Count(); ++k)
        if (RunNumber(k) == number) return k;
    return -1;
}

bool tLesson::ResultShown(int i) const {
    const int run = ResultRun(i);
    return run >= 0 && FRuns.Run(run).Shown;
}

std::vector<int> tLesson::ResultsOnChart(int* shown) const {
    std::vector<int> all;
    for (int i = 0; i < ResultCount(); ++i)
        if (ResultShown(i)) all.push_back(i);
    if (shown) *shown = int(all.size());
    if (int(all.size()) <= kMaxResultsOnChart) return all;
    std::vector<int> chosen;
    for (const int i : all)
        if (ResultRun(i) == Chosen()) chosen.push_back(i);
    if (int(chosen.size()) > kMaxResultsOnChart) chosen.erase(chosen.begin(), chosen.end() - kMaxResultsOnChart);
    return chosen;
}

QString tLesson::QuantityOf(const tAnalysisResult& result) const {
    return result.Quantity.isEmpty() ? FExperiment.CaptionY : result.Quantity;
}

tAnalysisJob tLesson::PrepareAnalysis(tAnalysisKind kind, tFitModel model, double from, double to) const {
    const int run = Chosen();
    if (run < 0) throw Exception(QStringLiteral("Измерений ещё нет: анализировать нечего."));
    return ::PrepareAnalysis(FRuns.Run(run), RunNumber(run), FExperiment, kind, model, from, to);
}

const tAnalysisResult& tLesson::AddResult(const tAnalysisJob& job) {
    if (!job.Result.Ok) throw Exception(job.Result.Error);
    bool there = false;
    for (int i = 0; i < FRuns.Count(); ++i) there = there || RunNumber(i) == job.Result.Run;
    if (!there) throw Exception(QStringLiteral("Опыт, который анализировался, удалён."));
    FResults.Add(job.Result);
    emit resultAdded(ResultCount() - 1);
    return FResults.Result(ResultCount() - 1);
}

void tLesson::SetResultBox(int i, QPointF box) {
    if (i < 0 || i >= ResultCount()) return;
    FResults.SetBox(i, box);
    emit resultsChanged();
}

void tLesson::RemoveResult(int i) {
    if (i < 0 || i >= ResultCount()) return;
    FResults.Remove(i);
    emit resultRemoved(i);
}

void tLesson::ClearResults() {
    if (ResultCount() == 0) return;
    FResults.RemoveAll();
    emit resultsChanged();
}

void tLesson::RebuildRates(tRun& run) const {
    run.Rates = std::make_shared<tPointSeries>();
    if (!Sensor().BeatRate) return;
    // Scanned as the live display scanned it: a tick's points at a time.
    const std::int64_t period = FExperiment.Period();
    const int perTick = period > 0 ? int(std::max<std::int64_t>(1, 100000 / period)) : 1;
    tPointSeries& rates = *run.Rates;
    ScanWholeWave(*run.Points, (FExperiment.MaxY - FExperiment.MinY) * 0.1, perTick,
                  [&](double x, double rate) { rates.Add(x, rate); });
}
