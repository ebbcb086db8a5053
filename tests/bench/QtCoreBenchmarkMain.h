// The main of benchmarks that need a Qt event loop but no window.
#pragma once

#include <QCoreApplication>
#include <benchmark/benchmark.h>

template <class tApplication> int RunBenchmarksIn(int argc, char** argv) {
    tApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

inline int RunQtCoreBenchmarks(int argc, char** argv) {
    return RunBenchmarksIn<QCoreApplication>(argc, argv);
}
