// The three sensor searches: one detector per candidate port, 100 ms apart, the first device with the wanted
// name wins.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class tDevice;
class tSettings;

// Each search logs its own errors (with its prefix "FTW32: ", "COM: " or "HID: ") and never raises; it
// returns the open device whose INFO name equals `wanted` exactly, or null.
std::unique_ptr<tDevice> FindFTDISensor(const QString& wanted, tSettings* settings);
std::unique_ptr<tDevice> FindCOMSensor(const QString& wanted, tSettings* settings);
std::unique_ptr<tDevice> FindHIDSensor(const QString& wanted, tSettings* settings);

// What the searches of a connect found.
struct tSensorSearch {
    std::unique_ptr<tDevice> Device;
    // The links searched, in order ("FTDI", "COM", "HID").
    QStringList Searched;
    // The FTDI search found nothing because the D2XX library is not installed.
    bool FtdiMissing = false;
    // The user cancelled the search: the links after the one searched then were not.
    bool Cancelled = false;
};
// The searches the settings switch on (UseFTDI, UseCDC, UseHID) until one finds the sensor named `wanted`: first
// the link it was found on last time (kept per user), then the others in the order FTDI, COM, HID; `link`
// tells meanwhile which link is searched (1 FTDI, 2 COM, 3 HID); `cancel`, once set, ends the search before the
// next link.
tSensorSearch FindSensor(const QString& wanted, tSettings* settings, std::atomic<int>* link = nullptr,
                         const std::atomic<bool>* cancel = nullptr);

// The link ("FTDI", "COM" or "HID") the sensor named `sensor` was found on last time; empty when unknown.
QString LastSensorLink(const QString& sensor);

// Pause between starting two detectors; tests may shorten it.
void SetDetectorSpacing(int milliseconds);
