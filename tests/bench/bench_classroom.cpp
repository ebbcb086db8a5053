// A station's cost of taking part in a lesson in class: the ticks of a 1 kHz run (a hundred values each) with
// and without its link to a real broker on 127.0.0.1, in the process's CPU time (the link's thread included).
// The difference over a tick's 100 ms is the share of a core that publishing adds.
#include "classroom/LessonBroker.h"
#include "classroom/StationLink.h"
#include "lesson/Lesson.h"
#include "sim/DemoWorld.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <thread>

namespace {

void BM_TickOfA1kHzRun(benchmark::State& state) {
    const bool linked = state.range(0) != 0;
    QTemporaryDir dir;
    qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    tLessonBroker broker;
    const tLessonCodes codes = NewLessonCodes();
    int port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    // As in class: the stations' connections encrypted with the teacher's certificate.
    const tTeacherCertificate certificate = TeacherCertificate(dir.filePath(QStringLiteral("teacher")));
    if (linked)
        broker.Start(dir.filePath(QStringLiteral("broker")), codes,
                     {port, 0, QStringLiteral("127.0.0.1"), {}, certificate.CertFile, certificate.KeyFile});
    tLesson lesson;
    lesson.KeepOnDisk(false);
    tExperiment e;
    e.SetDefaults();
    e.Name = QStringLiteral("Звук");
    e.SensorName = QStringLiteral("C101");
    e.Freq = 1000;
    e.Average = 1;
    e.MaxX = 2;
    lesson.Open(e);
    std::unique_ptr<tStationLink> link;
    if (linked) {
        link = std::make_unique<tStationLink>(
            lesson, tStationSettings{QStringLiteral("127.0.0.1"), port, codes.Lesson, codes.StationCode,
                                     QStringLiteral("bench"), QStringLiteral("Группа"),
                                     PinTeacher(QStringLiteral("127.0.0.1"), port).CaFile});
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
        lesson.TakeValues(values, false);
        if (link)
            while (link->Pending() > 0) std::this_thread::yield();
    }
    lesson.EndRun();
    if (link) state.counters["dropped"] = double(link->Dropped());
}
BENCHMARK(BM_TickOfA1kHzRun)->Arg(0)->Arg(1)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
