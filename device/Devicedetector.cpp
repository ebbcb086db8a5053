// The detector thread's body: open, INFO, keep.
#include "device/Devicedetector.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "device/Device.h"

#include <mutex>

tDeviceDetector::tDeviceDetector(const QString& place, std::uint8_t deviceType, tSettings* settings)
    : Settings(settings), Place(place), DeviceType(deviceType) {
    Start();
}

tDeviceDetector::~tDeviceDetector() {
    WaitFor();
}

tDevice* tDeviceDetector::GetDevice() {
    std::shared_lock<std::shared_mutex> guard(Lock);
    return Device;
}

void tDeviceDetector::Execute() {
    std::unique_ptr<tDevice> device;
    try {
        device = std::make_unique<tDevice>(Place, DeviceType, Settings);
        QString error;
        if (!device->Init(error)) throw Exception(error);
        tDeviceInfo info;
        if (!device->Info(info)) throw Exception(QStringLiteral("INFO failed."));
        std::unique_lock<std::shared_mutex> guard(Lock);
        Device = device.release();
    } catch (const Exception& e) {
        device.reset();
        WriteLog(QStringLiteral("DevID ") + Place + QStringLiteral(" error: ") + e.Message());
    } catch (const std::exception& e) {
        device.reset();
        WriteLog(QStringLiteral("DevID ") + Place + QStringLiteral(" error: ") + ErrorText(e));
    }
}
