// Long tables on paper: a run of 10⁵ points (time, value, a few labels) exported as a PDF, as the Таблица
// page exports it.
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "support/LessonSteps.h"
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
    tExperiment sound;
    sound.SetDefaults();
    sound.CaptionX = QStringLiteral("t, с");
    sound.CaptionY = QStringLiteral("I, дБ");
    sound.FormatY = QStringLiteral("0.000");
    sound.Freq = 1000;
    sound.Average = 1;
    tLesson lesson;
    lesson.Open(sound);
    lesson.BeginRun(0);
    std::vector<double> values;
    for (int i = 0; i < rows; ++i) values.push_back(0.8 * (i % 97) / 97.0);
    TakeLabelled(lesson, values,
                 [](int point) { return point % 20000 == 0 ? QStringLiteral("удар") : QString(); });
    lesson.EndRun();
    TTablePage page;
    page.SetLesson(&lesson);
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
