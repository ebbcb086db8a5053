// The Анализ menu: a region of the current run analysed, its result drawn on the chart, kept in the work
// folder and sent to the report.
#include "ui/Mainfm.h"

#include "core/Exception.h"
#include "core/TextCodec.h"
#include "experiment/Experiment.h"
#include "ui/Experimentfr.h"
#include "ui/SpectrumWindow.h"
#include "widgets/Chart.h"
#include "widgets/Printing.h"
#include "widgets/RichEdit.h"

#include <QAction>
#include <QMenu>
#include <QTextCursor>
#include <QTextTable>
#include <cmath>

void TfmMain::CreateAnalysisActions() {
    mnAnalysis = new QMenu(QStringLiteral("&Анализ"), this);
    const auto make = [this](const QString& text, const QString& hint) {
        auto* action = new QAction(text, this);
        action->setStatusTip(hint);
        action->setToolTip(hint);
        return action;
    };
    acAnalysisStatistics =
        make(QStringLiteral("&Статистика"),
             QStringLiteral("Среднее, отклонение, наименьшее и наибольшее значение между маркерами"));
    acAnalysisSlope = make(QStringLiteral("&Касательная"), QStringLiteral("Наклон кривой в точке маркера"));
    acAnalysisArea =
        make(QStringLiteral("&Площадь под кривой"), QStringLiteral("Площадь под кривой между маркерами"));
    acAnalysisSpectrum = make(QStringLiteral("С&пектр"), QStringLiteral("Частота колебаний между маркерами"));
    acAnalysisToReport =
        make(QStringLiteral("В &отчёт"), QStringLiteral("Добавить последний результат в таблицу отчёта"));
    acAnalysisClear =
        make(QStringLiteral("&Убрать результаты"), QStringLiteral("Убрать результаты анализа с графика"));
    mnAnalysisFit = new QMenu(QStringLiteral("Подбор &кривой"), mnAnalysis);
    for (const tFitModel model : kFitModels) {
        QAction* action =
            make(FitModelName(model) + QStringLiteral("\t") + FitModelFormula(model),
                 QStringLiteral("Подобрать кривую %1 между маркерами").arg(FitModelFormula(model)));
        acAnalysisFit[std::size_t(model)] = action;
        connect(action, &QAction::triggered, this,
                [this, model] { Guarded([this, model] { Analyse(tAnalysisKind::Fit, model); }); });
    }
    // The fit the experiment names comes first.
    connect(mnAnalysisFit, &QMenu::aboutToShow, this, [this] {
        for (QAction* action : acAnalysisFit) mnAnalysisFit->removeAction(action);
        std::vector<QAction*> order(acAnalysisFit.begin(), acAnalysisFit.end());
        if (Experiment && Experiment->SuggestedFit)
            std::stable_partition(order.begin(), order.end(), [this](QAction* a) {
                return a == acAnalysisFit[std::size_t(*Experiment->SuggestedFit)];
            });
        for (QAction* action : order) mnAnalysisFit->addAction(action);
    });
    for (QAction* action : acAnalysisFit) mnAnalysisFit->addAction(action);
    const auto kind = [this](QAction* action, tAnalysisKind k) {
        connect(action, &QAction::triggered, this, [this, k] { Guarded([this, k] { Analyse(k); }); });
    };
    kind(acAnalysisStatistics, tAnalysisKind::Statistics);
    kind(acAnalysisSlope, tAnalysisKind::Slope);
    kind(acAnalysisArea, tAnalysisKind::Area);
    kind(acAnalysisSpectrum, tAnalysisKind::Spectrum);
    connect(acAnalysisToReport, &QAction::triggered, this, [this] { Guarded([this] { ResultToReport(); }); });
    connect(acAnalysisClear, &QAction::triggered, this, [this] { Guarded([this] { ClearResults(); }); });
    mnAnalysis->addAction(acAnalysisStatistics);
    mnAnalysis->addAction(acAnalysisSlope);
    mnAnalysis->addAction(acAnalysisArea);
    mnAnalysis->addMenu(mnAnalysisFit);
    mnAnalysis->addAction(acAnalysisSpectrum);
    mnAnalysis->addSeparator();
    mnAnalysis->addAction(acAnalysisToReport);
    mnAnalysis->addAction(acAnalysisClear);
    for (QAction* action : mnAnalysis->actions()) addAction(action);
}

void TfmMain::Analyse(tAnalysisKind kind, tFitModel model) {
    if (!Frame || !mnAnalysis->menuAction()->isEnabled()) return;
    TChart* chart = Frame->chMain;
    if (Frame->ActiveSeries >= chart->SeriesCount()) return;
    // Markers stand on the main chart's line; the values analysed may be another line's over the same time
    // (the pulse frame's beat rate).
    const tFastLine* line = chart->Series(Frame->ActiveSeries);
    QString quantity;
    const tFastLine* values = Frame->AnalysedLine(kind, quantity);
    std::vector<double> x, y;
    x.reserve(std::size_t(values->Count()));
    y.reserve(std::size_t(values->Count()));
    for (int i = 0; i < values->Count(); ++i) {
        x.push_back(values->X(i));
        y.push_back(values->Y(i));
    }
    // The region: the one swept with Shift, else between the two markers, else the part of the chart shown; a
    // tangent at the marker.
    const auto markerX = [&](int index) {
        return index >= 0 && index < line->Count() ? line->X(index) : NAN;
    };
    double from = chart->BottomRange().lower;
    double to = chart->BottomRange().upper;
    if (Frame->Region) {
        from = Frame->Region->first;
        to = Frame->Region->second;
    } else if (std::isfinite(markerX(chart->Marker)) && std::isfinite(markerX(chart->SecondMarker))) {
        from = markerX(chart->Marker);
        to = markerX(chart->SecondMarker);
    }
    if (kind == tAnalysisKind::Slope) {
        if (!std::isfinite(markerX(chart->Marker)))
            throw Exception(
                QStringLiteral("Поставьте маркер на точку кривой (щелчок по графику): касательная "
                               "проводится в точке маркера."));
        from = to = markerX(chart->Marker);
    }
    tAnalysisResult result = ::Analyse(kind, model, x, y, from, to);
    if (!result.Ok) throw Exception(result.Error);
    result.Quantity = quantity;
    // The run analysed: the one chosen in the runs panel (the newest unless another was chosen).
    const int chosen = Runs.Chosen();
    result.Run = chosen < 0 ? 1 : Runs.Run(chosen).Number > 0 ? Runs.Run(chosen).Number : chosen + 1;
    const int shown = int(Frame->Results.size());
    result.Box = QPointF(0.55, 0.03 + 0.24 * (shown % 4));
    Frame->Results.push_back(result);
    chart->replot();
    SaveAnalysis();
    if (kind == tAnalysisKind::Spectrum) ShowSpectrum(result, x, y);
}

void TfmMain::ShowSpectrum(const tAnalysisResult& result, std::span<const double> x,
                           std::span<const double> y) {
    const auto first = std::lower_bound(x.begin(), x.end(), result.From);
    const auto last = std::upper_bound(first, x.end(), result.To);
    const std::span<const double> rx(first, last);
    const std::span<const double> ry = y.subspan(std::size_t(first - x.begin()), rx.size());
    if (!fmSpectrum) {
        fmSpectrum = new TfmSpectrum(this);
        fmSpectrum->OnPrint = [this] {
            Guarded([this] {
                if (AskPrint(fmSpectrum)) PrintCharts(Printer(), {fmSpectrum->Chart()});
            });
        };
        fmSpectrum->OnExport = [this] {
            Guarded([this] { ExportCharts({fmSpectrum->Chart()}, QStringLiteral("спектр"), fmSpectrum); });
        };
    }
    TChart* chart = Frame->chMain;
    fmSpectrum->Show(TimedSpectrum(rx, ry), Frame->QuantityOf(result),
                     QStringLiteral("опыт %1, ").arg(result.Run) + RegionText(result, chart->BottomTitle()));
}

void TfmMain::ResultToReport() {
    if (!Frame || Frame->Results.empty()) throw Exception(QStringLiteral("Результатов анализа ещё нет."));
    const tAnalysisResult& r = Frame->Results.back();
    TChart* chart = Frame->chMain;
    QStringList lines = ResultLines(r, chart->BottomTitle(), Frame->QuantityOf(r));
    const QString what = lines.takeFirst();
    // The report's table of results: made at its end the first time, a row more each time after.
    QTextDocument* report = Frame->reReport->document();
    QTextCursor cursor(report);
    cursor.movePosition(QTextCursor::End);
    QTextTable* table = cursor.currentTable();
    if (!table && cursor.block().previous().isValid()) {
        QTextCursor before(cursor.block().previous());
        table = before.currentTable();
    }
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
    table->cellAt(row, 1).firstCursorPosition().insertText(QStringLiteral("опыт %1, ").arg(r.Run) +
                                                           RegionText(r, chart->BottomTitle()));
    QTextCursor values = table->cellAt(row, 2).firstCursorPosition();
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) values.insertBlock();
        values.insertText(lines[i], plain);
    }
    Frame->ShowPage(TfrExperiment::tPage::Report);
    SaveReport();
}

void TfmMain::ClearResults() {
    if (!Frame) return;
    Frame->Results.clear();
    Frame->chMain->replot();
    SaveAnalysis();
}

void TfmMain::SaveAnalysis() {
    if (!Frame) return;
    QStringList lines;
    for (const tAnalysisResult& r : Frame->Results) lines << EncodeResult(r);
    EnsureWork().SaveAnalysis(lines);
}

void TfmMain::LoadAnalysis(const QString& folder) {
    if (!Frame) return;
    Frame->Results.clear();
    try {
        const QByteArray bytes = ReadFileBytes(folder + u'/' + QString::fromLatin1(kAnalysisFile), 1 << 20);
        for (const QString& line : SplitTextLines(DecodeTextFile(bytes)))
            if (const std::optional<tAnalysisResult> r = DecodeResult(line.trimmed()))
                Frame->Results.push_back(*r);
    } catch (const Exception&) {
        // No results kept (or none readable): the chart shows none.
    }
    Frame->chMain->replot();
}
