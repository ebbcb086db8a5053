// The udev monitor: an added USB device is an arrival, a removed one a removal, every event a change of the
// tree.
#include "platform/UsbMonitor.h"

#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>

tUsbMonitor::tUsbMonitor(QObject* parent) : QObject(parent) {
    FUdev = udev_new();
    if (!FUdev) return;
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    if (!FMonitor || udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "usb", nullptr) < 0 ||
        udev_monitor_enable_receiving(FMonitor) < 0)
        return;
    auto* notifier = new QSocketNotifier(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &tUsbMonitor::Read);
}

tUsbMonitor::~tUsbMonitor() {
    if (FMonitor) udev_monitor_unref(FMonitor);
    if (FUdev) udev_unref(FUdev);
}

void tUsbMonitor::Read() {
    udev_device* device = udev_monitor_receive_device(FMonitor);
    if (!device) return;
    const char* action = udev_device_get_action(device);
    const char* type = udev_device_get_devtype(device);
    const bool usbDevice = type && std::strcmp(type, "usb_device") == 0;
    const bool added = action && std::strcmp(action, "add") == 0;
    const bool removed = action && std::strcmp(action, "remove") == 0;
    udev_device_unref(device);
    emit deviceChange(0x0007, 0);
    if (usbDevice && added) emit deviceChange(0x8000, 5);
    if (usbDevice && removed) emit deviceChange(0x8004, 5);
}
