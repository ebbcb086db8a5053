// TComponentUSB: tells its owner when a USB device arrives or goes and when the device tree changes.
#pragma once

#include <QObject>
#include <functional>

class tUsbMonitor;

class TComponentUSB : public QObject {
    Q_OBJECT
public:
    using tNotifyEvent = std::function<void(QObject* sender)>;

    explicit TComponentUSB(QObject* owner);
    ~TComponentUSB() override;

    tNotifyEvent OnUSBArrival;
    tNotifyEvent OnUSBRemove;
    tNotifyEvent OnDevNodeChanged;

    // Turns one device-change notice into the component's events: 0x0007 the tree changed; 0x8000 arrival and
    // 0x8004 removal of a device interface (type 5); nothing for anything else.
    virtual void WMDeviceChange(unsigned code, unsigned deviceType);

    // A notice from the system (or the demo cable): WMDeviceChange, with an error of a handler shown in the
    // error box while the component goes on.
    void Dispatch(unsigned code, unsigned deviceType);

private:
    tUsbMonitor* FMonitor = nullptr;
};
