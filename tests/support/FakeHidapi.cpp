// A stand-in hidapi library for the tests of the HID link over hidapi: scripted reports, failures and a write
// the device takes late.
#include "support/FakeHidapi.h"

#include "platform/HidapiAbi.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

tFakeHidState gState;
int gDevice = 0;

} // namespace

extern "C" {

tFakeHidState* fake_hid_state() {
    return &gState;
}

int hid_init() {
    return 0;
}

void* hid_open_path(const char*) {
    if (gState.OpenErrno != 0) {
        errno = gState.OpenErrno;
        return nullptr;
    }
    return &gDevice;
}

int hid_write(void*, const unsigned char* data, size_t length) {
    std::this_thread::sleep_for(std::chrono::milliseconds(gState.WriteDelayMs));
    ++gState.Writes;
    if (gState.WriteErrno != 0) {
        errno = gState.WriteErrno;
        return -1;
    }
    gState.LastWrite.assign(data, data + length);
    return int(length);
}

int hid_read_timeout(void*, unsigned char* data, size_t length, int) {
    if (gState.ReadErrno != 0) {
        errno = gState.ReadErrno;
        return -1;
    }
    if (gState.Reports.empty()) return 0;
    const std::vector<unsigned char> report = gState.Reports.front();
    gState.Reports.pop_front();
    const size_t n = std::min(length, report.size());
    std::memcpy(data, report.data(), n);
    return int(n);
}

void hid_close(void*) {
    ++gState.Closes;
}

hid_device_info* hid_enumerate(unsigned short, unsigned short) {
    auto* info = new hid_device_info{};
    info->path = strdup(gState.Path.c_str());
    info->vendor_id = 0x0483;
    info->product_id = 0x5750;
    return info;
}

void hid_free_enumeration(hid_device_info* list) {
    while (list) {
        hid_device_info* next = list->next;
        free(list->path);
        delete list;
        list = next;
    }
}

int hid_get_report_descriptor(void*, unsigned char* buffer, size_t size) {
    const size_t n = std::min(size, gState.Descriptor.size());
    std::memcpy(buffer, gState.Descriptor.data(), n);
    return int(n);
}
}
