// A simulated HID sensor (0483:5750): single-letter commands carried in 64-byte reports, stream reports paced
// by its clock.
#pragma once

#include "platform/HidApi.h"
#include "sim/SimSensor.h"

#include <memory>
#include <mutex>

struct tSimHidConfig {
    int InputLength = 64;
    int OutputLength = 64;
    std::int64_t ReportIntervalUs = 10000;
    // A full report carries the count 255 instead of 62.
    bool FullAs255 = true;
    std::uint16_t VendorId = 0x0483;
    std::uint16_t ProductId = 0x5750;
};

struct tSimHidFaults {
    bool WrongReportId = false;   // input reports carry ID 3
    int ShortReports = 0;         // input reports hand over only this many bytes (0: whole)
    bool Silent = false;          // no input report at all
    int CountOverride = -1;       // the count byte of data reports, whatever the payload
    bool PendingWrites = false;   // writes complete only after a wait
    bool WineShortWrites = false; // a pending write reports one byte less, as under Wine
    bool UnknownLengths = false;  // the report lengths cannot be read
    int ReplyChunk = 62;          // payload bytes per report at most
};

class tSimHidSensor {
public:
    tSimHidSensor(tSimSensorConfig sensor, tSimHidConfig config = {},
                  std::shared_ptr<tSimClock> clock = std::make_shared<tRealClock>());

    int Write(const std::uint8_t* report, int length, int timeoutMs, bool* immediate);
    int Read(std::uint8_t* report, int length, int timeoutMs, const tEvent* stop, bool* immediate);
    void Flush();

    tSimSensor& Sensor() { return *FSensor; }
    std::shared_ptr<tSimSensor> SharedSensor() { return FSensor; }
    // Input-report reads asked of the sensor so far.
    int Reads();
    // Faults are set before the sensor is used, or through SetFaults while a thread uses it.
    tSimHidFaults& Faults() { return FFaults; }
    void SetFaults(const tSimHidFaults& faults);
    const tSimHidConfig& Config() const { return FConfig; }
    // Output reports as written, whole.
    std::vector<std::vector<std::uint8_t>> Reports();

private:
    // Waits on the sensor's clock until `us`, in slices so that `stop` is seen; false when stopped.
    bool SleepUntil(std::int64_t us, const tEvent* stop);

    std::shared_ptr<tSimSensor> FSensor;
    tSimHidConfig FConfig;
    tSimHidFaults FFaults;
    std::mutex FMutex;
    std::int64_t FNextReport = 0;
    int FReads = 0;
    std::vector<std::vector<std::uint8_t>> FReports;
};

// The HID table of the demo sensors registered in the demo world.
const tHidApi& SimHidApi();
