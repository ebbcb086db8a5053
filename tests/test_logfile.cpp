// The log: the switch, appending, whole lines from many threads, the sharing error.
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "support/QtPrint.h"
#include "support/TempDir.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QString kStamp = QStringLiteral(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)");

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { SetCommandLine({QStringLiteral("zorbinka")}); }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("zorbinka.log"));
};

} // namespace

TEST_F(LogFileTest, SwitchFormsTurnLoggingOn) {
    const struct {
        const char* argument;
        bool logs;
    } rows[] = {
        {"/log", true},   {"-LOG", true}, {"--log", true},         {"LOG", true},   {"/Log", true},
        {"/logx", false}, {"-", false},   {"/LOG_MEASURE", false}, {"DEMO", false},
    };
    for (const auto& row : rows) {
        QFile::remove(path);
        SetCommandLine(
            {QStringLiteral("zorbinka"), QStringLiteral("DEMO"), QString::fromLatin1(row.argument)});
        {
            tLogFile log(path);
            log.Write(QStringLiteral("hello"));
        }
        EXPECT_EQ(QFileInfo::exists(path), row.logs) << row.argument;
    }
}

TEST_F(LogFileTest, WithoutTheSwitchNothingIsTouched) {
    SetCommandLine({QStringLiteral("zorbinka")});
    WriteFile(path, "old\r\n");
    {
        tLogFile log(path);
        EXPECT_FALSE(log.IsWriting());
        log.Write(QStringLiteral("dropped"));
    }
    EXPECT_EQ(ReadFile(path), QByteArray("old\r\n"));
}

TEST_F(LogFileTest, AppendsTimeStampedLinesAfterTheOldContent) {
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/log")});
    WriteFile(path, "old line\r\n");
    {
        tLogFile log(path);
        log.Write(QStringLiteral("Запуск программы."));
        log.Write(QString());
        log.Write(QStringLiteral("Остановка программы.\r\n"));
    }
    const QString text = QString::fromUtf8(ReadFile(path));
    const QRegularExpression expected(
        QStringLiteral("^old line\r\n%1 Запуск программы\\.\r\n%1 \r\n%1 Остановка "
                       "программы\\.\r\n\r\n$")
            .arg(kStamp));
    EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString();
}

TEST_F(LogFileTest, EightThreadsWriteWholeLines) {
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("-log")});
    const int kLines = 400;
    {
        tLogFile log(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&log, t] {
                const QString padding(100, QChar(u'a' + t));
                for (int i = 0; i < kLines; ++i)
                    log.Write(QStringLiteral("thread %1 line %2 %3").arg(t).arg(i).arg(padding));
            });
        for (auto& thread : threads) thread.join();
    }
    const QStringList lines =
        QString::fromUtf8(ReadFile(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 8 * kLines);
    const QRegularExpression whole(
        QStringLiteral("^%1 thread (\\d) line (\\d+) ([a-h])\\3{99}$").arg(kStamp));
    std::vector<int> next(8, 0);
    for (const QString& line : lines) {
        const auto match = whole.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(3), QString(QChar(u'a' + t)));
        EXPECT_EQ(match.captured(2).toInt(), next[t]++) << "one thread's lines stay in order";
    }
}

TEST_F(LogFileTest, SecondWriterFailsWithTheSharingError) {
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/LOG")});
    auto first = std::make_unique<tLogFile>(path);
    try {
        tLogFile second(path);
        FAIL() << "the second writer opened the log";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("занят другим процессом"))) << e.what();
        EXPECT_TRUE(e.Message().contains(path));
    }
    first->Write(QStringLiteral("still writing"));
    first.reset();
    tLogFile third(path);
    EXPECT_TRUE(third.IsWriting());
}

TEST_F(LogFileTest, UnopenableFileRaisesTheSystemReason) {
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/LOG")});
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("zorbinka.log")));
    try {
        tLogFile log(path);
        FAIL() << "a folder was opened as the log";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(path)) << e.what();
    }
}
