// Code-page tables, UTF-8 check and whole-file reading and writing.
#include "core/TextCodec.h"

#include "core/Exception.h"

#include <QHash>
#include <QMutex>
#include <QStringDecoder>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Characters of the bytes 0x80 to 0xFF; undefined bytes map to the C1 control of the same value.
const char16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

const char16_t kCp1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t HighChar(unsigned char byte, tCodePage page) {
    if (page == tCodePage::Cp1251) return kCp1251[byte - 0x80];
    return byte < 0xA0 ? kCp1252[byte - 0x80] : char16_t(byte);
}

const QHash<char16_t, char>& ReverseTable(tCodePage page) {
    static const auto build = [](tCodePage p) {
        QHash<char16_t, char> table;
        for (int b = 0x80; b <= 0xFF; ++b) table.insert(HighChar(static_cast<unsigned char>(b), p), char(b));
        return table;
    };
    static const QHash<char16_t, char> cp1251 = build(tCodePage::Cp1251);
    static const QHash<char16_t, char> cp1252 = build(tCodePage::Cp1252);
    return page == tCodePage::Cp1251 ? cp1251 : cp1252;
}

Exception FileError(const char* what, const QString& fileName, int errorNumber) {
    return Exception(
        QStringLiteral("%1 \"%2\". %3").arg(QString::fromUtf8(what), fileName, SystemErrorText(errorNumber)));
}

} // namespace

QString SystemErrorText(int errorNumber) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

bool IsValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

namespace {

// The upper half of a code page through the system's converter, once per page.
const std::array<char16_t, 128>* UpperHalf(int codePage) {
    static QMutex mutex;
    static QHash<int, std::array<char16_t, 128>> tables;
    static QHash<int, bool> missing;
    QMutexLocker locker(&mutex);
    if (const auto it = tables.constFind(codePage); it != tables.constEnd()) return &*it;
    if (missing.contains(codePage)) return nullptr;
    QByteArray name;
    if ((codePage >= 1250 && codePage <= 1258) || codePage == 874 || codePage == 437 || codePage == 850 ||
        codePage == 866)
        name = "CP" + QByteArray::number(codePage);
    else if (codePage == 10000)
        name = "MACINTOSH";
    else if (codePage == 10007)
        name = "MAC-CYRILLIC";
    iconv_t converter = name.isEmpty() ? iconv_t(-1) : iconv_open("UTF-16LE", name.constData());
    if (converter == iconv_t(-1)) {
        missing.insert(codePage, true);
        return nullptr;
    }
    std::array<char16_t, 128> table{};
    for (int b = 0x80; b <= 0xFF; ++b) {
        char in = char(b);
        char16_t out = 0;
        char* inPtr = &in;
        size_t inLeft = 1;
        char* outPtr = reinterpret_cast<char*>(&out);
        size_t outLeft = sizeof out;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        // The Hebrew and Vietnamese converters hold a letter back for the marks that may follow: flushed
        // here.
        const bool converted = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) &&
                               iconv(converter, nullptr, nullptr, &outPtr, &outLeft) != size_t(-1) &&
                               outLeft == 0;
        // A byte the page does not define reads as the C1 control of the same value, as in the tables above.
        table[size_t(b - 0x80)] = converted ? out : char16_t(b);
    }
    iconv_close(converter);
    return &*tables.insert(codePage, table);
}

} // namespace

QChar DecodeCodePageByte(int codePage, unsigned char byte) {
    if (byte < 0x80) return QChar(byte);
    if (codePage == 1251) return QChar(HighChar(byte, tCodePage::Cp1251));
    if (codePage != 1252)
        if (const std::array<char16_t, 128>* table = UpperHalf(codePage)) return QChar((*table)[byte - 0x80]);
    return QChar(HighChar(byte, tCodePage::Cp1252));
}

bool IsLeadByte(int codePage, unsigned char byte) {
    switch (codePage) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    case 1361:
        return (byte >= 0x84 && byte <= 0xD3) || (byte >= 0xD8 && byte <= 0xDE) ||
               (byte >= 0xE0 && byte <= 0xF9);
    }
    return false;
}

QString DecodeCodePagePair(int codePage, unsigned char lead, unsigned char trail) {
    // One converter per page, opened on first use and closed when the program ends.
    static struct tConverters {
        QMutex Mutex;
        QHash<int, iconv_t> Open;
        ~tConverters() {
            for (const iconv_t converter : std::as_const(Open))
                if (converter != iconv_t(-1)) iconv_close(converter);
        }
    } converters;
    QMutexLocker locker(&converters.Mutex);
    iconv_t converter = converters.Open.value(codePage, iconv_t(-1));
    if (converter == iconv_t(-1) && !converters.Open.contains(codePage)) {
        const QByteArray name = codePage == 1361 ? QByteArray("JOHAB") : "CP" + QByteArray::number(codePage);
        converter = iconv_open("UTF-16LE", name.constData());
        converters.Open.insert(codePage, converter);
    }
    char in[2] = {char(lead), char(trail)};
    char16_t out[2] = {};
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (converter != iconv_t(-1)) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && inLeft == 0)
            return QString(reinterpret_cast<const QChar*>(out), qsizetype(sizeof out - outLeft) / 2);
    }
    // A pair the page does not define stands for one character the reader cannot show.
    return QString(QChar::ReplacementCharacter);
}

QString DecodeCodePage(const QByteArray& bytes, tCodePage page) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte < 0x80 ? QChar(byte) : QChar(HighChar(byte, page));
    }
    return text;
}

QByteArray EncodeCodePage(const QString& text, tCodePage page) {
    const auto& reverse = ReverseTable(page);
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            bytes += char(c.unicode());
        } else {
            const auto it = reverse.constFind(c.unicode());
            bytes += it != reverse.constEnd() ? it.value() : '?';
        }
    }
    return bytes;
}

QString DecodeTextFile(const QByteArray& bytes, bool* wasUtf8) {
    const bool little = bytes.startsWith("\xFF\xFE");
    if (little || bytes.startsWith("\xFE\xFF")) {
        if (wasUtf8) *wasUtf8 = true;
        QString text;
        text.reserve((bytes.size() - 2) / 2);
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2) {
            const auto a = std::uint8_t(bytes[i]);
            const auto b = std::uint8_t(bytes[i + 1]);
            text.append(QChar(char16_t(little ? a | b << 8 : b | a << 8)));
        }
        return text;
    }
    QByteArray body = bytes;
    const bool bom = body.startsWith("\xEF\xBB\xBF");
    if (bom) body.remove(0, 3);
    const bool utf8 = bom || IsValidUtf8(body);
    if (wasUtf8) *wasUtf8 = utf8;
    if (utf8) return QString::fromUtf8(body);
    return DecodeCodePage(body, tCodePage::Cp1251);
}

QStringList SplitTextLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.append(text.mid(start));
    return lines;
}

QList<QByteArray> SplitRawLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') continue;
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') ++i;
        lines.append(bytes.mid(start, i + 1 - start));
        start = i + 1;
    }
    if (start < n) lines.append(bytes.mid(start));
    return lines;
}

QByteArray WithoutTerminator(const QByteArray& line) {
    qsizetype n = line.size();
    if (n > 0 && line[n - 1] == '\n') --n;
    if (n > 0 && line[n - 1] == '\r') --n;
    return line.left(n);
}

int OpenRegularFile(const QString& fileName, qint64 maxSize, qint64* size) {
    const QByteArray path = fileName.toLocal8Bit();
    // Without waiting: a FIFO of that name would hold the open until a writer came.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw FileError("Невозможно открыть файл", fileName, errno);
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError("Невозможно прочитать файл", fileName, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw Exception(QStringLiteral("Невозможно прочитать файл \"%1\". Это не файл с данными, а %2.")
                            .arg(fileName, S_ISDIR(info.st_mode)    ? QStringLiteral("папка")
                                           : S_ISFIFO(info.st_mode) ? QStringLiteral("канал")
                                           : S_ISSOCK(info.st_mode) ? QStringLiteral("сокет")
                                                                    : QStringLiteral("устройство")));
    }
    if (maxSize >= 0 && info.st_size > maxSize) {
        ::close(fd);
        throw FileError("Невозможно прочитать файл", fileName, EFBIG);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size) *size = info.st_size;
    return fd;
}

QByteArray ReadFileBytes(const QString& fileName, qint64 maxSize) {
    qint64 size = 0;
    const int fd = OpenRegularFile(fileName, maxSize, &size);
    QByteArray bytes;
    if (size > 0) bytes.reserve(qsizetype(size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw FileError("Невозможно прочитать файл", fileName, error);
        }
        if (got == 0) break;
        if (maxSize >= 0 && bytes.size() + got > maxSize) {
            ::close(fd);
            throw FileError("Невозможно прочитать файл", fileName, EFBIG);
        }
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

void CopyFileBytes(const QString& from, const QString& to, qint64 maxSize) {
    WriteFileBytes(to, ReadFileBytes(from, maxSize));
}

void WriteFileBytes(const QString& fileName, const QByteArray& bytes) {
    const QByteArray path = fileName.toLocal8Bit();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw FileError("Невозможно создать файл", fileName, errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw FileError("Невозможно записать файл", fileName, error);
        }
        done += put;
    }
    if (::close(fd) != 0) throw FileError("Невозможно записать файл", fileName, errno);
}
