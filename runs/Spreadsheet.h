// SPDX-License-Identifier: GPL-3.0-or-later
// A table of runs as a spreadsheet reads it: heads, then rows of numbers and texts, written as CSV in one of
// the usual dialects or as an Excel workbook whose numbers are numbers.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// One cell: a number, or a text (empty: nothing).
struct tSheetCell {
    bool IsNumber = false;
    double Number = 0;
    QString Text;
};

// The heads (each with its quantity's unit) and the cells, asked for row by row: a run of a million points is
// never held twice.
struct tSheet {
    QStringList Heads;
    int Rows = 0;
    std::function<tSheetCell(int row, int column)> Cell;
};

// The CSV dialects spreadsheets read: a semicolon with the decimal comma (Russian settings), a tab with the
// system's decimal separator, a comma with the decimal point (English settings, Gnumeric).
enum class tCsvDialect { SemicolonComma, Tab, CommaPoint };
// The dialect's name as the save dialog offers it.
QString CsvDialectFilter(tCsvDialect dialect);
// The sheet as CSV in `dialect` (UTF-8 with its mark), `decimal` the system's separator for the tab dialect.
QByteArray SheetCsv(const tSheet& sheet, tCsvDialect dialect, QChar decimal);

// The most rows a workbook's sheet holds, heads included.
inline constexpr int kMaxWorkbookRows = 1048576;
// Writes the sheet as an Excel workbook (.xlsx) of one sheet named `name`: numbers as numbers, the heads bold.
// Raises Exception with the reason when it cannot be written or has more rows than a sheet holds.
void WriteWorkbook(const QString& fileName, const tSheet& sheet, const QString& name);
