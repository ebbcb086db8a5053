// A detector thread: opens one candidate port as a device and asks INFO; the search takes the device
// afterwards.
#pragma once

#include "core/Thread.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <shared_mutex>

class tDevice;
class tSettings;

class tDeviceDetector : public tThread {
public:
    // Starts running at once.
    tDeviceDetector(const QString& place, std::uint8_t deviceType, tSettings* settings);
    ~tDeviceDetector() override;

    // The device that answered INFO, or null; read after the thread has finished. The caller takes it.
    tDevice* GetDevice();

protected:
    void Execute() override;

private:
    tSettings* const Settings;
    const QString Place;
    tDevice* Device = nullptr;
    std::shared_mutex Lock;
    const std::uint8_t DeviceType;
};
