// Reading a work folder back: its list, every run file it names or holds, record by record in bounded
// memory, with the folder's damage said and nothing of it taken for more than it is.
#include "runs/WorkFolder.h"

#include "core/Exception.h"
#include "core/Settings.h"
#include "core/TextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A run file larger than this is refused: it holds far more than any lesson measures.
constexpr qint64 kMaxRunFileBytes = qint64(2) << 30;
constexpr qsizetype kChunk = 1 << 20;

QString RunKey(int number, const char* field) {
    return QStringLiteral("Run%1.%2").arg(number).arg(QString::fromLatin1(field));
}

// A text line of the list: UTF-8 where its bytes are, else cp1251 (one bad byte spoils only its own line).
QString DecodeLine(const QByteArray& line) {
    return IsValidUtf8(line) ? QString::fromUtf8(line) : DecodeCodePage(line, tCodePage::Cp1251);
}

QStringList ListLines(const QByteArray& bytes) {
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF")) body.remove(0, 3);
    QStringList lines;
    for (const QByteArray& line : body.split('\n')) {
        QByteArray text = line;
        if (text.endsWith('\r')) text.chop(1);
        lines << DecodeLine(text);
    }
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// A number as the program writes it: an optional sign, digits with a point or a comma, an optional exponent.
// The usual short ones are exact without a general conversion: a whole number of at most 15 digits divided
// once by a power of ten is rounded correctly.
bool ParseNumber(const char* begin, const char* end, double& value) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (begin == end) return false;
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = begin;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = -1;
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            mantissa = mantissa * 10 + std::uint64_t(*p - '0');
            ++digits;
            if (fraction >= 0) ++fraction;
        } else if ((*p == '.' || *p == ',') && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (p == end && digits <= 15) {
        const double whole = double(mantissa) / kPowers[std::max(fraction, 0)];
        value = negative ? -whole : whole;
        return true;
    }
    // Longer numbers and exponents: the general conversion, on a copy with a decimal point.
    char copy[64];
    if (end - begin >= qsizetype(sizeof copy)) return false;
    const char* from = begin + (*begin == '+' ? 1 : 0);
    std::size_t n = 0;
    for (const char* q = from; q < end; ++q) copy[n++] = *q == ',' ? '.' : *q;
    double result = 0;
    const auto [last, error] = std::from_chars(copy, copy + n, result);
    if (error != std::errc() || last != copy + n || !std::isfinite(result)) return false;
    value = result;
    return true;
}

// One field's text: its quotes taken off and doubled quotes made single, UTF-8 or cp1251.
QString FieldText(const char* begin, const char* end) {
    QByteArray bytes(begin, end - begin);
    if (bytes.size() >= 2 && bytes.startsWith('"') && bytes.endsWith('"'))
        bytes = bytes.mid(1, bytes.size() - 2).replace("\"\"", "\"");
    return DecodeLine(bytes);
}

// The separator of a run file from its head: a semicolon outside quotes (the file of a system whose decimal
// separator is a comma), else a comma; the list's word only when the head has neither.
char SeparatorOfHead(const QByteArray& head, char listed) {
    bool quoted = false;
    bool comma = false;
    for (const char c : head) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == ';') return ';';
        comma |= c == ',';
    }
    return comma ? ',' : listed;
}

class tRunFileReader {
public:
    tRunFileReader(tRun& run, char listed, const std::function<bool(qint64)>& advanced)
        : FRun(run), FListed(listed), FAdvanced(advanced) {}

    // Reads the file; returns the number of lines left out.
    int Read(const QString& fileName) {
        const int fd = OpenRegularFile(fileName, kMaxRunFileBytes);
        struct tCloser {
            int Fd;
            ~tCloser() { ::close(Fd); }
        } closer{fd};
        QByteArray pending;
        bool first = true;
        for (;;) {
            const qsizetype before = pending.size();
            pending.resize(before + kChunk);
            ssize_t got = 0;
            do got = ::read(fd, pending.data() + before, size_t(kChunk));
            while (got < 0 && errno == EINTR);
            if (got < 0)
                throw Exception(QStringLiteral("Невозможно прочитать файл \"%1\". %2")
                                    .arg(fileName, SystemErrorText(errno)));
            pending.resize(before + got);
            if (first && pending.startsWith("\xEF\xBB\xBF")) pending.remove(0, 3);
            first = false;
            const qsizetype used = Records(pending, got == 0);
            pending.remove(0, used);
            if (!FAdvanced(got)) throw EAbort();
            if (got == 0) break;
        }
        return FBad;
    }

private:
    // Takes the whole records of `bytes` (and at the end the last one without its line end, as a line cut
    // short); returns the bytes used.
    qsizetype Records(const QByteArray& bytes, bool atEnd) {
        const char* data = bytes.constData();
        const qsizetype size = bytes.size();
        qsizetype start = 0;
        while (start < size) {
            // A line without quotes (nearly every line) ends at its line feed; a quoted field may hold line
            // ends of its own.
            const char* feed =
                static_cast<const char*>(std::memchr(data + start, '\n', size_t(size - start)));
            const qsizetype lineEnd = feed ? feed - data : size;
            if (!std::memchr(data + start, '"', size_t(lineEnd - start))) {
                if (!feed) break;
                const qsizetype end = lineEnd > start && data[lineEnd - 1] == '\r' ? lineEnd - 1 : lineEnd;
                Record(data + start, data + end, true);
                start = lineEnd + 1;
                continue;
            }
            bool quoted = false;
            qsizetype i = start;
            for (; i < size; ++i) {
                const char c = data[i];
                if (c == '"') quoted = !quoted;
                if (!quoted && (c == '\n' || c == '\r')) break;
            }
            if (i == size) break;
            Record(data + start, data + i, true);
            if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
            start = i + 1;
        }
        if (atEnd && start < size) {
            Record(data + start, data + size, false);
            start = size;
        }
        return start;
    }

    // The fields of a record: where they begin and end (at most the first three are wanted).
    struct tFields {
        std::pair<const char*, const char*> At[3];
        int Count = 0;
    };

    void Record(const char* begin, const char* end, bool finished) {
        if (!FHeadDone) {
            FHeadDone = true;
            FSeparator = SeparatorOfHead(QByteArray(begin, end - begin), FListed);
            const tFields fields = Fields(begin, end);
            if (fields.Count > 0) FRun.CaptionX = FieldText(fields.At[0].first, fields.At[0].second);
            if (fields.Count > 1) FRun.CaptionY = FieldText(fields.At[1].first, fields.At[1].second);
            return;
        }
        if (begin == end && finished) return;
        const tFields fields = Fields(begin, end);
        double x = 0;
        double y = 0;
        // A line cut short by a crash, junk, or time running backwards is left out.
        if (!finished || fields.Count < 2 || !ParseNumber(fields.At[0].first, fields.At[0].second, x) ||
            !ParseNumber(fields.At[1].first, fields.At[1].second, y) || x < FLastX) {
            ++FBad;
            return;
        }
        FLastX = x;
        if (fields.Count > 2 && fields.At[2].first != fields.At[2].second)
            FRun.Points->Add(x, y, FieldText(fields.At[2].first, fields.At[2].second));
        else
            FRun.Points->Add(x, y);
    }

    tFields Fields(const char* begin, const char* end) const {
        tFields fields;
        bool quoted = false;
        const char* start = begin;
        for (const char* p = begin; p < end && fields.Count < 2; ++p) {
            if (*p == '"') quoted = !quoted;
            if (!quoted && *p == FSeparator) {
                fields.At[fields.Count++] = {start, p};
                start = p + 1;
            }
        }
        // The third field runs to the next separator outside quotes, or to the end.
        const char* stop = start;
        quoted = false;
        for (; stop < end; ++stop) {
            if (*stop == '"') quoted = !quoted;
            if (!quoted && *stop == FSeparator) break;
        }
        fields.At[fields.Count++] = {start, stop};
        return fields;
    }

    tRun& FRun;
    const char FListed;
    const std::function<bool(qint64)>& FAdvanced;
    bool FHeadDone = false;
    char FSeparator = ';';
    double FLastX = -std::numeric_limits<double>::infinity();
    int FBad = 0;
};

// Why a folder cannot be read, in words.
QString FolderProblem(const QString& path) {
    struct stat info = {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0) {
        if (errno == ELOOP) return QStringLiteral("ссылки на неё замыкаются в петлю");
        return SystemErrorText(errno);
    }
    if (!S_ISDIR(info.st_mode)) return QStringLiteral("это не папка");
    if (::access(path.toLocal8Bit().constData(), R_OK | X_OK) != 0) return SystemErrorText(errno);
    return QString();
}

} // namespace

tOpenedWork ReadWorkFolder(const QString& path, tRunStore& runs, const tReadProgress& progress) {
    if (const QString problem = FolderProblem(path); !problem.isEmpty())
        throw Exception(QStringLiteral("Папку \"%1\" невозможно открыть: %2.").arg(path, problem));
    tOpenedWork work;
    // What this program still writes off its window's thread is in the files first.
    tWorkFolder::FinishLaterWrites();

    // The run files the folder holds, by their numbers.
    std::map<int, QString> files;
    static const QRegularExpression runFile(QStringLiteral("^run-" ZORBINKA_RUN_NUMBER "\\.csv$"));
    for (const QString& name : QDir(path).entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const QRegularExpressionMatch match = runFile.match(name);
        if (match.hasMatch()) files[match.captured(1).toInt()] = name;
    }

    // The list; when it is missing or damaged, what the files say is enough.
    tSettings list(false);
    QStringList listLines;
    const QString listName = path + u'/' + QString::fromLatin1(kWorkListFile);
    bool listRead = false;
    QString listProblem;
    if (QFileInfo::exists(listName) || QFileInfo(listName).isSymLink()) {
        try {
            listLines = ListLines(ReadFileBytes(listName, 16 << 20));
            list.SetLines(listLines);
            listRead = true;
        } catch (const Exception& e) {
            listProblem = e.Message();
        }
    }
    if (files.empty() && !(listRead && list.IndexOfName(RunKey(1, "File")) >= 0) &&
        (!listRead || list.GetSettingByName(QStringLiteral("Experiment")).isEmpty()))
        throw Exception(listProblem.isEmpty()
                            ? QStringLiteral("В папке \"%1\" нет сохранённой работы: ни списка work.txt, ни "
                                             "файлов измерений run-NN.csv.")
                                  .arg(path)
                            : listProblem);
    work.ExperimentName = list.GetSettingByName(QStringLiteral("Experiment"));
    if (work.ExperimentName.isEmpty()) {
        // The folder's name says it too: the day and time it was made, the experiment's name, a number.
        static const QRegularExpression made(
            QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}-\\d{2}-\\d{2} (.+?)( \\(\\d+\\))?$"));
        const QString folder = QDir(path).dirName();
        const QRegularExpressionMatch match = made.match(folder);
        work.ExperimentName = match.hasMatch() ? match.captured(1) : folder;
    }

    // The runs of the list in their numbers' order, then the files the list does not name.
    struct tPlanned {
        int Number;
        QString File;
        bool Listed;
    };
    std::vector<tPlanned> planned;
    std::map<int, bool> numbers;
    // The list's values by name (the first line of a name counts, as in a lookup of the list): a work of
    // thousands of runs is read in time that grows with the runs, not with their square.
    QHash<QString, QString> values;
    static const QRegularExpression fileKey(QStringLiteral("^Run" ZORBINKA_RUN_NUMBER "\\.File$"),
                                            QRegularExpression::CaseInsensitiveOption);
    for (const QString& line : listLines) {
        QString name;
        QString value;
        if (!SplitSettingLine(line, &name, &value)) continue;
        if (const QString key = name.toLower(); !values.contains(key)) values.insert(key, value);
        const QRegularExpressionMatch match = fileKey.match(name.trimmed());
        if (match.hasMatch()) numbers[match.captured(1).toInt()] = true;
    }
    const auto listed = [&](int number, const char* key) {
        return values.value(RunKey(number, key).toLower());
    };
    QSet<QString> named;
    for (const auto& [number, unused] : numbers) {
        const QString file = listed(number, "File");
        planned.push_back({number, file, true});
        named << file;
    }
    for (const auto& [number, file] : files)
        if (!named.contains(file)) {
            planned.push_back({number, file, false});
            work.Rebuilt << file;
        }
    if (!listRead && !listProblem.isEmpty()) work.Skipped << listProblem;

    // The bytes to read, for the progress box.
    qint64 total = 1;
    for (const tPlanned& run : planned)
        total += std::max<qint64>(0, QFileInfo(path + u'/' + run.File).size());
    qint64 done = 0;
    const std::function<bool(qint64)> advanced = [&](qint64 bytes) {
        done += bytes;
        return !progress || progress(std::min(done, total), total);
    };

    std::vector<std::shared_ptr<tRun>> read;
    for (const tPlanned& plan : planned) {
        work.RunFiles = std::max(work.RunFiles, plan.Number);
        auto run = std::make_shared<tRun>();
        run->Experiment = work.ExperimentName;
        run->Number = plan.Number;
        const QString file = plan.File;
        if (plan.Listed) {
            run->Sensor = listed(plan.Number, "Sensor");
            run->Start = QDateTime::fromString(listed(plan.Number, "Start"), Qt::ISODate);
            run->Line = std::clamp(listed(plan.Number, "Line").toInt(), 0, 1);
            run->Name = listed(plan.Number, "Name").trimmed();
            run->Shown = listed(plan.Number, "Shown").trimmed() != QStringLiteral("0");
        } else {
            run->Start = QFileInfo(path + u'/' + file).birthTime();
            if (!run->Start.isValid()) run->Start = QFileInfo(path + u'/' + file).lastModified();
        }
        const QString separator = listed(plan.Number, "Separator");
        try {
            // The file name comes from the list: it must not lead out of the folder.
            if (file.isEmpty() || file.contains(u'/')) throw Exception(QStringLiteral("неверное имя файла"));
            tRunFileReader reader(*run, separator.isEmpty() ? ';' : char(separator[0].unicode()), advanced);
            const int bad = reader.Read(path + u'/' + file);
            if (bad > 0) work.Skipped << QStringLiteral("%1: пропущено строк: %2").arg(file).arg(bad);
        } catch (const EAbort&) {
            throw;
        } catch (const Exception& e) {
            work.Skipped << QStringLiteral("%1: %2").arg(file, e.Message());
            continue;
        }
        // The list as it will be written on: every run it holds now.
        if (!plan.Listed) {
            work.ListLines << RunKey(plan.Number, "File") + u'=' + file
                           << RunKey(plan.Number, "Start") + u'=' + run->Start.toString(Qt::ISODate)
                           << RunKey(plan.Number, "Line") + QStringLiteral("=0");
        }
        read.push_back(run);
    }
    runs.Add(std::move(read));
    // The list to go on with: the one read, the experiment's name where it had none, the runs made again.
    work.ListLines = listLines + work.ListLines;
    if (list.GetSettingByName(QStringLiteral("Experiment")).isEmpty())
        work.ListLines.prepend(QStringLiteral("Experiment=") + work.ExperimentName);
    // The results the program wrote, all of them (a line is a hundred bytes or so); what cannot be read is
    // said, and kept from being written over.
    const QString analysis = path + u'/' + QString::fromLatin1(kAnalysisFile);
    if (QFileInfo::exists(analysis) || QFileInfo(analysis).isSymLink()) {
        try {
            work.AnalysisLines = SplitRawLines(ReadFileBytes(analysis, qint64(1) << 30));
        } catch (const Exception& e) {
            work.AnalysisUnread = e.Message();
            work.Skipped << QString::fromLatin1(kAnalysisFile) + QStringLiteral(": ") + e.Message();
        }
    }
    return work;
}

QString tOpenedWork::Notes() const {
    QStringList said;
    if (!Rebuilt.isEmpty())
        said << QStringLiteral("Список опытов работы (work.txt) отсутствовал или был повреждён; опыты "
                               "восстановлены по файлам измерений: ") +
                    Rebuilt.join(QStringLiteral(", ")) + u'.';
    if (!Skipped.isEmpty())
        said << QStringLiteral("Не всё удалось прочитать из сохранённой работы:\r\n") +
                    Skipped.join(QStringLiteral("\r\n"));
    return said.join(QStringLiteral("\r\n\r\n"));
}
