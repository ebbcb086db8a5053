// Opens one window of the program on a real display for a look or a screenshot: "chooser", "frame" or
// "pulse".
#include "core/CommandLine.h"
#include "core/Prompts.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "measure/Measurethread.h"
#include "sim/DemoWorld.h"
#include "ui/DialogPrompts.h"
#include "ui/Experimentsfm.h"
#include "ui/Mainfm.h"
#include "ui/Pulsefr.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QTimer>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

int Chooser(const QString& root) {
    TfmExperiments chooser(nullptr);
    chooser.FillTree(root);
    const auto found = chooser.Tree()->findItems(QStringLiteral("Физика"), Qt::MatchExactly);
    if (!found.isEmpty()) {
        QTreeWidgetItem* physics = found.first();
        physics->setExpanded(true);
        for (int i = 0; i < physics->childCount(); ++i) {
            QTreeWidgetItem* child = physics->child(i);
            if (child->text(0) != QStringLiteral("Тепловые явления")) continue;
            child->setExpanded(true);
            if (child->childCount() > 0) chooser.Tree()->setCurrentItem(child->child(0));
        }
    }
    chooser.resize(900, 560);
    return chooser.exec() == QDialog::Accepted ? 0 : 1;
}

int Frame(const QString& root, bool pulse) {
    tExperiment experiment;
    const QString folder =
        pulse ? root + QStringLiteral("Биология/Частота пульса человека/")
              : root + QStringLiteral("Физика/Тепловые явления/Остывание воды в разных сосудах/");
    LoadExperimentFolder(experiment, QDir(folder).dirName(), folder, nullptr);
    TfrExperiment* frame = pulse ? new TfrPulse(nullptr, experiment.TwiceMarker)
                                 : new TfrExperiment(nullptr, experiment.TwiceMarker);
    frame->SetUp(experiment);
    frame->resize(1200, 720);
    frame->show();
    frame->BeginMeasurement(experiment);
    tFastLine* line = frame->chMain->Series(frame->ActiveSeries);
    const double step = experiment.Freq * 1e-6 * experiment.Average;
    const int points = pulse ? 2500 : 420;
    for (int k = 0; k < points; ++k) {
        const double t = k * step;
        const QString label = pulse      ? QString()
                              : k == 60  ? QStringLiteral("крышка")
                              : k == 250 ? QStringLiteral("помешали")
                                         : QString();
        const double y =
            pulse ? HeartbeatSignal(t, 70) : 72 - 40 * (1 - std::exp(-t / 300)) + 0.2 * std::sin(k);
        line->Add(t, y, label);
        if (k % 10 == 9) frame->FollowNewest(experiment.AutoSize);
    }
    frame->FollowNewest(experiment.AutoSize);
    frame->EndMeasurement();
    if (!pulse) {
        frame->chMain->Marker = 300;
        frame->chMain->SecondMarker = 120;
    }
    frame->chMain->replot();
    return qApp->exec();
}

// The real dialogs, but for the chooser, which picks the experiment at `Path` (relative to data/) at once.
class tPreviewPrompts : public tPrompts {
public:
    explicit tPreviewPrompts(const QString& path) : FPath(path) { SetPrompts(this); }
    ~tPreviewPrompts() override { SetPrompts(nullptr); }
    int MessageBox(QWidget* parent, const QString& text, const QString& caption, tBoxIcon icon, int buttons,
                   int defaultButton) override {
        return FReal.MessageBox(parent, text, caption, icon, buttons, defaultButton);
    }
    bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value) override {
        return FReal.InputQuery(parent, caption, prompt, value);
    }
    QString OpenFileName(QWidget* parent, const tFileDialogOptions& options) override {
        return FReal.OpenFileName(parent, options);
    }
    QString SaveFileName(QWidget* parent, const tFileDialogOptions& options) override {
        return FReal.SaveFileName(parent, options);
    }
    bool PrintDialog(QWidget* parent, QPrinter& printer) override {
        return FReal.PrintDialog(parent, printer);
    }
    bool PrinterSetupDialog(QWidget* parent, QPrinter& printer) override {
        return FReal.PrinterSetupDialog(parent, printer);
    }
    bool PageSetupDialog(QWidget* parent, QPrinter& printer) override {
        return FReal.PageSetupDialog(parent, printer);
    }
    bool Progress(QWidget* parent, const QString& text, int done, int total) override {
        return FReal.Progress(parent, text, done, total);
    }
    int Exec(QDialog& dialog) override {
        auto* chooser = qobject_cast<TfmExperiments*>(&dialog);
        if (!chooser) return FReal.Exec(dialog);
        QTreeWidgetItem* node = nullptr;
        for (const QString& part : FPath.split(u'/')) {
            QTreeWidgetItem* parent = node;
            if (parent) parent->setExpanded(true);
            node = nullptr;
            const int count = parent ? parent->childCount() : chooser->Tree()->topLevelItemCount();
            for (int i = 0; i < count && !node; ++i) {
                QTreeWidgetItem* child = parent ? parent->child(i) : chooser->Tree()->topLevelItem(i);
                if (child->text(0) == part) node = child;
            }
            if (!node) return int(QDialog::Rejected);
        }
        chooser->Tree()->setCurrentItem(node);
        return int(QDialog::Accepted);
    }

private:
    tPrompts& FReal = DialogPrompts();
    const QString FPath;
};

// The main window on the demo sensors: chooses the experiment at `path` (relative to data/), starts measuring
// and keeps measuring (or stops after `stopAfter` ms when given).
int Main(const QString& exe, const QString& path, int stopAfter) {
    SetExecutablePath(exe);
    UseMeasureThreads();
    InstallDemoWorld();
    tPreviewPrompts prompts(path);
    TfmMain window;
    window.showMaximized();
    // With ZORBINKA_PREVIEW_STATS the run reports once a minute: points held, memory, the longest pause of
    // the event loop (a 50 ms heartbeat that arrives late shows a window that stopped answering), and the
    // longest piece of work between two waits of the window's thread, on the wall clock and in processor time
    // (the latter leaves out the time other programs held the processor).
    QElapsedTimer sinceBeat;
    sinceBeat.start();
    double longestPause = 0;
    QElapsedTimer workStarted;
    double workCpuStart = 0;
    double longestWork = 0;
    double longestWorkCpu = 0;
    int over5ms = 0;
    QTimer heartbeat;
    QTimer report;
    if (qEnvironmentVariableIsSet("ZORBINKA_PREVIEW_STATS")) {
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestPause = std::max(longestPause, sinceBeat.nsecsElapsed() / 1e6 - 50);
            sinceBeat.restart();
        });
        heartbeat.start(50);
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] {
            if (workStarted.isValid()) return;
            workStarted.start();
            workCpuStart = ThreadCpuMs();
        });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
            if (!workStarted.isValid()) return;
            const double cpu = ThreadCpuMs() - workCpuStart;
            longestWork = std::max(longestWork, workStarted.nsecsElapsed() / 1e6);
            longestWorkCpu = std::max(longestWorkCpu, cpu);
            if (cpu > 5) ++over5ms;
            workStarted.invalidate();
        });
        QObject::connect(&report, &QTimer::timeout, [&] {
            QFile status(QStringLiteral("/proc/self/status"));
            status.open(QIODevice::ReadOnly);
            QString rss;
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:")) rss = QString::fromLatin1(line.mid(6).trimmed());
            const int run = window.Lesson().Measured();
            const int points = run >= 0 ? window.Lesson().Run(run).Points->Count() : 0;
            std::printf(
                "points=%d rss=%s longest_pause_ms=%.1f longest_work_ms=%.1f longest_work_cpu_ms=%.1f "
                "work_over_5ms_cpu=%d\n",
                points, rss.toLatin1().constData(), longestPause, longestWork, longestWorkCpu, over5ms);
            std::fflush(stdout);
            longestPause = longestWork = longestWorkCpu = 0;
            over5ms = 0;
        });
        report.start(60000);
    }
    // ZORBINKA_PREVIEW_REPORT types a report before the run; ZORBINKA_PREVIEW_RESTART starts a second run
    // after the stop, which goes on until the process ends.
    QTimer::singleShot(300, &window, [&] {
        window.RunAction(window.acExperimentChoose);
        if (qEnvironmentVariableIsSet("ZORBINKA_PREVIEW_REPORT") && window.Frame) {
            window.Frame->reReport->setPlainText(qEnvironmentVariable("ZORBINKA_PREVIEW_REPORT"));
            window.Frame->reReport->document()->setModified(true);
        }
        window.RunAction(window.acExperimentStart);
        if (stopAfter > 0)
            QTimer::singleShot(stopAfter, &window, [&] {
                window.RunAction(window.acExperimentStop);
                if (qEnvironmentVariableIsSet("ZORBINKA_PREVIEW_RESTART"))
                    window.RunAction(window.acExperimentStart);
            });
    });
    return qApp->exec();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetDefaultPrompts(&DialogPrompts());
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("chooser");
    const QString root =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::currentPath() + QStringLiteral("/data/");
    if (mode == QStringLiteral("frame")) return Frame(root, false);
    if (mode == QStringLiteral("pulse")) return Frame(root, true);
    if (mode == QStringLiteral("main"))
        return Main(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                    argc > 4 ? atoi(argv[4]) : 0);
    return Chooser(root);
}
