// A station's cost of taking part in a lesson in class: the ticks of a 1 kHz run (a hundred values each) with
// and without its link to a real broker on 127.0.0.1, in the process's CPU time (the link's thread included).
// The difference over a tick's 100 ms is the share of a core that publishing adds.
#include "QtCoreBenchmarkMain.h"
#include "classroom/Discovery.h"
#include "classroom/LessonBroker.h"
#include "classroom/Payloads.h"
#include "classroom/StationLink.h"
#include "lesson/Lesson.h"
#include "sim/DemoWorld.h"
#include "support/DemoLessons.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <mosquitto.h>
#include <mutex>
#include <thread>

namespace {

// A lesson's broker on 127.0.0.1 with the teacher's certificate, as in class, its files in `dir`.
struct tBenchLesson {
    tLessonCodes Codes = NewLessonCodes();
    int Port = FreePort();
    tTeacherCertificate Certificate;
    tLessonBroker Broker;
    explicit tBenchLesson(const QTemporaryDir& dir)
        : Certificate(TeacherCertificate(dir.filePath(QStringLiteral("teacher")))) {}
    void Start(const QTemporaryDir& dir) {
        Broker.Start(dir.filePath(QStringLiteral("broker")), Codes,
                     {Port, 0, QStringLiteral("127.0.0.1"), {}, Certificate.CertFile, Certificate.KeyFile});
    }
};

void BM_TickOfA1kHzRun(benchmark::State& state) {
    const bool linked = state.range(0) != 0;
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    // As in class: the stations' connections encrypted with the teacher's certificate.
    tBenchLesson classroom(dir);
    if (linked) classroom.Start(dir);
    tLesson lesson;
    const tExperiment e = DemoFork();
    lesson.Open(e);
    std::unique_ptr<tStationLink> link;
    if (linked) {
        link = std::make_unique<tStationLink>(
            lesson,
            tStationSettings{QStringLiteral("127.0.0.1"), classroom.Port, classroom.Codes.Lesson,
                             classroom.Codes.StationCode, QStringLiteral("bench"), QStringLiteral("Группа"),
                             PinTeacher(QStringLiteral("127.0.0.1"), classroom.Port).CaFile});
        QElapsedTimer wait;
        wait.start();
        while (link->State() != tStationLink::tState::Connected && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    lesson.BeginRun(0);
    std::vector<double> values;
    double t = 0;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i, t += 0.001) values.push_back(ForkSignal(t));
        lesson.TakeRunValues(values, false);
        if (link)
            while (link->Pending() > 0) std::this_thread::yield();
    }
    lesson.EndRun();
    if (link) state.counters["dropped"] = double(link->Dropped());
}
BENCHMARK(BM_TickOfA1kHzRun)->Arg(0)->Arg(1)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// Fifteen stations at 1 kHz, a tick every 100 ms, and the teacher's side subscribed to their live points: the
// time from a tick to the arrival of each batch of its points, as median and 95th percentile over 5 s.
void BM_LatencyFromTickToTeacher(benchmark::State& state) {
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    tBenchLesson classroom(dir);
    classroom.Start(dir);
    const tLessonCodes& codes = classroom.Codes;
    const int port = classroom.Port;
    const tTeacherCertificate& certificate = classroom.Certificate;
    using tClock = std::chrono::steady_clock;
    std::mutex lock;
    std::vector<tClock::time_point> ticks(64);
    std::vector<double> latencies;
    struct tContext {
        std::mutex* Lock;
        std::vector<tClock::time_point>* Ticks;
        std::vector<double>* Latencies;
    } context{&lock, &ticks, &latencies};
    mosquitto* teacher = mosquitto_new(nullptr, true, &context);
    mosquitto_username_pw_set(teacher, kTeacherUser, codes.TeacherPassword.toUtf8().constData());
    mosquitto_tls_set(teacher, certificate.CertFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                      nullptr);
    mosquitto_tls_insecure_set(teacher, true);
    mosquitto_message_callback_set(teacher, [](mosquitto*, void* self, const mosquitto_message* m) {
        const auto now = tClock::now();
        auto* c = static_cast<tContext*>(self);
        const QJsonArray x =
            QJsonDocument::fromJson(QByteArray(static_cast<const char*>(m->payload), m->payloadlen))
                .object()
                .value(QStringLiteral("x"))
                .toArray();
        if (x.isEmpty()) return;
        const std::size_t tick = std::size_t(std::floor(x.last().toDouble() * 10 + 1e-6));
        std::lock_guard<std::mutex> guard(*c->Lock);
        if (tick < c->Ticks->size() && (*c->Ticks)[tick] != tClock::time_point())
            c->Latencies->push_back(
                std::chrono::duration<double, std::milli>(now - (*c->Ticks)[tick]).count());
    });
    const QByteArray topic = StationTopic(codes.Lesson, QStringLiteral("+"), QStringLiteral("live")).toUtf8();
    mosquitto_connect(teacher, "127.0.0.1", port, 10);
    mosquitto_subscribe(teacher, nullptr, topic.constData(), 0);
    mosquitto_loop_start(teacher);
    const QString ca = PinTeacher(QStringLiteral("127.0.0.1"), port).CaFile;
    std::vector<std::unique_ptr<tLesson>> lessons;
    std::vector<std::unique_ptr<tStationLink>> links;
    const tExperiment e = DemoFork();
    for (int n = 0; n < 15; ++n) {
        lessons.push_back(std::make_unique<tLesson>());
        lessons.back()->Open(e);
        links.push_back(std::make_unique<tStationLink>(
            *lessons.back(),
            tStationSettings{QStringLiteral("127.0.0.1"), port, codes.Lesson, codes.StationCode,
                             QStringLiteral("s%1").arg(n), QStringLiteral("Группа"), ca}));
    }
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 10000 && std::any_of(links.begin(), links.end(), [](const auto& l) {
               return l->State() != tStationLink::tState::Connected;
           }))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (auto& lesson : lessons) lesson->BeginRun(0);
    for (auto _ : state) {
        std::vector<std::vector<double>> values(lessons.size());
        for (std::size_t k = 0; k < 50; ++k) {
            const auto due = tClock::now() + std::chrono::milliseconds(100);
            {
                std::lock_guard<std::mutex> guard(lock);
                ticks[k] = tClock::now();
            }
            for (std::size_t n = 0; n < lessons.size(); ++n) {
                for (int i = 0; i < 100; ++i)
                    values[n].push_back(ForkSignal(double(k * 100 + std::size_t(i)) * 0.001));
                lessons[n]->TakeRunValues(values[n], true);
            }
            std::this_thread::sleep_until(due);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mosquitto_disconnect(teacher);
    mosquitto_loop_stop(teacher, false);
    mosquitto_destroy(teacher);
    std::lock_guard<std::mutex> guard(lock);
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["p95_ms"] = latencies[latencies.size() * 95 / 100];
        state.counters["batches"] = double(latencies.size());
    }
}
BENCHMARK(BM_LatencyFromTickToTeacher)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The results a station sends after each new one, with thousands in its work: only the newest that fit are
// written out, on the window's thread.
void BM_ResultsPayload(benchmark::State& state) {
    tLesson lesson;
    lesson.Open(DemoCooling(60));
    lesson.BeginRun(0);
    std::vector<double> values;
    for (int i = 0; i < 600; ++i) values.push_back(20 + 60 * std::exp(-i / 300.0));
    lesson.TakeRunValues(values, true);
    lesson.EndRun();
    for (int i = 0; i < state.range(0); ++i) {
        tAnalysisJob job = lesson.PrepareAnalysis(i % 2 ? tAnalysisKind::Statistics : tAnalysisKind::Fit,
                                                  tFitModel::Line, i % 50, i % 50 + 10);
        job.Run();
        lesson.AddResult(job);
    }
    for (auto _ : state) benchmark::DoNotOptimize(ResultsPayload(lesson).size());
}
BENCHMARK(BM_ResultsPayload)->Arg(30)->Arg(3000)->Unit(benchmark::kMillisecond);

// What Avahi's browser prints on a network flooded with lessons, read: in time growing with the lines.
void BM_ParseAvahiBrowse(benchmark::State& state) {
    QByteArray output;
    for (int i = 0; i < state.range(0); ++i)
        output += "=;eth0;IPv4;Lesson " + QByteArray::number(i) + ";_zorbinka._tcp;local;h.local;10.0." +
                  QByteArray::number(i / 250 % 250) + '.' + QByteArray::number(i % 250 + 1) + ";18883;\n";
    for (auto _ : state) benchmark::DoNotOptimize(ParseAvahiBrowse(output).size());
}
BENCHMARK(BM_ParseAvahiBrowse)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return RunQtCoreBenchmarks(argc, argv);
}
