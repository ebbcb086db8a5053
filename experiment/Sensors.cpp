// SPDX-License-Identifier: GPL-3.0-or-later
// The sensors the program treats in a way of their own. A new one is a row here.
#include "experiment/Sensors.h"

#include <iterator>

namespace {

const tSensorDescription kSensors[] = {
    // The pulse sensor: its wave and the heart's rate from it.
    {"M401", false, true, true, true, "Частота"},
    // The sound sensor.
    {"C101", false, true, false, false, ""},
    // An experiment carried out without a sensor.
    {"NO", true, false, false, false, ""},
    // Every other sensor.
    {"", false, true, true, false, ""},
};

} // namespace

const tSensorDescription& DescribeSensor(const QString& sensorName) {
    for (const tSensorDescription& sensor : kSensors) {
        if (!*sensor.Name) return sensor;
        if (sensorName.compare(QLatin1String(sensor.Name),
                               sensor.AnyCase ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0)
            return sensor;
    }
    return std::end(kSensors)[-1];
}
