// INI file lines: sections, keys and in-place updates.
#include "core/IniFile.h"

#include "core/TextCodec.h"

#include <QFileInfo>

namespace {

bool IsHeader(const QString& line, QString* name) {
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(u'[')) return false;
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0) return false;
    if (name) *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

bool IsComment(const QString& line) {
    return line.trimmed().startsWith(u';');
}

} // namespace

tIniFile::tIniFile(const QString& fileName) : FFileName(fileName) {
    if (!QFileInfo::exists(fileName)) return;
    const QByteArray bytes = ReadFileBytes(fileName);
    const QString text = DecodeTextFile(bytes, &FUtf8);
    if (text.contains(QStringLiteral("\r\n")))
        FLineEnd = QStringLiteral("\r\n");
    else if (text.contains(u'\n'))
        FLineEnd = QStringLiteral("\n");
    FLines = SplitTextLines(text);
}

qsizetype tIniFile::FindSection(const QString& section) const {
    QString name;
    for (qsizetype i = 0; i < FLines.size(); ++i)
        if (IsHeader(FLines[i], &name) && name.compare(section.trimmed(), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

qsizetype tIniFile::SectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < FLines.size() && !IsHeader(FLines[i], nullptr)) ++i;
    return i;
}

QList<QPair<QString, QString>> tIniFile::ReadSection(const QString& section) const {
    QList<QPair<QString, QString>> result;
    const qsizetype header = FindSection(section);
    if (header < 0) return result;
    const qsizetype end = SectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const QString& line = FLines[i];
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || IsComment(line)) continue;
        result.append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return result;
}

void tIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString entry = key.trimmed() + u'=' + value;
    const qsizetype header = FindSection(section);
    if (header < 0) {
        if (!FLines.isEmpty() && !FLines.last().trimmed().isEmpty()) FLines.append(QString());
        FLines.append(u'[' + section.trimmed() + u']');
        FLines.append(entry);
        return;
    }
    const qsizetype end = SectionEnd(header);
    qsizetype lastContent = header;
    for (qsizetype i = header + 1; i < end; ++i) {
        const QString& line = FLines[i];
        if (!line.trimmed().isEmpty()) lastContent = i;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || IsComment(line)) continue;
        if (line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) == 0) {
            FLines[i] = entry;
            return;
        }
    }
    FLines.insert(lastContent + 1, entry);
}

void tIniFile::Save() const {
    QString text;
    for (const QString& line : FLines) text += line + FLineEnd;
    WriteFileBytes(FFileName, FUtf8 ? text.toUtf8() : EncodeCodePage(text, tCodePage::Cp1251));
}
