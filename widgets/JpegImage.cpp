// libjpeg decoding with an error exit that returns here instead of ending the process.
#include "widgets/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace {

struct tErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

// libjpeg's default error exit ends the process; this one jumps back to the decoder.
void ErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<tErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->Message);
    std::longjmp(manager->Jump, 1);
}

void Silent(j_common_ptr) {}

// Only plain data lives across the jump; the image is filled in a separate function.
bool Decode(const QByteArray& bytes, QImage& image, char* message, std::size_t size) {
    jpeg_decompress_struct info;
    tErrorManager errors;
    info.err = jpeg_std_error(&errors.Base);
    errors.Base.error_exit = ErrorExit;
    errors.Base.output_message = Silent;
    errors.Message[0] = 0;
    if (setjmp(errors.Jump)) {
        std::snprintf(message, size, "%s", errors.Message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (static_cast<long long>(info.image_width) * info.image_height > kMaxPicturePixels) {
        std::snprintf(message, size, "the picture declares %ux%u pixels", info.image_width,
                      info.image_height);
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (image.isNull()) {
        std::snprintf(message, size, "out of memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // A file cut short decodes with grey at its end; libjpeg only warns about it, and such a file is refused.
    const bool truncated = errors.Base.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    if (truncated) {
        std::snprintf(message, size, "the file ends before the picture does");
        return false;
    }
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& bytes, QString* error) {
    QImage image;
    char message[JMSG_LENGTH_MAX + 64] = {};
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8) {
        if (error) *error = QStringLiteral("the file is not a JPEG picture");
        return QImage();
    }
    if (!Decode(bytes, image, message, sizeof message)) {
        if (error) *error = QString::fromLocal8Bit(message);
        return QImage();
    }
    return image;
}
