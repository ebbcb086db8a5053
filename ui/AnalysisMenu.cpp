// SPDX-License-Identifier: GPL-3.0-or-later
// The Анализ menu's commands, the report's table of results and the spectrum window.
#include "ui/AnalysisMenu.h"

#include "analysis/Results.h"
#include "analysis/Spectrum.h"
#include "core/Exception.h"
#include "core/Prompts.h"
#include "lesson/Lesson.h"
#include "ui/Experimentfr.h"
#include "ui/OffThread.h"
#include "ui/PageOutput.h"
#include "ui/SpectrumWindow.h"
#include "widgets/Chart.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>

namespace {

// The report's table of results: made at its end the first time, a row more each time after.
void AppendResultRow(QTextDocument& report, const QString& what, const QString& region,
                     const QStringList& values) {
    QTextCursor cursor(&report);
    cursor.movePosition(QTextCursor::End);
    QTextTable* table = cursor.currentTable();
    if (!table && cursor.block().previous().isValid())
        table = QTextCursor(cursor.block().previous()).currentTable();
    if (!table || table->columns() != 3 ||
        table->cellAt(0, 0).firstCursorPosition().block().text() != QStringLiteral("Что")) {
        cursor.insertBlock();
        QTextTableFormat format;
        format.setCellPadding(3);
        format.setBorder(0.5);
        format.setHeaderRowCount(1);
        table = cursor.insertTable(1, 3, format);
        const QStringList heads{QStringLiteral("Что"), QStringLiteral("Область"), QStringLiteral("Значения")};
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        for (int c = 0; c < 3; ++c) table->cellAt(0, c).firstCursorPosition().insertText(heads[c], bold);
    }
    table->appendRows(1);
    const int row = table->rows() - 1;
    const QTextCharFormat plain;
    table->cellAt(row, 0).firstCursorPosition().insertText(what, plain);
    table->cellAt(row, 1).firstCursorPosition().insertText(region, plain);
    QTextCursor cell = table->cellAt(row, 2).firstCursorPosition();
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0) cell.insertBlock();
        cell.insertText(values[i], plain);
    }
}

} // namespace

TAnalysisMenu::TAnalysisMenu(QWidget* window, tLesson& lesson, std::function<TfrExperiment*()> frame,
                             tPageOutput& output)
    : QMenu(QStringLiteral("&Анализ"), window), FLesson(lesson), FFrame(std::move(frame)), FOutput(output) {
    setObjectName(QStringLiteral("mnAnalysis"));
    for (const tAnalysisKindInfo& kind : AnalysisKinds()) {
        const tAnalysisKind k = kind.Kind;
        const QString key = QString::fromLatin1(kind.Key);
        if (k != tAnalysisKind::Fit) {
            addAction(Command(QStringLiteral("acAnalysis") + key, QString::fromUtf8(kind.Caption),
                              QString::fromUtf8(kind.Hint), [this, k] { Analyse(k); }));
            continue;
        }
        // A fit: one command a model.
        mnFit = addMenu(QString::fromUtf8(kind.Caption));
        mnFit->setObjectName(QStringLiteral("mnAnalysisFit"));
        for (const tFitModel model : FitModels())
            FFits.emplace_back(
                model,
                Command(QStringLiteral("acAnalysisFit") + FitModelKey(model),
                        FitModelName(model) + u'\t' + FitModelFormula(model),
                        QStringLiteral("Подобрать кривую %1 между маркерами").arg(FitModelFormula(model)),
                        [this, model] { Analyse(tAnalysisKind::Fit, model); }));
        // The fit the experiment names comes first.
        connect(mnFit, &QMenu::aboutToShow, this, [this] {
            std::vector<std::pair<tFitModel, QAction*>> order = FFits;
            if (const std::optional<tFitModel> own = FLesson.Experiment().SuggestedFit)
                std::stable_partition(order.begin(), order.end(),
                                      [&](const auto& fit) { return fit.first == *own; });
            mnFit->clear();
            for (const auto& [model, action] : order) mnFit->addAction(action);
        });
        for (const auto& [model, action] : FFits) mnFit->addAction(action);
    }
    addSeparator();
    addAction(Command(QStringLiteral("acAnalysisToReport"), QStringLiteral("В &отчёт"),
                      QStringLiteral("Добавить последний результат в таблицу отчёта"),
                      [this] { ResultToReport(); }));
    addAction(Command(QStringLiteral("acAnalysisClear"), QStringLiteral("&Убрать результаты"),
                      QStringLiteral("Убрать результаты анализа с графика"),
                      [this] { FLesson.ClearResults(); }));
    connect(&lesson, &tLesson::opened, this, [this] {
        if (fmSpectrum) fmSpectrum->hide();
    });
}

QAction* TAnalysisMenu::Command(const QString& name, const QString& caption, const QString& hint,
                                const std::function<void()>& command) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setToolTip(hint);
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(parentWidget(), command); });
    // The window sees the commands' hints and shortcuts.
    parentWidget()->addAction(action);
    return action;
}

void TAnalysisMenu::Analyse(tAnalysisKind kind, tFitModel model) {
    TfrExperiment* frame = FFrame();
    if (!frame || !menuAction()->isEnabled()) return;
    const auto [from, to] = frame->AnalysisRegion(kind);
    // Off the window's thread, on a copy of the points: the window goes on (a run may even be measured), a
    // long analysis shows how far it got and can be cancelled.
    tAnalysisJob job = FLesson.PrepareAnalysis(kind, model, from, to);
    tProgress progress(
        parentWidget(),
        QStringLiteral("Анализ: %1…").arg(QString::fromUtf8(KindInfo(kind).Caption).remove(u'&')));
    RunOffThread([&] { job.Run([&](int done, int total) { return progress.Told(done, total); }); },
                 [&] { progress.Show(); }, true);
    progress.Finish();
    if (progress.Cancelled()) return;
    const tAnalysisResult& result = FLesson.AddResult(job);
    if (kind == tAnalysisKind::Spectrum) ShowSpectrum(result, job.Spectrum);
}

void TAnalysisMenu::ResultToReport() {
    TfrExperiment* frame = FFrame();
    if (!frame || FLesson.ResultCount() == 0) throw Exception(QStringLiteral("Результатов анализа ещё нет."));
    const tAnalysisResult& r = FLesson.Result(FLesson.ResultCount() - 1);
    const QString captionX = FLesson.Experiment().CaptionX;
    QStringList lines = ResultLines(r, captionX, FLesson.QuantityOf(r));
    const QString what = lines.takeFirst();
    if (frame->reReport->ShowsPlaceholder()) frame->reReport->clear();
    AppendResultRow(*frame->reReport->document(), what,
                    QStringLiteral("опыт %1, ").arg(r.Run) + RegionText(r, captionX), lines);
    // Leaving the chart page saves the report.
    frame->ShowPage(TfrExperiment::tPage::Report);
}

void TAnalysisMenu::ShowSpectrum(const tAnalysisResult& result, const tSpectrum& spectrum) {
    if (!fmSpectrum) {
        fmSpectrum = new TfmSpectrum(parentWidget());
        fmSpectrum->setObjectName(QStringLiteral("fmSpectrum"));
        fmSpectrum->OnPrint = [this] {
            RunCommand(fmSpectrum, [this] {
                if (FOutput.AskPrint(fmSpectrum)) PrintCharts(FOutput.Printer(), {fmSpectrum->Chart()});
            });
        };
        fmSpectrum->OnExport = [this] {
            RunCommand(fmSpectrum, [this] {
                FOutput.ExportCharts(fmSpectrum, {fmSpectrum->Chart()}, FLesson.Experiment().Name,
                                     QStringLiteral("спектр"));
            });
        };
    }
    fmSpectrum->Show(spectrum, FLesson.QuantityOf(result),
                     QStringLiteral("опыт %1, ").arg(result.Run) +
                         RegionText(result, FLesson.Experiment().CaptionX),
                     PeakText(result));
}
