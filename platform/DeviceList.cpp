// Serial ports from udev: tty devices whose parent is a USB device. On-board ports, consoles and
// pseudo-terminals are never probed.
#include "platform/CommApi.h"

#include <QCollator>
#include <atomic>
#include <libudev.h>

namespace {

std::atomic<QStringList (*)()> gLister{nullptr};

QStringList UdevSerialPorts() {
    QStringList ports;
    udev* context = udev_new();
    if (!context) return ports;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!device) continue;
        const char* node = udev_device_get_devnode(device);
        if (node && udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device"))
            ports.append(QString::fromLocal8Bit(node));
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    // ttyACM2 before ttyACM10.
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(ports.begin(), ports.end(), collator);
    return ports;
}

} // namespace

QStringList ComPorts() {
    QStringList (*lister)() = gLister.load();
    return lister ? lister() : UdevSerialPorts();
}

void SetComPortLister(QStringList (*lister)()) {
    gLister.store(lister);
}

bool ComPortListAvailable() {
    if (gLister.load()) return true;
    udev* context = udev_new();
    if (!context) return false;
    udev_unref(context);
    return true;
}
