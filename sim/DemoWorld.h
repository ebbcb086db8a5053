// The demo sensors of the DEMO switch: one for every sensor the sample catalogue names, on all three links.
#pragma once

#include <QString>
#include <memory>
#include <vector>

struct tDemoSensorInfo {
    QString Name;
    QString Link;  // "FTDI", "COM" or "HID"
    QString Place; // location ID, port path or HID path
};

class tSimClock;

// Installs the demo FTDI table, COM ports and HID table with their sensors, on the real clock unless `clock`
// is given (tests run them on a virtual one).
void InstallDemoWorld(std::shared_ptr<tSimClock> clock = nullptr);

// What InstallDemoWorld puts where.
std::vector<tDemoSensorInfo> DemoSensors();

// The demo signals, also used by tests: a pulse wave at `bpm` beats per minute, water warming, water cooling
// in a vessel, water in which a salt dissolves, a struck fork.
double HeartbeatSignal(double seconds, double bpm);
double WarmingSignal(double seconds);
double CoolingSignal(double seconds);
double DissolvingSignal(double seconds);
// The demo lamp over the light sensor: its distance in centimetres (20 at first) sets the illuminance, which
// falls with the square of it. The demo moves it as a student would; tests set it.
void SetDemoLampDistance(double centimetres);
double DemoLampDistance();
double LampSignal(double seconds);
// A tuning fork struck every 6 s: a second of the room's quiet, then a ringing that dies away.
double ForkSignal(double seconds);
