// The demo world: plausible signals for each sensor, spread over FTDI, COM and HID and both command
// protocols.
#include "sim/DemoWorld.h"

#include "device/Ftdilibrary.h"
#include "sim/SimWorld.h"

#include <atomic>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A small, repeatable noise: no state, the same value for the same time.
double Noise(double seconds, double amplitude) {
    const double x = std::sin(seconds * 12.9898 + 78.233) * 43758.5453;
    return (x - std::floor(x) - 0.5) * 2 * amplitude;
}

// Read on the measuring thread, set on the window's.
std::atomic<double> lampDistance{20};

QStringList DemoComPorts() {
    return tSimWorld::Instance().ComPaths();
}

tSimSensorConfig Sensor(const char* name, int speed, bool singleLetter, int decimals,
                        std::function<double(double)> signal) {
    tSimSensorConfig config;
    config.Name = name;
    config.Speed = speed;
    config.CarrierDetect = singleLetter;
    config.Decimals = decimals;
    config.Freq = 100000;
    config.Signal = [signal](double t, int) { return signal(t); };
    config.KeepGenerated = false;
    return config;
}

} // namespace

double HeartbeatSignal(double seconds, double bpm) {
    const double period = 60.0 / bpm;
    const double phase = std::fmod(seconds, period) / period;
    const auto bump = [phase](double centre, double width) {
        const double d = (phase - centre) / width;
        return std::exp(-d * d);
    };
    // The systolic rise and the smaller dicrotic wave of a pulse measured at the finger, on a breathing
    // baseline.
    return 512 + 380 * bump(0.18, 0.07) + 120 * bump(0.45, 0.08) + 25 * std::sin(2 * kPi * seconds / 4.0) +
           Noise(seconds, 4);
}

double WarmingSignal(double seconds) {
    return 21.0 + 14.0 * (1 - std::exp(-seconds / 90.0)) + Noise(seconds, 0.05);
}

double CoolingSignal(double seconds) {
    return 22.0 + 48.0 * std::exp(-seconds / 240.0) + Noise(seconds, 0.05);
}

double DissolvingSignal(double seconds) {
    // Room temperature for 20 s, then the salt takes heat from the water, which slowly warms again.
    if (seconds < 20) return 22.0 + Noise(seconds, 0.05);
    const double t = seconds - 20;
    return 22.0 - 14.0 * (1 - std::exp(-t / 12.0)) * std::exp(-t / 400.0) + Noise(seconds, 0.05);
}

void SetDemoLampDistance(double centimetres) {
    if (std::isfinite(centimetres) && centimetres > 0) lampDistance = centimetres;
}

double DemoLampDistance() {
    return lampDistance;
}

double LampSignal(double seconds) {
    const double r = lampDistance;
    return 90000.0 / (r * r) + Noise(seconds, 3);
}

double ForkSignal(double seconds) {
    const double since = std::fmod(seconds, 6.0) - 1.0;
    if (since < 0) return Noise(seconds, 0.02);
    // No two strikes alike.
    const double strength = 0.8 - 0.25 * std::fabs(std::sin(1.7 * std::floor(seconds / 6.0)));
    return strength * std::exp(-since / 2.5) * std::sin(2 * kPi * 2.5 * since) + Noise(seconds, 0.02);
}

std::vector<tDemoSensorInfo> DemoSensors() {
    return {
        {QStringLiteral("T101"), QStringLiteral("FTDI"), QStringLiteral("4097")},
        {QStringLiteral("L301"), QStringLiteral("FTDI"), QStringLiteral("4098")},
        {QStringLiteral("C101"), QStringLiteral("COM"), QStringLiteral("/dev/ttyDEMO0")},
        {QStringLiteral("V501"), QStringLiteral("COM"), QStringLiteral("/dev/ttyDEMO1")},
        {QStringLiteral("M401"), QStringLiteral("HID"), QStringLiteral("demo-hidraw0")},
        {QStringLiteral("T102"), QStringLiteral("HID"), QStringLiteral("demo-hidraw1")},
        {QStringLiteral("T103"), QStringLiteral("COM"), QStringLiteral("/dev/ttyDEMO2")},
    };
}

void InstallDemoWorld(std::shared_ptr<tSimClock> clock) {
    tSimWorld& world = tSimWorld::Instance();
    world.Clear();
    if (!clock) clock = std::make_shared<tRealClock>();

    // Temperature behind an FTDI bridge in hub mode, light behind one in single-letter mode.
    world.AddFtdiSensor(4097,
                        std::make_shared<tSimSensor>(Sensor("T101", 921600, false, 2, WarmingSignal), clock));
    world.AddFtdiSensor(4098,
                        std::make_shared<tSimSensor>(Sensor("L301", 38400, true, 0, LampSignal), clock));
    // Sound on a CDC port in single-letter mode; voltage of a charging capacitor in packet-size mode.
    world.AddComSensor(QStringLiteral("/dev/ttyDEMO0"),
                       std::make_shared<tSimSensor>(Sensor("C101", 115200, true, 3, ForkSignal), clock));
    tSimSensorConfig voltage = Sensor("V501", 0, false, 3, [](double t) {
        const double cycle = std::fmod(t, 20.0);
        return 4.5 * (1 - std::exp(-cycle / 3.0)) + Noise(t, 0.01);
    });
    voltage.PacketSize = 64;
    world.AddComSensor(QStringLiteral("/dev/ttyDEMO1"), std::make_shared<tSimSensor>(voltage, clock));
    // A thermometer in water in which a salt dissolves, on a CDC port in hub mode.
    world.AddComSensor(
        QStringLiteral("/dev/ttyDEMO2"),
        std::make_shared<tSimSensor>(Sensor("T103", 921600, false, 2, DissolvingSignal), clock));
    // The pulse sensor and a second thermometer as HID devices, and a keyboard the HID search must pass over.
    world.AddHidSensor(QStringLiteral("demo-hidraw0"),
                       std::make_shared<tSimHidSensor>(
                           Sensor("M401", 115200, true, 0, [](double t) { return HeartbeatSignal(t, 70); }),
                           tSimHidConfig{}, clock));
    world.AddHidSensor(QStringLiteral("demo-hidraw1"),
                       std::make_shared<tSimHidSensor>(Sensor("T102", 115200, true, 2, CoolingSignal),
                                                       tSimHidConfig{}, clock));
    tSimHidConfig keyboard;
    keyboard.VendorId = 0x046D;
    keyboard.ProductId = 0xC31C;
    world.AddHidSensor(QStringLiteral("demo-hidraw2"),
                       std::make_shared<tSimHidSensor>(
                           Sensor("KBD", 115200, true, 0, [](double) { return 0.0; }), keyboard, clock));

    SetComApi(&SimComApi());
    SetComPortLister(DemoComPorts);
    SetHidApi(&SimHidApi());
    SetFTDILibrary(std::make_unique<tFTDILibrary>(SimFtdiFunctions()));
}
