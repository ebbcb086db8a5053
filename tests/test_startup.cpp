// Start-up and shutdown in one process: log lines, the error box, the closing question, the second copy.
#include "app/Startup.h"
#include "core/CommandLine.h"
#include "core/Strings.h"
#include "lesson/Lesson.h"
#include "platform/SingleInstance.h"
#include "runs/Runs.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"
#include "support/TempDir.h"
#include "ui/Mainfm.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <malloc.h>
#include <thread>

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("ZORBINKA_RUNTIME_DIR", dir.path().toUtf8());
        SetExecutablePath(dir.filePath(QStringLiteral("zorbinka")));
        SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/log")});
    }
    void TearDown() override {
        SetCommandLine({QStringLiteral("zorbinka")});
        qunsetenv("ZORBINKA_RUNTIME_DIR");
    }

    QString Cfg() const { return dir.filePath(QStringLiteral("zorbinka.cfg")); }
    QString Log() const { return dir.filePath(QStringLiteral("zorbinka.log")); }
    QStringList LogMessages() const {
        // Each line's time stamp is dropped; an empty line stays empty.
        QStringList messages;
        for (const QString& line : QString::fromUtf8(ReadFile(Log())).split(QStringLiteral("\r\n")))
            messages.append(line.section(u' ', 2));
        return messages;
    }
    // Runs `step` once the message loop is running.
    static void WhenRunning(std::function<void()> step) { QTimer::singleShot(0, qApp, std::move(step)); }

    QTemporaryDir dir;
    tRecordingPrompts prompts;
};

} // namespace

TEST_F(StartupTest, NormalRunShowsTheMaximisedWindowAndLogsStartAndStop) {
    WriteFile(Cfg(), "UseCDC=1\r\n");
    prompts.ButtonAnswers = {bbNo, bbYes};
    bool checked = false;
    WhenRunning([&] {
        ASSERT_NE(fmMain, nullptr);
        EXPECT_EQ(fmMain->windowTitle(), QStringLiteral("Зорбинка"));
        EXPECT_TRUE(fmMain->windowState() & Qt::WindowMaximized);
        EXPECT_EQ(fmMain->Settings().GetSettingByName(QStringLiteral("usecdc")), QStringLiteral("1"));
        EXPECT_FALSE(fmMain->close()) << "answered No: the window stays";
        EXPECT_TRUE(fmMain->isVisible());
        fmMain->close();
        checked = true;
    });
    EXPECT_EQ(RunProgram(*qApp), 0);
    EXPECT_TRUE(checked);

    ASSERT_EQ(prompts.Boxes.size(), 2);
    for (const tRecordedBox& box : prompts.Boxes) {
        EXPECT_EQ(box.Text, QStringLiteral("Вы действительно хотите выйти из программы?"));
        EXPECT_EQ(box.Caption, QStringLiteral("Подтверждение"));
        EXPECT_EQ(box.Icon, tBoxIcon::Question);
        EXPECT_EQ(box.Buttons, bbYes | bbNo);
        EXPECT_EQ(box.DefaultButton, bbNo);
    }
    EXPECT_EQ(LogMessages(), (QStringList{QStringLiteral("Запуск программы."),
                                          QStringLiteral("Остановка программы."), QString(), QString()}));
    tSingleInstance next(dir.path());
    EXPECT_TRUE(next.TryTake()) << "the lock was released";
}

TEST_F(StartupTest, MissingCfgShows1004AndLogsIt) {
    EXPECT_EQ(RunProgram(*qApp), 0);
    const QString text = FmtLoadStr(sCannotReadSettings, {Cfg()});
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_EQ(prompts.Boxes[0].Text, text);
    EXPECT_EQ(prompts.Boxes[0].Caption, QStringLiteral("Ошибка"));
    EXPECT_EQ(prompts.Boxes[0].Icon, tBoxIcon::Error);
    EXPECT_EQ(prompts.Boxes[0].Buttons, bbOk);

    const QString log = QString::fromUtf8(ReadFile(Log()));
    EXPECT_TRUE(log.contains(QStringLiteral(" Запуск программы.\r\n")));
    EXPECT_TRUE(log.endsWith(u' ' + text + QStringLiteral("\r\n\r\n"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Остановка")));
    EXPECT_EQ(fmMain, nullptr);

    tSingleInstance next(dir.path());
    EXPECT_TRUE(next.TryTake()) << "the next start is not taken for a second copy";
}

TEST_F(StartupTest, LogThatCannotBeOpenedIsShownNotLogged) {
    WriteFile(Cfg(), "");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zorbinka.log")));
    EXPECT_EQ(RunProgram(*qApp), 0);
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_TRUE(prompts.Boxes[0].Text.contains(Log())) << prompts.Boxes[0].Text.toStdString();
    EXPECT_EQ(prompts.Boxes[0].Caption, QStringLiteral("Ошибка"));
    tSingleInstance next(dir.path());
    EXPECT_TRUE(next.TryTake());
}

TEST_F(StartupTest, SecondCopyActivatesTheFirstAndEndsSilently) {
    WriteFile(Cfg(), "");
    tSingleInstance first(dir.path());
    ASSERT_TRUE(first.TryTake());
    int activations = 0;
    QObject::connect(&first, &tSingleInstance::activateRequested, [&] { ++activations; });
    first.Listen();

    EXPECT_EQ(RunProgram(*qApp), 0);
    EXPECT_TRUE(prompts.Boxes.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Log())) << "the second copy writes no log line";
    EXPECT_EQ(fmMain, nullptr);
    for (int i = 0; i < 100 && activations == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(activations, 1);
}

// A second copy started with a work folder while an experiment is open: the running copy asks first, and
// whatever the answer it goes on (the second copy has hung up long before the teacher answers).
TEST_F(StartupTest, ASecondCopyHandsAWorkFolderWhileAnExperimentIsOpen) {
    WriteFile(Cfg(), "");
    // Freed memory is overwritten at once, so that an object used after it was deleted shows.
    mallopt(M_PERTURB, 0x5A);
    const QString work = dir.filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    WriteFile(work + QStringLiteral("/experiment.txt"), "SensorName=T101\r\n");
    WriteFile(work + QStringLiteral("/work.txt"),
              "Experiment=Опыт\r\nRun1.File=run-01.csv\r\nRun1.Separator=,\r\n");
    WriteFile(work + QStringLiteral("/run-01.csv"), "t,T,Метка\r\n0,20,\r\n0.1,21,\r\n");
    std::atomic<bool> handed{false};
    // The box's own event loop runs until the second copy has hung up, and a little longer.
    prompts.WhileShown = [&] {
        QEventLoop box;
        QTimer poll;
        int after = 0;
        QObject::connect(&poll, &QTimer::timeout, &box, [&] {
            if (handed && ++after > 5) box.quit();
        });
        poll.start(10);
        box.exec();
    };
    const auto hand = [&](int answer) {
        handed = false;
        prompts.ButtonAnswers = {answer};
        const qsizetype boxes = prompts.Boxes.size();
        std::thread second([&] {
            tSingleInstance copy(dir.path());
            EXPECT_TRUE(copy.ActivateRunningCopy(5000, work));
            handed = true;
        });
        while (prompts.Boxes.size() == boxes || !handed)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        second.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(prompts.Boxes.last().Text, LoadStr(sConfirmNewExperiment));
    };
    WhenRunning([&] {
        fmMain->OpenWork(work);
        ASSERT_EQ(fmMain->Lesson().RunCount(), 1);
        int opened = 0;
        QObject::connect(&fmMain->Lesson(), &tLesson::opened, [&] { ++opened; });
        hand(bbNo);
        EXPECT_EQ(opened, 0) << "No keeps what is open";
        hand(bbYes);
        EXPECT_EQ(opened, 1) << "Yes opens the work again";
        EXPECT_EQ(fmMain->Lesson().RunCount(), 1);
        prompts.WhileShown = nullptr;
        prompts.ButtonAnswers = {bbYes};
        fmMain->close();
    });
    EXPECT_EQ(RunProgram(*qApp), 0);
    mallopt(M_PERTURB, 0);
}

TEST_F(StartupTest, SecondCopyRestoresAMinimisedWindow) {
    WriteFile(Cfg(), "");
    WhenRunning([&] {
        fmMain->showMinimized();
        tSingleInstance second(dir.path());
        EXPECT_FALSE(second.TryTake());
        EXPECT_TRUE(second.ActivateRunningCopy());
        QTimer::singleShot(200, qApp, [&] {
            EXPECT_FALSE(fmMain->isMinimized());
            EXPECT_TRUE(fmMain->isVisible());
            prompts.ButtonAnswers = {bbYes};
            fmMain->close();
        });
    });
    EXPECT_EQ(RunProgram(*qApp), 0);
}
