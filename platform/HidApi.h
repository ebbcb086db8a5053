// The HID link: open a device path, learn its report lengths, write and read single reports, flush, close.
#pragma once

#include "core/Event.h"

#include <QString>
#include <cstdint>
#include <vector>

struct tHidDeviceInfo {
    QString Path;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
};

// Results of Write and Read besides a byte count.
inline constexpr int kHidFailed = -1;  // errno holds the reason
inline constexpr int kHidTimeout = -2; // nothing within the time-out
inline constexpr int kHidStopped = -3; // the stop event cut the wait short

struct tHidApi {
    // Opens the path for this program alone; nullptr with errno set when it cannot.
    void* (*Open)(const char* path);
    // Report lengths counted as Windows counts them: the longest report of the kind plus one byte for the
    // report ID. False when the device does not tell.
    bool (*GetReportLengths)(void* device, int* inputLength, int* outputLength);
    // Writes one output report (byte 0 the report ID). Returns the bytes written or a negative result;
    // `immediate` tells whether it completed without waiting.
    int (*Write)(void* device, const std::uint8_t* report, int length, int timeoutMs, bool* immediate);
    // Reads one input report of at most `length` bytes (byte 0 the report ID; the rest of the buffer zeroed)
    // within `timeoutMs`, waiting in short slices so that `stop` ends the wait at once. Returns the bytes of
    // the report as it came; ENODEV when the device has gone.
    int (*Read)(void* device, std::uint8_t* report, int length, int timeoutMs, const tEvent* stop,
                bool* immediate);
    // Discards every input report still pending.
    void (*Flush)(void* device);
    void (*Close)(void* device);
    // The HID devices attached now.
    std::vector<tHidDeviceInfo> (*Enumerate)();
};

// The reason of a failed HID write or read as the log gives it: "Timeout", "Wait Error" or the system's text.
QString HidErrorText(int result);

// The HID table in force: hidapi (loaded on first use) unless the demo sensors or a test installed another.
// nullptr when hidapi cannot be loaded.
const tHidApi* HidApi();
void SetHidApi(const tHidApi* api);
// The file name hidapi is loaded from; tests point it at a stand-in before the first use.
void SetHidapiLibraryName(const char* fileName);
