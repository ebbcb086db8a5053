// Windows metafiles (the formula and drawing pictures of office documents) drawn as images.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

enum class tMetafileKind { Wmf, Emf };

// Draws the metafile to fill an image of `size` pixels (transparent where it draws nothing); a null image
// when the data is not a metafile the converters can read. A WMF is drawn with its window (SetWindowOrg/Ext)
// filling the image, as a picture in a document shows it.
QImage DrawMetafile(const QByteArray& data, tMetafileKind kind, QSize size);

// The program that converts one kind to SVG (by default wmf2svg and emf2svg-conv, found in PATH); it is
// called as they are: `wmf2svg --maxwidth=W --maxheight=H -o OUT IN`, `emf2svg-conv -w W -h H -i IN -o OUT`.
void SetMetafileConverter(tMetafileKind kind, const QString& program);
