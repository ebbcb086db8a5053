// The File commands: export the current page, print it, printer and page set-up, pictures into the report.
#include "ui/Mainfm.h"

#include "core/Prompts.h"
#include "experiment/Experiment.h"
#include "ui/Experimentfr.h"
#include "ui/PageOutput.h"
#include "widgets/RichEdit.h"

#include <QApplication>
#include <QClipboard>

void TfmMain::Export() {
    if (Frame) FOutput->ExportPage(this, *Frame, Experiment ? Experiment->Name : QString());
}

void TfmMain::Print() {
    FOutput->PrintPage(this, Frame, Experiment ? Experiment->Name : QString());
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
