// The program as a whole process: log lines of a run, log-off, a second copy, the lock of a crashed copy.
#include "support/QtPrint.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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
        process->setProcessEnvironment(environment);
        process->start(exe, arguments);
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
