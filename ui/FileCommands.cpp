// The File commands: export the current page, print it, printer and page set-up, pictures into the report.
#include "ui/Mainfm.h"

#include "core/Exception.h"
#include "core/Prompts.h"
#include "core/TextCodec.h"
#include "experiment/Experiment.h"
#include "ui/Experimentfr.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"
#include "widgets/JpegImage.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QPrinter>
#include <QStandardPaths>
#include <QTextDocument>

namespace {

// The page's own format first and by default; the others are chosen by their filter or the name's extension.
tFileDialogOptions SaveDialog(const QString& filter, const QString& extension) {
    return {QString(), filter + QStringLiteral(";;Все файлы (*)"), extension, QString(), QString(), false};
}

tFileDialogOptions ChartDialog() {
    return SaveDialog(QStringLiteral("BMP-файлы (*.bmp);;PNG-файлы (*.png);;PDF-файлы (*.pdf)"),
                      QStringLiteral("bmp"));
}

tFileDialogOptions PageDialog() {
    return SaveDialog(QStringLiteral("RTF-файлы (*.rtf);;PDF-файлы (*.pdf)"), QStringLiteral("rtf"));
}

tFileDialogOptions TableDialog() {
    return SaveDialog(QStringLiteral("CSV-файлы (*.csv);;PDF-файлы (*.pdf)"), QStringLiteral("csv"));
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

bool IsPdf(const QString& fileName) {
    return QFileInfo(fileName).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0;
}

// A Windows bitmap that cannot be decoded, or declares a size beyond reason, is refused.
QImage LoadBitmap(const QString& fileName) {
    QImageReader reader(fileName, "BMP");
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPicturePixels)
        throw Exception(
            QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: слишком большой размер "
                           "(%2x%3).")
                .arg(fileName)
                .arg(size.width())
                .arg(size.height()));
    const QImage image = reader.read();
    if (image.isNull())
        throw Exception(
            QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: файл не является "
                           "точечным рисунком BMP.")
                .arg(fileName));
    return image;
}

} // namespace

QString TfmMain::AskSaveName(tFileDialogOptions options, const QString& what, QWidget* parent) {
    options.Directory = StartFolder(FLastFolder, QStandardPaths::DocumentsLocation);
    options.FileName = options.Directory + u'/' +
                       SuggestedName(Experiment ? Experiment->Name : QString(), what, options.DefaultExt);
    const QString fileName = Prompts().SaveFileName(parent ? parent : this, options);
    if (!fileName.isEmpty()) FLastFolder = QFileInfo(fileName).absolutePath();
    return fileName;
}

tPageProgress TfmMain::TableProgress() {
    // A long table takes a while: the window shows how far it is and can cancel.
    return [this](int done, int pages) {
        return Prompts().Progress(this, QStringLiteral("Таблица: страница %1 из %2").arg(done).arg(pages),
                                  done, pages);
    };
}

void TfmMain::Export() {
    if (!Frame) return;
    using tPage = TfrExperiment::tPage;
    const tPage page = Frame->CurrentPage();
    const QString title = Experiment ? Experiment->Name : QString();
    const QPageLayout layout = Printer().pageLayout();
    if (page == tPage::Chart) {
        ExportCharts(Frame->Charts(), QStringLiteral("график"));
    } else if (page == tPage::Table) {
        const QString fileName = AskSaveName(TableDialog(), QStringLiteral("таблица"));
        if (fileName.isEmpty()) return;
        if (IsPdf(fileName)) {
            SaveTablePdf(fileName, *Frame->tvTable->Printed(), title, layout, TableProgress());
            return;
        }
        WriteFileBytes(fileName, Frame->tvTable->CsvText());
    } else {
        const QString fileName = AskSaveName(
            PageDialog(), page == tPage::Description ? QStringLiteral("описание") : QStringLiteral("отчёт"));
        if (fileName.isEmpty()) return;
        TRichEdit* edit = page == tPage::Description ? Frame->reDescr : Frame->reReport;
        if (IsPdf(fileName)) return SaveDocumentPdf(fileName, *edit->document(), title, layout);
        edit->SaveToFile(fileName);
    }
}

void TfmMain::ExportCharts(const std::vector<TChart*>& charts, const QString& what, QWidget* parent) {
    const QString fileName = AskSaveName(ChartDialog(), what, parent);
    if (fileName.isEmpty()) return;
    if (IsPdf(fileName)) return SaveChartsPdf(fileName, charts, Printer().pageLayout());
    const bool png = QFileInfo(fileName).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0;
    QImage image = charts.front()->RenderImage().convertToFormat(QImage::Format_RGB888);
    if (!image.save(fileName, png ? "PNG" : "BMP"))
        throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(fileName));
}

bool TfmMain::AskPrint(QWidget* parent) {
    QPrinter& printer = Printer();
    // Without any printer the print dialog has nothing to offer: say so, and where a PDF comes from.
    if (printer.outputFileName().isEmpty() && !PrintersInstalled()) {
        ShowWarningBox(parent,
                       QStringLiteral("В системе не установлен ни один принтер.\r\nЧтобы получить PDF-файл, "
                                      "выберите Файл → Экспорт… и тип файла «PDF-файлы»."));
        return false;
    }
    return Prompts().PrintDialog(parent, printer);
}

void TfmMain::Print() {
    if (!AskPrint(this)) return;
    QPrinter& printer = Printer();
    if (!Frame) {
        ShowWarningBox(this, QStringLiteral("Печатать нечего: выберите эксперимент или откройте сохранённую "
                                            "работу, и на печать пойдёт страница, которая видна в окне."));
        return;
    }
    using tPage = TfrExperiment::tPage;
    const tPage page = Frame->CurrentPage();
    const QString title = Experiment ? Experiment->Name : QString();
    // The job is named in the printer's queue.
    printer.setDocName(title);
    if (page == tPage::Chart) {
        PrintCharts(printer, Frame->Charts());
    } else if (page == tPage::Table) {
        PrintTable(printer, *Frame->tvTable->Printed(), title, TableProgress());
    } else {
        PrintDocument(printer, *(page == tPage::Description ? Frame->reDescr : Frame->reReport)->document(),
                      title);
    }
}

void TfmMain::PrintSetup() {
    Prompts().PrinterSetupDialog(this, Printer());
}

void TfmMain::PageSetup() {
    Prompts().PageSetupDialog(this, Printer());
}

void TfmMain::AddImage() {
    tFileDialogOptions options{QString(),
                               QStringLiteral("JPG-файлы (*.jpg *.jpeg);;BMP-файлы (*.bmp);;Все файлы (*)"),
                               QStringLiteral("jpg"),
                               StartFolder(FLastPictureFolder, QStandardPaths::PicturesLocation),
                               QString(),
                               false};
    const QString fileName = Prompts().OpenFileName(this, options);
    if (fileName.isEmpty() || !Frame) return;
    FLastPictureFolder = QFileInfo(fileName).absolutePath();
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    QImage image;
    QByteArray jpeg;
    if (suffix == QStringLiteral("jpg") || suffix == QStringLiteral("jpeg")) {
        jpeg = ReadFileBytes(fileName);
        QString error;
        image = DecodeJpeg(jpeg, &error);
        if (image.isNull())
            throw Exception(QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: %2.")
                                .arg(fileName, error));
    } else if (suffix == QStringLiteral("bmp")) {
        image = LoadBitmap(fileName);
    } else {
        throw Exception(
            QStringLiteral("Невозможно загрузить изображение \"%1\".\r\nПричина: неизвестный формат "
                           "рисунка.")
                .arg(fileName));
    }
    // The picture goes through the clipboard, as a paste at the report's caret would take it.
    QApplication::clipboard()->setImage(image);
    Frame->reReport->InsertPicture(image, jpeg);
}
