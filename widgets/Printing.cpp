// Rendering charts and documents on paged devices at the screen's scale of 96 pixels an inch.
#include "widgets/Printing.h"

#include "core/Exception.h"
#include "widgets/Chart.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <cerrno>
#include <numeric>

namespace {

// The screen's scale: what a chart and a document are laid out in before they go to paper.
constexpr int kScreenDpi = 96;

[[noreturn]] void CannotPrint(const QString& target, const QString& reason) {
    throw Exception(
        QStringLiteral("Невозможно выполнить печать на «%1».\r\nПричина: %2").arg(target, reason));
}

QString PrinterName(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat) return printer.outputFileName();
    return printer.printerName().isEmpty() ? QStringLiteral("принтер") : printer.printerName();
}

// What the system says when a PDF file cannot be written, or a plain word for a printer that refused.
QString FileReason(const QString& fileName) {
    QFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) return probe.errorString();
    return QStringLiteral("ошибка вывода");
}

// A device of the screen's scale to lay out text and measure it with.
QImage ScreenDevice() {
    QImage screen(1, 1, QImage::Format_RGB32);
    screen.setDotsPerMeterX(qRound(kScreenDpi / 0.0254));
    screen.setDotsPerMeterY(qRound(kScreenDpi / 0.0254));
    return screen;
}

// A PDF of the page set-up's paper and margins, named as the program's.
void PreparePdf(QPdfWriter& pdf, const QPageLayout& layout, const QString& title) {
    pdf.setPageLayout(layout);
    if (!title.isEmpty()) pdf.setTitle(title);
    pdf.setCreator(QStringLiteral("Зорбинка"));
}

void Begin(QPainter& painter, QPaintDevice& device, const QString& target, const QString& fileName) {
    if (painter.begin(&device)) return;
    CannotPrint(target,
                fileName.isEmpty() ? QStringLiteral("принтер не принимает задание") : FileReason(fileName));
}

void PaintCharts(QCPPainter& painter, const QRectF& area, const std::vector<TChart*>& charts) {
    if (charts.empty()) return;
    int screenHeight = 0;
    for (const TChart* chart : charts) screenHeight += std::max(1, chart->height());
    // The whole area, in the page's orientation; charts one above the other share its height as on the
    // screen.
    const double width = area.width();
    const double height = area.height();
    double top = area.top();
    for (TChart* chart : charts) {
        const double share = height * std::max(1, chart->height()) / screenHeight;
        painter.save();
        painter.translate(area.left(), top);
        painter.setMode(QCPPainter::pmVectorized);
        painter.setMode(QCPPainter::pmNoCaching);
        chart->PaintOn(painter, int(width), int(share));
        painter.restore();
        top += share;
    }
}

// A copy of the document laid out for pages of `page` (in screen pixels): tables no wider than the page,
// pictures no wider than the page.
std::unique_ptr<QTextDocument> PagedCopy(const QTextDocument& source, const QSizeF& page,
                                         QPaintDevice* screen) {
    std::unique_ptr<QTextDocument> copy(source.clone());
    copy->documentLayout()->setPaintDevice(screen);
    copy->setPageSize(page);
    const double width = page.width() - 2 * copy->documentMargin();
    // Tables with fixed column widths wider than the page are narrowed in proportion.
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        QTextTable* table = cursor.currentTable();
        if (!table) continue;
        QTextTableFormat format = table->format();
        QList<QTextLength> widths = format.columnWidthConstraints();
        double fixed = 0;
        for (const QTextLength& length : widths)
            if (length.type() == QTextLength::FixedLength) fixed += length.rawValue();
        if (fixed > width * 0.98) {
            for (QTextLength& length : widths)
                if (length.type() == QTextLength::FixedLength)
                    length = QTextLength(QTextLength::FixedLength, length.rawValue() * width * 0.98 / fixed);
            format.setColumnWidthConstraints(widths);
            table->setFormat(format);
        }
    }
    // Pictures wider than the page are scaled down to its width.
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (image.width() <= width) continue;
            image.setHeight(image.height() * width / image.width());
            image.setWidth(width);
            QTextCursor cursor(copy.get());
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
    return copy;
}

void PaintDocument(QPainter& painter, QPagedPaintDevice& device, const QTextDocument& source) {
    // The document is laid out at the screen's scale, as the reader sees it, and drawn enlarged to the
    // device.
    QImage screen = ScreenDevice();
    const double scale = double(device.logicalDpiX()) / screen.logicalDpiX();
    const QSizeF page(device.width() / scale, device.height() / scale);
    std::unique_ptr<QTextDocument> copy = PagedCopy(source, page, &screen);
    const int pages = copy->pageCount();
    for (int index = 0; index < pages; ++index) {
        if (index > 0) device.newPage();
        const QRectF clip(0, index * page.height(), page.width(), page.height());
        painter.save();
        painter.scale(scale, scale);
        painter.translate(0, -clip.top());
        painter.setClipRect(clip);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = clip;
        copy->documentLayout()->draw(&painter, context);
        painter.restore();
    }
}

// A table drawn page by page at the screen's scale: the heads at the top of every column group, as many
// groups of the table's columns side by side as the page has room for (a run's time and value take a fifth of
// a page), a table wider than the page cut into parts of whole columns.
bool PaintTable(QPainter& painter, QPagedPaintDevice& device, const tPrintedTable& table,
                const QString& title, const tPageProgress& progress) {
    QImage screen = ScreenDevice();
    const double scale = double(device.logicalDpiX()) / screen.logicalDpiX();
    const QSizeF page(device.width() / scale, device.height() / scale);
    // Sizes in the screen's pixels (9 and 12 points at 96 an inch), which the painter's scale brings to
    // paper.
    QFont font(QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(12);
    QFont bold = font;
    bold.setBold(true);
    QFont heading = bold;
    heading.setPixelSize(16);
    const QFontMetricsF metrics(font, &screen);
    const QFontMetricsF boldMetrics(bold, &screen);
    const QFontMetricsF headingMetrics(heading, &screen);

    const int rows = table.Rows();
    const int columns = table.Columns();
    constexpr double kPad = 4;
    constexpr double kGap = 18;
    // Column widths: the widest cell or word of the head (a head wraps at its spaces), at most the page; the
    // heads' band as high as the highest wrapped head.
    std::vector<double> widths(std::size_t(std::max(columns, 0)), 0.0);
    constexpr int kHeadFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    double headText = boldMetrics.height();
    for (int c = 0; c < columns; ++c) {
        double widest = 0;
        for (const QString& word : table.Head(c).split(QRegularExpression(QStringLiteral("\\s+"))))
            widest = std::max(widest, boldMetrics.horizontalAdvance(word));
        for (int r = 0; r < rows; ++r) widest = std::max(widest, metrics.horizontalAdvance(table.Cell(r, c)));
        widths[std::size_t(c)] = std::min(widest + 2 * kPad, page.width());
        const QRectF wrapped = boldMetrics.boundingRect(QRectF(0, 0, widths[std::size_t(c)] - 2 * kPad, 1e6),
                                                        kHeadFlags, table.Head(c));
        headText = std::max(headText, wrapped.height());
    }
    // Parts of whole columns, each no wider than the page.
    std::vector<std::pair<int, int>> parts;
    for (int c = 0; c < columns;) {
        int end = c;
        double used = 0;
        while (end < columns && (end == c || used + widths[std::size_t(end)] <= page.width()))
            used += widths[std::size_t(end++)];
        parts.emplace_back(c, end);
        c = end;
    }
    const double rowHeight = metrics.height() + 2 * 2;
    const double headHeight = headText + 2 * 2;
    const double top = headingMetrics.height() + 8;
    const int perGroup = std::max(1, int((page.height() - top - headHeight) / rowHeight));
    struct tPart {
        int From, To, Groups, Pages;
        double Width;
    };
    std::vector<tPart> layout;
    int pages = 0;
    for (const auto& [from, to] : parts) {
        double width = 0;
        for (int c = from; c < to; ++c) width += widths[std::size_t(c)];
        const int groups = std::max(1, int((page.width() + kGap) / (width + kGap)));
        const int partPages = std::max(1, (rows + perGroup * groups - 1) / (perGroup * groups));
        layout.push_back({from, to, groups, partPages, width});
        pages += partPages;
    }
    if (columns == 0) pages = 1;

    int done = 0;
    const auto newPage = [&] {
        if (done > 0) device.newPage();
        painter.setFont(heading);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, 0, page.width(), top - 8), Qt::AlignLeft | Qt::AlignVCenter, title);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, page.width(), top - 8), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("стр. %1 из %2").arg(done + 1).arg(pages));
    };
    painter.save();
    painter.scale(scale, scale);
    if (columns == 0) newPage();
    const QPen grid(QColor(150, 150, 150), 0.5);
    for (const tPart& part : layout) {
        for (int p = 0; p < part.Pages; ++p) {
            newPage();
            for (int g = 0; g < part.Groups; ++g) {
                const int first = (p * part.Groups + g) * perGroup;
                if (first >= rows && !(first == 0 && g == 0)) break;
                const int last = std::min(rows, first + perGroup);
                double x = g * (part.Width + kGap);
                // Heads on a light band, then the cells, with lines between the columns and under the heads.
                painter.fillRect(QRectF(x, top, part.Width, headHeight), QColor(235, 235, 235));
                painter.setPen(grid);
                painter.drawRect(QRectF(x, top, part.Width, headHeight + (last - first) * rowHeight));
                for (int c = part.From; c < part.To; ++c) {
                    const double w = widths[std::size_t(c)];
                    painter.setPen(Qt::black);
                    painter.setFont(bold);
                    painter.drawText(QRectF(x + kPad, top + 2, w - 2 * kPad, headHeight - 4), kHeadFlags,
                                     table.Head(c));
                    painter.setFont(font);
                    for (int r = first; r < last; ++r) {
                        const QRectF cell(x + kPad, top + headHeight + (r - first) * rowHeight, w - 2 * kPad,
                                          rowHeight);
                        painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                                         metrics.elidedText(table.Cell(r, c), Qt::ElideRight, cell.width()));
                    }
                    x += w;
                    if (c + 1 < part.To) {
                        painter.setPen(grid);
                        painter.drawLine(QLineF(x, top, x, top + headHeight + (last - first) * rowHeight));
                    }
                }
                painter.setPen(grid);
                const double left = g * (part.Width + kGap);
                painter.drawLine(QLineF(left, top + headHeight, left + part.Width, top + headHeight));
            }
            ++done;
            if (progress && !progress(done, pages)) {
                painter.restore();
                return false;
            }
        }
    }
    painter.restore();
    return true;
}

// Sets the device to the screen's scale for the charts and gives it back afterwards.
template <typename tDevice> class tScreenResolution {
public:
    explicit tScreenResolution(tDevice& device) : FDevice(device), FOld(device.resolution()) {
        device.setResolution(kScreenDpi);
    }
    ~tScreenResolution() { FDevice.setResolution(FOld); }

private:
    tDevice& FDevice;
    int FOld;
};

} // namespace

void PrintCharts(QPrinter& printer, const std::vector<TChart*>& charts) {
    const tScreenResolution<QPrinter> resolution(printer);
    QCPPainter painter;
    Begin(painter, printer, PrinterName(printer), printer.outputFileName());
    PaintCharts(painter, QRectF(0, 0, printer.width(), printer.height()), charts);
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        CannotPrint(PrinterName(printer), QStringLiteral("ошибка вывода"));
}

void PrintDocument(QPrinter& printer, const QTextDocument& document, const QString& title) {
    printer.setDocName(title);
    QPainter painter;
    Begin(painter, printer, PrinterName(printer), printer.outputFileName());
    PaintDocument(painter, printer, document);
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        CannotPrint(PrinterName(printer), QStringLiteral("ошибка вывода"));
}

void SaveChartsPdf(const QString& fileName, const std::vector<TChart*>& charts, const QPageLayout& layout) {
    QPdfWriter pdf(fileName);
    PreparePdf(pdf, layout, QString());
    const tScreenResolution<QPdfWriter> resolution(pdf);
    QCPPainter painter;
    Begin(painter, pdf, fileName, fileName);
    PaintCharts(painter, QRectF(0, 0, pdf.width(), pdf.height()), charts);
    painter.end();
}

void SaveDocumentPdf(const QString& fileName, const QTextDocument& document, const QString& title,
                     const QPageLayout& layout) {
    QPdfWriter pdf(fileName);
    PreparePdf(pdf, layout, title);
    QPainter painter;
    Begin(painter, pdf, fileName, fileName);
    PaintDocument(painter, pdf, document);
    painter.end();
}

bool PrintTable(QPrinter& printer, const tPrintedTable& table, const QString& title,
                const tPageProgress& progress) {
    printer.setDocName(title);
    QPainter painter;
    Begin(painter, printer, PrinterName(printer), printer.outputFileName());
    if (!PaintTable(painter, printer, table, title, progress)) {
        printer.abort();
        painter.end();
        return false;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        CannotPrint(PrinterName(printer), QStringLiteral("ошибка вывода"));
    return true;
}

bool SaveTablePdf(const QString& fileName, const tPrintedTable& table, const QString& title,
                  const QPageLayout& layout, const tPageProgress& progress) {
    bool done = false;
    {
        QPdfWriter pdf(fileName);
        PreparePdf(pdf, layout, title);
        QPainter painter;
        Begin(painter, pdf, fileName, fileName);
        done = PaintTable(painter, pdf, table, title, progress);
        painter.end();
    }
    // A cancelled export leaves no half a file behind.
    if (!done) QFile::remove(fileName);
    return done;
}
