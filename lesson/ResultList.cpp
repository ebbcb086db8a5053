// SPDX-License-Identifier: GPL-3.0-or-later
// Results kept with their boxes, read from and written to their lines; analyses prepared off the window.
#include "lesson/ResultList.h"

#include "core/TextCodec.h"
#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "lesson/Recording.h"
#include "runs/PointSeries.h"
#include "runs/Runs.h"

#include <algorithm>

void tAnalysisJob::Run(const tFitProgress& progress) {
    const QString quantity = Result.Quantity;
    const int run = Result.Run;
    const double from = Result.From, to = Result.To;
    Result = ::Analyse(Result.Kind, Result.Model, X, Y, from + Shift, to + Shift, progress, &Spectrum);
    // In the chart's x: a point where it was asked, a region as far as it holds points (a run of 11 s
    // analysed between markers at 0 and 600 s is 0…11 s).
    if (KindInfo(Result.Kind).AtPoint) {
        Result.From = from;
        Result.To = to;
    } else {
        Result.From -= Shift;
        Result.To -= Shift;
    }
    Result.Quantity = quantity;
    Result.Run = run;
}

double FitShift(const tExperiment& experiment) {
    // Points typed, or kept at typed values, stand where they are typed.
    if (!TimedRuns(experiment)) return 0;
    return experiment.Average > 1 ? (experiment.Average - 1) / 2.0 * experiment.Freq * 1e-6 : 0;
}

tAnalysisJob PrepareAnalysis(const tRun& run, int number, const tExperiment& experiment, tAnalysisKind kind,
                             tFitModel model, double from, double to) {
    const tSensorDescription& sensor = DescribeSensor(experiment.SensorName);
    const bool rates = kind == tAnalysisKind::Statistics && sensor.BeatRate && run.Rates->Count() > 0;
    const tPointSeries& points = rates ? *run.Rates : *run.Points;
    const double shift = kind == tAnalysisKind::Fit && !rates ? FitShift(experiment) : 0;
    tAnalysisJob job;
    job.Result.Run = number;
    if (rates) job.Result.Quantity = QString::fromUtf8(sensor.RateCaption) + QStringLiteral(", уд/мин");
    job.Result.Kind = kind;
    job.Result.Model = model;
    job.Result.From = from;
    job.Result.To = to;
    job.Shift = shift;
    int first = 0, last = points.Count();
    if (!KindInfo(kind).AtPoint) {
        first = std::max(0, points.UpperBound(std::min(from, to)) - 2);
        last = std::min(points.Count(), points.UpperBound(std::max(from, to)) + 1);
    }
    job.X.reserve(std::size_t(std::max(0, last - first)));
    job.Y.reserve(std::size_t(std::max(0, last - first)));
    for (int i = first; i < last; ++i) {
        job.X.push_back(points.X(i) + shift);
        job.Y.push_back(points.Y(i));
    }
    return job;
}

void tResultList::Clear() {
    FResults.clear();
    FUnknown.clear();
}

void tResultList::Load(const QList<QByteArray>& lines) {
    Clear();
    for (const QByteArray& raw : lines) {
        // Each line in its own encoding: one damaged line does not make the others cp1251.
        const QString line = DecodeTextFile(WithoutTerminator(raw)).trimmed();
        QPointF box;
        if (const std::optional<tAnalysisResult> result = DecodeResult(line, &box))
            FResults.push_back({*result, box});
        else {
            // Blank lines too: what no result is goes back as it came.
            FUnknown += raw;
            if (!raw.endsWith('\n') && !raw.endsWith('\r')) FUnknown += "\r\n";
        }
    }
}

bool tResultList::Without(int number, QStringList& gone, tResultList& kept) const {
    kept.FResults.clear();
    kept.FUnknown = FUnknown;
    for (const tEntry& entry : FResults) {
        if (entry.Value.Run == number)
            gone << EncodeResult(entry.Value, entry.Box);
        else
            kept.FResults.push_back(entry);
    }
    return kept.FResults.size() != FResults.size();
}

QStringList tResultList::Lines() const {
    QStringList lines;
    for (const tEntry& entry : FResults) lines << EncodeResult(entry.Value, entry.Box);
    return lines;
}
