// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON of the classroom's topics.
#include "classroom/Payloads.h"

#include "analysis/Results.h"
#include "core/NumberFormat.h"
#include "lesson/Lesson.h"
#include "runs/PointSeries.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

QString CollectingName(tLesson::tCollecting collecting) {
    switch (collecting) {
    case tLesson::tCollecting::Countdown:
        return QStringLiteral("countdown");
    case tLesson::tCollecting::Waiting:
        return QStringLiteral("waiting");
    case tLesson::tCollecting::Recording:
        return QStringLiteral("recording");
    case tLesson::tCollecting::Idle:
        break;
    }
    return QStringLiteral("idle");
}

// A number JSON can carry: NaN and infinities are none.
QJsonValue Number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject Points(const std::vector<std::pair<double, double>>& points) {
    QJsonArray xs, ys;
    for (const auto& [x, y] : points) {
        xs.append(Number(x));
        ys.append(Number(y));
    }
    return QJsonObject{{QStringLiteral("x"), xs}, {QStringLiteral("y"), ys}};
}

// Points [from, to) in at most `limit`: all of them when they fit, else per stretch its first, lowest,
// highest and last, in x order.
void Thin(const tPointSeries& points, int from, int to, int limit,
          std::vector<std::pair<double, double>>& out) {
    const int count = to - from;
    if (count <= 0) return;
    if (count <= limit) {
        for (int i = from; i < to; ++i) out.emplace_back(points.X(i), points.Y(i));
        return;
    }
    const int stretches = std::max(1, limit / 4);
    for (int s = 0; s < stretches; ++s) {
        const int first = from + int(std::int64_t(count) * s / stretches);
        const int last = from + int(std::int64_t(count) * (s + 1) / stretches) - 1;
        if (last < first) continue;
        int low = first, high = first;
        for (int i = first; i <= last; ++i) {
            if (points.Y(i) < points.Y(low)) low = i;
            if (points.Y(i) > points.Y(high)) high = i;
        }
        int kept[] = {first, std::min(low, high), std::max(low, high), last};
        for (int k = 0; k < 4; ++k)
            if (k == 0 || kept[k] != kept[k - 1]) out.emplace_back(points.X(kept[k]), points.Y(kept[k]));
    }
}

} // namespace

QString StationTopic(const QString& lesson, const QString& station, const QString& what) {
    return QStringLiteral("zorbinka/%1/station/%2/%3").arg(lesson, station, what);
}

QString TeacherTopic(const QString& lesson, const QString& what) {
    return QStringLiteral("zorbinka/%1/teacher/%2").arg(lesson, what);
}

QByteArray StatePayload(const tLesson& lesson, const QString& group) {
    const tExperiment& e = lesson.Experiment();
    QJsonObject state{{QStringLiteral("group"), group},
                      {QStringLiteral("experiment"), lesson.IsOpen() ? e.Name : QString()},
                      {QStringLiteral("sensor"), e.SensorName},
                      {QStringLiteral("collecting"), CollectingName(lesson.Collecting())},
                      {QStringLiteral("captionX"), e.CaptionX},
                      {QStringLiteral("captionY"), e.CaptionY},
                      {QStringLiteral("minX"), Number(e.MinX)},
                      {QStringLiteral("maxX"), Number(e.MaxX)},
                      {QStringLiteral("minY"), Number(e.MinY)},
                      {QStringLiteral("maxY"), Number(e.MaxY)},
                      {QStringLiteral("runs"), lesson.RunCount()}};
    state.insert(QStringLiteral("value"),
                 lesson.NewestValue() ? Number(*lesson.NewestValue()) : QJsonValue(QJsonValue::Null));
    // The places the experiment shows its values with, where its format gives them.
    if (const int decimals = PatternDecimals(e.FormatY); decimals >= 0)
        state.insert(QStringLiteral("decimalsY"), decimals);
    return Compact(state);
}

std::vector<QByteArray> LivePayloads(const tPointSeries& points, int run, int from, int to,
                                     double spanSeconds, double pointsPerSecond,
                                     std::vector<std::pair<double, double>>* sent) {
    std::vector<QByteArray> batches;
    const int limit = std::max(2, int(std::lround(spanSeconds * pointsPerSecond)));
    for (int first = from; first < to;) {
        // A batch spans at most spanSeconds of x, and holds one point at least.
        int last = std::min(to, points.UpperBound(points.X(first) + spanSeconds * (1 - 1e-9)));
        last = std::max(last, first + 1);
        std::vector<std::pair<double, double>> kept;
        Thin(points, first, last, limit, kept);
        QJsonObject batch = Points(kept);
        batch.insert(QStringLiteral("run"), run);
        batches.push_back(Compact(batch));
        if (sent) sent->insert(sent->end(), kept.begin(), kept.end());
        first = last;
    }
    return batches;
}

void tRunSketch::Add(const std::vector<std::pair<double, double>>& points) {
    FPoints.insert(FPoints.end(), points.begin(), points.end());
    // Halved as often as it takes: a batch may be larger than the sketch itself.
    while (FPoints.size() >= std::size_t(2 * std::max(2, FLimit))) {
        std::vector<std::pair<double, double>> kept;
        kept.reserve(FPoints.size() / 2 + 2);
        for (std::size_t first = 0; first < FPoints.size(); first += 4) {
            const std::size_t last = std::min(FPoints.size(), first + 4);
            std::size_t low = first, high = first;
            for (std::size_t i = first; i < last; ++i) {
                if (FPoints[i].second < FPoints[low].second) low = i;
                if (FPoints[i].second > FPoints[high].second) high = i;
            }
            // The run's first and last points stay: the sketch spans the run.
            if (first == 0 && std::min(low, high) != 0) kept.push_back(FPoints[0]);
            kept.push_back(FPoints[std::min(low, high)]);
            if (low != high) kept.push_back(FPoints[std::max(low, high)]);
            if (last == FPoints.size() && std::max(low, high) != last - 1) kept.push_back(FPoints[last - 1]);
        }
        FPoints.swap(kept);
    }
}

QByteArray CurrentPayload(int run, const tRunSketch& sketch) {
    QJsonObject current = Points(sketch.Points());
    current.insert(QStringLiteral("run"), run);
    return Compact(current);
}

std::vector<std::pair<double, double>> SummaryPoints(const tPointSeries& points, int limit) {
    std::vector<std::pair<double, double>> kept;
    Thin(points, 0, points.Count(), limit, kept);
    return kept;
}

int PublishedRunNumber(const tLesson& lesson, int run) {
    return lesson.Runs().Number(run);
}

QByteArray RunPayload(const tLesson& lesson, int run, int limit) {
    const tRun& r = lesson.Run(run);
    QJsonObject payload = Points(SummaryPoints(*r.Points, limit));
    payload.insert(QStringLiteral("number"), PublishedRunNumber(lesson, run));
    payload.insert(QStringLiteral("name"), lesson.RunName(run));
    payload.insert(QStringLiteral("points"), r.Points->Count());
    payload.insert(QStringLiteral("captionX"), r.CaptionX);
    payload.insert(QStringLiteral("captionY"), r.CaptionY);
    return Compact(payload);
}

QByteArray ResultsPayload(const tLesson& lesson, int maxBytes) {
    // The newest results that fit in `maxBytes`, taken from the newest back: a work of very many results
    // never makes a message the broker refuses, and only the results sent are written out.
    std::vector<std::pair<QJsonValue, QJsonObject>> kept;
    const tExperiment& e = lesson.Experiment();
    // {"lines":[],"results":[]} and each kept result's line and object, with a comma each after the first.
    qsizetype bytes = 25;
    for (int i = lesson.ResultCount() - 1; i >= 0; --i) {
        const tAnalysisResult& r = lesson.Result(i);
        // The same for a reader that shows it: the box's lines, and a fit's parameters by name.
        QJsonObject result{
            {QStringLiteral("run"), r.Run},
            {QStringLiteral("kind"), QString::fromLatin1(KindInfo(r.Kind).Key)},
            {QStringLiteral("text"), QJsonArray::fromStringList(ResultLines(r, e.CaptionX, e.CaptionY))}};
        if (r.Kind == tAnalysisKind::Fit) {
            QJsonArray names, values, errors;
            const int count = FitParamCount(r.Model);
            for (int k = 0; k < count && std::size_t(count + k) < r.Values.size(); ++k) {
                names.append(FitParamName(r.Model, k));
                values.append(Number(r.Values[std::size_t(k)]));
                errors.append(Number(r.Values[std::size_t(count + k)]));
            }
            result.insert(QStringLiteral("model"), FitModelName(r.Model));
            result.insert(QStringLiteral("names"), names);
            result.insert(QStringLiteral("values"), values);
            result.insert(QStringLiteral("errors"), errors);
        }
        const QJsonValue line = EncodeResult(r, lesson.ResultBox(i));
        bytes += QJsonDocument(QJsonArray{line}).toJson(QJsonDocument::Compact).size() - 2 +
                 QJsonDocument(result).toJson(QJsonDocument::Compact).size() + (kept.empty() ? 0 : 2);
        if (bytes > maxBytes) break;
        kept.emplace_back(line, result);
    }
    QJsonArray lines, results;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        lines.append(it->first);
        results.append(it->second);
    }
    return Compact(QJsonObject{{QStringLiteral("lines"), lines}, {QStringLiteral("results"), results}});
}

std::optional<tTeacherMessage> ParseTeacherMessage(const QString& topic, const QByteArray& payload,
                                                   QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<tTeacherMessage> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (payload.size() > 64 * 1024) return fail(QStringLiteral("too long"));
    QJsonParseError parsed{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    tTeacherMessage message;
    if (topic == QStringLiteral("offer")) {
        message.Kind = tTeacherMessage::tKind::Offer;
        message.Experiment = object.value(QStringLiteral("experiment")).toString().trimmed();
        if (message.Experiment.isEmpty() || message.Experiment.size() > 1000)
            return fail(QStringLiteral("an offer without an experiment"));
        // A path inside the catalogue, nothing that climbs out of it.
        if (message.Experiment.startsWith(u'/') || message.Experiment.contains(u'\\') ||
            message.Experiment.split(u'/').contains(QStringLiteral("..")))
            return fail(QStringLiteral("an experiment outside the catalogue"));
        return message;
    }
    if (topic == QStringLiteral("end")) {
        message.Kind = tTeacherMessage::tKind::End;
        return message;
    }
    if (topic == QStringLiteral("message")) {
        message.Text = object.value(QStringLiteral("text")).toString().simplified().left(500);
        return message;
    }
    return fail(QStringLiteral("unknown topic ") + topic.left(100));
}

QString TeacherMessageTopic(const tTeacherMessage& message) {
    switch (message.Kind) {
    case tTeacherMessage::tKind::Offer:
        return QStringLiteral("offer");
    case tTeacherMessage::tKind::End:
        return QStringLiteral("end");
    case tTeacherMessage::tKind::Text:
        break;
    }
    return QStringLiteral("message");
}

QByteArray TeacherPayload(const tTeacherMessage& message) {
    if (message.Kind == tTeacherMessage::tKind::End) return "{}";
    if (message.Kind == tTeacherMessage::tKind::Offer)
        return Compact(QJsonObject{{QStringLiteral("experiment"), message.Experiment}});
    return Compact(QJsonObject{{QStringLiteral("text"), message.Text}});
}
