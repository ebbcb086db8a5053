// WMF goes through libwmf's SVG output, EMF through libemf2svg; Qt Svg draws the result.
#include "widgets/Metafile.h"

#include "core/TextCodec.h"

#include <QMutex>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>
#include <locale.h>

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

// Neither converter keeps state between files, but their font and error handling are not known to be safe
// from several threads at once: one picture is converted at a time.
QMutex& ConverterMutex() {
    static QMutex mutex;
    return mutex;
}

// The converters write the SVG's numbers with the C library's printf, which follows the user's locale: in
// ru_RU every coordinate would get a decimal comma and the picture would fall apart. On this thread, for one
// conversion, numbers are written the C way.
class tCNumbers {
public:
    tCNumbers() : FLocale(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (FLocale) FPrevious = uselocale(FLocale);
    }
    ~tCNumbers() {
        if (!FLocale) return;
        uselocale(FPrevious);
        freelocale(FLocale);
    }
    tCNumbers(const tCNumbers&) = delete;
    tCNumbers& operator=(const tCNumbers&) = delete;

private:
    locale_t FLocale;
    locale_t FPrevious = nullptr;
};

QByteArray WmfToSvg(const QByteArray& data, QSize size) {
    QMutexLocker locker(&ConverterMutex());
    const tCNumbers numbers;
    QByteArray wmf = PreparedWmf(data);
    if (wmf.isEmpty()) return {};
    wmfAPI* api = nullptr;
    wmfAPI_Options options{};
    options.function = wmf_svg_function;
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api) wmf_api_destroy(api);
        return {};
    }
    QByteArray svg;
    wmfD_Rect box{};
    if (wmf_mem_open(api, reinterpret_cast<unsigned char*>(wmf.data()), long(wmf.size())) == wmf_E_None &&
        wmf_scan(api, 0, &box) == wmf_E_None && box.BR.x > box.TL.x && box.BR.y > box.TL.y) {
        wmf_svg_t* device = WMF_SVG_GetData(api);
        device->out = wmf_stream_create(api, nullptr);
        device->Description = const_cast<char*>("");
        device->bbox = box;
        device->width = unsigned(size.width());
        device->height = unsigned(size.height());
        const bool played = device->out && wmf_play(api, 0, &box) == wmf_E_None;
        char* text = nullptr;
        unsigned long length = 0;
        if (device->out) wmf_stream_destroy(api, device->out, &text, &length);
        if (played && text) svg = QByteArray(text, qsizetype(length));
        if (text) wmf_free(api, text);
    }
    wmf_api_destroy(api);
    // Text keeps the metafile's own bytes: Russian formulas are in cp1251.
    if (!svg.isEmpty() && !IsValidUtf8(svg)) svg = DecodeCodePage(svg, tCodePage::Cp1251).toUtf8();
    return svg;
}

QByteArray EmfToSvg(const QByteArray& data, QSize size) {
    if (data.size() < 88 || Word32(data, 0) != 1 || Word32(data, 40) != 0x464D4520u) return {};
    generatorOptions options{};
    options.nameSpace = const_cast<char*>("");
    options.svgDelimiter = true;
    options.imgWidth = size.width();
    options.imgHeight = size.height();
    QByteArray copy = data;
    QMutexLocker locker(&ConverterMutex());
    const tCNumbers numbers;
    char* text = nullptr;
    size_t length = 0;
    const int ok = emf2svg(copy.data(), size_t(copy.size()), &text, &length, &options);
    QByteArray svg = ok && text ? QByteArray(text, qsizetype(length)) : QByteArray();
    std::free(text);
    return svg;
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

QImage DrawMetafile(const QByteArray& data, tMetafileKind kind, QSize size) {
    if (size.isEmpty() || data.isEmpty()) return {};
    const QByteArray svg = kind == tMetafileKind::Wmf ? WmfToSvg(data, size) : EmfToSvg(data, size);
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
