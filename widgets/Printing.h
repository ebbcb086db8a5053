// Paper and PDF: the charts on one page as the screen shows them, rich text page after page within the
// page set-up's margins, and a clear error when printing cannot start or fails.
#pragma once

#include <QPageLayout>
#include <QString>
#include <functional>
#include <vector>

class QPrinter;
class QTextDocument;
class TChart;

// The charts, one above the other, on one page of the printer: as wide as the printable area, in the
// proportions the screen shows them, fonts and lines at the sizes they have on screen. Raises Exception with
// the reason when printing cannot start or fails.
void PrintCharts(QPrinter& printer, const std::vector<TChart*>& charts);
// The whole document, titled `title`, page after page within the printer's margins: tables narrowed to the
// width, pictures wider than the page scaled down.
void PrintDocument(QPrinter& printer, const QTextDocument& document, const QString& title);

// A table to print, read cell by cell as the pages are drawn (a run of a million points is never copied).
class tPrintedTable {
public:
    virtual ~tPrintedTable() = default;
    virtual int Rows() const = 0;
    virtual int Columns() const = 0;
    // A head may have several lines.
    virtual QString Head(int column) const = 0;
    virtual QString Cell(int row, int column) const = 0;
};
// Told after each page how many of `pages` are done; false cancels.
using tPageProgress = std::function<bool(int done, int pages)>;
// The table under `title`, page after page: its heads on every page, narrow tables in several column groups
// side by side, a table wider than the page in several parts. False when cancelled (the printer's job is then
// abandoned).
bool PrintTable(QPrinter& printer, const tPrintedTable& table, const QString& title,
                const tPageProgress& progress);

// The same into a PDF file with the page layout `layout` (the charts as vector drawing).
void SaveChartsPdf(const QString& fileName, const std::vector<TChart*>& charts, const QPageLayout& layout);
void SaveDocumentPdf(const QString& fileName, const QTextDocument& document, const QString& title,
                     const QPageLayout& layout);
// False when cancelled: the file is then removed.
bool SaveTablePdf(const QString& fileName, const tPrintedTable& table, const QString& title,
                  const QPageLayout& layout, const tPageProgress& progress);
