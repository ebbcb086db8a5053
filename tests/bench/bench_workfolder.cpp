// Opening a saved work: a run of 10⁷ points read back from its CSV file, with the memory it takes beyond the
// points held (the peak of the process while reading, over the points' own bytes).
#include "QtCoreBenchmarkMain.h"
#include "runs/WorkFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <charconv>
#include <chrono>
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

// A work of many short runs: the time grows with the runs, not with their square.
void BM_OpenWorkOfManyRuns(benchmark::State& state) {
    const int runs = int(state.range(0));
    QTemporaryDir folder;
    const QString path = folder.path();
    {
        QByteArray list = "Experiment=Остывание воды\r\n";
        for (int i = 1; i <= runs; ++i) {
            const QByteArray name = QStringLiteral("run-%1.csv").arg(i, 2, 10, QLatin1Char('0')).toUtf8();
            list += "Run" + QByteArray::number(i) + ".File=" + name + "\r\nRun" + QByteArray::number(i) +
                    ".Separator=;\r\n";
            QFile file(path + QLatin1Char('/') + QString::fromUtf8(name));
            file.open(QIODevice::WriteOnly);
            file.write("\xEF\xBB\xBFt, с;T, °C;Метка\r\n");
            for (int k = 0; k < 10; ++k)
                file.write(QByteArray::number(k) + ";2" + QByteArray::number(k) + ",5;\r\n");
        }
        QFile file(path + QStringLiteral("/work.txt"));
        file.open(QIODevice::WriteOnly);
        file.write(list);
    }
    for (auto _ : state) {
        tRunStore store;
        ReadWorkFolder(path, store);
        benchmark::DoNotOptimize(store.Count());
    }
}
BENCHMARK(BM_OpenWorkOfManyRuns)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

// A result found in a work whose analysis.txt keeps 200 MB of lines: what the window's thread spends on it.
// A result is added at the end; a box moved hands the whole file to a thread of its own ("rewrite_ms" is
// how long that thread then takes).
void BM_ResultBesideBigAnalysis(benchmark::State& state) {
    QTemporaryDir folder;
    const QString path = folder.path();
    QByteArray line(200, 'x');
    line += "\r\n";
    const QByteArray kept = line.repeated(int(state.range(0) * 1000000 / line.size()));
    {
        QFile file(path + QStringLiteral("/analysis.txt"));
        file.open(QIODevice::WriteOnly);
        file.write(kept);
    }
    tWorkFolder work(path);
    const QString result = QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 1 0 2");
    double rewrite = 0;
    for (auto _ : state) {
        if (state.range(1) == 0) {
            work.AppendAnalysis(result);
        } else {
            work.SaveAnalysis({result}, kept);
            state.PauseTiming();
            const auto from = std::chrono::steady_clock::now();
            tWorkFolder::FinishLaterWrites();
            rewrite = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
            state.ResumeTiming();
        }
    }
    if (state.range(1) != 0) state.counters["rewrite_ms"] = rewrite;
}
BENCHMARK(BM_ResultBesideBigAnalysis)->Args({200, 0})->Args({200, 1})->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return RunQtCoreBenchmarks(argc, argv);
}
