// Reading RTF into a QTextDocument: text with fonts and colours, paragraphs, simple tables, PNG and JPEG
// pictures.
#pragma once

#include "widgets/Metafile.h"

#include <QByteArray>
#include <QTextFormat>
#include <atomic>
#include <vector>

class QTextDocument;

// Properties of an image format that keep the picture's original bytes, so that a JPEG is written back as
// JPEG.
inline constexpr int kImageBytesProperty = QTextFormat::UserProperty + 1;
inline constexpr int kImageKindProperty = QTextFormat::UserProperty + 2; // "png" or "jpeg"
// A picture this program cannot draw (a WMF or EMF formula): its own control words ("\\wmetafile8\\picw…"),
// so that saving writes the picture back as it came.
inline constexpr int kImageHeaderProperty = QTextFormat::UserProperty + 3;

// Replaces the document's content with the RTF text. Malformed or truncated input never fails: the document
// gets what could be read. Metafile pictures (formulas) are drawn by their converters, in parallel, within
// kPicturesMilliseconds for all of them; those not drawn keep a placeholder.
inline constexpr int kPicturesMilliseconds = 5000;
// A document larger than this is read off the window's thread.
inline constexpr qsizetype kReadAtOnceBytes = 512 * 1024;
// What one paragraph of a document read carries at most; a longer one goes on in the next (same format).
inline constexpr int kMaxBlockRuns = 1000;
inline constexpr qsizetype kMaxBlockCharacters = 20000;
void ReadRtf(const QByteArray& rtf, QTextDocument& document);
// The same, but the metafile pictures are left as placeholders and handed back, to be drawn off the window's
// thread (DrawMetafiles) into the document's image resources of their names.
// `cancel`, once set, ends the reading early (what was read stays).
std::vector<tPendingPicture> ReadRtfLater(const QByteArray& rtf, QTextDocument& document,
                                          const std::atomic<bool>* cancel = nullptr);
