// SPDX-License-Identifier: GPL-3.0-or-later
// What the program does differently for a sensor, by the name an experiment gives it: one row a sensor.
#pragma once

#include <QString>

struct tSensorDescription {
    // The name as experiments write it; empty in the row that describes every other sensor.
    const char* Name;
    // Whether the name matches in any letter case ("no" names no sensor as well as "NO").
    bool AnyCase;
    // The experiment is carried out with this sensor: it is searched for and connected.
    bool Connects;
    // The newest value is shown in the tool bar while measuring (the sound sensor's changes too fast to
    // read).
    bool ShowsValue;
    // A beat rate is derived from the measured wave: drawn on a chart of its own below it, and analysed in
    // place of the wave by Статистика.
    bool BeatRate;
    // The rate's caption on its chart and in results.
    const char* RateCaption;
};

// The row of `sensorName`.
const tSensorDescription& DescribeSensor(const QString& sensorName);
