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
#include "widgets/RichEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QPrinter>

namespace {

tFileDialogOptions BmpDialog() {
    return {QString(),
            QStringLiteral("BMP-файлы (*.bmp);;Все файлы (*)"),
            QStringLiteral("bmp"),
            QString(),
            QString(),
            false};
}

tFileDialogOptions CsvDialog() {
    return {QString(),
            QStringLiteral("CSV-файлы (*.csv);;Все файлы (*)"),
            QStringLiteral("csv"),
            QString(),
            QString(),
            false};
}

tFileDialogOptions RtfDialog() {
    return {QString(),
            QStringLiteral("RTF-файлы (*.rtf);;Все файлы (*)"),
            QStringLiteral("rtf"),
            QString(),
            QString(),
            false};
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

void TfmMain::Export() {
    if (!Frame) return;
    using tPage = TfrExperiment::tPage;
    const tPage page = Frame->CurrentPage();
    if (page == tPage::Chart) {
        const QString fileName = Prompts().SaveFileName(this, BmpDialog());
        if (fileName.isEmpty()) return;
        QImage image = Frame->chMain->RenderImage().convertToFormat(QImage::Format_RGB888);
        if (!image.save(fileName, "BMP"))
            throw Exception(QStringLiteral("Невозможно создать файл \"%1\".").arg(fileName));
    } else if (page == tPage::Table) {
        const QString fileName = Prompts().SaveFileName(this, CsvDialog());
        if (fileName.isEmpty()) return;
        WriteFileBytes(fileName, Frame->tvTable->CsvText());
    } else {
        const QString fileName = Prompts().SaveFileName(this, RtfDialog());
        if (fileName.isEmpty()) return;
        (page == tPage::Description ? Frame->reDescr : Frame->reReport)->SaveToFile(fileName);
    }
}

void TfmMain::Print() {
    QPrinter& printer = Printer();
    if (!Prompts().PrintDialog(this, printer)) return;
    if (!Frame) return;
    using tPage = TfrExperiment::tPage;
    const tPage page = Frame->CurrentPage();
    const QString title = Experiment ? Experiment->Name : QString();
    if (page == tPage::Chart)
        Frame->chMain->PrintPage(printer);
    else if (page == tPage::Description)
        Frame->reDescr->PrintDocument(title, printer);
    else if (page == tPage::Report)
        Frame->reReport->PrintDocument(title, printer);
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
                               QString(),
                               QString(),
                               false};
    const QString fileName = Prompts().OpenFileName(this, options);
    if (fileName.isEmpty() || !Frame) return;
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
