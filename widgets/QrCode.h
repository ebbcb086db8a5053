// SPDX-License-Identifier: GPL-3.0-or-later
// A QR code of a text (an address to open on a phone), drawn black on white with a quiet zone.
#pragma once

#include <QImage>
#include <QString>

// `module` pixels a module; a null image when the text cannot be encoded.
QImage QrCodeImage(const QString& text, int module = 6);
