// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson: runs measured and kept, results, collection, the work folder, and the notices of each change.
#include "lesson/Lesson.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Settings.h"
#include "core/UserFolders.h"
#include "measure/ValueStream.h"
#include "widgets/NumberFormat.h"

#include <QLocale>
#include <QSettings>
#include <cmath>

namespace {

QString StateFile() {
    return UserStateFolder() + QStringLiteral("/collection.ini");
}

// Runs whose points come a period apart: not typed, nor kept at typed values.
bool TimedRuns(const tExperiment& experiment) {
    return !experiment.Events && DescribeSensor(experiment.SensorName).Connects;
}

QString Seconds(double s) {
    return QLocale().toString(std::ceil(s * 10 - 1e-9) / 10, 'f', 1);
}

} // namespace

QColor RunColour(int number) {
    static const QColor colours[] = {QColor(255, 0, 0),   QColor(0, 0, 255),   QColor(0, 150, 0),
                                     QColor(230, 120, 0), QColor(140, 0, 170), QColor(0, 150, 150),
                                     QColor(140, 80, 20), QColor(220, 0, 150), QColor(110, 110, 0),
                                     QColor(90, 90, 90)};
    return colours[std::size_t(std::max(1, number) - 1) % std::size(colours)];
}

tSavedWork ReadSavedWork(const QString& path, const tReadProgress& progress) {
    tSavedWork work;
    work.Path = path;
    work.Opened = ReadWorkFolder(path, work.Runs, progress);
    int damaged = 0;
    for (const QString& line : work.Opened.AnalysisLines)
        if (!line.trimmed().isEmpty() && !DecodeResult(line.trimmed())) ++damaged;
    if (damaged > 0)
        work.Opened.Skipped
            << QString::fromLatin1(kAnalysisFile) +
                   QStringLiteral(": пропущено строк: %1 (они сохранены в файле как были)").arg(damaged);
    return work;
}

tLesson::tLesson(QObject* parent) : QObject(parent) {}

tLesson::~tLesson() = default;

// ---- The experiment and its work.

void tLesson::Close() {
    if (FCollecting != tCollecting::Idle) EndRun();
    FWork.reset();
    FTyped.reset();
    FWorkFailed = false;
    FWorkFailing = false;
    FUnkeptRuns = false;
    FWorkOpened = false;
    FRuns.Clear();
    FResults.clear();
    FUnknownAnalysis.clear();
    FNewest.reset();
    FSensor = tSensorState::None;
}

void tLesson::Open(const tExperiment& experiment) {
    Close();
    FExperiment = experiment;
    FOpen = true;
    LoadCollection();
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
    LoadCollection();
    QStringList kept;
    for (const QString& line : work.Opened.ListLines)
        if (line.startsWith(QStringLiteral("Collection."), Qt::CaseInsensitive)) kept << line.mid(11);
    if (!kept.isEmpty()) {
        tSettings collection(false);
        collection.SetLines(kept);
        FCollection = ReadCollection(collection, FCollection);
    }
    for (const QString& line : work.Opened.AnalysisLines) {
        QPointF box;
        if (const std::optional<tAnalysisResult> result = DecodeResult(line.trimmed(), &box))
            FResults.push_back({*result, box});
        else if (!line.trimmed().isEmpty())
            FUnknownAnalysis << line;
    }
    FWork = std::make_unique<tWorkFolder>(work.Path, work.Opened.RunFiles, work.Opened.ListLines);
    if (!work.Opened.AnalysisUnread.isEmpty()) FWork->KeepUnreadAnalysis();
    // Rows typed by hand go on in the newest run.
    if (!Sensor().Connects && FRuns.Count() > 0 && FRuns.Run(FRuns.Count() - 1).Number > 0) {
        FTyped = FRuns.Shared(FRuns.Count() - 1);
        if (!Write([&](tWorkFolder& folder) { folder.ContinueRun(FTyped); })) FTyped.reset();
    }
    emit opened();
    emit collectingChanged();
    emit sensorStateChanged();
}

const tSensorDescription& tLesson::Sensor() const {
    return DescribeSensor(FExperiment.SensorName);
}

tWorkFolder& tLesson::EnsureWork() {
    if (!FWork) FWork = tWorkFolder::Create(FExperiment.Name, FExperiment.Path);
    return *FWork;
}

bool tLesson::Write(const std::function<void(tWorkFolder&)>& write, bool make) {
    // A folder is made for a run, or for what comes before any: never a second one for runs that have
    // theirs, nor one without the runs that could not be kept.
    if (!FOpen || !FKeepOnDisk || (!FWork && (!make || FUnkeptRuns))) return false;
    try {
        write(EnsureWork());
        FWorkFailing = false;
        return true;
    } catch (const Exception& e) {
        // Said once an experiment; the folder stays the work's, and the next writes try again (the disk may
        // have room by then).
        if (!FWorkFailing) WriteLog(e.Message());
        FWorkFailing = true;
        if (!FWorkFailed) emit workFailed(e.Message());
        FWorkFailed = true;
        return false;
    }
}

bool tLesson::SaveReport(const QByteArray& rtf) {
    return Write([&](tWorkFolder& work) { work.SaveReport(rtf); }, true);
}

// ---- Runs.

QColor tLesson::RunColour(int i) const {
    return ::RunColour(RunNumber(i));
}

int tLesson::RunNumber(int i) const {
    return FRuns.Run(i).Number > 0 ? FRuns.Run(i).Number : i + 1;
}

int tLesson::Measured() const {
    for (int i = FRuns.Count() - 1; FMeasured && i >= 0; --i)
        if (FRuns.Shared(i) == FMeasured) return i;
    return -1;
}

void tLesson::SaveRunViews() {
    Write([&](tWorkFolder& work) { work.SaveRunViews(FRuns); });
}

void tLesson::ChooseRun(int i) {
    if (i < 0 || i >= FRuns.Count() || i == Chosen()) return;
    // While a run is measured, markers and labels stay on it.
    if (!FMeasured) {
        FRuns.Choose(i);
        SaveRunViews();
    }
    emit runChosen(Chosen());
}

void tLesson::ShowRun(int i, bool shown) {
    if (i < 0 || i >= FRuns.Count() || FRuns.Run(i).Shown == shown) return;
    FRuns.Shared(i)->Shown = shown;
    SaveRunViews();
    emit runChanged(i);
}

void tLesson::RenameRun(int i, const QString& name) {
    if (i < 0 || i >= FRuns.Count()) return;
    const QString own = QStringLiteral("Опыт %1").arg(RunNumber(i));
    FRuns.Shared(i)->Name = name.trimmed() == own ? QString() : name.trimmed();
    SaveRunViews();
    emit runChanged(i);
}

void tLesson::DeleteRun(int i) {
    if (i < 0 || i >= FRuns.Count()) return;
    if (FRuns.Shared(i) == FMeasured)
        throw Exception(QStringLiteral("Опыт ещё идёт: остановите его, чтобы удалить."));
    // Its results go with it, kept beside its file.
    QStringList gone;
    std::vector<tResultEntry> kept;
    for (int k = 0; k < ResultCount(); ++k) {
        if (ResultRun(k) == i)
            gone << EncodeResult(FResults[std::size_t(k)].Value, FResults[std::size_t(k)].Box);
        else
            kept.push_back(FResults[std::size_t(k)]);
    }
    const int number = FRuns.Run(i).Number;
    const bool results = kept.size() != FResults.size();
    QStringList remaining;
    for (const tResultEntry& entry : kept) remaining << EncodeResult(entry.Value, entry.Box);
    remaining << FUnknownAnalysis;
    // On the disk all of it or none: a run that cannot be deleted there stays here too.
    if (number > 0 && FWork && FKeepOnDisk) FWork->DeleteRun(number, gone, results ? &remaining : nullptr);
    FRuns.Remove(i);
    FResults = std::move(kept);
    SaveRunViews();
    emit runRemoved(i);
    if (results) emit resultsChanged();
}

// ---- Measuring.

bool tLesson::BeginCountdown(double now) {
    if (!(FCollection.StartDelay > 0) || FCollecting != tCollecting::Idle) return false;
    FCollecting = tCollecting::Countdown;
    FCountdownEnd = now + FCollection.StartDelay;
    emit collectingChanged();
    return true;
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

void tLesson::BeginRun(int line) {
    if (FMeasured) EndRun();
    const std::shared_ptr<tRun> run = NewRun();
    // A run of events has its x typed, not counted in periods.
    run->Period = TimedRuns(FExperiment) ? FExperiment.Period() : 0;
    run->Line = line;
    // The new run is the chosen one while it is measured.
    FRuns.Choose(-1);
    FRuns.Add(run);
    FMeasured = run;
    FSamples = 0;
    FNewest.reset();
    FWaiting.clear();
    FRecent.clear();
    FEntries.clear();
    FLabelAt = -1;
    const tCollection collection = FExperiment.Events ? tCollection{} : FCollection;
    FCollector.emplace(collection, FExperiment.Period());
    FCollecting = collection.Trigger ? tCollecting::Waiting : tCollecting::Recording;
    // Noise or a flat line is no pulse: a beat needs the curve to swing over a tenth of the chart's height.
    FBeats.Begin((FExperiment.MaxY - FExperiment.MinY) * 0.1);
    Write(
        [&](tWorkFolder& work) {
            work.BeginRun(run);
            // How it is collected, kept with the work.
            work.SetListKeys(QStringLiteral("Collection."), CollectionLines(FCollection));
        },
        true);
    if (!FWork && FKeepOnDisk) FUnkeptRuns = true;
    emit runStarted(FRuns.Count() - 1);
    emit collectingChanged();
}

int tLesson::TypedRun() const {
    for (int i = FRuns.Count() - 1; FTyped && i >= 0; --i)
        if (FRuns.Shared(i) == FTyped) return i;
    return -1;
}

int tLesson::SetTypedRow(int row, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) throw Exception(QStringLiteral("Введите конечное число."));
    if (TypedRun() < 0) {
        if (FMeasured) EndRun();
        const std::shared_ptr<tRun> run = NewRun();
        FRuns.Choose(-1);
        FRuns.Add(run);
        FTyped = run;
        Write([&](tWorkFolder& work) { work.BeginRun(run); }, true);
        if (!FWork && FKeepOnDisk) FUnkeptRuns = true;
        emit runStarted(FRuns.Count() - 1);
    }
    const auto [rows, place] = RowsWith(*FTyped, row, x, y);
    PutRows(FTyped, rows);
    return place;
}

void tLesson::RemoveTypedRow(int row) {
    if (TypedRun() < 0 || row < 0 || row >= FTyped->Points->Count()) return;
    std::vector<std::pair<double, double>> rows;
    const tPointSeries& points = *FTyped->Points;
    for (int i = 0; i < points.Count(); ++i)
        if (i != row) rows.emplace_back(points.X(i), points.Y(i));
    PutRows(FTyped, rows);
}

std::pair<std::vector<std::pair<double, double>>, int> tLesson::RowsWith(const tRun& run, int skip, double x,
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

void tLesson::PutRows(const std::shared_ptr<tRun>& run, const std::vector<std::pair<double, double>>& rows) {
    auto points = std::make_shared<tPointSeries>();
    for (const auto& [x, y] : rows) points->Add(x, y);
    run->Points = points;
    Write([](tWorkFolder& work) { work.RewritePoints(); });
    for (int i = FRuns.Count() - 1; i >= 0; --i)
        if (FRuns.Shared(i) == run) emit runChanged(i);
}

std::optional<double> tLesson::EventReading() const {
    if (FRecent.empty()) return std::nullopt;
    double sum = 0;
    for (const double y : FRecent) sum += y;
    return sum / double(FRecent.size());
}

int tLesson::KeepEvent(double x, std::optional<double> reading) {
    if (!FMeasured || !FExperiment.Events)
        throw Exception(QStringLiteral("Точки сохраняются во время опыта: нажмите «Пуск»."));
    if (!std::isfinite(x)) throw Exception(QStringLiteral("Введите конечное число."));
    if (!reading) reading = EventReading();
    if (!reading) throw Exception(QStringLiteral("Датчик ещё не дал показаний: подождите секунду."));
    const auto [rows, place] = RowsWith(*FMeasured, -1, x, *reading);
    FEntries.push_back(x);
    PutRows(FMeasured, rows);
    return place;
}

std::optional<double> tLesson::OfferedEntry() const {
    if (FEntries.empty()) return std::nullopt;
    const double step = FExperiment.EntryStep > 0 ? FExperiment.EntryStep
                        : FEntries.size() > 1     ? FEntries.back() - FEntries[FEntries.size() - 2]
                                                  : 0;
    return FEntries.back() + step;
}

int tLesson::TakeValues(std::vector<double>& values, bool last, const std::function<QString()>& label) {
    if (!FMeasured || FExperiment.Average <= 0) return 0;
    const std::size_t average = std::size_t(FExperiment.Average);
    if (FExperiment.Events) {
        // Nothing is recorded by itself: the last second of readings is held for the next event.
        const std::size_t second = std::size_t(std::clamp<std::int64_t>(
            (1000000 + FExperiment.Period() - 1) / std::max<std::int64_t>(1, FExperiment.Period()), 1,
            100000));
        std::size_t used = 0;
        for (; values.size() - used >= average; used += average) {
            FNewest = DecimalMean(values.data() + used, average);
            FRecent.push_back(*FNewest);
            while (FRecent.size() > second) FRecent.pop_front();
        }
        values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
        if (used > 0) emit valueMeasured(*FNewest);
        return 0;
    }
    const std::size_t keep = last ? 0 : 1;
    tPointSeries& points = *FMeasured->Points;
    const int from = points.Count();
    const tCollector::tPhase phase = FCollector->Phase();
    std::size_t used = 0;
    std::vector<tCollectedPoint> collected;
    while (values.size() - used >= average + keep) {
        const double y = DecimalMean(values.data() + used, average);
        // What the run records of the point: all of it, unless a trigger or a duration decides.
        collected.clear();
        FCollector->Feed(FSamples++, y, collected);
        for (const tCollectedPoint& point : collected)
            points.Add(point.X, point.Y, label ? label() : QString());
        FNewest = y;
        if (FCollector->Phase() == tCollector::tPhase::Waiting) {
            FWaiting.push_back(y);
            const double span = (FExperiment.MaxX - FExperiment.MinX) * 1e6 /
                                double(std::max<std::int64_t>(1, FExperiment.Period()));
            while (!FWaiting.empty() && double(FWaiting.size()) > std::clamp(span, 1.0, 100000.0))
                FWaiting.pop_front();
        } else {
            FWaiting.clear();
        }
        used += average;
    }
    if (used == 0) return 0;
    values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
    const int to = points.Count();
    const int run = Measured();
    if (Sensor().BeatRate)
        FBeats.Scan(points, to, [&](double x, double rate) { FMeasured->Rates->Add(x, rate); });
    // The new points go to the disk at once, but while the label box is open: the label may still go to one
    // of them.
    if (FLabelAt < 0 && to > from) Write([](tWorkFolder& work) { work.AppendPoints(); });
    if (FCollector->Phase() != phase) {
        FCollecting = FCollector->Phase() == tCollector::tPhase::Waiting ? tCollecting::Waiting
                                                                         : tCollecting::Recording;
        emit collectingChanged();
    }
    emit valueMeasured(*FNewest);
    if (to > from) emit pointsAppended(run, from, to);
    return to - from;
}

void tLesson::TakeReading(std::vector<double>& values) {
    const std::size_t average = std::size_t(std::max(1, FExperiment.Average));
    if (FMeasured || values.size() < average) return;
    const std::size_t used = values.size() / average * average;
    FNewest = DecimalMean(values.data() + used - average, average);
    values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
    emit valueMeasured(*FNewest);
}

QString tLesson::ReadingText(double value) const {
    return FExperiment.CaptionY + QStringLiteral(" = ") + FormatFloat(FExperiment.FormatY, value);
}

bool tLesson::RunComplete() const {
    return FCollector && FCollector->Phase() == tCollector::tPhase::Done;
}

bool tLesson::EndRun() {
    if (FCollecting == tCollecting::Countdown) {
        // The countdown is cancelled: no run was started.
        FCollecting = tCollecting::Idle;
        emit collectingChanged();
        return false;
    }
    FWaiting.clear();
    if (!FMeasured) return false;
    const int run = Measured();
    // A run that measured nothing (a start that failed, a stop at once) is no run: not in the table, not on
    // the disk.
    const bool empty = FMeasured->Points->Count() == 0;
    FMeasured.reset();
    FCollector.reset();
    FCollecting = tCollecting::Idle;
    FLabelAt = -1;
    if (empty) {
        FRuns.Remove(run);
        Write([](tWorkFolder& work) { work.DropRun(); });
        emit runRemoved(run);
    } else {
        Write([](tWorkFolder& work) { work.EndRun(); });
        emit runEnded(run);
    }
    emit collectingChanged();
    return !empty;
}

void tLesson::BeginLabel() {
    if (FMeasured) FLabelAt = FMeasured->Points->Count();
}

bool tLesson::EndLabel(const QString& label) {
    const int at = std::exchange(FLabelAt, -1);
    if (!FMeasured || at < 0) return false;
    bool placed = false;
    if (FMeasured->Points->Count() > at && !label.isEmpty()) {
        FMeasured->Points->SetLabel(at, label);
        placed = true;
    }
    // The points held back from the disk while the box was open.
    Write([](tWorkFolder& work) { work.AppendPoints(); });
    if (placed) emit runChanged(Measured());
    return placed;
}

// ---- How runs are collected.

void tLesson::LoadCollection() {
    FCollection = FExperiment.Collection;
    const QSettings state(StateFile(), QSettings::IniFormat);
    const QStringList lines = state.value(QStringLiteral("Experiments/") + FExperiment.Path).toStringList();
    if (lines.isEmpty()) return;
    tSettings own(false);
    own.SetLines(lines);
    FCollection = ReadCollection(own, FCollection);
}

void tLesson::SetCollection(const tCollection& collection) {
    FCollection = collection;
    if (FOpen) {
        QSettings state(StateFile(), QSettings::IniFormat);
        state.setValue(QStringLiteral("Experiments/") + FExperiment.Path, CollectionLines(FCollection));
        Write([&](tWorkFolder& work) {
            work.SetListKeys(QStringLiteral("Collection."), CollectionLines(FCollection));
        });
    }
    emit collectingChanged();
}

QString tLesson::CollectionStatus(double now) const {
    switch (FCollecting) {
    case tCollecting::Countdown:
        return QStringLiteral("Пуск через %1 с").arg(Seconds(std::max(0.0, FCountdownEnd - now)));
    case tCollecting::Waiting:
        return QStringLiteral("Ожидание запуска: когда «%1» %2 %3%4. «Стоп» отменяет ожидание.")
            .arg(FExperiment.CaptionY,
                 FCollection.TriggerRising ? QStringLiteral("поднимется выше")
                                           : QStringLiteral("опустится ниже"),
                 QLocale().toString(FCollection.TriggerLevel, 'g', 6),
                 FNewest ? QStringLiteral(" (сейчас %1)").arg(FormatFloat(FExperiment.FormatY, *FNewest))
                         : QString());
    case tCollecting::Recording:
        if (FCollector && FCollector->Remaining() >= 0)
            return QStringLiteral("До конца опыта %1 с").arg(Seconds(FCollector->Remaining()));
        return QString();
    case tCollecting::Idle:
        break;
    }
    const QString described = DescribeCollection(FCollection);
    return described.isEmpty() ? QString() : QStringLiteral("Параметры сбора: ") + described;
}

// ---- The sensor.

void tLesson::SetSensorState(tSensorState state) {
    if (state == FSensor) return;
    FSensor = state;
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

QString tLesson::QuantityOf(const tAnalysisResult& result) const {
    return result.Quantity.isEmpty() ? FExperiment.CaptionY : result.Quantity;
}

const tPointSeries& tLesson::AnalysedPoints(int run, tAnalysisKind kind, QString* quantity) const {
    if (quantity) quantity->clear();
    const tRun& r = FRuns.Run(run);
    if (kind == tAnalysisKind::Statistics && Sensor().BeatRate && r.Rates->Count() > 0) {
        if (quantity) *quantity = QString::fromUtf8(Sensor().RateCaption) + QStringLiteral(", уд/мин");
        return *r.Rates;
    }
    return *r.Points;
}

void tAnalysisJob::Run(const tFitProgress& progress) {
    const QString quantity = Result.Quantity;
    const int run = Result.Run;
    const double from = Result.From, to = Result.To;
    Result = ::Analyse(Result.Kind, Result.Model, X, Y, from + Shift, to + Shift, progress, &Spectrum);
    Result.From = from;
    Result.To = to;
    Result.Quantity = quantity;
    Result.Run = run;
}

tAnalysisJob tLesson::PrepareAnalysis(tAnalysisKind kind, tFitModel model, double from, double to) const {
    const int run = Chosen();
    if (run < 0) throw Exception(QStringLiteral("Измерений ещё нет: анализировать нечего."));
    tAnalysisJob job;
    job.Result.Kind = kind;
    job.Result.Model = model;
    job.Result.From = from;
    job.Result.To = to;
    job.Result.Run = RunNumber(run);
    const tPointSeries& points = AnalysedPoints(run, kind, &job.Result.Quantity);
    // The region's points and one beyond each end (a slope's neighbours); all of them for a slope.
    int first = 0, last = points.Count();
    if (!KindInfo(kind).AtPoint) {
        first = std::max(0, points.UpperBound(std::min(from, to)) - 2);
        last = std::min(points.Count(), points.UpperBound(std::max(from, to)) + 1);
    }
    job.X.reserve(std::size_t(std::max(0, last - first)));
    job.Y.reserve(std::size_t(std::max(0, last - first)));
    if (kind == tAnalysisKind::Fit && &points == FRuns.Run(run).Points.get()) job.Shift = FitShift();
    for (int i = first; i < last; ++i) {
        job.X.push_back(points.X(i) + job.Shift);
        job.Y.push_back(points.Y(i));
    }
    return job;
}

double tLesson::FitShift() const {
    // Points typed, or kept at typed values, stand where they are typed.
    if (!TimedRuns(FExperiment)) return 0;
    return FExperiment.Average > 1 ? (FExperiment.Average - 1) / 2.0 * FExperiment.Freq * 1e-6 : 0;
}

const tAnalysisResult& tLesson::AddResult(const tAnalysisJob& job) {
    if (!job.Result.Ok) throw Exception(job.Result.Error);
    bool there = false;
    for (int i = 0; i < FRuns.Count(); ++i) there = there || RunNumber(i) == job.Result.Run;
    if (!there) throw Exception(QStringLiteral("Опыт, который анализировался, удалён."));
    FResults.push_back({job.Result, QPointF(-1, -1)});
    SaveAnalysis();
    emit resultAdded(ResultCount() - 1);
    return FResults.back().Value;
}

const tAnalysisResult& tLesson::Analyse(tAnalysisKind kind, tFitModel model, double from, double to) {
    tAnalysisJob job = PrepareAnalysis(kind, model, from, to);
    job.Run();
    return AddResult(job);
}

void tLesson::SetResultBox(int i, QPointF box) {
    if (i < 0 || i >= ResultCount()) return;
    FResults[std::size_t(i)].Box = box;
    SaveAnalysis();
    emit resultsChanged();
}

void tLesson::RemoveResult(int i) {
    if (i < 0 || i >= ResultCount()) return;
    FResults.erase(FResults.begin() + i);
    SaveAnalysis();
    emit resultRemoved(i);
}

void tLesson::ClearResults() {
    if (FResults.empty()) return;
    FResults.clear();
    SaveAnalysis();
    emit resultsChanged();
}

void tLesson::SaveAnalysis() {
    QStringList lines;
    for (const tResultEntry& entry : FResults) lines << EncodeResult(entry.Value, entry.Box);
    // Lines this program cannot read (damaged, or of a newer one) stay as they were.
    lines << FUnknownAnalysis;
    Write([&](tWorkFolder& work) { work.SaveAnalysis(lines); }, !lines.isEmpty());
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
