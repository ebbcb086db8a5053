// Core pieces: string table, app messages from threads, the thread base, the single running copy.
#include "core/AppMessages.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Strings.h"
#include "core/Thread.h"
#include "platform/SingleInstance.h"
#include "support/QtPrint.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

TEST(Strings, FormatsPlaceholdersInOrder) {
    EXPECT_EQ(
        FmtLoadStr(sCannotOpenDevice, {QStringLiteral("/dev/ttyACM0"), QStringLiteral("Нет доступа")}),
        QStringLiteral("Невозможно открыть устройство '/dev/ttyACM0'.\r\nСистема сообщает: Нет доступа"));
    EXPECT_EQ(FormatPercent(QStringLiteral("%d%% of %s, %s"), {QStringLiteral("5"), QStringLiteral("x")}),
              QStringLiteral("5% of x, "));
    EXPECT_EQ(LoadStr(sCaptionError), QStringLiteral("Ошибка"));
    EXPECT_EQ(LoadStr(sProgramStop), QStringLiteral("Остановка программы."));
    EXPECT_TRUE(LoadStr(12345).isEmpty());
}

TEST(CommandLine, ChangeFileExt) {
    const struct {
        const char* path;
        const char* expected;
    } rows[] = {
        {"/opt/z/zorbinka", "/opt/z/zorbinka.cfg"},
        {"/opt/z/zorbinka.exe", "/opt/z/zorbinka.cfg"},
        {"/opt/z.d/zorbinka", "/opt/z.d/zorbinka.cfg"},
        {"zorbinka.bin", "zorbinka.cfg"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ChangeFileExt(QString::fromLatin1(row.path), QStringLiteral(".cfg")),
                  QString::fromLatin1(row.expected));
}

namespace {

class tMessageCounter : public QObject {
public:
    std::vector<int> Received;
    bool eventFilter(QObject*, QEvent* event) override {
        ReceiveAppMessage(event);
        if (auto* message = dynamic_cast<tAppMessage*>(event)) {
            Received.push_back(message->Message());
            EXPECT_EQ(message->WParam, 1);
            return true;
        }
        return false;
    }
};

class tCountingThread : public tThread {
public:
    ~tCountingThread() override {
        Terminate();
        WaitFor();
    }
    std::atomic<int> Loops{0};
    bool Fail = false;

protected:
    void Execute() override {
        if (Fail) throw Exception(QStringLiteral("сбой"));
        while (!Terminated()) {
            ++Loops;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

} // namespace

TEST(AppMessages, ThreadsPostAndTheApplicationReceivesInOrder) {
    EXPECT_EQ(WM_MEASURE_SEND_ERROR, 0x8064);
    EXPECT_EQ(WM_MEASURE_RECV_ERROR, 0x8065);
    EXPECT_EQ(WM_MEASURE_DATA, 0x8066);
    EXPECT_EQ(WM_MARKER_MOVED, 0x8067);
    EXPECT_EQ(WM_SENSOR_LOST, 0x83EA);

    tMessageCounter counter;
    qApp->installEventFilter(&counter);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i) PostAppMessage(WM_MEASURE_DATA, 1, i);
        });
    for (auto& thread : threads) thread.join();
    PostAppMessage(WM_SENSOR_LOST, 1);
    QCoreApplication::processEvents();
    ASSERT_EQ(counter.Received.size(), 401u);
    EXPECT_EQ(counter.Received.back(), WM_SENSOR_LOST);

    qApp->removeEventFilter(&counter);
}

TEST(Thread, StartsTerminatesAndReportsItsError) {
    tCountingThread thread;
    thread.SetPriority(tThread::tPriority::Highest);
    thread.Start();
    while (thread.Loops.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(thread.Finished());
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_TRUE(thread.FatalMessage().isEmpty());

    tCountingThread failing;
    failing.Fail = true;
    failing.Start();
    failing.WaitFor();
    EXPECT_EQ(failing.FatalMessage(), QStringLiteral("сбой"));

    tCountingThread neverStarted;
    EXPECT_FALSE(neverStarted.Started());
}

namespace {

// A plain number written by a worker after it posted a message and by the application's event filter that
// receives it: a race, as one on the window's stop path would be.
int gProbe = 0;

class tRacingFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        ReceiveAppMessage(event);
        if (event->type() != QEvent::Type(WM_MEASURE_DATA)) return false;
        gProbe = 2;
        Received = true;
        return true;
    }
    bool Received = false;
};

} // namespace

// Under ThreadSanitizer a race that runs through an application event filter is reported: the checks see the
// program's own code on every path the window's notices take.
TEST(ThreadChecks, ARaceThroughAnEventFilterIsReported) {
#if !defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a ThreadSanitizer build checks this";
#else
    if (qEnvironmentVariableIsSet("ZORBINKA_RACE_PROBE")) {
        tRacingFilter filter;
        qApp->installEventFilter(&filter);
        std::thread worker([] {
            PostAppMessage(WM_MEASURE_DATA, 1, 0);
            gProbe = 1;
        });
        // The window takes locks of its own between notices (the sensor's queue, the log): the checker's
        // clock moves on, as it does there.
        std::mutex lock;
        while (!filter.Received) {
            { const std::lock_guard<std::mutex> guard(lock); }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        worker.join();
        qApp->removeEventFilter(&filter);
        // Read, so that neither write is left out as a store nobody reads.
        EXPECT_GT(gProbe, 0);
        return;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZORBINKA_RACE_PROBE"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=ThreadChecks.ARaceThroughAnEventFilterIsReported")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString report = QString::fromUtf8(child.readAllStandardError());
    EXPECT_TRUE(report.contains(QStringLiteral("WARNING: ThreadSanitizer: data race")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("sendThroughApplicationEventFilters")))
        << report.toStdString();
#endif
}

TEST(SingleInstance, SecondCopyFindsTheFirstAndAsksItForward) {
    QTemporaryDir dir;
    tSingleInstance first(dir.path());
    ASSERT_TRUE(first.TryTake());
    int activations = 0;
    QObject::connect(&first, &tSingleInstance::activateRequested, [&] { ++activations; });
    first.Listen();

    tSingleInstance second(dir.path());
    EXPECT_FALSE(second.TryTake());
    EXPECT_TRUE(second.ActivateRunningCopy());
    QElapsedTimer timer;
    timer.start();
    while (activations == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(activations, 1);

    first.Release();
    tSingleInstance third(dir.path());
    EXPECT_TRUE(third.TryTake()) << "a released lock is free for the next start";
    EXPECT_FALSE(third.ActivateRunningCopy(200)) << "nobody listens";
}

TEST(SingleInstance, LockThatCannotBeCreatedRaisesTheSystemError) {
    tSingleInstance instance(QStringLiteral("/nonexistent-folder/zorbinka"));
    try {
        instance.TryTake();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Системная ошибка: Невозможно создать объект "
                                                          "синхронизации.\r\nСистема сообщает: ")))
            << e.what();
    }
}
