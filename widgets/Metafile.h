// Windows metafiles (the formula and drawing pictures of office documents) drawn as images.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

enum class tMetafileKind { Wmf, Emf };

// Draws the metafile to fill an image of `size` pixels (transparent where it draws nothing); a null image
// when the data is not a metafile the converters can read. A WMF is drawn with its window (SetWindowOrg/Ext)
// filling the image, as a picture in a document shows it.
// The converter gets at most `milliseconds`; an SVG over 4 MiB (millions of points) is not drawn.
QImage DrawMetafile(const QByteArray& data, tMetafileKind kind, QSize size, int milliseconds = 2000);

// A metafile picture of a document, to be drawn into the image resource `Name`.
struct tPendingPicture {
    QString Name;
    QByteArray Data;
    tMetafileKind Kind = tMetafileKind::Wmf;
    QSize Size;
};
// A document's pictures drawn on several threads at once within `milliseconds` for all of them, the first
// kMaxDrawnPictures only: each image as it is drawn is handed to `drawn` (on a drawing thread). Those not
// drawn in time, or beyond the number, keep their placeholders.
inline constexpr int kMaxDrawnPictures = 50;
void DrawMetafiles(const std::vector<tPendingPicture>& pictures, int milliseconds,
                   const std::function<void(const tPendingPicture& picture, const QImage& image)>& drawn);

// The program that converts one kind to SVG (by default wmf2svg and emf2svg-conv, found in PATH); it is
// called as they are: `wmf2svg --maxwidth=W --maxheight=H -o OUT IN`, `emf2svg-conv -w W -h H -i IN -o OUT`.
void SetMetafileConverter(tMetafileKind kind, const QString& program);
