// A Windows-style INI file kept as its lines, so that writing one key leaves every other line as it was.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class tIniFile {
public:
    // Reads the file; a missing file is an empty INI file.
    explicit tIniFile(const QString& fileName);

    // Keys of `section` in file order with their values (blanks around both removed).
    QList<QPair<QString, QString>> ReadSection(const QString& section) const;

    // Sets `key` in `section`: replaces the first line of that key or adds one at the end of the
    // section; a missing section is added at the end of the file.
    void WriteString(const QString& section, const QString& key, const QString& value);

    // Writes the lines back in the encoding and line ends the file had.
    void Save() const;

    const QString& FileName() const { return FFileName; }

private:
    // Index of the section's header line, or -1.
    qsizetype FindSection(const QString& section) const;
    // Index of the line after the section's last line.
    qsizetype SectionEnd(qsizetype header) const;

    QString FFileName;
    QStringList FLines;
    bool FUtf8 = true;
    QString FLineEnd = QStringLiteral("\r\n");
};
