// SPDX-License-Identifier: GPL-3.0-or-later
// QR codes through libqrencode.
#include "widgets/QrCode.h"

#include <QPainter>
#include <qrencode.h>

QImage QrCodeImage(const QString& text, int module) {
    const QByteArray bytes = text.toUtf8();
    QRcode* code = QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M);
    if (!code) return QImage();
    // Four modules of quiet zone around it, as readers need.
    const int quiet = 4, side = (code->width + 2 * quiet) * module;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + quiet) * module, (y + quiet) * module, module, module, Qt::black);
    painter.end();
    QRcode_free(code);
    return image;
}
