// Tests that look at PDF files through poppler's tools: their text, their pages as pictures, their page
// count.
#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

inline QString PdfText(const QString& file) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {file, QStringLiteral("-")});
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The page of the PDF as a picture, `dpi` pixels an inch.
inline QImage PdfPage(const QString& file, int page, int dpi) {
    const QString base = file + QStringLiteral("-page");
    QProcess process;
    process.start(QStringLiteral("pdftoppm"),
                  {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                   QStringLiteral("-singlefile"), QStringLiteral("-png"), file, base});
    process.waitForFinished(60000);
    return QImage(base + QStringLiteral(".png"));
}

inline int PdfPages(const QString& file) {
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {file});
    process.waitForFinished(20000);
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n'))
        if (line.startsWith(QStringLiteral("Pages:"))) return line.mid(6).trimmed().toInt();
    return -1;
}
