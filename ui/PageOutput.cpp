// SPDX-License-Identifier: GPL-3.0-or-later
// The printer, the save dialogs and their names, charts to files, pictures from files.
#include "ui/PageOutput.h"

#include "core/Exception.h"
#include "core/LocaleFormats.h"
#include "core/TextCodec.h"
#include "core/UserFolders.h"
#include "runs/Csv.h"
#include "runs/Spreadsheet.h"
#include "ui/Experimentfr.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"
#include "widgets/JpegImage.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPrinter>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace {

tFileDialogOptions SaveDialog(const QString& filter, const QString& extension) {
    return {QString(), filter + QStringLiteral(";;Все файлы (*)"), extension, QString(), QString(), false};
}

// Where a file dialog starts: the folder used last, else the user's documents (or pictures) folder.
QString StartFolder(const QString& last, QStandardPaths::StandardLocation where) {
    if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
    const QString folder = QStandardPaths::writableLocation(where);
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

// A name a teacher recognises: the experiment and the day, as «Нагревание воды 2026-12-07.bmp».
QString SuggestedName(const QString& experiment, const QString& what, const QString& extension) {
    QString name = experiment.isEmpty() ? QStringLiteral("Зорбинка") : experiment;
    if (!what.isEmpty()) name += u' ' + what;
    name += u' ' + QDate::currentDate().toString(Qt::ISODate);
    for (const QChar bad : {u'/', u'\\', u':', u'*', u'?', u'"', u'<', u'>', u'|'}) name.replace(bad, u'_');
    return name + u'.' + extension;
}

QString CannotLoad(const QString& fileName, const QString& reason) {
    return QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: %2").arg(fileName, reason);
}

// A picture file holds at most the largest picture uncompressed, 4 bytes a pixel.
constexpr qint64 kMaxPictureFileBytes = kMaxPicturePixels * 4 + 65536;

// A Windows bitmap that cannot be decoded, or declares a size beyond reason, is refused.
QImage LoadBitmap(const QString& fileName) {
    QByteArray bytes = ReadFileBytes(fileName, kMaxPictureFileBytes);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "BMP");
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPicturePixels)
        throw Exception(CannotLoad(
            fileName,
            QStringLiteral("слишком большой размер (%1x%2).").arg(size.width()).arg(size.height())));
    const QImage image = reader.read();
    if (image.isNull())
        throw Exception(CannotLoad(fileName, QStringLiteral("файл не является точечным рисунком BMP.")));
    return image;
}

} // namespace

tPageOutput::tPageOutput() = default;

tPageOutput::~tPageOutput() = default;

tFileDialogOptions tPageOutput::ChartDialog() {
    return SaveDialog(QStringLiteral("BMP-файлы (*.bmp);;PNG-файлы (*.png);;PDF-файлы (*.pdf)"),
                      QStringLiteral("bmp"));
}

tFileDialogOptions tPageOutput::PageDialog() {
    return SaveDialog(QStringLiteral("RTF-файлы (*.rtf);;PDF-файлы (*.pdf)"), QStringLiteral("rtf"));
}

static const char kWorkbookFilterText[] = "Книга Excel (*.xlsx)";

tFileDialogOptions tPageOutput::TableDialog() {
    return SaveDialog(CsvDialectFilter(tCsvDialect::SemicolonComma) + QStringLiteral(";;") +
                          CsvDialectFilter(tCsvDialect::CommaPoint) + QStringLiteral(";;") +
                          CsvDialectFilter(tCsvDialect::Tab) + QStringLiteral(";;") +
                          QString::fromUtf8(kWorkbookFilterText) +
                          QStringLiteral(";;PDF-файлы (*.pdf)"),
                      QStringLiteral("csv"));
}


bool tPageOutput::IsPdf(const QString& fileName) {
    return QFileInfo(fileName).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0;
}

QPrinter& tPageOutput::Printer() {
    if (!FPrinter) {
        FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
        FPrinter->setPageSize(QPageSize(QPageSize::A4));
        FPrinter->setPageMargins(QMarginsF(25, 25, 25, 25), QPageLayout::Millimeter);
    }
    return *FPrinter;
}

bool tPageOutput::AskPrint(QWidget* parent) {
    QPrinter& printer = Printer();
    // Without any printer the print dialog has nothing to offer: say so, and where a PDF comes from.
    if (printer.outputFileName().isEmpty() && !Prompts().PrintersInstalled()) {
        ShowWarningBox(parent,
                       QStringLiteral("В системе не установлен ни один принтер.\r\nЧтобы получить PDF-файл, "
                                      "выберите Файл → Экспорт… и тип файла «PDF-файлы»."));
        return false;
    }
    return Prompts().PrintDialog(parent, printer);
}

QString tPageOutput::AskSaveName(QWidget* parent, tFileDialogOptions options, const QString& experiment,
                                 const QString& what) {
    options.Directory = StartFolder(FLastFolder, QStandardPaths::DocumentsLocation);
    options.FileName = options.Directory + u'/' + SuggestedName(experiment, what, options.DefaultExt);
    const QString fileName = Prompts().SaveFileName(parent, options);
    if (!fileName.isEmpty()) FLastFolder = QFileInfo(fileName).absolutePath();
    return fileName;
}

void tPageOutput::ExportCharts(QWidget* parent, const std::vector<TChart*>& charts, const QString& experiment,
                               const QString& what) {
    const QString fileName = AskSaveName(parent, ChartDialog(), experiment, what);
    if (fileName.isEmpty()) return;
    if (IsPdf(fileName)) return SaveChartsPdf(fileName, charts, Printer().pageLayout());
    const bool png = QFileInfo(fileName).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0;
    QImage image = charts.front()->RenderImage().convertToFormat(QImage::Format_RGB888);
    if (!image.save(fileName, png ? "PNG" : "BMP"))
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(fileName));
}

QImage tPageOutput::AskPicture(QWidget* parent, QByteArray& jpeg) {
    tFileDialogOptions options{QString(),
                               QStringLiteral("JPG-файлы (*.jpg *.jpeg);;BMP-файлы (*.bmp);;Все файлы (*)"),
                               QStringLiteral("jpg"),
                               StartFolder(FLastPictureFolder, QStandardPaths::PicturesLocation),
                               QString(),
                               false};
    const QString fileName = Prompts().OpenFileName(parent, options);
    if (fileName.isEmpty()) return QImage();
    FLastPictureFolder = QFileInfo(fileName).absolutePath();
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QStringLiteral("bmp")) return LoadBitmap(fileName);
    if (suffix != QStringLiteral("jpg") && suffix != QStringLiteral("jpeg"))
        throw Exception(CannotLoad(fileName, QStringLiteral("неизвестный формат рисунка.")));
    jpeg = ReadFileBytes(fileName, kMaxPictureFileBytes);
    QString error;
    const QImage image = DecodeJpeg(jpeg, &error);
    if (image.isNull()) throw Exception(CannotLoad(fileName, error + u'.'));
    return image;
}

namespace {

// A long table takes a while: the window shows how far it is and can cancel.
tPageProgress TableProgress(QWidget* window) {
    return [window](int done, int pages) {
        return Prompts().Progress(window, QStringLiteral("Таблица: страница %1 из %2").arg(done).arg(pages),
                                  done, pages);
    };
}

} // namespace

namespace {

// The table's last type of file, kept for the next time.
QString TableFilterKept() {
    const QSettings state(UserStateFile(QStringLiteral("export.ini")), QSettings::IniFormat);
    return state.value(QStringLiteral("TableFilter")).toString();
}

void KeepTableFilter(const QString& filter) {
    QSettings(UserStateFile(QStringLiteral("export.ini")), QSettings::IniFormat)
        .setValue(QStringLiteral("TableFilter"), filter);
}

} // namespace

void tPageOutput::ExportTable(QWidget* parent, const TTablePage& table, const QString& title,
                              const QString& chosenBefore) {
    tFileDialogOptions options = TableDialog();
    // Where nothing was chosen yet: the dialect the system's settings read.
    QString chosen = !chosenBefore.isEmpty() ? chosenBefore
                     : CsvSeparator(SystemDecimalSeparator()) == u';'
                         ? CsvDialectFilter(tCsvDialect::SemicolonComma)
                         : CsvDialectFilter(tCsvDialect::CommaPoint);
    options.Chosen = &chosen;
    const QRegularExpressionMatch extension = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(chosen);
    if (extension.hasMatch()) options.DefaultExt = extension.captured(1);
    const QString fileName = AskSaveName(parent, options, title, QStringLiteral("таблица"));
    if (fileName.isEmpty()) return;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    // A name typed with another type's extension is that type, for this time and the next.
    if (!chosen.contains(QStringLiteral("*.") + suffix))
        for (const QString& filter : TableDialog().Filter.split(QStringLiteral(";;")))
            if (filter.contains(QStringLiteral("(*.") + suffix + u')')) {
                chosen = filter;
                break;
            }
    KeepTableFilter(chosen);
    if (IsPdf(fileName)) {
        SaveTablePdf(fileName, *table.Printed(), title, Printer().pageLayout(), TableProgress(parent));
        return;
    }
    if (suffix == QStringLiteral("xlsx")) return WriteWorkbook(fileName, table.Sheet(), title);
    // The dialect chosen; a name ending in .txt is the tab's whatever was chosen.
    std::optional<tCsvDialect> dialect;
    for (const tCsvDialect d : {tCsvDialect::SemicolonComma, tCsvDialect::CommaPoint, tCsvDialect::Tab})
        if (chosen == CsvDialectFilter(d)) dialect = d;
    if (suffix == QStringLiteral("txt")) dialect = tCsvDialect::Tab;
    WriteFileBytes(fileName, table.CsvText(dialect));
}

void tPageOutput::ExportPage(QWidget* parent, TfrExperiment& frame, const QString& title) {
    using tPage = TfrExperiment::tPage;
    const tPage page = frame.CurrentPage();
    const QPageLayout layout = Printer().pageLayout();
    if (page == tPage::Chart) {
        ExportCharts(parent, frame.Charts(), title, QStringLiteral("график"));
    } else if (page == tPage::Table) {
        ExportTable(parent, *frame.tvTable, title, TableFilterKept());
    } else {
        const QString fileName =
            AskSaveName(parent, PageDialog(), title,
                        page == tPage::Description ? QStringLiteral("описание") : QStringLiteral("отчёт"));
        if (fileName.isEmpty()) return;
        TRichEdit* edit = page == tPage::Description ? frame.reDescr : frame.reReport;
        if (IsPdf(fileName)) return SaveDocumentPdf(fileName, *edit->document(), title, layout);
        edit->SaveToFile(fileName);
    }
}

void tPageOutput::PrintPage(QWidget* parent, TfrExperiment* frame, const QString& title) {
    if (!AskPrint(parent)) return;
    QPrinter& printer = Printer();
    if (!frame) {
        ShowWarningBox(parent,
                       QStringLiteral("Печатать нечего: выберите эксперимент или откройте сохранённую "
                                      "работу, и на печать пойдёт страница, которая видна в окне."));
        return;
    }
    using tPage = TfrExperiment::tPage;
    const tPage page = frame->CurrentPage();
    // The job is named in the printer's queue.
    printer.setDocName(title);
    if (page == tPage::Chart) {
        PrintCharts(printer, frame->Charts());
    } else if (page == tPage::Table) {
        PrintTable(printer, *frame->tvTable->Printed(), title, TableProgress(parent));
    } else {
        PrintDocument(printer, *(page == tPage::Description ? frame->reDescr : frame->reReport)->document(),
                      title);
    }
}
