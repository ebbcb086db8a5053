// What a long run costs in memory: eight hours of a 1 kHz sensor (28.8 million points) taken by a lesson a
// tick at a time, as a fork's values come: the bytes a point holds in the store and in the whole process.
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "ui/TablePage.h"

#include "QtBenchmarkMain.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <fstream>
#include <string>

namespace {

double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
    return 0;
}

void BM_LongRun(benchmark::State& state) {
    const int points = int(state.range(0));
    tExperiment fork;
    fork.SetDefaults();
    fork.Freq = 1000;
    fork.Average = 1;
    fork.CaptionX = QStringLiteral("t, с");
    fork.CaptionY = QStringLiteral("x, мм");
    double process = 0, store = 0;
    for (auto _ : state) {
        tLesson lesson;
        lesson.Open(fork);
        // The window's table reads the run as it grows (shown or not).
        std::unique_ptr<TTablePage> table;
        if (state.range(1)) {
            table = std::make_unique<TTablePage>();
            table->SetLesson(&lesson);
        }
        const double before = ResidentMegabytes();
        lesson.BeginRun(0);
        std::vector<double> values;
        // A tick's hundred values, each of the three decimal places the sensor sends.
        for (int i = 0; i < points; i += 100) {
            for (int k = i; k < i + 100; ++k)
                values.push_back(
                    double(std::llround(800 * std::sin(k * 0.0157) * std::exp(-(k % 6000) / 3000.0))) / 1000);
            lesson.TakeRunValues(values, false);
        }
        lesson.TakeRunValues(values, true);
        lesson.EndRun();
        const tPointSeries& run = *lesson.Run(0).Points;
        process = (ResidentMegabytes() - before) * 1048576 / run.Count();
        store = double(run.BytesHeld()) / run.Count();
    }
    state.counters["process_bytes_per_point"] = process;
    state.counters["store_bytes_per_point"] = store;
}
BENCHMARK(BM_LongRun)
    ->Args({600000, 0})
    ->Args({28800000, 0})
    ->Args({3000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
