// The analysis of a long region: a fit of each kind, the statistics and the spectrum of 10⁶ points.
#include "analysis/Fit.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

struct tData {
    std::vector<double> X, Y;
};

// A run of `count` points at 1 kHz shaped for the model, with noise.
tData Run(tFitModel model, int count) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 0.05);
    tData d;
    d.X.reserve(std::size_t(count));
    d.Y.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const double t = 1e-3 * (i + 1);
        double y = 0;
        switch (model) {
        case tFitModel::Line:
            y = 0.5 * t + 20;
            break;
        case tFitModel::Parabola:
            y = 0.01 * t * t - t + 3;
            break;
        case tFitModel::Power:
            y = 2 * std::pow(t, 1.5);
            break;
        case tFitModel::RiseToLimit:
            y = 5 * (1 - std::exp(-t / 200));
            break;
        case tFitModel::ExpApproach:
            y = 22 + 60 * std::exp(-t / 300);
            break;
        case tFitModel::Sine:
            y = std::sin(2 * std::numbers::pi * 440 * t + 0.3);
            break;
        }
        d.X.push_back(t);
        d.Y.push_back(y + noise(random));
    }
    return d;
}

void BM_Fit(benchmark::State& state) {
    const auto model = tFitModel(state.range(0));
    const tData d = Run(model, int(state.range(1)));
    bool ok = true;
    for (auto _ : state) {
        const tFit fit = FitCurve(model, d.X, d.Y);
        ok = ok && fit.Ok;
        benchmark::DoNotOptimize(fit.Params.data());
    }
    state.SetLabel((FitModelKey(model) + (ok ? QString() : QStringLiteral(" FAILED"))).toStdString());
}
BENCHMARK(BM_Fit)
    ->ArgsProduct({{int(tFitModel::Line), int(tFitModel::Parabola), int(tFitModel::Power),
                    int(tFitModel::RiseToLimit), int(tFitModel::ExpApproach), int(tFitModel::Sine)},
                   {1000000}})
    ->Unit(benchmark::kMillisecond);

void BM_StatisticsAndSpectrum(benchmark::State& state) {
    const tData d = Run(tFitModel::Sine, int(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Describe(d.Y).StdDev);
        benchmark::DoNotOptimize(DominantFrequency(d.Y, 1000));
    }
}
BENCHMARK(BM_StatisticsAndSpectrum)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
