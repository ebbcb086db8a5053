// The main of benchmarks that need a Qt application (offscreen).
#pragma once

#include "QtCoreBenchmarkMain.h"

#include <QApplication>

inline int RunQtBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return RunBenchmarksIn<QApplication>(argc, argv);
}
