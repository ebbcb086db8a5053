// The main of benchmarks that need a Qt event loop but no window.
#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

template <class tApplication> int RunBenchmarksIn(int argc, char** argv) {
    // What a benchmark's lessons keep (work folders, the user's state) goes to a folder of its own.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toLocal8Bit());
    tApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

inline int RunQtCoreBenchmarks(int argc, char** argv) {
    return RunBenchmarksIn<QCoreApplication>(argc, argv);
}
