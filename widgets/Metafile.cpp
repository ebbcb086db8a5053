// WMF goes through libwmf's wmf2svg, EMF through emf2svg-conv; Qt Svg draws the result.
#include "widgets/Metafile.h"

#include "core/TextCodec.h"

#include "core/ChildProcess.h"
#include "core/Exception.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <atomic>
#include <cstdint>
#include <thread>

namespace {

std::uint16_t Word16(const QByteArray& data, qsizetype at) {
    return std::uint16_t(std::uint8_t(data[at]) | std::uint8_t(data[at + 1]) << 8);
}

std::uint32_t Word32(const QByteArray& data, qsizetype at) {
    return std::uint32_t(Word16(data, at)) | std::uint32_t(Word16(data, at + 2)) << 16;
}

void PutWord32(QByteArray& data, qsizetype at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) data[at + i] = char(value >> (8 * i) & 0xFF);
}

constexpr std::uint16_t kSetWindowOrg = 0x020B;
constexpr std::uint16_t kSetWindowExt = 0x020C;
constexpr std::uint16_t kPatBlt = 0x061D;
constexpr std::uint32_t kDestinationCopy = 0x00AA0029; // a raster operation that leaves every pixel as it is
// A formula's SVG is tens of kilobytes; one of megabytes is a drawing of millions of points, whose drawing
// would take minutes.
constexpr qint64 kMaxSvgBytes = qint64(4) << 20;

// The metafile as libwmf is given it, or nothing when its records do not add up: the converter trusts the
// header and allocates by its largest-record field (a damaged header asked for 2.7 GB), so that field is set
// to the largest record actually there. libwmf maps the extent of what is drawn onto the image, a document
// the metafile's window: a block transfer that changes nothing, over the whole window, right after the window
// is set, makes the two the same (not needed with a placeable header, which gives the picture's frame).
QByteArray PreparedWmf(const QByteArray& data) {
    const qsizetype start = data.size() >= 22 && Word32(data, 0) == 0x9AC6CDD7u ? 22 : 0;
    if (data.size() < start + 18) return {};
    const qsizetype header = qsizetype(Word16(data, start + 2)) * 2;
    if (header != 18) return {};
    QByteArray wmf = data;
    std::uint32_t largest = 3;
    int orgX = 0;
    int orgY = 0;
    bool marked = start > 0;
    bool ended = false;
    for (qsizetype at = start + header; !ended && at + 6 <= wmf.size();) {
        const qsizetype size = qsizetype(Word32(wmf, at)) * 2;
        const std::uint16_t function = Word16(wmf, at + 4);
        if (size < 6 || at + size > wmf.size()) return {};
        largest = std::max(largest, std::uint32_t(size / 2));
        ended = function == 0;
        if (function == kSetWindowOrg && size >= 10) {
            orgY = std::int16_t(Word16(wmf, at + 6));
            orgX = std::int16_t(Word16(wmf, at + 8));
        } else if (function == kSetWindowExt && size >= 10 && !marked) {
            QByteArray record(18, '\0');
            PutWord32(record, 0, 9);
            record[4] = char(kPatBlt & 0xFF);
            record[5] = char(kPatBlt >> 8);
            PutWord32(record, 6, kDestinationCopy);
            record.replace(10, 4, wmf.mid(at + 6, 4)); // the extent's height and width as they stand
            const std::int16_t origin[] = {std::int16_t(orgY), std::int16_t(orgX)};
            for (int i = 0; i < 2; ++i) {
                record[14 + 2 * i] = char(std::uint16_t(origin[i]) & 0xFF);
                record[15 + 2 * i] = char(std::uint16_t(origin[i]) >> 8);
            }
            wmf.insert(at + size, record);
            PutWord32(wmf, start + 6, Word32(wmf, start + 6) + 9); // the file's size in words
            largest = std::max<std::uint32_t>(largest, 9);
            marked = true;
            at += 18;
        }
        at += size;
    }
    if (!ended) return {};
    PutWord32(wmf, start + 12, largest);
    return wmf;
}

struct tConverters {
    QMutex Lock;
    QString Wmf = QStringLiteral("wmf2svg");
    QString Emf = QStringLiteral("emf2svg-conv");
};

tConverters& Converters() {
    static tConverters converters;
    return converters;
}

// The converters run as programs of their own, with a time and a memory limit: a damaged metafile can make
// one crash, hang or eat memory, never the window. The metafile goes in and the SVG comes back as files of a
// folder of its own. Nothing (a missing, failing, crashing or hanging converter) gives an empty SVG.
QByteArray Convert(tMetafileKind kind, const QByteArray& data, QSize size, int milliseconds) {
    QString program;
    {
        QMutexLocker locker(&Converters().Lock);
        program = kind == tMetafileKind::Wmf ? Converters().Wmf : Converters().Emf;
    }
    QTemporaryDir folder;
    if (!folder.isValid()) return {};
    const QString input =
        folder.filePath(kind == tMetafileKind::Wmf ? QStringLiteral("in.wmf") : QStringLiteral("in.emf"));
    const QString output = folder.filePath(QStringLiteral("out.svg"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) return {};
    }
    const QStringList arguments = kind == tMetafileKind::Wmf
                                      ? QStringList{QStringLiteral("--maxwidth=%1").arg(size.width()),
                                                    QStringLiteral("--maxheight=%1").arg(size.height()),
                                                    QStringLiteral("-o"), output, input}
                                      : QStringList{QStringLiteral("-w"), QString::number(size.width()),
                                                    QStringLiteral("-h"), QString::number(size.height()),
                                                    QStringLiteral("-i"), input,
                                                    QStringLiteral("-o"), output};
    tChildLimits limits;
    limits.Milliseconds = milliseconds;
    if (RunChild(program, arguments, limits).End != tChildEnd::Finished) return {};
    try {
        return ReadFileBytes(output, kMaxSvgBytes);
    } catch (const Exception&) {
        return {};
    }
}

QByteArray WmfToSvg(const QByteArray& data, QSize size, int milliseconds) {
    const QByteArray wmf = PreparedWmf(data);
    if (wmf.isEmpty()) return {};
    QByteArray svg = Convert(tMetafileKind::Wmf, wmf, size, milliseconds);
    // Text keeps the metafile's own bytes: Russian formulas are in cp1251.
    if (!svg.isEmpty() && !IsValidUtf8(svg)) svg = DecodeCodePage(svg, tCodePage::Cp1251).toUtf8();
    return svg;
}

QByteArray EmfToSvg(const QByteArray& data, QSize size, int milliseconds) {
    if (data.size() < 88 || Word32(data, 0) != 1 || Word32(data, 40) != 0x464D4520u) return {};
    return Convert(tMetafileKind::Emf, data, size, milliseconds);
}

// A pen thinner than a pixel (a cosmetic pen, drawn one pixel wide on paper and screen) is drawn one pixel
// wide; the converters scale it to a fraction of a pixel.
QByteArray WithHairlinesVisible(const QByteArray& svg) {
    static const QRegularExpression width(QStringLiteral(R"((stroke-width[=:]\s*"?)([0-9]*\.?[0-9]+))"));
    QString text = QString::fromUtf8(svg);
    QString out;
    out.reserve(text.size());
    qsizetype last = 0;
    for (auto it = width.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(text).mid(last, match.capturedStart(2) - last);
        out += match.captured(2).toDouble() < 1.0 ? QStringLiteral("1") : match.captured(2);
        last = match.capturedEnd(2);
    }
    out += QStringView(text).mid(last);
    return out.toUtf8();
}

} // namespace

void SetMetafileConverter(tMetafileKind kind, const QString& program) {
    QMutexLocker locker(&Converters().Lock);
    (kind == tMetafileKind::Wmf ? Converters().Wmf : Converters().Emf) = program;
}

QImage DrawMetafile(const QByteArray& data, tMetafileKind kind, QSize size, int milliseconds) {
    if (size.isEmpty() || data.isEmpty() || milliseconds <= 0) return {};
    const QByteArray svg =
        kind == tMetafileKind::Wmf ? WmfToSvg(data, size, milliseconds) : EmfToSvg(data, size, milliseconds);
    if (svg.isEmpty()) return {};
    QSvgRenderer renderer(WithHairlinesVisible(svg));
    if (!renderer.isValid()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

void DrawMetafiles(const std::vector<tPendingPicture>& pictures, int milliseconds,
                   const std::function<void(const tPendingPicture& picture, const QImage& image)>& drawn) {
    const std::size_t count = std::min(pictures.size(), std::size_t(kMaxDrawnPictures));
    if (count == 0) return;
    QElapsedTimer clock;
    clock.start();
    std::atomic<std::size_t> next{0};
    const auto draw = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            const int left = int(milliseconds - clock.elapsed());
            if (left <= 0) return;
            const tPendingPicture& picture = pictures[i];
            const QImage image = DrawMetafile(picture.Data, picture.Kind, picture.Size, std::min(2000, left));
            if (!image.isNull()) drawn(picture, image);
        }
    };
    // The converters are programs of their own: several run at once, each on a thread that waits for it.
    const std::size_t threads = std::min<std::size_t>(count, 4);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(draw);
    draw();
    for (std::thread& worker : workers) worker.join();
}
