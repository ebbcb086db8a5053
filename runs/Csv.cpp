// CSV writing and reading.
#include "runs/Csv.h"

#include <charconv>
#include <cmath>

QString CsvNumber(double value, QChar decimal) {
    if (!std::isfinite(value)) return QString();
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, int(result.ptr - buffer));
    text.replace(u'.', decimal);
    return text;
}

QChar CsvSeparator(QChar decimal) {
    return decimal == u',' ? u';' : u',';
}

QString CsvField(const QString& text, QChar separator) {
    if (!text.contains(separator) && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString CsvLine(const QStringList& fields, QChar separator) {
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) line += separator;
        line += CsvField(fields[i], separator);
    }
    return line + QStringLiteral("\r\n");
}

void ForEachCsvRecord(const QString& text, QChar separator,
                      const std::function<void(const QStringList& fields, bool finished)>& record) {
    QStringList fields;
    QString field;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        any = true;
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == separator) {
            fields << field;
            field.clear();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            fields << field;
            record(fields, true);
            fields.clear();
            field.clear();
            any = false;
        } else {
            field += c;
        }
    }
    if (any) {
        fields << field;
        record(fields, false);
    }
}

QList<QStringList> ParseCsv(const QString& text, QChar separator) {
    QList<QStringList> records;
    ForEachCsvRecord(text, separator, [&](const QStringList& fields, bool) { records << fields; });
    return records;
}
