// What tests, benchmarks and the demo stations of a lesson in class share: a free port on 127.0.0.1, and the
// demo experiments their stations run (the vessel cooling, the tuning fork at 1 kHz).
#pragma once

#include "experiment/Experiment.h"

#include <QHostAddress>
#include <QTcpServer>

inline int FreePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Water cooling in a vessel (the demo T102): a point a second, a time axis of `seconds`.
inline tExperiment DemoCooling(double seconds) {
    tExperiment e;
    e.SetDefaults();
    e.Name = QStringLiteral("Остывание воды");
    e.SensorName = QStringLiteral("T102");
    e.Freq = 100000;
    e.Average = 10;
    e.CaptionX = QStringLiteral("t, с");
    e.CaptionY = QStringLiteral("T, °C");
    e.FormatY = QStringLiteral("0.0");
    e.MinY = 20;
    e.MaxY = 80;
    e.MaxX = seconds;
    return e;
}

// The struck tuning fork (the demo C101): a value a millisecond.
inline tExperiment DemoFork() {
    tExperiment e;
    e.SetDefaults();
    e.Name = QStringLiteral("Звуковые колебания камертона");
    e.SensorName = QStringLiteral("C101");
    e.Freq = 1000;
    e.Average = 1;
    e.CaptionX = QStringLiteral("t, с");
    e.CaptionY = QStringLiteral("U, В");
    e.MinY = -1;
    e.MaxY = 1;
    e.MaxX = 2;
    return e;
}
