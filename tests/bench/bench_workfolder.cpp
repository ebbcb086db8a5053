// Opening a saved work: a run of 10⁷ points read back from its CSV file, with the memory it takes beyond the
// points held (the peak of the process while reading, over the points' own bytes).
#include "runs/WorkFolder.h"

#include <QCoreApplication>
#include <algorithm>
#include <charconv>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_OpenWork(benchmark::State& state) {
    const int points = int(state.range(0));
    // The run file as the program writes it, made without holding its points.
    QTemporaryDir folder;
    const QString path = folder.path();
    {
        QFile list(path + QStringLiteral("/work.txt"));
        list.open(QIODevice::WriteOnly);
        list.write("Experiment=Звук\r\nRun1.File=run-01.csv\r\nRun1.Separator=;\r\n");
        QFile file(path + QStringLiteral("/run-01.csv"));
        file.open(QIODevice::WriteOnly);
        file.write("\xEF\xBB\xBFt, с;U, В;Метка\r\n");
        QByteArray lines;
        char number[64];
        for (int i = 0; i < points; ++i) {
            for (const double value : {PointTime(i, 1000, 1), 0.001 * (i % 1997) - 1}) {
                char* end = std::to_chars(number, number + sizeof number, value).ptr;
                std::replace(number, end, '.', ',');
                lines.append(number, end - number);
                lines += ';';
            }
            lines += "\r\n";
            if (lines.size() > (1 << 20)) {
                file.write(lines);
                lines.clear();
            }
        }
        file.write(lines);
    }
    const qint64 bytes = QFile(path + QStringLiteral("/run-01.csv")).size();
    const long before = PeakKilobytes();
    std::size_t held = 0;
    for (auto _ : state) {
        tRunStore runs;
        ReadWorkFolder(path, runs);
        held = runs.Run(0).Points->BytesHeld();
        benchmark::DoNotOptimize(runs.Run(0).Points->Count());
    }
    state.counters["file_MB"] = double(bytes) / 1e6;
    state.counters["points_MB"] = double(held) / 1e6;
    state.counters["peak_over_points"] = double(PeakKilobytes() - before) * 1024 / double(held);
}
BENCHMARK(BM_OpenWork)->Arg(10000000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
