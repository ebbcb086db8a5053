// SPDX-License-Identifier: GPL-3.0-or-later
// Where pages go: the printer with the page set-up the user made, save dialogs that start where the user
// saved last with a name a teacher recognises, charts to a picture or a PDF, pictures read for the report.
#pragma once

#include "core/Prompts.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>
#include <vector>

class QPrinter;
class QWidget;
class TChart;
class TfrExperiment;
class TTablePage;

class tPageOutput {
public:
    tPageOutput();
    ~tPageOutput();

    // The printer the File commands use: A4 with 25 mm margins until the user sets otherwise.
    QPrinter& Printer();
    // The print dialog over `parent`, after checking there is a printer to print on; false when nothing is to
    // be printed.
    bool AskPrint(QWidget* parent);
    // The save dialog for `options` over `parent`, with a name made of `experiment`, `what` is saved and the
    // day; empty when cancelled.
    QString AskSaveName(QWidget* parent, tFileDialogOptions options, const QString& experiment,
                        const QString& what);
    // The charts to a picture (the first of them) or a PDF page, as the user chooses.
    void ExportCharts(QWidget* parent, const std::vector<TChart*>& charts, const QString& experiment,
                      const QString& what);
    // The page `frame` shows (the chart, the table, the description or the report) exported to a file the
    // user names, in the format the name says; `experiment` names it.
    void ExportPage(QWidget* parent, TfrExperiment& frame, const QString& experiment);
    // The page printed, after the print dialog; without a frame the user is told there is nothing to print.
    void PrintPage(QWidget* parent, TfrExperiment* frame, const QString& experiment);
    // A JPEG or BMP picture chosen by the user, read (the JPEG's own bytes in `jpeg`); a null image when
    // cancelled; raises with the reason when it cannot be read.
    QImage AskPicture(QWidget* parent, QByteArray& jpeg);

    // The save dialogs of the pages: the page's own format first and by default.
    static tFileDialogOptions ChartDialog();
    static tFileDialogOptions PageDialog();
    static tFileDialogOptions TableDialog();
    // The table saved as the user chooses: CSV in a dialect, tab-separated text, an Excel workbook or PDF;
    // `chosen` the type offered first (the one chosen last time, kept per user).
    void ExportTable(QWidget* parent, const TTablePage& table, const QString& title, const QString& chosen);
    static bool IsPdf(const QString& fileName);

private:
    std::unique_ptr<QPrinter> FPrinter;
    // The folders the dialogs used last in this program run.
    QString FLastFolder;
    QString FLastPictureFolder;
};
