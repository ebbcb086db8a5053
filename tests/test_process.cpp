// The program as a whole process: log lines of a run, log-off, a second copy, the lock of a crashed copy.
#include "core/LocaleFormats.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A copy of the program in its own folder with its own .cfg and its own single-instance folder.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        exe = dir.filePath(QStringLiteral("zorbinka"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZORBINKA_EXE), exe));
        QFile(exe).setPermissions(QFile(exe).permissions() | QFileDevice::ExeOwner);
        WriteFile(dir.filePath(QStringLiteral("zorbinka.cfg")), "UseCDC=1\r\n");
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("run")));
    }

    std::unique_ptr<QProcess> Start(const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("ZORBINKA_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("home")));
        for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it)
            environment.insert(it.key(), it.value());
        process->setProcessEnvironment(environment);
        process->start(program.isEmpty() ? exe : program, arguments);
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    QString LogText() const {
        return QString::fromUtf8(ReadFile(dir.filePath(QStringLiteral("zorbinka.log"))));
    }

    // Waits until the running copy listens for second copies.
    bool WaitUntilListening(int starts) const {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            if (LogText().count(QStringLiteral("Запуск программы.")) >= starts && Listening()) return true;
            QThread::msleep(20);
        }
        return false;
    }

    // A socket file left by a crashed copy refuses connections; only a live copy accepts one.
    bool Listening() const {
        const QDir run(dir.filePath(QStringLiteral("run")));
        for (const QString& name : run.entryList({QStringLiteral("*.sock")}, QDir::System)) {
            QLocalSocket socket;
            socket.connectToServer(run.filePath(name));
            if (socket.waitForConnected(500)) return true;
        }
        return false;
    }

    QTemporaryDir dir;
    QString exe;
    QString program;
    QHash<QString, QString> extraEnvironment;
};

} // namespace

TEST_F(ProcessTest, RunEndedByLogOffLogsStartAndStop) {
    auto process = Start({QStringLiteral("/log")});
    ASSERT_TRUE(WaitUntilListening(1));
    // Log-off and shut-down end programs with SIGTERM: the window closes without asking.
    process->terminate();
    ASSERT_TRUE(process->waitForFinished(20000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    const QString log = LogText();
    EXPECT_TRUE(log.contains(QStringLiteral(" Запуск программы.\r\n")));
    EXPECT_TRUE(log.endsWith(QStringLiteral(" Остановка программы.\r\n\r\n"))) << log.toStdString();
}

// --help and --version print and end at once, with no window system, and a running copy is left alone.
TEST_F(ProcessTest, HelpAndVersionPrintAndEnd) {
    auto first = Start({QStringLiteral("-LOG")});
    ASSERT_TRUE(WaitUntilListening(1));
    const struct {
        const char* argument;
        const char* printed;
    } rows[] = {{"--version", "zorbinka " ZORBINKA_VERSION "\n"},
                {"--help", "Использование: zorbinka "},
                {"-h", "Использование"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.argument);
        extraEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        auto process = Start({QString::fromLatin1(row.argument)});
        ASSERT_TRUE(process->waitForFinished(20000));
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0);
        EXPECT_TRUE(
            QString::fromUtf8(process->readAllStandardOutput()).startsWith(QString::fromUtf8(row.printed)));
    }
    extraEnvironment.clear();
    EXPECT_EQ(LogText().count(QStringLiteral("Запуск программы.")), 1);
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));
}

TEST_F(ProcessTest, SecondCopyEndsWithZeroAndLeavesNoTrace) {
    auto first = Start({QStringLiteral("-LOG")});
    ASSERT_TRUE(WaitUntilListening(1));
    auto second = Start({QStringLiteral("-LOG")});
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(LogText().count(QStringLiteral("Запуск программы.")), 1);
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));
}

TEST_F(ProcessTest, CrashedCopysLockIsTakenOver) {
    auto crashed = Start({QStringLiteral("/log")});
    ASSERT_TRUE(WaitUntilListening(1));
    crashed->kill();
    ASSERT_TRUE(crashed->waitForFinished(20000));

    auto next = Start({QStringLiteral("/log")});
    ASSERT_TRUE(WaitUntilListening(2)) << LogText().toStdString();
    EXPECT_EQ(next->state(), QProcess::Running);
    next->terminate();
    ASSERT_TRUE(next->waitForFinished(20000));
    EXPECT_EQ(next->exitCode(), 0);
}

TEST_F(ProcessTest, ASecondCopyHandsItsWorkFolderToTheFirst) {
    const QString work = dir.filePath(QStringLiteral("home/zorbinka/2026-12-07 10-00-00 Опыт"));
    QDir().mkpath(work);
    WriteFile(work + QStringLiteral("/experiment.txt"), "SensorName=T101\r\n");
    WriteFile(work + QStringLiteral("/work.txt"),
              "Experiment=Опыт\r\nRun1.File=run-01.csv\r\nRun1.Separator=,\r\n");
    WriteFile(work + QStringLiteral("/run-01.csv"), "t,T,Метка\r\n0,20,\r\n0.1,21,\r\n");
    auto first = Start({QStringLiteral("/log")});
    ASSERT_TRUE(WaitUntilListening(1));
    auto second = Start({QStringLiteral("/log"), work});
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);
    QElapsedTimer timer;
    timer.start();
    while (!LogText().contains(QStringLiteral("Open work: ") + work) && timer.elapsed() < 10000)
        QThread::msleep(20);
    EXPECT_TRUE(LogText().contains(QStringLiteral("Open work: ") + work)) << LogText().toStdString();
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));
}

// The real window on the demo sensors, killed in the middle of its second run: every point up to the last
// tick is in the run's file, the first run is whole, and the report typed before it is there.
TEST_F(ProcessTest, AKilledProgramLosesAtMostTheLastTick) {
    WriteFile(dir.filePath(QStringLiteral("zorbinka.cfg")), "UseFTDI=1\r\nTimeout=0\r\n");
    const QString experiment = dir.filePath(QStringLiteral("data/Опыты/Тепло"));
    QDir().mkpath(experiment);
    WriteFile(experiment + QStringLiteral("/experiment.txt"),
              "SensorName=T101\r\nFreq=100000\r\nAverage=1\r\n");
    program = QStringLiteral(ZORBINKA_PREVIEW);
    extraEnvironment.insert(QStringLiteral("ZORBINKA_PREVIEW_REPORT"),
                            QStringLiteral("Вывод: вода нагревается."));
    extraEnvironment.insert(QStringLiteral("ZORBINKA_PREVIEW_RESTART"), QStringLiteral("1"));
    auto process =
        Start({QStringLiteral("main"), exe, QStringLiteral("Опыты/Тепло"), QStringLiteral("1500")});
    const QDir home(dir.filePath(QStringLiteral("home/zorbinka")));
    QString folder;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000) {
        const QStringList found = home.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (!found.isEmpty()) folder = home.filePath(found.first());
        if (!folder.isEmpty() && ReadFile(folder + QStringLiteral("/run-02.csv")).count('\n') > 10) break;
        QThread::msleep(20);
    }
    ASSERT_FALSE(folder.isEmpty());
    process->kill();
    ASSERT_TRUE(process->waitForFinished(20000));

    for (const char* name : {"run-01.csv", "run-02.csv"}) {
        SCOPED_TRACE(name);
        const QStringList lines = QString::fromUtf8(ReadFile(folder + u'/' + QString::fromLatin1(name)))
                                      .split(QStringLiteral("\r\n"));
        ASSERT_GT(lines.size(), 10);
        // Every point of a tick is there, in order: x runs 0, 0.1, 0.2 ... without a gap.
        // The numbers follow the user's regional settings, as a spreadsheet there reads them.
        const QChar decimal = SystemDecimalSeparator();
        const auto number = [&](QString text) { return text.replace(decimal, u'.').toDouble(); };
        for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
            const QStringList fields = lines[i].split(decimal == u',' ? u';' : u',');
            ASSERT_EQ(fields.size(), 3) << lines[i].toStdString();
            EXPECT_EQ(number(fields[0]), double(i - 1) / 10) << i;
            EXPECT_GT(number(fields[1]), 15);
        }
        EXPECT_TRUE(lines.last().isEmpty()) << "nothing but whole lines";
    }
    EXPECT_TRUE(ReadFile(folder + QStringLiteral("/report.rtf")).contains("\\u1042"))
        << "the report, saved when run 1 ended";
}
