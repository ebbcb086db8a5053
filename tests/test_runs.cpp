// Runs on disk and as text: numbers a spreadsheet reads, CSV fields, the work folder written as it is
// measured and read back, and work folders that are damaged.
#include "core/Exception.h"
#include "core/Functions.h"
#include "core/LocaleFormats.h"
#include "runs/Csv.h"
#include "runs/Spreadsheet.h"
#include "runs/WorkFolder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// A table saved for a spreadsheet: a real one (Gnumeric's ssconvert) reads the comma, tab and workbook forms
// back as the same numbers; the semicolon form (which Gnumeric cannot be told) reads back through our reader.
TEST(Spreadsheet, EveryExportReadsBackAsTheSameNumbers) {
    const std::vector<double> xs{0, 0.001, 12.5, -3.25, 1e-7, 123456.789};
    const std::vector<double> ys{21.5, -0.75, 1e6, 0.1, 99.999, 2.5e-5};
    tSheet sheet;
    sheet.Heads = {QStringLiteral("Опыт 1: t, с"), QStringLiteral("Опыт 1: T, °C"), QStringLiteral("Метка")};
    sheet.Rows = int(xs.size());
    sheet.Cell = [&](int row, int column) {
        tSheetCell cell;
        if (column == 2) {
            cell.Text = row == 1 ? QStringLiteral("кипение; \"бурное\", 1") : QString();
        } else {
            cell.IsNumber = true;
            cell.Number = column == 0 ? xs[std::size_t(row)] : ys[std::size_t(row)];
        }
        return cell;
    };
    const auto check = [&](const QList<QStringList>& records, QChar decimal) {
        ASSERT_EQ(records.size(), sheet.Rows + 1);
        EXPECT_EQ(records[0].value(0), sheet.Heads[0]);
        EXPECT_EQ(records[0].value(1), sheet.Heads[1]);
        for (int r = 0; r < sheet.Rows; ++r) {
            const QStringList& record = records[r + 1];
            bool ok = false;
            EXPECT_EQ(QString(record.value(0)).replace(decimal, u'.').toDouble(&ok), xs[std::size_t(r)]) << r;
            EXPECT_TRUE(ok) << record.join(u'|').toStdString();
            EXPECT_EQ(QString(record.value(1)).replace(decimal, u'.').toDouble(&ok), ys[std::size_t(r)]) << r;
            EXPECT_TRUE(ok) << record.join(u'|').toStdString();
        }
        EXPECT_EQ(records[2].value(2), QStringLiteral("кипение; \"бурное\", 1"));
    };
    QTemporaryDir dir;
    // Ours first: the semicolon with the decimal comma.
    const QByteArray semicolon = SheetCsv(sheet, tCsvDialect::SemicolonComma, u'.');
    ASSERT_TRUE(semicolon.startsWith("\xEF\xBB\xBF"));
    check(ParseCsv(QString::fromUtf8(semicolon.mid(3)), u';'), u',');
    const QString ssconvert = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
    if (ssconvert.isEmpty()) GTEST_SKIP() << "gnumeric is not installed";
    const struct {
        const char* file;
        std::function<void(const QString&)> write;
    } forms[] = {
        {"comma.csv", [&](const QString& f) { WriteFile(f, SheetCsv(sheet, tCsvDialect::CommaPoint, u',')); }},
        {"tab.txt", [&](const QString& f) { WriteFile(f, SheetCsv(sheet, tCsvDialect::Tab, u'.')); }},
        {"book.xlsx", [&](const QString& f) { WriteWorkbook(f, sheet, QStringLiteral("Остывание: воды [1]")); }},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.file);
        const QString file = dir.filePath(QString::fromLatin1(form.file));
        form.write(file);
        const QString out = file + QStringLiteral(".out.csv");
        QProcess convert;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        convert.setProcessEnvironment(environment);
        convert.start(ssconvert, {QStringLiteral("-T"), QStringLiteral("Gnumeric_stf:stf_csv"), file, out});
        ASSERT_TRUE(convert.waitForFinished(60000));
        ASSERT_EQ(convert.exitCode(), 0) << convert.readAllStandardError().toStdString();
        check(ParseCsv(QString::fromUtf8(ReadFile(out)), u','), u'.');
    }
    // More rows than a sheet holds: refused with the reason, nothing left behind.
    tSheet huge = sheet;
    huge.Rows = kMaxWorkbookRows;
    huge.Cell = [](int, int) { return tSheetCell{true, 1, {}}; };
    EXPECT_THROW(WriteWorkbook(dir.filePath(QStringLiteral("huge.xlsx")), huge, QStringLiteral("x")), Exception);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("huge.xlsx"))));
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

        // Names and visibility kept; a deleted run's file goes to deleted/, never over a file there.
        QDir().mkpath(work->Path() + QStringLiteral("/deleted"));
        WriteFile(work->Path() + QStringLiteral("/deleted/run-02.csv"), "older");
        runs.Shared(0)->Name = QStringLiteral("Стакан");
        runs.Shared(1)->Shown = false;
        runs.Choose(0);
        work->SaveRunViews(runs);
        work->DeleteRun(2);
        EXPECT_EQ(ReadFile(work->Path() + QStringLiteral("/deleted/run-02.csv")), "older");
        EXPECT_TRUE(QFile::exists(work->Path() + QStringLiteral("/deleted/run-02 (2).csv")));
        tRunStore again;
        ReadWorkFolder(work->Path(), again);
        ASSERT_EQ(again.Count(), 1) << "the deleted run is not read";
        EXPECT_EQ(again.Name(0), QStringLiteral("Стакан"));
        EXPECT_TRUE(again.Run(0).Shown);
        EXPECT_TRUE(work->List().contains(QStringLiteral("Chosen=1")))
            << work->List().join(u'|').toStdString();
        runs.Remove(1);

        // A disk that fills up: the error names the run's file, not its folder.
        std::shared_ptr<tRun> third = SampleRun(0);
        work->BeginRun(third);
        for (int i = 0; i < 5000; ++i) third->Points->Add(i, i);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{4096, old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
        QString error;
        try {
            work->AppendPoints();
        } catch (const Exception& e) {
            error = e.Message();
        }
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(error.contains(work->Path() + QStringLiteral("/run-03.csv"))) << error.toStdString();
    }
}

// Damaged and hostile work folders: what is sound opens, what was skipped or rebuilt is said, nothing hangs,
// and the next run never writes over a measurement that is there.
TEST(WorkFolder, DamagedFoldersOpenWhatIsSoundAndSayWhatWasSkipped) {
    QTemporaryDir experiment;
    const auto replace = [](const QString& file, const QByteArray& bytes) {
        QFile out(file);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(bytes);
    };
    const struct {
        const char* what;
        std::function<void(const QString& path)> damage;
        int runs;
        const char* skipped; // the start of what is reported, empty: nothing
        int rebuilt;         // run files opened that the list did not name
        bool opens;
    } rows[] = {
        {"sound", [](const QString&) {}, 2, "", 0, true},
        {"no list", [](const QString& path) { QFile::remove(path + QStringLiteral("/work.txt")); }, 2, "", 2,
         true},
        {"an empty list", [&](const QString& path) { replace(path + QStringLiteral("/work.txt"), ""); }, 2,
         "", 2, true},
        {"a garbage list",
         [&](const QString& path) {
             replace(path + QStringLiteral("/work.txt"), QByteArray("\x01\xff\xfe=\x80\n=\r", 8));
         },
         2, "", 2, true},
        {"one bad byte in the list",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/work.txt"));
             file.open(QIODevice::Append);
             file.write("Note=\xff\r\n");
         },
         2, "", 0, true},
        {"nothing at all",
         [](const QString& path) {
             for (const char* name : {"/work.txt", "/run-01.csv", "/run-02.csv"})
                 QFile::remove(path + QString::fromLatin1(name));
         },
         0, "", 0, false},
        {"a run file missing",
         [](const QString& path) { QFile::remove(path + QStringLiteral("/run-01.csv")); }, 1,
         "run-01.csv: ", 0, true},
        {"a FIFO for a run file",
         [](const QString& path) {
             QFile::remove(path + QStringLiteral("/run-01.csv"));
             ::mkfifo((path + QStringLiteral("/run-01.csv")).toLocal8Bit().constData(), 0644);
         },
         1, "run-01.csv: Невозможно прочитать файл", 0, true},
        {"a run file that is /dev/zero",
         [](const QString& path) {
             QFile::remove(path + QStringLiteral("/run-02.csv"));
             QFile::link(QStringLiteral("/dev/zero"), path + QStringLiteral("/run-02.csv"));
         },
         1, "run-02.csv: Невозможно прочитать файл", 0, true},
        {"semicolons and decimal commas where the list says commas",
         [&](const QString& path) {
             replace(path + QStringLiteral("/run-02.csv"),
                     "\xEF\xBB\xBFt, c;T;Метка\r\n0;20,5;\r\n0,1;20,75;\r\n0,2;21;\r\n0,3;21;\r\n0,4;21;\r\n"
                     "0,5;21;\r\n0,6;21;\r\n0,7;21;\r\n0,8;21,25;конец\r\n");
         },
         2, "", 0, true},
        {"cut in the middle of a line (a crash)",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/run-02.csv"));
             file.open(QIODevice::ReadWrite);
             file.resize(file.size() - 5);
         },
         2, "run-02.csv: пропущено строк: 1", 0, true},
        {"junk numbers and time running backwards",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/run-01.csv"));
             file.open(QIODevice::Append);
             file.write("abc;1;\r\n0;5;\r\n;;\r\n");
         },
         2, "run-01.csv: пропущено строк: 3", 0, true},
        {"a file name leading out of the folder",
         [](const QString& path) {
             QFile file(path + QStringLiteral("/work.txt"));
             file.open(QIODevice::Append);
             file.write("Run3.File=../../etc/passwd\r\n");
         },
         2, "../../etc/passwd: ", 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::unique_ptr<tWorkFolder> work =
            tWorkFolder::Create(QStringLiteral("Опыт"), experiment.path() + u'/');
        for (int r = 0; r < 2; ++r) {
            work->BeginRun(SampleRun(10));
            work->EndRun();
        }
        const QString path = work->Path();
        work.reset();
        row.damage(path);
        tRunStore runs;
        if (!row.opens) {
            EXPECT_THROW(ReadWorkFolder(path, runs), Exception);
            continue;
        }
        const tOpenedWork opened = ReadWorkFolder(path, runs);
        EXPECT_EQ(runs.Count(), row.runs);
        EXPECT_EQ(opened.Rebuilt.size(), row.rebuilt);
        if (*row.skipped == 0) {
            EXPECT_TRUE(opened.Skipped.isEmpty()) << opened.Skipped.join(u'|').toStdString();
        } else {
            ASSERT_EQ(opened.Skipped.size(), 1);
            EXPECT_TRUE(opened.Skipped[0].startsWith(QString::fromUtf8(row.skipped)))
                << opened.Skipped[0].toStdString();
        }
        for (int r = 0; r < runs.Count(); ++r) EXPECT_GE(runs.Run(r).Points->Count(), 9);
        EXPECT_EQ(opened.ExperimentName, QStringLiteral("Опыт"))
            << "from the list, or from the folder's name";
        // The next run goes into a new file, whatever the folder's list said; the runs there stay as they
        // were.
        QMap<QString, QByteArray> before;
        for (const QString& name : QDir(path).entryList({QStringLiteral("run-*.csv")}, QDir::Files))
            if (QFileInfo(path + u'/' + name).isFile()) before[name] = ReadFile(path + u'/' + name);
        tWorkFolder next(path, 0, opened.ListLines);
        next.BeginRun(SampleRun(3));
        next.EndRun();
        for (auto it = before.constBegin(); it != before.constEnd(); ++it)
            EXPECT_EQ(ReadFile(path + u'/' + it.key()), it.value()) << it.key().toStdString();
        tRunStore again;
        const tOpenedWork reopened = ReadWorkFolder(path, again);
        EXPECT_EQ(again.Count(), row.runs + 1);
        EXPECT_TRUE(reopened.Rebuilt.isEmpty()) << "the list names every run now";
    }
    // A folder that cannot be read, or that is no folder: said, not taken for an empty work.
    tRunStore runs;
    const QString file = experiment.filePath(QStringLiteral("experiment.txt"));
    WriteFile(file, "SensorName=T101\r\n");
    try {
        ReadWorkFolder(file, runs);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("это не папка"))) << e.what();
    }
    const QString loop = experiment.filePath(QStringLiteral("loop"));
    QFile::link(loop, loop);
    try {
        ReadWorkFolder(loop, runs);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("петлю"))) << e.what();
    }
}

TEST(WorkFolder, OnlyFilesWithDataTravelWithTheWork) {
    const struct {
        const char* what;
        std::function<void(const QString& descr)> make;
        bool copied;
    } rows[] = {
        {"a read-only file",
         [](const QString& d) {
             WriteFile(d, "{\\rtf1 x}");
             QFile::setPermissions(d, QFile::ReadOwner);
         },
         true},
        {"a FIFO", [](const QString& d) { ::mkfifo(d.toLocal8Bit().constData(), 0644); }, false},
        {"/dev/zero", [](const QString& d) { QFile::link(QStringLiteral("/dev/zero"), d); }, false},
        {"a folder", [](const QString& d) { QDir().mkpath(d); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir experiment;
        WriteFile(experiment.filePath(QStringLiteral("experiment.txt")), "SensorName=T101\r\n");
        row.make(experiment.filePath(QStringLiteral("descr.rtf")));
        // A FIFO would hold this for good.
        std::unique_ptr<tWorkFolder> work =
            tWorkFolder::Create(QStringLiteral("Опыт"), experiment.path() + u'/');
        const QFileInfo copy(work->Path() + QStringLiteral("/descr.rtf"));
        EXPECT_EQ(copy.exists(), row.copied);
        EXPECT_TRUE(QFileInfo(work->Path() + QStringLiteral("/experiment.txt")).isFile());
        // The copy is the work's own: its owner may write it, others may not.
        if (row.copied) {
            EXPECT_TRUE(copy.permissions() & QFile::WriteOwner);
            EXPECT_FALSE(copy.permissions() & QFile::WriteOther);
            EXPECT_EQ(ReadFile(copy.filePath()), "{\\rtf1 x}");
        }
        QDir(work->Path()).removeRecursively();
    }
}

TEST(WorkFolder, EveryRunNumberWrittenIsReadBack) {
    for (const int before : {99, 999999, 99999998}) {
        SCOPED_TRACE(before);
        QTemporaryDir dir;
        {
            tWorkFolder work(dir.path(), before, {QStringLiteral("Experiment=Опыт")});
            std::shared_ptr<tRun> run = SampleRun(3);
            work.BeginRun(run);
            work.EndRun();
            run->Name = QStringLiteral("последний");
            tRunStore runs;
            runs.Add(run);
            work.SaveRunViews(runs);
        }
        tRunStore runs;
        const tOpenedWork opened = ReadWorkFolder(dir.path(), runs);
        ASSERT_EQ(runs.Count(), 1);
        EXPECT_EQ(runs.Run(0).Number, before + 1);
        EXPECT_EQ(runs.Run(0).Name, QStringLiteral("последний"));
        EXPECT_TRUE(opened.Rebuilt.isEmpty());
    }
    // No number is left past the last: said, and nothing written.
    QTemporaryDir dir;
    tWorkFolder full(dir.path(), kMaxRunNumber, {});
    EXPECT_THROW(full.BeginRun(SampleRun(3)), Exception);
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("run-*")}).isEmpty());
}

TEST(WorkFolder, ALongNameMakesAShorterFolder) {
    QTemporaryDir experiment;
    WriteFile(experiment.filePath(QStringLiteral("experiment.txt")), "SensorName=T101\r\n");
    for (const QString& name : {QString(120, QChar(u'Ж')), QString(200, u'x'),
                                QString(60, u'ж') + QString::fromUtf8("😀").repeated(40)}) {
        SCOPED_TRACE(name.toStdString());
        std::vector<std::unique_ptr<tWorkFolder>> works;
        // Made twice within a second: the second takes a number after the shortened name.
        for (int i = 0; i < 2; ++i) works.push_back(tWorkFolder::Create(name, experiment.path() + u'/'));
        EXPECT_NE(works[0]->Path(), works[1]->Path());
        for (const auto& work : works) {
            EXPECT_LE(QDir(work->Path()).dirName().toUtf8().size(), 255);
            EXPECT_FALSE(QDir(work->Path()).dirName().toUtf8().contains("\xEF\xBF\xBD"))
                << "no half character";
            work->BeginRun(SampleRun(3));
            work->EndRun();
            tRunStore runs;
            EXPECT_EQ(ReadWorkFolder(work->Path(), runs).ExperimentName, name)
                << "the whole name in the list";
            QDir(work->Path()).removeRecursively();
        }
    }
}

// The point store: a fixed-rate run in about 4 bytes a point, and every point read back as the double it was
// given, whatever comes.
TEST(PointSeries, PointsReadBackExactlyInLittleMemory) {
    const struct {
        const char* what;
        std::function<std::pair<double, double>(int i)> point;
        double bytesPerPoint; // at most, for 300,000 points
    } rows[] = {
        {"a thermometer: 0.1 s, two places",
         [](int i) {
             return std::pair{double(std::int64_t(i) * 100000) / 1e6, double(2000 + i % 300) / 100};
         },
         4.6},
        {"a trigger's times from -0.2 s",
         [](int i) {
             return std::pair{double(std::int64_t(i - 200) * 1000) / 1e6, double(i % 7) / 1000};
         },
         4.6},
        {"more places as they come",
         [](int i) {
             return std::pair{double(i) / 1e3, i < 1000   ? double(i % 10)
                                               : i < 2000 ? 0.5
                                                          : double(i % 977) / 1e4};
         },
         4.6},
        {"averages of three: no decimals",
         [](int i) {
             return std::pair{double(i) / 1e3, (i % 10) / 3.0};
         },
         9.0},
        {"times of another spacing",
         [](int i) {
             return std::pair{i * 0.1 + (i % 3) * 0.01, double(i % 100) / 10};
         },
         13.5},
        {"values beyond whole numbers of places",
         [](int i) {
             return std::pair{double(i) / 1e3, 1e12 + i};
         },
         9.0},
        {"not numbers among them",
         [](int i) {
             return std::pair{double(i) / 1e3, i == 5 ? std::nan("") : i == 9 ? INFINITY : 1.0};
         },
         9.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tPointSeries series;
        const int count = 300000;
        for (int i = 0; i < count; ++i) series.Add(row.point(i).first, row.point(i).second);
        ASSERT_EQ(series.Count(), count);
        for (int i = 0; i < count; ++i) {
            const auto [x, y] = row.point(i);
            ASSERT_EQ(series.X(i), x) << i;
            if (std::isnan(y))
                ASSERT_TRUE(std::isnan(series.Y(i))) << i;
            else
                ASSERT_EQ(series.Y(i), y) << i;
        }
        EXPECT_LE(double(series.BytesHeld()) / count, row.bytesPerPoint);
        EXPECT_EQ(series.UpperBound(row.point(count / 2).first), count / 2 + 1);
    }
}
