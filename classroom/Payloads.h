// SPDX-License-Identifier: GPL-3.0-or-later
// What a station of a lesson in class publishes of its lesson, and what the teacher sends it: topics under
// zorbinka/<lesson>/, JSON payloads with C-locale numbers.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

class tLesson;
class tPointSeries;

// The points of a run's summary: with its numbers at full precision it stays well within a message the
// broker passes (a class page over WebSockets takes about 40 KB a second of one message).
inline constexpr int kRunSummaryPoints = 2000;

// The topics of a lesson: "zorbinka/<lesson>/station/<id>/" + what, and "zorbinka/<lesson>/teacher/" + what.
QString StationTopic(const QString& lesson, const QString& station, const QString& what);
QString TeacherTopic(const QString& lesson, const QString& what = QString());

// `state` (retained): the group, its experiment and sensor, how the collection stands, the newest value with
// its caption, the axes' ranges and captions, the runs there are.
QByteArray StatePayload(const tLesson& lesson, const QString& group);
// `live`: points [from, to) of run `run` (its number) as batches of at most `spanSeconds` of x each, every
// batch at most `pointsPerSecond` × span points keeping its lowest and highest value in order.
// The points the batches carry are added to `sent` when it is given.
std::vector<QByteArray> LivePayloads(const tPointSeries& points, int run, int from, int to,
                                     double spanSeconds = 0.05, double pointsPerSecond = 200,
                                     std::vector<std::pair<double, double>>* sent = nullptr);

// The run being recorded as the live batches sent it, kept small, so that a page that opens during the run
// (or comes back after the broker did) draws it from its start: when it holds twice `limit` points, each four
// give way to their lowest and highest, in x order. Its cost does not grow with the run.
class tRunSketch {
public:
    explicit tRunSketch(int limit = 1000) : FLimit(limit) {}
    void Clear() { FPoints.clear(); }
    void Add(const std::vector<std::pair<double, double>>& points);
    const std::vector<std::pair<double, double>>& Points() const { return FPoints; }

private:
    int FLimit;
    std::vector<std::pair<double, double>> FPoints;
};
// `current` (retained, taken away when the run ends): the run's number and its sketch.
QByteArray CurrentPayload(int run, const tRunSketch& sketch);
// `run/<n>` (retained): the run's number, name, point count, captions and a summary of at most `limit` points
// that draws it faithfully (each stretch's first, lowest, highest and last points in x order).
QByteArray RunPayload(const tLesson& lesson, int run, int limit = kRunSummaryPoints);
// The number a run is published under: its file's, else its place counting from 1.
int PublishedRunNumber(const tLesson& lesson, int run);
// The points that summarise [0, count) of `points` in at most `limit` points.
std::vector<std::pair<double, double>> SummaryPoints(const tPointSeries& points, int limit);
// `results` (retained): the analysis results as the work folder keeps them, one line each; the newest of them
// that fit in `maxBytes`.
QByteArray ResultsPayload(const tLesson& lesson, int maxBytes = 96 * 1024);

// What the teacher sends to every station.
struct tTeacherMessage {
    enum class tKind { Offer, Text, End } Kind = tKind::Text; // End: the teacher ended the lesson
    QString Experiment; // Offer: the experiment's path in the catalogue, as the chooser shows it
    QString Text;       // Text: the line to show
};
// `topic` is the part after "teacher/". None for anything malformed (the reason in `error`).
std::optional<tTeacherMessage> ParseTeacherMessage(const QString& topic, const QByteArray& payload,
                                                   QString* error = nullptr);
QByteArray TeacherPayload(const tTeacherMessage& message);
// The topic it goes under, after "teacher/".
QString TeacherMessageTopic(const tTeacherMessage& message);
