// The analysis of a long region: a fit of each kind, the statistics and the spectrum of 10⁶ and 10⁷ points,
// with the memory each takes beyond the points (MB, the peak of the process's resident memory).
#include "analysis/Fit.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

// The process's peak resident memory is set back to what it holds now (Linux's clear_refs 5).
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Megabytes of the resident peak (VmHWM) or now (VmRSS).
double Megabytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size() + 1)) / 1024;
    return 0;
}

struct tData {
    std::vector<double> X, Y;
};

// A run of `count` points at 1 kHz shaped for the model, with noise.
tData Run(tFitModel model, int count, double offset = 0) {
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
        d.Y.push_back(y + offset + noise(random));
    }
    return d;
}

// A perfect sine of 2.5 Hz and amplitude 0.2 about 0, sampled at 1 kHz: a tuning fork's slow cousin.
tData Perfect(int count) {
    tData d;
    for (int i = 0; i < count; ++i) {
        d.X.push_back(1e-3 * i);
        d.Y.push_back(0.2 * std::sin(2 * std::numbers::pi * 2.5 * 1e-3 * i));
    }
    return d;
}

void BM_Fit(benchmark::State& state) {
    const auto model = tFitModel(state.range(0));
    const int count = int(state.range(1));
    // 0: data of the model's own shape, 1: a perfect slow sine, 2: a sine with a phase and an offset that
    // other models do not fit (they must say so in time).
    const tData d = state.range(2) == 1   ? Perfect(count)
                    : state.range(2) == 2 ? Run(tFitModel::Sine, count, 5)
                                          : Run(model, count);
    bool ok = true;
    double memory = 0;
    for (auto _ : state) {
        ResetPeak();
        const double before = Megabytes("VmRSS:");
        const tFit fit = FitCurve(model, d.X, d.Y);
        memory = std::max(memory, Megabytes("VmHWM:") - before);
        ok = ok && fit.Ok;
        benchmark::DoNotOptimize(fit.Params.data());
    }
    state.counters["MB"] = memory;
    state.SetLabel((FitModelKey(model) + (ok ? QString() : QStringLiteral(" FAILED"))).toStdString());
}
BENCHMARK(BM_Fit)
    ->ArgsProduct({{int(tFitModel::Line), int(tFitModel::Parabola), int(tFitModel::Power),
                    int(tFitModel::RiseToLimit), int(tFitModel::ExpApproach), int(tFitModel::Sine)},
                   {1000000, 10000000},
                   {0}})
    ->Args({int(tFitModel::Sine), 3000000, 1})
    ->Args({int(tFitModel::Sine), 10000000, 1})
    ->Args({int(tFitModel::Sine), 10000000, 2})
    ->Args({int(tFitModel::ExpApproach), 10000000, 2})
    ->Args({int(tFitModel::RiseToLimit), 10000000, 2})
    ->Args({int(tFitModel::Power), 10000000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_StatisticsAndSpectrum(benchmark::State& state) {
    const tData d = Run(tFitModel::Sine, int(state.range(0)));
    double memory = 0;
    for (auto _ : state) {
        ResetPeak();
        const double before = Megabytes("VmRSS:");
        benchmark::DoNotOptimize(Describe(d.Y).StdDev);
        benchmark::DoNotOptimize(DominantFrequency(d.Y, 1000));
        memory = std::max(memory, Megabytes("VmHWM:") - before);
    }
    state.counters["MB"] = memory;
}
BENCHMARK(BM_StatisticsAndSpectrum)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
