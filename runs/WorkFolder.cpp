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
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
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
        FRest.notify_all();
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
            // A second's rest, which new points do not interrupt (each would wake the thread for nothing).
            FRest.wait_for(lock, std::chrono::seconds(1), [this] { return FEnd; });
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FRest;
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

// The bytes the disk still takes, when a test makes it full; negative: as many as it has.
std::atomic<qint64> gDiskSpace{-1};

// write(2), or on a disk made full what fits and then ENOSPC.
ssize_t WriteSome(int fd, const char* bytes, size_t count) {
    for (qint64 space = gDiskSpace.load(); space >= 0;) {
        const size_t allowed = std::min<size_t>(count, size_t(space));
        if (allowed == 0) {
            errno = ENOSPC;
            return -1;
        }
        if (gDiskSpace.compare_exchange_weak(space, space - qint64(allowed)))
            return ::write(fd, bytes, allowed);
    }
    return ::write(fd, bytes, count);
}

Exception CannotWrite(const QString& fileName, int error) {
    return Exception(QStringLiteral("Невозможно записать файл \"%1\".\r\nСистема сообщает: %2")
                         .arg(fileName, SystemErrorText(error)));
}

void WriteAll(int fd, const QByteArray& bytes, const QString& fileName) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = WriteSome(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) throw CannotWrite(fileName, errno);
        done += put;
    }
}

// Writes `bytes` whole into a file beside `fileName` and hands it to the disk: the name of that file, to be
// put in place by CommitFile. Whatever fails, the file beside is gone and the old content stays.
QString StageFile(const QString& fileName, const QByteArray& bytes) {
    const QString temporary = fileName + QStringLiteral(".tmp");
    const int fd =
        ::open(temporary.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(temporary, SystemErrorText(errno)));
    const auto failed = [&](int error) {
        ::unlink(temporary.toLocal8Bit().constData());
        return CannotWrite(temporary, error);
    };
    try {
        WriteAll(fd, bytes, temporary);
    } catch (const Exception&) {
        const int error = errno;
        ::close(fd);
        throw failed(error);
    }
    if (::fdatasync(fd) != 0 && errno != EINVAL) {
        const int error = errno;
        ::close(fd);
        throw failed(error);
    }
    if (::close(fd) != 0) throw failed(errno);
    return temporary;
}

void CommitFile(const QString& temporary, const QString& fileName) {
    if (::rename(temporary.toLocal8Bit().constData(), fileName.toLocal8Bit().constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.toLocal8Bit().constData());
        throw CannotWrite(fileName, error);
    }
}

// Replaces `fileName` with `bytes` through a file beside it, so a reader finds the old or the new content.
void ReplaceFile(const QString& fileName, const QByteArray& bytes) {
    CommitFile(StageFile(fileName, bytes), fileName);
}

QByteArray Lines(const QStringList& lines) {
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

// Writes that may take long (analysis.txt of a work with hundreds of megabytes of lines kept) on a thread of
// their own, in the order given; a file written anew drops the writes of it still waiting. A failure is kept
// for the file's folder to take.
class tLaterWriter {
public:
    tLaterWriter() : FThread([this] { Run(); }) {}
    ~tLaterWriter() {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            FEnd = true;
        }
        FWake.notify_all();
        FThread.join();
    }
    void Post(const QString& file, bool whole, std::function<void()> write) {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            if (whole)
                std::erase_if(FJobs, [&](const tJob& job) { return job.File == file; });
            FJobs.push_back({file, std::move(write)});
        }
        FWake.notify_all();
    }
    bool Pending(const QString& file) {
        std::lock_guard<std::mutex> guard(FMutex);
        return FBusy == file || std::any_of(FJobs.begin(), FJobs.end(),
                                            [&](const tJob& job) { return job.File == file; });
    }
    void Finish() {
        std::unique_lock<std::mutex> lock(FMutex);
        FIdle.wait(lock, [this] { return FJobs.empty() && FBusy.isEmpty(); });
    }
    QString TakeError(const QString& folder) {
        std::lock_guard<std::mutex> guard(FMutex);
        for (auto it = FErrors.begin(); it != FErrors.end(); ++it)
            if (it->first.startsWith(folder + u'/')) {
                const QString error = it->second;
                FErrors.erase(it);
                return error;
            }
        return {};
    }

private:
    struct tJob {
        QString File;
        std::function<void()> Write;
    };
    void Run() {
        std::unique_lock<std::mutex> lock(FMutex);
        for (;;) {
            FWake.wait(lock, [this] { return FEnd || !FJobs.empty(); });
            if (FJobs.empty()) return;
            tJob job = std::move(FJobs.front());
            FJobs.pop_front();
            FBusy = job.File;
            lock.unlock();
            QString error;
            try {
                job.Write();
            } catch (const Exception& e) {
                error = e.Message();
            }
            lock.lock();
            if (!error.isEmpty()) FErrors.emplace_back(job.File, error);
            FBusy.clear();
            FIdle.notify_all();
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    std::deque<tJob> FJobs;
    QString FBusy;
    std::vector<std::pair<QString, QString>> FErrors;
    bool FEnd = false;
    std::thread FThread;
};

tLaterWriter& LaterWriter() {
    static tLaterWriter writer;
    return writer;
}

QString RunKey(int number, const char* field) {
    return QStringLiteral("Run%1.%2").arg(number).arg(QString::fromLatin1(field));
}

} // namespace

QByteArray AnalysisBytes(const QStringList& results, const QByteArray& kept) {
    return (results.isEmpty() ? QByteArray() : Lines(results)) + kept;
}

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
    try {
        folder->WriteList();
    } catch (const Exception&) {
        // A folder without its list is no work: it goes, with the copies just made.
        QDir(path).removeRecursively();
        throw;
    }
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

void tWorkFolder::SimulateDiskSpace(qint64 bytes) {
    gDiskSpace = bytes;
}

tWorkFolder::~tWorkFolder() {
    try {
        EndRun();
    } catch (...) {
        // Closing never raises: what was written stays.
    }
}

void tWorkFolder::WriteList() {
    ReplaceFile(FPath + u'/' + QString::fromLatin1(kWorkListFile), Lines(FList));
}

namespace {

// The first row of a run's file: the byte-order mark and the columns' captions.
QByteArray HeaderRow(const tRun& run, QChar separator) {
    return "\xEF\xBB\xBF" + CsvLine({run.CaptionX, run.CaptionY, kLabelHeader}, separator).toUtf8();
}

} // namespace

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
    // Its number is taken for good, kept or not: no two runs of a lesson ever share one.
    run->Number = FRuns;
    FDecimal = SystemDecimalSeparator();
    const QChar separator = CsvSeparator(FDecimal);
    const QStringList before = FList;
    try {
        WriteAll(FFd, HeaderRow(*run, separator), fileName);
        FList << RunKey(FRuns, "File") + u'=' + name << RunKey(FRuns, "Sensor") + u'=' + run->Sensor
              << RunKey(FRuns, "Start") + u'=' + run->Start.toString(Qt::ISODate)
              << RunKey(FRuns, "Line") + u'=' + QString::number(run->Line)
              << RunKey(FRuns, "Separator") + u'=' + separator;
        WriteList();
    } catch (const Exception&) {
        // Neither the file nor the list names a run that could not be begun.
        ::close(FFd);
        FFd = -1;
        ::unlink(fileName.toLocal8Bit().constData());
        FList = before;
        throw;
    }
    FFileName = fileName;
    FRun = run;
    FWritten = 0;
    FHeaderBytes = ::lseek(FFd, 0, SEEK_END);
}

void tWorkFolder::ContinueRun(const std::shared_ptr<tRun>& run) {
    EndRun();
    QString name, separator;
    for (const QString& line : FList) {
        if (line.startsWith(RunKey(run->Number, "File") + u'=')) name = line.section(u'=', 1);
        if (line.startsWith(RunKey(run->Number, "Separator") + u'=')) separator = line.section(u'=', 1);
    }
    if (name.isEmpty() || name.contains(u'/'))
        throw Exception(QStringLiteral("В списке работы нет файла опыта %1.").arg(run->Number));
    const QString fileName = FPath + u'/' + name;
    FFd = ::open(fileName.toLocal8Bit().constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (FFd < 0)
        throw Exception(QStringLiteral("Невозможно открыть файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(fileName, SystemErrorText(errno)));
    FDecimal = separator == QStringLiteral(",")   ? u'.'
               : separator == QStringLiteral(";") ? u','
                                                  : SystemDecimalSeparator();
    FFileName = fileName;
    FRun = run;
    FWritten = run->Points->Count();
    // Its header row is written again with the points.
    FHeaderBytes = 0;
}

void tWorkFolder::RewritePoints() {
    if (!FRun || FFd < 0) return;
    // The file is cut back to its header row and the points written again; a write that fails leaves whole
    // lines, and the next change writes them all anew.
    if (::ftruncate(FFd, FHeaderBytes) != 0) throw CannotWrite(FFileName, errno);
    if (FHeaderBytes == 0) {
        WriteAll(FFd, HeaderRow(*FRun, CsvSeparator(FDecimal)), FFileName);
        FHeaderBytes = ::lseek(FFd, 0, SEEK_END);
    }
    FWritten = 0;
    AppendPoints();
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
    // A write that fails leaves the file as it was: whole lines only, the rest written at the next try.
    const off_t size = ::lseek(FFd, 0, SEEK_END);
    try {
        WriteAll(FFd, bytes, FFileName);
    } catch (const Exception&) {
        if (size >= 0 && ::ftruncate(FFd, size) != 0)
            WriteLog(QStringLiteral("ftruncate failed: ") + FFileName);
        throw;
    }
    FWritten = points.Count();
    Syncer().Sync(FFd);
}

void tWorkFolder::EndRun() {
    if (FFd < 0) return;
    // The file is closed whatever the last points' writing says.
    struct tClose {
        tWorkFolder& Folder;
        ~tClose() {
            Syncer().Forget(Folder.FFd);
            ::fdatasync(Folder.FFd);
            ::close(Folder.FFd);
            Folder.FFd = -1;
            Folder.FRun.reset();
        }
    } close{*this};
    AppendPoints();
}

void tWorkFolder::DropRun() {
    if (FFd < 0) return;
    Syncer().Forget(FFd);
    ::close(FFd);
    FFd = -1;
    FRun.reset();
    // Its lines in the list go first: a list that cannot be written keeps naming the file, which stays.
    const QStringList before = FList;
    const QString prefix = QStringLiteral("Run%1.").arg(FRuns);
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (FList[i].startsWith(prefix, Qt::CaseInsensitive)) FList.removeAt(i);
    try {
        WriteList();
    } catch (const Exception&) {
        FList = before;
        throw;
    }
    ::unlink(FFileName.toLocal8Bit().constData());
    // Its number is free again: the next run is «Опыт N» as if this one had never begun.
    --FRuns;
}

void tWorkFolder::SaveReport(const QByteArray& rtf) {
    ReplaceFile(FPath + u'/' + QString::fromLatin1(kReportFile), rtf);
}

void tWorkFolder::SaveAnalysis(const QStringList& results, const QByteArray& kept) {
    KeepUnreadAnalysis(false);
    const QString file = FPath + u'/' + QString::fromLatin1(kAnalysisFile);
    LaterWriter().Post(file, true, [file, results, kept] {
        if (results.isEmpty() && kept.isEmpty())
            QFile::remove(file);
        else
            ReplaceFile(file, AnalysisBytes(results, kept));
    });
}

void tWorkFolder::AppendAnalysis(const QString& result) {
    KeepUnreadAnalysis(false);
    const QString file = FPath + u'/' + QString::fromLatin1(kAnalysisFile);
    const auto append = [file, result] {
        const int fd = ::open(file.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            throw Exception(QStringLiteral("Невозможно создать файл \"%1\".\r\nСистема сообщает: %2")
                                .arg(file, SystemErrorText(errno)));
        const off_t size = ::lseek(fd, 0, SEEK_END);
        // A last line kept without its end gets one: the result is a line of its own.
        char last = '\n';
        if (size > 0 && ::pread(fd, &last, 1, size - 1) != 1) last = '\n';
        const QByteArray bytes =
            (last == '\n' || last == '\r' ? QByteArray() : QByteArrayLiteral("\r\n")) + Lines({result});
        try {
            WriteAll(fd, bytes, file);
        } catch (const Exception&) {
            if (size >= 0 && ::ftruncate(fd, size) != 0) WriteLog(QStringLiteral("ftruncate failed: ") + file);
            ::close(fd);
            throw;
        }
        ::close(fd);
    };
    // After a rewrite still under way, in its turn; else at once (one line).
    if (LaterWriter().Pending(file))
        LaterWriter().Post(file, false, append);
    else
        append();
}

QString tWorkFolder::TakeLaterError() {
    return LaterWriter().TakeError(FPath);
}

void tWorkFolder::FinishLaterWrites() {
    LaterWriter().Finish();
}

void tWorkFolder::KeepUnreadAnalysis(bool later) {
    if (later) {
        FAnalysisUnread = true;
        return;
    }
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

void tWorkFolder::DeleteRun(int number, const QStringList& results, const QByteArray* remaining) {
    FinishLaterWrites();
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
    QString to, analysis;
    for (int n = 1;; ++n) {
        const QString base = deleted + u'/' +
                             (n == 1 ? info.completeBaseName()
                                     : QStringLiteral("%1 (%2)").arg(info.completeBaseName()).arg(n));
        to = base + u'.' + info.suffix();
        analysis = base + QStringLiteral(".analysis.txt");
        if (!QFileInfo::exists(analysis) && !QFileInfo::exists(to)) break;
        if (n > 100000) throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(analysis));
    }
    // Every file that changes is written beside first (where a full disk fails), then the run's file gets its
    // second name, then all are put in place and its first name goes: a failure at any point leaves the list,
    // the results and the files as they were.
    const QStringList before = FList;
    for (qsizetype i = FList.size() - 1; i >= 0; --i)
        if (FList[i].startsWith(prefix, Qt::CaseInsensitive)) FList.removeAt(i);
    const QString analysisFile = FPath + u'/' + QString::fromLatin1(kAnalysisFile);
    const QString listFile = FPath + u'/' + QString::fromLatin1(kWorkListFile);
    QStringList staged;
    try {
        staged << (results.isEmpty() ? QString() : StageFile(analysis, Lines(results)));
        staged << (remaining && !remaining->isEmpty() ? StageFile(analysisFile, *remaining) : QString());
        staged << StageFile(listFile, Lines(FList));
        if (moved && ::link(from.toLocal8Bit().constData(), to.toLocal8Bit().constData()) != 0)
            throw Exception(
                QStringLiteral("Невозможно переместить файл \"%1\" в \"%2\".\r\nСистема сообщает: %3")
                    .arg(from, deleted, SystemErrorText(errno)));
    } catch (const Exception&) {
        for (const QString& temporary : staged)
            if (!temporary.isEmpty()) ::unlink(temporary.toLocal8Bit().constData());
        FList = before;
        throw;
    }
    if (!staged[0].isEmpty()) CommitFile(staged[0], analysis);
    if (remaining) KeepUnreadAnalysis(false);
    if (!staged[1].isEmpty())
        CommitFile(staged[1], analysisFile);
    else if (remaining)
        QFile::remove(analysisFile);
    CommitFile(staged[2], listFile);
    if (moved) ::unlink(from.toLocal8Bit().constData());
}
