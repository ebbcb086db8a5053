// Runs on disk and as text: numbers a spreadsheet reads, CSV fields, the work folder written as it is
// measured and read back, and work folders that are damaged.
#include "app/Functions.h"
#include "core/Exception.h"
#include "core/LocaleFormats.h"
#include "runs/Csv.h"
#include "runs/WorkFolder.h"
#include "support/TempDir.h"

#include <QDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class DecimalSeparator {
public:
    explicit DecimalSeparator(QChar separator) { SetSystemDecimalSeparator(separator); }
    ~DecimalSeparator() { ResetSystemDecimalSeparator(); }
};

std::shared_ptr<tRun> SampleRun(int points) {
    auto run = std::make_shared<tRun>();
    run->Experiment = QStringLiteral("Нагревание воды");
    run->Sensor = QStringLiteral("T101");
    run->Start = QDateTime(QDate(2026, 12, 7), QTime(10, 30, 15));
    run->CaptionX = QStringLiteral("t, c");
    run->CaptionY = QStringLiteral("T, °C; \"вода\"");
    run->Line = 1;
    for (int i = 0; i < points; ++i)
        run->Points->Add(i * 0.1, 20 + i / 3.0, i == 2 ? QStringLiteral("кипение; \"бурное\"") : QString());
    return run;
}

} // namespace

TEST(Csv, NumbersAndFieldsReadBackExactly) {
    const struct {
        char16_t decimal;
        double value;
        const char* text;
    } rows[] = {{u'.', 21.5, "21.5"},
                {u',', 21.5, "21,5"},
                {u',', -0.001, "-0,001"},
                {u'.', 1e-7, "1e-07"},
                {u',', 0.1 + 0.2, "0,30000000000000004"},
                {u'.', 1e300, "1e+300"},
                {u',', 20.0 + 1 / 3.0, "20,333333333333332"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const DecimalSeparator system{QChar(row.decimal)};
        const QString text = CsvNumber(row.value, QChar(row.decimal));
        EXPECT_EQ(text, QString::fromLatin1(row.text));
        double back = 0;
        ASSERT_TRUE(ParseFloat(text, back));
        EXPECT_EQ(back, row.value) << "a spreadsheet or the program reads the same number back";
        EXPECT_EQ(CsvSeparator(QChar(row.decimal)), row.decimal == u',' ? u';' : u',');
    }
    const QStringList fields = {QStringLiteral("t, c"),
                                QStringLiteral("a;b"),
                                QStringLiteral("say \"hi\""),
                                QStringLiteral("two\r\nlines"),
                                QString(),
                                QStringLiteral("plain")};
    for (const QChar separator : {QChar(u';'), QChar(u','), QChar(u'\t')}) {
        const QString line = CsvLine(fields, separator);
        EXPECT_TRUE(line.endsWith(QStringLiteral("\r\n")));
        EXPECT_EQ(ParseCsv(line + line, separator), (QList<QStringList>{fields, fields}));
    }
    EXPECT_EQ(CsvLine({QStringLiteral("t, c"), QStringLiteral("x")}, u';'), QStringLiteral("t, c;x\r\n"));
}

TEST(WorkFolder, RunsAreWrittenAsMeasuredAndReadBack) {
    QTemporaryDir experiment;
    WriteFile(experiment.filePath(QStringLiteral("experiment.txt")), "SensorName=T101\r\n");
    WriteFile(experiment.filePath(QStringLiteral("descr.rtf")), "{\\rtf1 описание}");
    for (const char16_t decimal : {u'.', u','}) {
        SCOPED_TRACE(char(decimal));
        const DecimalSeparator system{QChar(decimal)};
        std::unique_ptr<tWorkFolder> work =
            tWorkFolder::Create(QStringLiteral("Нагревание воды"), experiment.path() + u'/');
        EXPECT_TRUE(work->Path().startsWith(tWorkFolder::DataRoot()));
        EXPECT_TRUE(work->Path().endsWith(QStringLiteral(" Нагревание воды")) ||
                    work->Path().contains(QStringLiteral(" Нагревание воды (")));
        EXPECT_EQ(ReadFile(work->Path() + QStringLiteral("/descr.rtf")), "{\\rtf1 описание}");
        std::shared_ptr<tRun> first = SampleRun(0);
        work->BeginRun(first);
        // Points reach the file at every tick, before the run ends.
        for (int i = 0; i < 5; ++i)
            first->Points->Add(i * 0.1, 20 + i / 3.0, i == 2 ? QStringLiteral("x;\"y\"") : QString());
        work->AppendPoints();
        const QString firstFile = work->Path() + QStringLiteral("/run-01.csv");
        const QByteArray written = ReadFile(firstFile);
        EXPECT_TRUE(written.startsWith("\xEF\xBB\xBF"));
        EXPECT_EQ(written.count('\n'), 6);
        std::shared_ptr<tRun> second = SampleRun(1000);
        work->BeginRun(second);
        work->EndRun();
        work->SaveReport("{\\rtf1 отчёт}");

        tRunStore runs;
        const tOpenedWork opened = ReadWorkFolder(work->Path(), runs);
        EXPECT_TRUE(opened.Skipped.isEmpty()) << opened.Skipped.join(u'|').toStdString();
        EXPECT_EQ(opened.ExperimentName, QStringLiteral("Нагревание воды"));
        EXPECT_EQ(opened.RunFiles, 2);
        ASSERT_EQ(runs.Count(), 2);
        for (int r = 0; r < 2; ++r) {
            const tRun& expected = r == 0 ? *first : *second;
            const tRun& back = runs.Run(r);
            EXPECT_EQ(back.CaptionX, expected.CaptionX);
            EXPECT_EQ(back.CaptionY, expected.CaptionY);
            EXPECT_EQ(back.Sensor, expected.Sensor);
            EXPECT_EQ(back.Start, expected.Start);
            EXPECT_EQ(back.Line, expected.Line);
            ASSERT_EQ(back.Points->Count(), expected.Points->Count());
            for (int i = 0; i < back.Points->Count(); ++i) {
                ASSERT_EQ(back.Points->X(i), expected.Points->X(i)) << i;
                ASSERT_EQ(back.Points->Y(i), expected.Points->Y(i)) << i;
                ASSERT_EQ(back.Points->Label(i), expected.Points->Label(i)) << i;
            }
        }
        EXPECT_EQ(ReadFile(work->Path() + QStringLiteral("/report.rtf")), "{\\rtf1 отчёт}");
    }
}

TEST(WorkFolder, DamagedFoldersOpenWhatIsSoundAndSayWhatWasSkipped) {
    QTemporaryDir experiment;
    const struct {
        const char* what;
        std::function<void(const QString& path)> damage;
        int runs;
        const char* skipped; // the start of what is reported, empty: nothing
        bool opens;
    } rows[] = {
        {"sound", [](const QString&) {}, 2, "", true},
        {"no list", [](const QString& path) { QFile::remove(path + QStringLiteral("/work.txt")); }, 0, "",
         false},
        {"a run file missing",
         [](const QString& path) { QFile::remove(path + QStringLiteral("/run-01.csv")); }, 1,
         "run-01.csv: ", true},
        {"cut in the middle of a line (a crash)",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/run-02.csv"));
             file.open(QIODevice::ReadWrite);
             file.resize(file.size() - 5);
         },
         2, "run-02.csv: пропущено строк: 1", true},
        {"junk numbers and time running backwards",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/run-01.csv"));
             file.open(QIODevice::Append);
             file.write("abc;1;\r\n0;5;\r\n;;\r\n");
         },
         2, "run-01.csv: пропущено строк: 3", true},
        {"a file name leading out of the folder",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/work.txt"));
             file.open(QIODevice::Append);
             file.write("Run3.File=../../etc/passwd\r\n");
         },
         2, "../../etc/passwd: ", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::unique_ptr<tWorkFolder> work =
            tWorkFolder::Create(QStringLiteral("Опыт"), experiment.path() + u'/');
        for (int r = 0; r < 2; ++r) {
            work->BeginRun(SampleRun(10));
            work->EndRun();
        }
        row.damage(work->Path());
        tRunStore runs;
        if (!row.opens) {
            EXPECT_THROW(ReadWorkFolder(work->Path(), runs), Exception);
            continue;
        }
        const tOpenedWork opened = ReadWorkFolder(work->Path(), runs);
        EXPECT_EQ(runs.Count(), row.runs);
        if (*row.skipped == 0) {
            EXPECT_TRUE(opened.Skipped.isEmpty()) << opened.Skipped.join(u'|').toStdString();
        } else {
            ASSERT_EQ(opened.Skipped.size(), 1);
            EXPECT_TRUE(opened.Skipped[0].startsWith(QString::fromUtf8(row.skipped)))
                << opened.Skipped[0].toStdString();
        }
        for (int r = 0; r < runs.Count(); ++r) EXPECT_GE(runs.Run(r).Points->Count(), 9);
    }
    // A folder that cannot be read: without permission (root reads everything, so only for other users).
    if (::geteuid() != 0) {
        std::unique_ptr<tWorkFolder> work =
            tWorkFolder::Create(QStringLiteral("Опыт"), experiment.path() + u'/');
        QFile::setPermissions(work->Path() + QStringLiteral("/work.txt"), QFileDevice::Permissions());
        tRunStore runs;
        EXPECT_THROW(ReadWorkFolder(work->Path(), runs), Exception);
    }
}
