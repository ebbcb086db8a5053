// SPDX-License-Identifier: GPL-3.0-or-later
// Recording a run: collection, countdown, trigger, points from blocks of values, labels, beats, events.
#include "lesson/Recording.h"

#include "core/Decimal.h"
#include "core/Settings.h"
#include "core/UserFolders.h"
#include "experiment/Sensors.h"

#include <QSettings>
#include <algorithm>

namespace {

QString StateFile() {
    return UserStateFile(QStringLiteral("collection.ini"));
}

QString StateKey(const tExperiment& experiment) {
    return QStringLiteral("Experiments/") + experiment.Path;
}

} // namespace

bool TimedRuns(const tExperiment& experiment) {
    return !experiment.Events && DescribeSensor(experiment.SensorName).Connects;
}

void tRecording::Reset(const tExperiment& experiment) {
    *this = tRecording();
    FCollection = experiment.Collection;
    const QSettings state(StateFile(), QSettings::IniFormat);
    const QStringList lines = state.value(StateKey(experiment)).toStringList();
    if (lines.isEmpty()) return;
    tSettings own(false);
    own.SetLines(lines);
    FCollection = ReadCollection(own, FCollection);
}

void tRecording::KeepForUser(const tExperiment& experiment) const {
    QSettings(StateFile(), QSettings::IniFormat).setValue(StateKey(experiment), CollectionLines(FCollection));
}

bool tRecording::BeginCountdown(double now) {
    if (!(FCollection.StartDelay > 0) || FState != tCollectingState::Idle) return false;
    FState = tCollectingState::Countdown;
    FCountdownEnd = now + FCollection.StartDelay;
    return true;
}

void tRecording::Begin(std::shared_ptr<tRun> run, const tExperiment& experiment) {
    FRun = std::move(run);
    FEvents = experiment.Events;
    FSamples = 0;
    FNewest.reset();
    FWaiting.clear();
    FRecent.clear();
    FEntries.clear();
    FLabelOpen = false;
    FLabelRun.reset();
    FLabelAt = -1;
    FPendingLabel.clear();
    const tCollection collection = experiment.Events ? tCollection{} : FCollection;
    FCollector.emplace(collection, experiment.Period());
    FState = collection.Trigger ? tCollectingState::Waiting : tCollectingState::Recording;
    FBeatRate = DescribeSensor(experiment.SensorName).BeatRate;
    // Noise or a flat line is no pulse: a beat needs the curve to swing over a tenth of the chart's height.
    FBeats.Begin((experiment.MaxY - experiment.MinY) * 0.1);
}

tRecording::tTaken tRecording::Take(std::vector<double>& values, bool last, const tExperiment& experiment) {
    tTaken taken;
    if (!FRun || experiment.Average <= 0) return taken;
    const std::size_t average = std::size_t(experiment.Average);
    if (FEvents) {
        // Nothing is recorded by itself: the last second of readings is held for the next event.
        const std::size_t second = std::size_t(std::clamp<std::int64_t>(
            (1000000 + experiment.Period() - 1) / std::max<std::int64_t>(1, experiment.Period()), 1, 100000));
        std::size_t used = 0;
        for (; values.size() - used >= average; used += average) {
            FNewest = DecimalMean(values.data() + used, average);
            FRecent.push_back(*FNewest);
            while (FRecent.size() > second) FRecent.pop_front();
        }
        values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
        taken.Value = used > 0;
        return taken;
    }
    const std::size_t keep = last ? 0 : 1;
    tPointSeries& points = *FRun->Points;
    taken.From = taken.To = points.Count();
    const tCollector::tPhase phase = FCollector->Phase();
    std::size_t used = 0;
    std::vector<tCollectedPoint> collected;
    const double span =
        (experiment.MaxX - experiment.MinX) * 1e6 / double(std::max<std::int64_t>(1, experiment.Period()));
    while (values.size() - used >= average + keep) {
        const double y = DecimalMean(values.data() + used, average);
        // What the run records of the point: all of it, unless a trigger or a duration decides.
        collected.clear();
        FCollector->Feed(FSamples++, y, collected);
        for (const tCollectedPoint& point : collected) {
            points.Add(point.X, point.Y, FPendingLabel);
            FPendingLabel.clear();
        }
        FNewest = y;
        if (FCollector->Phase() == tCollector::tPhase::Waiting) {
            FWaiting.push_back(y);
            while (!FWaiting.empty() && double(FWaiting.size()) > std::clamp(span, 1.0, 100000.0))
                FWaiting.pop_front();
        } else {
            FWaiting.clear();
        }
        used += average;
    }
    if (used == 0) return taken;
    values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
    taken.To = points.Count();
    taken.Value = true;
    if (FBeatRate) FBeats.Scan(points, taken.To, [&](double x, double rate) { FRun->Rates->Add(x, rate); });
    if (FCollector->Phase() != phase) {
        FState = FCollector->Phase() == tCollector::tPhase::Waiting ? tCollectingState::Waiting
                                                                    : tCollectingState::Recording;
        taken.StateChanged = true;
    }
    return taken;
}

bool tRecording::TakeReading(std::vector<double>& values, int average) {
    const std::size_t block = std::size_t(std::max(1, average));
    if (FRun || values.size() < block) return false;
    const std::size_t used = values.size() / block * block;
    FNewest = DecimalMean(values.data() + used - block, block);
    values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
    return true;
}

std::shared_ptr<tRun> tRecording::End() {
    FState = tCollectingState::Idle;
    FWaiting.clear();
    FCollector.reset();
    // A label box still open keeps the run it was opened on: the label goes to that run's point.
    return std::exchange(FRun, nullptr);
}

std::optional<double> tRecording::EventReading() const {
    if (FRecent.empty()) return std::nullopt;
    double sum = 0;
    for (const double y : FRecent) sum += y;
    return sum / double(FRecent.size());
}

std::optional<double> tRecording::OfferedEntry(double step) const {
    if (FEntries.empty()) return std::nullopt;
    if (!(step > 0)) step = FEntries.size() > 1 ? FEntries.back() - FEntries[FEntries.size() - 2] : 0;
    return FEntries.back() + step;
}

void tRecording::BeginLabel() {
    FLabelOpen = bool(FRun);
    FLabelRun = FRun;
    FLabelAt = FRun ? FRun->Points->Count() : -1;
}

tRecording::tLabelled tRecording::EndLabel(const QString& label) {
    FLabelOpen = false;
    const std::shared_ptr<tRun> run = std::exchange(FLabelRun, nullptr);
    const int at = std::exchange(FLabelAt, -1);
    if (!run || label.isEmpty()) return {};
    tPointSeries& points = *run->Points;
    if (points.Count() > at) {
        points.SetLabel(at, label);
        return {run, at};
    }
    // No point came since the box opened: the next one takes the label, or, the run ended meanwhile, its
    // last point, the moment nearest to the one asked for.
    if (run == FRun) {
        FPendingLabel = label;
        return {run, -1};
    }
    if (points.Count() == 0) return {};
    points.SetLabel(points.Count() - 1, label);
    return {run, points.Count() - 1};
}
