// The three sensor searches: one detector per candidate port, 100 ms apart, the first device with the wanted
// name wins.
#pragma once

#include <QString>
#include <memory>

class tDevice;
class tSettings;

// Each search logs its own errors (with its prefix "FTW32: ", "COM: " or "HID: ") and never raises; it
// returns the open device whose INFO name equals `wanted` exactly, or null.
std::unique_ptr<tDevice> FindFTDISensor(const QString& wanted, tSettings* settings);
std::unique_ptr<tDevice> FindCOMSensor(const QString& wanted, tSettings* settings);
std::unique_ptr<tDevice> FindHIDSensor(const QString& wanted, tSettings* settings);

// Pause between starting two detectors; tests may shorten it.
void SetDetectorSpacing(int milliseconds);
