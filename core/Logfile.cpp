// The log file: opening with an exclusive lock against other writers, appending whole lines.
#include "core/Logfile.h"

#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/LocaleFormats.h"

#include <QDateTime>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

tLogFile* LogFile = nullptr;

namespace {

// The text Windows users know for a file that another program holds open.
const char kSharingViolation[] =
    "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом.";

} // namespace

tLogFile::tLogFile(const QString& fileName) {
    try {
        Lock = std::make_unique<std::shared_mutex>();
        if (!FindCmdLineSwitch(QStringLiteral("LOG"))) return;
        const QByteArray path = fileName.toLocal8Bit();
        Stream = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (Stream < 0) {
            const int error = errno;
            throw Exception(
                QStringLiteral("Невозможно открыть файл \"%1\". %2").arg(fileName, SystemErrorText(error)));
        }
        // Other programs may read the log while it is written, but only one may write it.
        if (::flock(Stream, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const QString reason =
                error == EWOULDBLOCK ? QString::fromUtf8(kSharingViolation) : SystemErrorText(error);
            throw Exception(QStringLiteral("Невозможно открыть файл \"%1\". %2").arg(fileName, reason));
        }
    } catch (...) {
        Cleanup();
        throw;
    }
}

tLogFile::~tLogFile() {
    Cleanup();
}

void tLogFile::Cleanup() {
    if (Stream >= 0) {
        ::close(Stream);
        Stream = -1;
    }
    Lock.reset();
}

void tLogFile::Write(const QString& message) {
    if (Stream < 0) return;
    WriteRaw(FormatDateTime(QDateTime::currentDateTime()) + u' ' + message + QStringLiteral("\r\n"));
}

void tLogFile::WriteRaw(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::unique_lock<std::shared_mutex> guard(*Lock);
    if (Stream < 0) return;
    // A failed or short write is not reported: the log must never stop the program.
    [[maybe_unused]] const ssize_t written = ::write(Stream, bytes.constData(), size_t(bytes.size()));
}

void WriteLog(const QString& message) {
    if (LogFile) LogFile->Write(message);
}

QString LogHex(const void* bytes, int count, const char* prefix, const char* suffix) {
    static const char kDigits[] = "0123456789ABCDEF";
    const auto* p = static_cast<const unsigned char*>(bytes);
    const QString before = QString::fromLatin1(prefix);
    const QString after = QString::fromLatin1(suffix);
    QString text;
    text.reserve(count * (before.size() + after.size() + 2));
    for (int i = 0; i < count; ++i) {
        text += before;
        text += QChar(kDigits[p[i] >> 4]);
        text += QChar(kDigits[p[i] & 15]);
        text += after;
    }
    return text;
}

QString LogRaw(const void* bytes, int count) {
    return QString::fromLatin1(static_cast<const char*>(bytes), count);
}
