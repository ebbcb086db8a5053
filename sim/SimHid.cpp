// The simulated HID sensor's reports and the demo HID table.
#include "sim/SimHid.h"

#include "sim/SimWorld.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A waiting read looks at its stop event this often: a stop is seen within 20 ms, and a sensor that reports
// every 10 ms wakes its reader once a report rather than twice.
constexpr std::int64_t kSliceUs = 20000;

// One open demo device.
struct tSimHidHandle {
    std::shared_ptr<tSimHidSensor> Sensor;
    std::uint64_t Generation = 0;
};

// False (errno set) once the device behind the handle has been unplugged.
bool Alive(void* handle) {
    auto* open = static_cast<tSimHidHandle*>(handle);
    if (open->Sensor->Sensor().LineAlive(open->Generation)) return true;
    errno = ENODEV;
    return false;
}

std::mutex gOpenMutex;
std::vector<tSimHidSensor*> gOpen;

tSimHidSensor* Sensor(void* handle) {
    return static_cast<tSimHidHandle*>(handle)->Sensor.get();
}

void* SimOpen(const char* path) {
    std::shared_ptr<tSimHidSensor> sensor = tSimWorld::Instance().FindHid(QString::fromLocal8Bit(path));
    if (!sensor || !sensor->Sensor().Plugged()) {
        errno = ENOENT;
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(gOpenMutex);
    if (std::find(gOpen.begin(), gOpen.end(), sensor.get()) != gOpen.end()) {
        errno = EBUSY;
        return nullptr;
    }
    gOpen.push_back(sensor.get());
    const std::uint64_t generation = sensor->Sensor().Generation();
    return new tSimHidHandle{std::move(sensor), generation};
}

bool SimGetReportLengths(void* handle, int* input, int* output) {
    tSimHidSensor* sensor = Sensor(handle);
    if (sensor->Faults().UnknownLengths) return false;
    *input = sensor->Config().InputLength;
    *output = sensor->Config().OutputLength;
    return true;
}

int SimWrite(void* handle, const std::uint8_t* report, int length, int timeoutMs, bool* immediate) {
    *immediate = true;
    if (!Alive(handle)) return kHidFailed;
    return Sensor(handle)->Write(report, length, timeoutMs, immediate);
}

int SimRead(void* handle, std::uint8_t* report, int length, int timeoutMs, const tEvent* stop,
            bool* immediate) {
    *immediate = true;
    // The reports sent before the cable was pulled still come; after them the device is gone.
    if (!Alive(handle) && !Sensor(handle)->Sensor().HasPendingBytes()) {
        errno = ENODEV;
        return kHidFailed;
    }
    return Sensor(handle)->Read(report, length, timeoutMs, stop, immediate);
}

void SimFlush(void* handle) {
    Sensor(handle)->Flush();
}

void SimClose(void* handle) {
    auto* open = static_cast<tSimHidHandle*>(handle);
    {
        std::lock_guard<std::mutex> guard(gOpenMutex);
        gOpen.erase(std::remove(gOpen.begin(), gOpen.end(), open->Sensor.get()), gOpen.end());
    }
    delete open;
}

std::vector<tHidDeviceInfo> SimEnumerate() {
    std::vector<tHidDeviceInfo> devices;
    for (const auto& [path, sensor] : tSimWorld::Instance().HidSensors())
        devices.push_back({path, sensor->Config().VendorId, sensor->Config().ProductId});
    return devices;
}

const tHidApi kSimHid = {SimOpen, SimGetReportLengths, SimWrite, SimRead, SimFlush, SimClose, SimEnumerate};

} // namespace

tSimHidSensor::tSimHidSensor(tSimSensorConfig sensor, tSimHidConfig config, std::shared_ptr<tSimClock> clock)
    : FConfig(config) {
    // HID sensors speak the single-letter protocol only.
    sensor.CarrierDetect = true;
    FSensor = std::make_shared<tSimSensor>(std::move(sensor), std::move(clock));
}

bool tSimHidSensor::SleepUntil(std::int64_t us, const tEvent* stop) {
    tSimClock& clock = FSensor->Clock();
    for (;;) {
        if (stop && stop->IsSet()) return false;
        const std::int64_t now = clock.NowUs();
        if (now >= us) return true;
        clock.SleepUntilUs(std::min(us, now + kSliceUs));
    }
}

int tSimHidSensor::Write(const std::uint8_t* report, int length, int timeoutMs, bool* immediate) {
    std::lock_guard<std::mutex> guard(FMutex);
    *immediate = !FFaults.PendingWrites;
    FReports.emplace_back(report, report + length);
    if (length != FConfig.OutputLength) {
        errno = EINVAL;
        return kHidFailed;
    }
    if (FFaults.PendingWrites) SleepUntil(FSensor->Clock().NowUs() + std::min(timeoutMs, 1) * 1000, nullptr);
    FSensor->HostWrite(report + 1, length - 1);
    // The answer to a command leaves with the next report, not an interval later.
    FNextReport = 0;
    return FFaults.PendingWrites && FFaults.WineShortWrites ? length - 1 : length;
}

int tSimHidSensor::Read(std::uint8_t* report, int length, int timeoutMs, const tEvent* stop,
                        bool* immediate) {
    std::unique_lock<std::mutex> lock(FMutex);
    ++FReads;
    std::memset(report, 0, size_t(length));
    const tSimHidFaults faults = FFaults;
    tSimClock& clock = FSensor->Clock();
    const std::int64_t now = clock.NowUs();
    const std::int64_t deadline = now + std::int64_t(timeoutMs) * 1000;
    // Reports leave the sensor at most once an interval; the answer to a command leaves at once.
    const bool answer = FNextReport == 0;
    std::int64_t at = std::max(now, FNextReport);
    std::int64_t ready = -1;
    while (!faults.Silent && at <= deadline) {
        if (FSensor->FirstByteBy(at) >= 0) {
            ready = at;
            break;
        }
        at += FConfig.ReportIntervalUs;
    }
    *immediate = ready == now;
    lock.unlock();
    if (!SleepUntil(ready >= 0 ? ready : deadline, stop)) return kHidStopped;
    if (ready < 0) return kHidTimeout;
    lock.lock();
    FNextReport = ready + FConfig.ReportIntervalUs;
    const int room = std::min({faults.ReplyChunk, length - 2, 62});
    const int got = FSensor->HostTake(report + 2, room, ready);
    report[0] = faults.WrongReportId ? 3 : 1;
    report[1] = std::uint8_t(faults.CountOverride >= 0 && !answer ? faults.CountOverride
                             : got == 62 && FConfig.FullAs255     ? 255
                                                                  : got);
    return faults.ShortReports > 0 ? std::min(faults.ShortReports, length) : length;
}

void tSimHidSensor::Flush() {
    std::lock_guard<std::mutex> guard(FMutex);
    FSensor->HostPurgeReceive();
}

void tSimHidSensor::SetFaults(const tSimHidFaults& faults) {
    std::lock_guard<std::mutex> guard(FMutex);
    FFaults = faults;
}

std::vector<std::vector<std::uint8_t>> tSimHidSensor::Reports() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FReports;
}

int tSimHidSensor::Reads() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FReads;
}

const tHidApi& SimHidApi() {
    return kSimHid;
}
