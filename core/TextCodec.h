// Text decoding of the program's files: UTF-8 when the bytes are valid UTF-8, else the Windows code page
// cp1251.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

enum class tCodePage { Cp1251, Cp1252 };

bool IsValidUtf8(const QByteArray& bytes);

// Decodes one byte string in an 8-bit Windows code page.
QString DecodeCodePage(const QByteArray& bytes, tCodePage page);

// The character of one byte in a single-byte code page given by its Windows number (1250 to 1258, 874, the
// DOS pages 437, 850 and 866, the Mac pages 10000 and 10007); an unknown number reads as 1252.
QChar DecodeCodePageByte(int codePage, unsigned char byte);

// The double-byte Windows code pages (932, 936, 949, 950, 1361): whether the byte starts a two-byte
// character, and the character of a lead and trail byte (U+FFFD for a pair the page does not define).
bool IsLeadByte(int codePage, unsigned char byte);
QString DecodeCodePagePair(int codePage, unsigned char lead, unsigned char trail);

// Encodes in an 8-bit Windows code page; characters the page lacks become '?'.
QByteArray EncodeCodePage(const QString& text, tCodePage page);

// Decodes the bytes of a text file: a UTF-16 byte-order mark (either byte order) reads the file as UTF-16; a
// UTF-8 one is dropped; valid UTF-8 is read as such, anything else as cp1251. `wasUtf8` tells whether a
// Unicode form was used.
QString DecodeTextFile(const QByteArray& bytes, bool* wasUtf8 = nullptr);

// Splits text into lines ending in CR LF, a lone CR or a lone LF. A terminator at the very end does
// not start another line.
QStringList SplitTextLines(const QString& text);
// The same on bytes, each line keeping its own terminator, so that lines can be written back as they came.
QList<QByteArray> SplitRawLines(const QByteArray& bytes);
// A raw line without its terminator.
QByteArray WithoutTerminator(const QByteArray& line);

// Opens a file with data for reading: a FIFO, a device, a socket or a folder of that name is refused at once
// (it would hang the reader or never end), as is a file larger than `maxSize` bytes (a negative limit allows
// any size). Returns the descriptor, and the file's size in `size`; raises Exception with the reason.
int OpenRegularFile(const QString& fileName, qint64 maxSize, qint64* size = nullptr);
// Reads the whole file (opened as above); raises Exception with the system's reason when it cannot be opened
// or read.
QByteArray ReadFileBytes(const QString& fileName, qint64 maxSize = -1);

// Replaces the file with `bytes`; raises Exception with the system's reason when it cannot be written.
void WriteFileBytes(const QString& fileName, const QByteArray& bytes);
// Copies a file with data (checked as above) into a new file of the usual mode, not the source's; raises
// Exception with the reason.
void CopyFileBytes(const QString& from, const QString& to, qint64 maxSize);

// The largest document the program reads: descriptions and reports are a few pages, and a larger file is
// refused rather than read into gigabytes.
inline constexpr qint64 kMaxDocumentBytes = 20 * 1024 * 1024;
