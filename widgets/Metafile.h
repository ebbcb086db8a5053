// Windows metafiles (the formula and drawing pictures of office documents) drawn as images.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

enum class tMetafileKind { Wmf, Emf };

// Draws the metafile to fill an image of `size` pixels (transparent where it draws nothing); a null image
// when the data is not a metafile the converters can read. A WMF is drawn with its window (SetWindowOrg/Ext)
// filling the image, as a picture in a document shows it.
QImage DrawMetafile(const QByteArray& data, tMetafileKind kind, QSize size);
