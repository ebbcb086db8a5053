// Writing a work folder as the runs are measured, and reading it back.
#include "runs/WorkFolder.h"

#include "core/Exception.h"
#include "core/Functions.h"
#include "core/LocaleFormats.h"
#include "core/Logfile.h"
#include "core/Settings.h"
#include "core/TextCodec.h"
#include "runs/Csv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

const char kWorkListFile[] = "work.txt";
const char kReportFile[] = "report.rtf";
const char kAnalysisFile[] = "analysis.txt";
const char kDeletedFolder[] = "deleted";

namespace {

const QString kLabelHeader = QStringLiteral("Метка");

// Hands written bytes to the disk without holding the window: fdatasync can take tens of milliseconds on a
// slow disk, so it runs on a thread of its own, at most once a second. Every tick's points are written at
// once (a crash of the program loses none of them); the sync bounds what a power failure can take to the
// last second, without waking the disk ten times a second for a fast sensor.
class tSyncer {
public:
    tSyncer() : FThread([this] { Run(); }) {}
    ~tSyncer() {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            FEnd = true;
        }
        FWake.notify_all();
        FThread.join();
    }
    void Sync(int fd) {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            FFd = fd;
            FPending = true;
        }
        FWake.notify_all();
    }
    // The file is about to be closed: nothing of it may be synced afterwards.
    void Forget(int fd) {
        std::unique_lock<std::mutex> lock(FMutex);
        FIdle.wait(lock, [this] { return !FBusy; });
        if (FFd == fd) {
            FFd = -1;
            FPending = false;
        }
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(FMutex);
        for (;;) {
            FWake.wait(lock, [this] { return FEnd || FPending; });
            if (FEnd) return;
            const int fd = FFd;
            FPending = false;
            FBusy = true;
            lock.unlock();
            if (fd >= 0) ::fdatasync(fd);
            lock.lock();
            FBusy = false;
            FIdle.notify_all();
            FWake.wait_for(lock, std::chrono::seconds(1), [this] { return FEnd; });
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    int FFd = -1;
    bool FPending = false;
    bool FBusy = false;
    bool FEnd = false;
    std::thread FThread;
};

tSyncer& Syncer() {
    static tSyncer syncer;
    return syncer;
}

void WriteAll(int fd, const QByteArray& bytes, const QString& fileName) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
            throw Exception(QStringLiteral("Невозможно записать файл \"%1\".\r\nСистема сообщает: %2")
                                .arg(fileName, SystemErrorText(errno)));
        done += put;
    }
}

// Replaces `fileName` with `bytes` through a file beside it, so a reader finds the old or the new content.
void ReplaceFile(const QString& fileName, const QByteArray& bytes) {
    const QString temporary = fileName + QStringLiteral(".tmp");
    const int fd =
        ::open(temporary.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(temporary, SystemErrorText(errno)));
    try {
        WriteAll(fd, bytes, temporary);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::fdatasync(fd);
    ::close(fd);
    if (::rename(temporary.toLocal8Bit().constData(), fileName.toLocal8Bit().constData()) != 0)
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(fileName, SystemErrorText(errno)));
}

QString RunKey(int number, const char* field) {
    return QStringLiteral("Run%1.%2").arg(number).arg(QString::fromLatin1(field));
}

} // namespace

QString tWorkFolder::DataRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/zorbinka");
}

std::unique_ptr<tWorkFolder> tWorkFolder::Create(const QString& experimentName,
                                                 const QString& experimentFolder) {
    // A folder's name holds 255 bytes: a long name is shortened, leaving room for " (N)" (its full name is in
    // the list).
    QString name = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")) + u' ' +
                   QString(experimentName).replace(u'/', u'_');
    while (name.toLocal8Bit().size() > 255 - 10) {
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
        name = name.trimmed();
    }
    const QString base = DataRoot() + u'/' + name;
    QString path = base;
    for (int n = 2; QFileInfo::exists(path); ++n) path = base + QStringLiteral(" (%1)").arg(n);
    if (!QDir().mkpath(path))
        throw Exception(
            QStringLiteral("Невозможно создать папку \"%1\" для сохранения измерений.").arg(path));
    // The definition and the description travel with the measurements, so the work opens without the
    // catalogue.
    // Only files with data are copied (a FIFO there would hold Пуск for good); the work does without a
    // description that is none.
    for (const char* name : {"experiment.txt", "descr.rtf"}) {
        const QString from = experimentFolder + QString::fromLatin1(name);
        if (!QFileInfo::exists(from)) continue;
        try {
            CopyFileBytes(from, path + u'/' + QString::fromLatin1(name), kMaxDocumentBytes);
        } catch (const Exception& e) {
            WriteLog(e.Message());
        }
    }
    auto folder = std::make_unique<tWorkFolder>(path);
    folder->FList << QStringLiteral("Experiment=") + experimentName;
    folder->WriteList();
    return folder;
}

tWorkFolder::tWorkFolder(const QString& path, int runsWritten, const QStringList& list)
    : FPath(path), FRuns(runsWritten), FList(list) {
    // A number the list already gives a run is not given again.
    static const QRegularExpression key(QStringLiteral("^Run" ZORBINKA_RUN_NUMBER "\\."),
                                        QRegularExpression::CaseInsensitiveOption);
    for (const QString& line : FList)
        if (const QRegularExpressionMatch match = key.match(line); match.hasMatch())
            FRuns = std::max(FRuns, match.captured(1).toInt());
}

tWorkFolder::~tWorkFolder() {
    try {
        EndRun();
    } catch (...) {
        // Closing never raises: what was written stays.
    }
}

void tWorkFolder::WriteList() {
    ReplaceFile(FPath + u'/' + QString::fromLatin1(kWorkListFile),
                (FList.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
}

void tWorkFolder::BeginRun(const std::shared_ptr<tRun>& run) {
    EndRun();
    // A new file under a number no file of the folder has: a measurement on disk is never written over.
    QString name;
    QString fileName;
    for (int tries = 0;; ++tries) {
        if (FRuns >= kMaxRunNumber)
            throw Exception(
                QStringLiteral("В папке \"%1\" больше нет номеров для новых опытов: начните новую работу.")
                    .arg(FPath));
        ++FRuns;
        name = QStringLiteral("run-%1.csv").arg(FRuns, 2, 10, QLatin1Char('0'));
        fileName = FPath + u'/' + name;
        FFd = ::open(fileName.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC,
                     0644);
        if (FFd >= 0 || errno != EEXIST || tries > 100000) break;
    }
    if (FFd < 0)
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(fileName, SystemErrorText(errno)));
    FFileName = fileName;
    FRun = run;
    run->Number = FRuns;
    FWritten = 0;
    FDecimal = SystemDecimalSeparator();
    const QChar separator = CsvSeparator(FDecimal);
    WriteAll(FFd, "\xEF\xBB\xBF" + CsvLine({run->CaptionX, run->CaptionY, kLabelHeader}, separator).toUtf8(),
             fileName);
    FList << RunKey(FRuns, "File") + u'=' + name << RunKey(FRuns, "Sensor") + u'=' + run->Sensor
          << RunKey(FRuns, "Start") + u'=' + run->Start.toString(Qt::ISODate)
          << RunKey(FRuns, "Line") + u'=' + QString::number(run->Line)
          << RunKey(FRuns, "Separator") + u'=' + separator;
    WriteList();
}

void tWorkFolder::AppendPoints() {
    if (!FRun || FFd < 0) return;
    const tPointSeries& points = *FRun->Points;
    if (points.Count() <= FWritten) return;
    const char separator = char(CsvSeparator(FDecimal).unicode());
    const char decimal = char(FDecimal.unicode());
    // Straight into bytes: a fast sensor adds thousands of points a tick.
    QByteArray bytes;
    bytes.reserve(qsizetype(points.Count() - FWritten) * 28);
    char number[64];
    const auto put = [&](double value) {
        const auto end = std::to_chars(number, number + sizeof number, value).ptr;
        for (char* c = number; c != end; ++c)
            if (*c == '.') *c = decimal;
        bytes.append(number, end - number);
    };
    for (int i = FWritten; i < points.Count(); ++i) {
        put(points.X(i));
        bytes += separator;
        put(points.Y(i));
        bytes += separator;
        const QString label = points.Label(i);
        if (!label.isEmpty()) bytes += CsvField(label, QChar(separator)).toUtf8();
        bytes += "\r\n";
    }
    WriteAll(FFd, bytes, FFileName);
    FWritten = points.Count();
    Syncer().Sync(FFd);
}

void tWorkFolder::EndRun() {
    if (FFd < 0) return;
    AppendPoints();
    Syncer().Forget(FFd);
    ::fdatasync(FFd);
    ::close(FFd);
    FFd = -1;
    FRun.reset();
}

void tWorkFolder::DropRun() {
    if (FFd < 0) return;
    Syncer().Forget(FFd);
    ::close(FFd);
    FFd = -1;
    FRun.reset();
    ::unlink(FFileName.toLocal8Bit().constData());
    // Its lines in the list go with it, and its number is free again.
    const QString prefix = QStringLiteral("Run%1.").arg(FRuns);
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (FList[i].startsWith(prefix, Qt::CaseInsensitive)) FList.removeAt(i);
    --FRuns;
    WriteList();
}

void tWorkFolder::SaveReport(const QByteArray& rtf) {
    ReplaceFile(FPath + u'/' + QString::fromLatin1(kReportFile), rtf);
}

void tWorkFolder::SaveAnalysis(const QStringList& lines) {
    const QString file = FPath + u'/' + QString::fromLatin1(kAnalysisFile);
    if (FAnalysisUnread) {
        // The results that could not be read stay beside the new ones, under a name no file has.
        for (int n = 1;; ++n) {
            const QString kept = file + QStringLiteral(".unread-%1").arg(n);
            if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink()) continue;
            if (::rename(file.toLocal8Bit().constData(), kept.toLocal8Bit().constData()) != 0 &&
                errno != ENOENT)
                throw Exception(
                    QStringLiteral("Невозможно переименовать файл \"%1\".\r\nСистема сообщает: %2")
                        .arg(file, SystemErrorText(errno)));
            break;
        }
        FAnalysisUnread = false;
    }
    if (lines.isEmpty()) {
        QFile::remove(file);
        return;
    }
    ReplaceFile(file, (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
}

void tWorkFolder::SetListKeys(const QString& prefix, const QStringList& lines) {
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (FList[i].startsWith(prefix, Qt::CaseInsensitive)) FList.removeAt(i);
    for (const QString& line : lines) FList << prefix + line;
    WriteList();
}

void tWorkFolder::SaveRunViews(const tRunStore& runs) {
    static const QRegularExpression view(
        QStringLiteral("^(Run" ZORBINKA_RUN_NUMBER "\\.(Name|Shown)|Chosen)="),
        QRegularExpression::CaseInsensitiveOption);
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (view.match(FList[i]).hasMatch()) FList.removeAt(i);
    for (int i = 0; i < runs.Count(); ++i) {
        const tRun& run = runs.Run(i);
        if (run.Number <= 0) continue;
        // A name is one line of the list.
        if (!run.Name.isEmpty())
            FList << RunKey(run.Number, "Name") + u'=' +
                         QString(run.Name).replace(u'\r', u' ').replace(u'\n', u' ');
        if (!run.Shown) FList << RunKey(run.Number, "Shown") + QStringLiteral("=0");
    }
    if (const int chosen = runs.Chosen();
        chosen >= 0 && chosen < runs.Count() - 1 && runs.Run(chosen).Number > 0)
        FList << QStringLiteral("Chosen=%1").arg(runs.Run(chosen).Number);
    WriteList();
}

void tWorkFolder::DeleteRun(int number, const QStringList& results) {
    if (FRun && FRun->Number == number) EndRun();
    const QString prefix = QStringLiteral("Run%1.").arg(number);
    QString file;
    for (const QString& line : FList)
        if (line.startsWith(prefix + QStringLiteral("File="), Qt::CaseInsensitive))
            file = line.section(u'=', 1);
    if (file.isEmpty()) file = QStringLiteral("run-%1.csv").arg(number, 2, 10, QLatin1Char('0'));
    if (file.contains(u'/')) throw Exception(QStringLiteral("Неверное имя файла опыта \"%1\".").arg(file));
    const QString deleted = FPath + u'/' + QString::fromLatin1(kDeletedFolder);
    if (!QDir().mkpath(deleted))
        throw Exception(QStringLiteral("Невозможно создать папку \"%1\".").arg(deleted));
    // A name no file there has, for the run and for its results: nothing is written over.
    const QFileInfo info(file);
    const QString from = FPath + u'/' + file;
    const bool moved = QFileInfo::exists(from);
    for (int n = 1;; ++n) {
        const QString base = deleted + u'/' +
                             (n == 1 ? info.completeBaseName()
                                     : QStringLiteral("%1 (%2)").arg(info.completeBaseName()).arg(n));
        const QString to = base + u'.' + info.suffix();
        const QString analysis = base + QStringLiteral(".analysis.txt");
        if (QFileInfo::exists(analysis) || (!moved && QFileInfo::exists(to))) {
            if (n > 100000) throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(analysis));
            continue;
        }
        // A hard link under the new name, then the old name goes.
        if (moved && ::link(from.toLocal8Bit().constData(), to.toLocal8Bit().constData()) != 0) {
            if (errno == EEXIST && n <= 100000) continue;
            throw Exception(
                QStringLiteral("Невозможно переместить файл \"%1\" в \"%2\".\r\nСистема сообщает: %3")
                    .arg(from, deleted, SystemErrorText(errno)));
        }
        if (moved) ::unlink(from.toLocal8Bit().constData());
        if (!results.isEmpty())
            ReplaceFile(analysis, (results.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
        break;
    }
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (FList[i].startsWith(prefix, Qt::CaseInsensitive)) FList.removeAt(i);
    WriteList();
}
