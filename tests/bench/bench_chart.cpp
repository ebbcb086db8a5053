// Chart repaint with long runs, offscreen at 1280 x 700 with a noisy signal: a full repaint (axes changed),
// the repaint after one tick's new points (axes still), a move by half the window (a chart following its
// newest point), the same against QCustomPlot's own graph, and the memory held per point.
#include "widgets/BoxPlacement.h"
#include "widgets/Chart.h"

#include "QtBenchmarkMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>

namespace {

double Noisy(int i) {
    const double t = i * 0.001;
    const double x = std::sin(i * 12.9898 + 78.233) * 43758.5453;
    return 20 + 5 * std::sin(t / 30) + (x - std::floor(x) - 0.5);
}

std::unique_ptr<TChart> MakeChart(int points) {
    auto chart = std::make_unique<TChart>();
    chart->resize(1280, 700);
    chart->AddSeries(QColor(255, 0, 0));
    const double span = points * 0.001;
    chart->SetBottomAxis(0, span * 1.02, span / 10, QStringLiteral("t, с"));
    chart->SetLeftAxis(10, 30, 2, QStringLiteral("T, °C"));
    for (int i = 0; i < points; ++i) chart->Series(0)->Add(i * 0.001, Noisy(i));
    chart->show();
    chart->Redraw();
    return chart;
}

void BM_FullRepaint(benchmark::State& state) {
    auto chart = MakeChart(int(state.range(0)));
    const QCPRange range = chart->BottomRange();
    bool flip = false;
    double slowest = 0;
    for (auto _ : state) {
        // A zoom by a pixel's width: the axes change, everything is drawn again.
        flip = !flip;
        const double shift = flip ? range.size() / 1280 : 0;
        QElapsedTimer timer;
        timer.start();
        chart->SetBottomRange(range.lower, range.upper + shift);
        chart->Redraw();
        slowest = std::max(slowest, timer.nsecsElapsed() / 1e6);
    }
    state.counters["points"] = double(state.range(0));
    state.counters["slowest_ms"] = slowest;
}
BENCHMARK(BM_FullRepaint)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HalfWindowMove(benchmark::State& state) {
    const int points = int(state.range(0));
    auto chart = MakeChart(points);
    // A tenth of the run in view, moved on by half of it (to whole pixels) at each step, as the chart
    // following the newest point does; at the end of the run it starts again from its beginning.
    const double window = points * 0.001 / 10;
    chart->SetBottomRange(0, window);
    chart->Redraw();
    const int pixels = chart->axisRect()->width();
    const double half = window * (pixels / 2) / pixels;
    for (auto _ : state) {
        QCPRange range = chart->BottomRange();
        if (range.upper + half > points * 0.001) range = QCPRange(-half, window - half);
        chart->SetBottomRange(range.lower + half, range.upper + half);
        chart->Redraw();
        // The paint the move asked for, onto the window.
        QApplication::processEvents();
    }
    state.counters["points_in_view"] = points / 10.0;
}
BENCHMARK(BM_HalfWindowMove)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TickRepaint(benchmark::State& state) {
    auto chart = MakeChart(int(state.range(0)));
    int next = int(state.range(0));
    // Room on the time axis for every tick's points (100 ticks of 100 points), so that each is drawn; or, as
    // the sound sensor's window shows them, `span` seconds across the chart from the newest point on (two
    // seconds: a point every 0.6 pixel).
    const double span = double(state.range(1));
    if (span > 0)
        chart->SetBottomRange(next * 0.001, next * 0.001 + span);
    else
        chart->SetBottomRange(0, next * 0.001 * 1.02 + 12);
    chart->Redraw();
    for (auto _ : state) {
        // One tick of a 1 kHz sensor: 100 new points, axes unchanged.
        for (int k = 0; k < 100; ++k, ++next) chart->Series(0)->Add(next * 0.001, Noisy(next));
        chart->Redraw();
        // The window shows the new picture: the layers are put together on the screen.
        chart->repaint();
    }
}
BENCHMARK(BM_TickRepaint)
    ->Args({10000, 0})
    ->Args({1000000, 0})
    ->Args({10000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(100);
BENCHMARK(BM_TickRepaint)->Args({10000, 2})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(18);

// Runs compared: `runs` earlier runs of a million points each drawn behind the measured one. A tick draws
// only the measured line's new points; a zoom draws everything.
void BM_RunsBehind(benchmark::State& state) {
    const int runs = int(state.range(0));
    const bool zoom = state.range(1) != 0;
    auto chart = MakeChart(10000);
    chart->SetBottomRange(0, 1000 * 1.02 + 12);
    for (int r = 0; r < runs; ++r) {
        const int line = chart->AddSeries(QColor(0, 150, 0), true, 3);
        for (int i = 0; i < 1000000; ++i) chart->Series(line)->Add(i * 0.001, Noisy(i + 7919 * r) + r);
    }
    chart->Redraw();
    int next = 10000;
    bool flip = false;
    const QCPRange range = chart->BottomRange();
    for (auto _ : state) {
        if (zoom) {
            flip = !flip;
            chart->SetBottomRange(range.lower, range.upper + (flip ? range.size() / 1280 : 0));
        } else {
            for (int k = 0; k < 100; ++k, ++next) chart->Series(0)->Add(next * 0.001, Noisy(next));
        }
        chart->Redraw();
        chart->repaint();
    }
    state.counters["runs_behind"] = runs;
}
BENCHMARK(BM_RunsBehind)
    ->Args({0, 0})
    ->Args({5, 0})
    ->Args({5, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(30);

// The same data and window drawn by QCustomPlot's own line graph (what a user of the library gets by default,
// with the same 5-pixel pen), timed in the same run as our chart: full repaints after a one-pixel pan.
void BM_SideBySideWithQCPGraph(benchmark::State& state) {
    const int points = int(state.range(0));
    auto ours = MakeChart(points);
    QCustomPlot plain;
    plain.resize(1280, 700);
    QCPGraph* graph = plain.addGraph();
    graph->setPen(QPen(QColor(255, 0, 0), 5));
    QVector<double> keys(points);
    QVector<double> values(points);
    for (int i = 0; i < points; ++i) {
        keys[i] = i * 0.001;
        values[i] = Noisy(i);
    }
    graph->setData(keys, values, true);
    plain.xAxis->setRange(ours->BottomRange());
    plain.yAxis->setRange(10, 30);
    plain.show();
    plain.replot();
    const QCPRange range = ours->BottomRange();
    double oursMs = 0;
    double plainMs = 0;
    int repaints = 0;
    for (auto _ : state) {
        for (int k = 0; k < 4; ++k, ++repaints) {
            const double shift = (k % 2) ? range.size() / 1280 : 0;
            QElapsedTimer timer;
            timer.start();
            ours->SetBottomRange(range.lower + shift, range.upper + shift);
            ours->Redraw();
            ours->repaint();
            oursMs += timer.nsecsElapsed() / 1e6;
            timer.restart();
            plain.xAxis->setRange(range.lower + shift, range.upper + shift);
            plain.replot();
            plain.repaint();
            plainMs += timer.nsecsElapsed() / 1e6;
        }
    }
    state.counters["ours_ms"] = oursMs / repaints;
    state.counters["qcpgraph_ms"] = plainMs / repaints;
    state.counters["qcpgraph_over_ours"] = plainMs / std::max(oursMs, 1e-9);
}
BENCHMARK(BM_SideBySideWithQCPGraph)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BytesPerPoint(benchmark::State& state) {
    auto chart = MakeChart(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(chart->Series(0)->BytesHeld());
    state.counters["bytes_per_point"] = double(chart->Series(0)->BytesHeld()) / double(state.range(0));
}
BENCHMARK(BM_BytesPerPoint)->Arg(1000000)->Arg(10000000)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}

// Result boxes of a chart of 1500 × 800 pixels: `n` boxes of a fit's size, none with a place of its own, around
// a sine curve; more than the area holds from about 120 on.
void BM_PlaceResultBoxes(benchmark::State& state) {
    const QRect area(60, 20, 1500, 800);
    const std::vector<QSize> sizes(std::size_t(state.range(0)), QSize(190, 96));
    std::vector<QPoint> curve;
    for (int x = area.left(); x <= area.right(); ++x)
        curve.emplace_back(x, area.center().y() + int(300 * std::sin(x / 90.0)));
    bool apart = true;
    for (auto _ : state) benchmark::DoNotOptimize(PlaceBoxes(area, sizes, {}, {}, 4, &apart, curve));
    state.counters["apart"] = apart;
}
BENCHMARK(BM_PlaceResultBoxes)->Arg(30)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);

// The same boxes, each where the user dragged it (places kept in the work), scattered over the area.
void BM_PlaceDraggedBoxes(benchmark::State& state) {
    const QRect area(60, 20, 1500, 800);
    const std::vector<QSize> sizes(std::size_t(state.range(0)), QSize(190, 96));
    std::vector<std::optional<QPoint>> wanted;
    for (int i = 0; i < state.range(0); ++i)
        wanted.emplace_back(QPoint(area.left() + (i * 7919) % area.width(), area.top() + (i * 104729) % area.height()));
    bool apart = true;
    for (auto _ : state) benchmark::DoNotOptimize(PlaceBoxes(area, sizes, wanted, {}, 4, &apart));
}
BENCHMARK(BM_PlaceDraggedBoxes)->Arg(30)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);
