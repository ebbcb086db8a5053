// Numbers and fields of the CSV files and the clipboard text: what a spreadsheet set to the system's
// regional settings reads as numbers.
#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The shortest text that reads back as exactly `value`, with `decimal` as its decimal separator.
QString CsvNumber(double value, QChar decimal);
// ";" where the decimal separator is a comma (as a Russian spreadsheet expects), else ",".
QChar CsvSeparator(QChar decimal);
// The field as written: quoted when it holds the separator, a quote or a line end.
QString CsvField(const QString& text, QChar separator);
// One line of fields.
QString CsvLine(const QStringList& fields, QChar separator);
// The records of a CSV text, one by one; a quoted field may span lines. A last line without its line end is
// handed over too, marked as unfinished (a file cut short while it was written).
void ForEachCsvRecord(const QString& text, QChar separator,
                      const std::function<void(const QStringList& fields, bool finished)>& record);
// All records at once.
QList<QStringList> ParseCsv(const QString& text, QChar separator);
