// SPDX-License-Identifier: GPL-3.0-or-later
// Headless stations for trying a lesson in class on one machine: `zorbinka_stations HOST[:PORT] CODE [COUNT]`
// joins COUNT stations (15 by default) to the teacher's lesson. Each measures the demo vessel cooling at a
// pace of its own, a minute a run, fits its curve, and begins the next run, until the program is stopped.
#include "classroom/StationLink.h"
#include "lesson/Lesson.h"
#include "sim/DemoWorld.h"
#include "support/DemoLessons.h"
#include "support/LessonSteps.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct tStation {
    tLesson Lesson;
    std::unique_ptr<tStationLink> Link;
    std::vector<double> Values;
    long long Fed = 0;
    double Speed = 10;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: zorbinka_stations HOST[:PORT] CODE [COUNT]\n");
        return 2;
    }
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    // The stations' works are of this run alone.
    qputenv("XDG_DATA_HOME", state.filePath(QStringLiteral("data")).toLocal8Bit());
    QString host = args[1];
    int port = kLessonPort;
    if (host.contains(u':')) port = host.section(u':', -1).toInt(), host = host.section(u':', 0, -2);
    const QString code = NormalizedCode(args[2]);
    const int count = args.size() > 3 ? args[3].toInt() : 15;
    const bool fork = args.size() > 4 && args[4] == QStringLiteral("fork");
    const tTeacherPin pin = PinTeacher(host, port);
    std::printf("teacher's certificate %s\n", qPrintable(pin.Fingerprint));
    std::vector<std::unique_ptr<tStation>> stations;
    for (int n = 1; n <= count; ++n) {
        auto station = std::make_unique<tStation>();
        const tExperiment e = fork ? DemoFork() : DemoCooling(60);
        station->Speed = 6 + n;
        station->Lesson.Open(e);
        station->Link = std::make_unique<tStationLink>(
            station->Lesson,
            tStationSettings{host, port, LessonOfCode(code), code, QStringLiteral("station%1").arg(n),
                             QStringLiteral("Группа %1").arg(n), pin.CaFile});
        stations.push_back(std::move(station));
    }
    // A value a tenth of a second; a run of a minute, its fit, then the next run.
    QTimer tick;
    tick.start(100);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        for (auto& s : stations) {
            if (s->Lesson.Measured() < 0) {
                s->Lesson.BeginRun(0);
                s->Fed = 0;
            }
            if (fork)
                for (int i = 0; i < 100; ++i) s->Values.push_back(ForkSignal(double(s->Fed++) * 0.001));
            else
                s->Values.push_back(CoolingSignal(double(s->Fed++) * 0.1 * s->Speed));
            s->Lesson.TakeRunValues(s->Values, false);
            if (s->Fed >= (fork ? 60000 : 600)) {
                s->Lesson.TakeRunValues(s->Values, true);
                s->Lesson.EndRun();
                try {
                    Analyse(s->Lesson, tAnalysisKind::Fit, fork ? tFitModel::Sine : tFitModel::ExpApproach, 0,
                            fork ? 3 : 60);
                } catch (...) {
                }
            }
        }
    });
    return app.exec();
}
