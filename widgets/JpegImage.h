// Loading JPEG pictures through libjpeg, safely: a damaged or hostile file is refused with a reason.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Pictures with more pixels than this are refused before any is decoded.
inline constexpr long long kMaxPicturePixels = 64LL * 1000 * 1000;

// The decoded picture, or a null image and the reason in `error`.
QImage DecodeJpeg(const QByteArray& bytes, QString* error);
