// The USB notices' filtering and the guard around the owner's handlers.
#include "device/Componentusb.h"

#include "core/Exception.h"
#include "core/Prompts.h"
#include "platform/UsbMonitor.h"

namespace {

constexpr unsigned kDevNodesChanged = 0x0007;
constexpr unsigned kArrival = 0x8000;
constexpr unsigned kRemoveComplete = 0x8004;
constexpr unsigned kDeviceInterface = 5;

} // namespace

TComponentUSB::TComponentUSB(QObject* owner) : QObject(owner) {
    FMonitor = new tUsbMonitor(this);
    connect(FMonitor, &tUsbMonitor::deviceChange, this, &TComponentUSB::Dispatch);
}

TComponentUSB::~TComponentUSB() = default;

void TComponentUSB::Dispatch(unsigned code, unsigned deviceType) {
    try {
        WMDeviceChange(code, deviceType);
    } catch (const Exception& e) {
        ShowErrorBox(nullptr, e.Message());
    } catch (const std::exception& e) {
        ShowErrorBox(nullptr, ErrorText(e));
    }
}

void TComponentUSB::WMDeviceChange(unsigned code, unsigned deviceType) {
    if (code == kDevNodesChanged) {
        if (OnDevNodeChanged) OnDevNodeChanged(this);
        return;
    }
    if (deviceType != kDeviceInterface) return;
    if (code == kArrival && OnUSBArrival)
        OnUSBArrival(this);
    else if (code == kRemoveComplete && OnUSBRemove)
        OnUSBRemove(this);
}
