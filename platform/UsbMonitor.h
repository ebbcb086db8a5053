// USB hot-plug notices from a udev monitor on the "usb" subsystem, read on the main thread.
#pragma once

#include <QObject>

struct udev;
struct udev_monitor;

class tUsbMonitor : public QObject {
    Q_OBJECT
public:
    explicit tUsbMonitor(QObject* parent = nullptr);
    ~tUsbMonitor() override;

signals:
    // The system's device-change codes: 0x8000 arrival, 0x8004 removal complete, 0x0007 device tree changed;
    // deviceType 5 is a device interface.
    void deviceChange(unsigned code, unsigned deviceType);

private:
    void Read();

    udev* FUdev = nullptr;
    udev_monitor* FMonitor = nullptr;
};
