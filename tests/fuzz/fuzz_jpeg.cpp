// Fuzz target: a picture file of any bytes is decoded or refused with a reason, never a crash or a picture
// larger than allowed.
#include "widgets/JpegImage.h"

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString error;
    const QImage image = DecodeJpeg(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &error);
    if (image.isNull() == error.isEmpty()) std::abort();
    if (qint64(image.width()) * image.height() > kMaxPicturePixels) std::abort();
    return 0;
}
