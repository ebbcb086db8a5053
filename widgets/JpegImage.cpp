// libjpeg decoding with an error exit that returns here instead of ending the process, warnings judged by
// what they cost the picture, CMYK pictures converted, and the EXIF orientation honoured.
#include "widgets/JpegImage.h"

#include <QTransform>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>

namespace {

struct tErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    int Code = 0;
    // The data ran out: at all, and before every line of the picture had come (libjpeg then paints the rest
    // grey).
    bool Ended = false;
    bool EndedEarly = false;
    j_decompress_ptr Info = nullptr;
};

// libjpeg's default error exit ends the process; this one jumps back to the decoder.
void ErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<tErrorManager*>(info->err);
    manager->Code = info->err->msg_code;
    std::longjmp(manager->Jump, 1);
}

// Warnings are not failures: extraneous bytes or a missing end marker leave the picture whole. Only an end of
// data before the last line is a picture cut short.
void Message(j_common_ptr info, int level) {
    auto* manager = reinterpret_cast<tErrorManager*>(info->err);
    if (level >= 0) return;
    ++info->err->num_warnings;
    if (info->err->msg_code != JWRN_JPEG_EOF) return;
    manager->Ended = true;
    // Only the end marker missing: the decoder reads ahead while it decodes the last row of blocks, so the
    // data runs out there; it ran out earlier when rows of blocks are missing.
    if (manager->Info && manager->Info->input_iMCU_row + 1 < manager->Info->total_iMCU_rows)
        manager->EndedEarly = true;
}

// The reasons, as a user reads them.
QString Reason(int code) {
    switch (code) {
    case JERR_NO_SOI:
        return QStringLiteral("файл не является рисунком JPEG");
    case JERR_OUT_OF_MEMORY:
        return QStringLiteral("недостаточно памяти");
    case JERR_CONVERSION_NOTIMPL:
    case JERR_BAD_J_COLORSPACE:
    case JERR_BAD_IN_COLORSPACE:
        return QStringLiteral("цветовое пространство рисунка не поддерживается");
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
        return QStringLiteral("способ сжатия рисунка не поддерживается");
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return QStringLiteral("слишком большой размер рисунка");
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF:
        return QStringLiteral("файл обрывается раньше, чем рисунок");
    }
    return QStringLiteral("файл повреждён (ошибка %1)").arg(code);
}

// The EXIF orientation (1 to 8) of the APP1 marker, or 1 when there is none; every offset is checked.
int ExifOrientation(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const int marker = data[at + 1];
        const qsizetype length = (data[at + 2] << 8) | data[at + 3];
        if (marker == 0xDA || length < 2) break;
        const qsizetype body = at + 4;
        if (marker == 0xE1 && body + 14 <= size && length >= 16 &&
            std::memcmp(data + body, "Exif\0\0", 6) == 0) {
            const unsigned char* tiff = data + body + 6;
            const qsizetype tiffSize = std::min<qsizetype>(length - 8, size - body - 6);
            const bool little = tiff[0] == 'I' && tiff[1] == 'I';
            if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
            const auto u16 = [&](qsizetype o) -> unsigned {
                return little ? tiff[o] | tiff[o + 1] << 8 : tiff[o] << 8 | tiff[o + 1];
            };
            const auto u32 = [&](qsizetype o) -> quint32 {
                return little ? quint32(u16(o)) | quint32(u16(o + 2)) << 16
                              : quint32(u16(o)) << 16 | quint32(u16(o + 2));
            };
            const qsizetype ifd = u32(4);
            if (ifd < 8 || ifd + 2 > tiffSize) return 1;
            const unsigned entries = u16(ifd);
            for (unsigned i = 0; i < entries; ++i) {
                const qsizetype entry = ifd + 2 + qsizetype(i) * 12;
                if (entry + 12 > tiffSize) return 1;
                if (u16(entry) == 0x0112) {
                    const unsigned value = u16(entry + 8);
                    return value >= 1 && value <= 8 ? int(value) : 1;
                }
            }
            return 1;
        }
        at += 2 + length;
    }
    return 1;
}

QImage Oriented(const QImage& image, int orientation) {
    QTransform turn;
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        turn.rotate(180);
        break;
    case 4:
        return image.mirrored(false, true);
    case 5:
        turn.rotate(90);
        return image.transformed(turn).mirrored(true, false);
    case 6:
        turn.rotate(90);
        break;
    case 7:
        turn.rotate(-90);
        return image.transformed(turn).mirrored(true, false);
    case 8:
        turn.rotate(-90);
        break;
    default:
        return image;
    }
    return image.transformed(turn);
}

// Nothing with a destructor is made between the jump's setting and its last possible use: the jump would pass
// over it (the ink row comes from libjpeg's own pool, freed with the decoder). The picture and the reason
// belong to the caller.
bool Decode(const QByteArray& bytes, QImage& image, QString& reason) {
    jpeg_decompress_struct info;
    tErrorManager errors;
    info.err = jpeg_std_error(&errors.Base);
    errors.Base.error_exit = ErrorExit;
    errors.Base.emit_message = Message;
    errors.Info = &info;
    // Set once every line is decoded: what follows the picture (junk, another marker) costs it nothing.
    volatile bool decoded = false;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&info);
        if (decoded) return true;
        reason = errors.Ended ? QStringLiteral("файл обрывается раньше, чем рисунок") : Reason(errors.Code);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (static_cast<long long>(info.image_width) * info.image_height > kMaxPicturePixels) {
        reason = QStringLiteral("слишком большой размер рисунка (%1x%2)")
                     .arg(info.image_width)
                     .arg(info.image_height);
        jpeg_destroy_decompress(&info);
        return false;
    }
    // CMYK pictures (from printing work) are decoded as such and turned into RGB here; Adobe's files store
    // the inks inverted.
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (image.isNull()) {
        reason = QStringLiteral("недостаточно памяти");
        jpeg_destroy_decompress(&info);
        return false;
    }
    JSAMPROW inks = cmyk ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                     info.output_width * 4, 1)[0]
                         : nullptr;
    const bool inverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        unsigned char* line = image.scanLine(int(info.output_scanline));
        JSAMPROW row = cmyk ? inks : line;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        if (!cmyk) continue;
        for (JDIMENSION x = 0; x < info.output_width; ++x) {
            int c = inks[x * 4], m = inks[x * 4 + 1], y = inks[x * 4 + 2], k = inks[x * 4 + 3];
            if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            line[x * 3] = static_cast<unsigned char>(c * k / 255);
            line[x * 3 + 1] = static_cast<unsigned char>(m * k / 255);
            line[x * 3 + 2] = static_cast<unsigned char>(y * k / 255);
        }
    }
    decoded = info.output_scanline == info.output_height && !errors.EndedEarly;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (errors.EndedEarly) {
        reason = QStringLiteral("файл обрывается раньше, чем рисунок");
        return false;
    }
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& bytes, QString* error) {
    QImage image;
    QString reason;
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8) {
        if (error) *error = QStringLiteral("файл не является рисунком JPEG");
        return QImage();
    }
    if (!Decode(bytes, image, reason)) {
        if (error) *error = reason;
        return QImage();
    }
    return Oriented(image, ExifOrientation(bytes));
}
