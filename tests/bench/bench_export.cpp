// Long tables on paper: a run of 10⁵ points (time, value, a few labels) exported as a PDF, as the Таблица
// page exports it.
#include "runs/Runs.h"
#include "ui/TablePage.h"
#include "widgets/Printing.h"

#include "QtBenchmarkMain.h"

#include <QPageLayout>
#include <QPageSize>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_TablePdf(benchmark::State& state) {
    const int rows = int(state.range(0));
    tRunStore runs;
    auto run = std::make_shared<tRun>();
    run->CaptionX = QStringLiteral("t, с");
    run->CaptionY = QStringLiteral("I, дБ");
    run->FormatY = QStringLiteral("0.000");
    run->Period = 1000;
    for (int i = 0; i < rows; ++i)
        run->Points->Add(PointTime(i, 1000, 1), 0.8 * (i % 97) / 97.0,
                         i % 20000 == 0 ? QStringLiteral("удар") : QString());
    runs.Add(run);
    TTablePage page;
    page.Model()->SetRuns(&runs);
    QTemporaryDir dir;
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(25, 25, 25, 25),
                             QPageLayout::Millimeter);
    int pages = 0;
    for (auto _ : state) {
        SaveTablePdf(dir.filePath(QStringLiteral("table.pdf")), *page.Printed(), QStringLiteral("Звук"),
                     layout, [&](int done, int) {
                         pages = done;
                         return true;
                     });
    }
    state.counters["pages"] = pages;
}
BENCHMARK(BM_TablePdf)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
