// SPDX-License-Identifier: GPL-3.0-or-later
// CSV in three dialects, and workbooks through libxlsxwriter (BSD), written row by row in its constant
// memory mode.
#include "runs/Spreadsheet.h"

#include "core/Exception.h"
#include "runs/Csv.h"

#include <QFile>
#include <xlsxwriter.h>

QString CsvDialectFilter(tCsvDialect dialect) {
    switch (dialect) {
    case tCsvDialect::SemicolonComma:
        return QStringLiteral("CSV: точка с запятой, десятичная запятая (*.csv)");
    case tCsvDialect::Tab:
        return QStringLiteral("Текст с табуляцией (*.txt)");
    case tCsvDialect::CommaPoint:
        return QStringLiteral("CSV: запятая, десятичная точка (*.csv)");
    }
    return {};
}

QByteArray SheetCsv(const tSheet& sheet, tCsvDialect dialect, QChar decimal) {
    const QChar separator = dialect == tCsvDialect::SemicolonComma ? u';'
                            : dialect == tCsvDialect::Tab          ? u'\t'
                                                                   : u',';
    if (dialect == tCsvDialect::SemicolonComma) decimal = u',';
    if (dialect == tCsvDialect::CommaPoint) decimal = u'.';
    QString text = CsvLine(sheet.Heads, separator);
    QStringList cells;
    for (int r = 0; r < sheet.Rows; ++r) {
        cells.clear();
        for (int c = 0; c < sheet.Heads.size(); ++c) {
            const tSheetCell cell = sheet.Cell(r, c);
            cells << (cell.IsNumber ? CsvNumber(cell.Number, decimal) : cell.Text);
        }
        text += CsvLine(cells, separator);
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

void WriteWorkbook(const QString& fileName, const tSheet& sheet, const QString& name) {
    if (sheet.Rows + 1 > kMaxWorkbookRows)
        throw Exception(QStringLiteral("В лист книги Excel входит не больше %1 строк, а в таблице их %2: "
                                       "сохраните её как CSV.")
                            .arg(kMaxWorkbookRows - 1)
                            .arg(sheet.Rows));
    const QByteArray path = QFile::encodeName(fileName);
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path.constData(), &options);
    if (!book) throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(fileName));
    // A sheet's name: at most 31 characters, none of []:*?/\.
    QString title = name;
    for (const QChar bad : {u'[', u']', u':', u'*', u'?', u'/', u'\\'}) title.replace(bad, u' ');
    title = title.left(31).trimmed();
    if (title.isEmpty()) title = QStringLiteral("Таблица");
    lxw_worksheet* page = workbook_add_worksheet(book, title.toUtf8().constData());
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    format_set_text_wrap(bold);
    const int columns = int(sheet.Heads.size());
    if (page) {
        worksheet_set_column(page, 0, lxw_col_t(std::max(0, columns - 1)), 18, nullptr);
        for (int c = 0; c < columns; ++c)
            worksheet_write_string(page, 0, lxw_col_t(c), sheet.Heads[c].toUtf8().constData(), bold);
        for (int r = 0; r < sheet.Rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const tSheetCell cell = sheet.Cell(r, c);
                if (cell.IsNumber)
                    worksheet_write_number(page, lxw_row_t(r + 1), lxw_col_t(c), cell.Number, nullptr);
                else if (!cell.Text.isEmpty())
                    worksheet_write_string(page, lxw_row_t(r + 1), lxw_col_t(c), cell.Text.toUtf8().constData(),
                                           nullptr);
            }
    }
    const lxw_error error = workbook_close(book);
    if (!page || error != LXW_NO_ERROR) {
        QFile::remove(fileName);
        throw Exception(QStringLiteral("Невозможно записать файл \"%1\".\r\nСистема сообщает: %2")
                            .arg(fileName, QString::fromUtf8(page ? lxw_strerror(error) : "no sheet")));
    }
}
