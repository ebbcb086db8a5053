// The File commands: export the current page, print it, printer and page set-up, pictures into the report.
#include "ui/Mainfm.h"

#include "core/Prompts.h"
#include "core/TextCodec.h"
#include "experiment/Experiment.h"
#include "ui/Experimentfr.h"
#include "ui/PageOutput.h"
#include "ui/TablePage.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QPrinter>
#include <QTextDocument>

namespace {

// A long table takes a while: the window shows how far it is and can cancel.
tPageProgress TableProgress(QWidget* window) {
    return [window](int done, int pages) {
        return Prompts().Progress(window, QStringLiteral("Таблица: страница %1 из %2").arg(done).arg(pages),
                                  done, pages);
    };
}

} // namespace

void TfmMain::Export() {
    if (!Frame) return;
    using tPage = TfrExperiment::tPage;
    const tPage page = Frame->CurrentPage();
    const QString title = Experiment ? Experiment->Name : QString();
    const QPageLayout layout = FOutput->Printer().pageLayout();
    if (page == tPage::Chart) {
        FOutput->ExportCharts(this, Frame->Charts(), title, QStringLiteral("график"));
    } else if (page == tPage::Table) {
        const QString fileName =
            FOutput->AskSaveName(this, tPageOutput::TableDialog(), title, QStringLiteral("таблица"));
        if (fileName.isEmpty()) return;
        if (tPageOutput::IsPdf(fileName)) {
            SaveTablePdf(fileName, *Frame->tvTable->Printed(), title, layout, TableProgress(this));
            return;
        }
        WriteFileBytes(fileName, Frame->tvTable->CsvText());
    } else {
        const QString fileName = FOutput->AskSaveName(this, tPageOutput::PageDialog(), title,
                                                      page == tPage::Description ? QStringLiteral("описание")
                                                                                 : QStringLiteral("отчёт"));
        if (fileName.isEmpty()) return;
        TRichEdit* edit = page == tPage::Description ? Frame->reDescr : Frame->reReport;
        if (tPageOutput::IsPdf(fileName)) return SaveDocumentPdf(fileName, *edit->document(), title, layout);
        edit->SaveToFile(fileName);
    }
}

void TfmMain::Print() {
    if (!FOutput->AskPrint(this)) return;
    QPrinter& printer = FOutput->Printer();
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
        PrintTable(printer, *Frame->tvTable->Printed(), title, TableProgress(this));
    } else {
        PrintDocument(printer, *(page == tPage::Description ? Frame->reDescr : Frame->reReport)->document(),
                      title);
    }
}

void TfmMain::PrintSetup() {
    Prompts().PrinterSetupDialog(this, FOutput->Printer());
}

void TfmMain::PageSetup() {
    Prompts().PageSetupDialog(this, FOutput->Printer());
}

void TfmMain::AddImage() {
    QByteArray jpeg;
    const QImage image = FOutput->AskPicture(this, jpeg);
    if (image.isNull() || !Frame) return;
    // The picture goes through the clipboard, as a paste at the report's caret would take it.
    QApplication::clipboard()->setImage(image);
    Frame->reReport->InsertPicture(image, jpeg);
}
