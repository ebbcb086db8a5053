// Paper and PDF: the charts on one page as the screen shows them, rich text page after page within the
// page set-up's margins, and a clear error when printing cannot start or fails.
#pragma once

#include <QPageLayout>
#include <QString>
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

// The same into a PDF file with the page layout `layout` (the charts as vector drawing).
void SaveChartsPdf(const QString& fileName, const std::vector<TChart*>& charts, const QPageLayout& layout);
void SaveDocumentPdf(const QString& fileName, const QTextDocument& document, const QString& title,
                     const QPageLayout& layout);
