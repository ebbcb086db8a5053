// The Win32-style serial call table: the COM link runs it over termios, the FTDI link over the D2XX library.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = unsigned int;
using HANDLE = void*;

// The "not open" value of every handle.
inline HANDLE InvalidHandle() {
    return reinterpret_cast<HANDLE>(~std::uintptr_t(0));
}
// The D2XX library for Linux reports a failed open as 0xFFFFFFFF or as a null handle.
inline bool IsValidHandle(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return handle != nullptr && value != ~std::uintptr_t(0) && value != 0xFFFFFFFFu;
}

// The 28-byte device-control record.
struct tDCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD Flags; // bit fields; RTS control in bits 12 and 13
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};
static_assert(sizeof(tDCB) == 28, "the device-control record is 28 bytes");

inline DWORD RtsControl(const tDCB& dcb) {
    return (dcb.Flags >> 12) & 3u;
}
inline void SetRtsControl(tDCB& dcb, DWORD value) {
    dcb.Flags = (dcb.Flags & ~(3u << 12)) | ((value & 3u) << 12);
}

// Time-outs in milliseconds.
struct tCommTimeouts {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
static_assert(sizeof(tCommTimeouts) == 20, "the time-out record is five 32-bit values");

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FT_OPEN_BY_LOCATION = 0x04;
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;
inline constexpr DWORD PURGE_TXABORT = 0x01;
inline constexpr DWORD PURGE_RXABORT = 0x02;
inline constexpr DWORD PURGE_TXCLEAR = 0x04;
inline constexpr DWORD PURGE_RXCLEAR = 0x08;
inline constexpr DWORD MS_CTS_ON = 0x10;
inline constexpr DWORD MS_DSR_ON = 0x20;
inline constexpr DWORD MS_RING_ON = 0x40;
inline constexpr DWORD MS_RLSD_ON = 0x80;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD NOPARITY = 0;
inline constexpr DWORD ONESTOPBIT = 0;

// A non-zero result means success; on failure errno holds the reason.
struct tCommApi {
    HANDLE(*CreateFile)
    (const char* name, DWORD access, DWORD shareMode, void* security, DWORD creation, DWORD flags,
     HANDLE templateFile);
    BOOL (*GetCommState)(HANDLE handle, tDCB* dcb);
    BOOL (*SetCommState)(HANDLE handle, tDCB* dcb);
    BOOL (*GetCommTimeouts)(HANDLE handle, tCommTimeouts* timeouts);
    BOOL (*SetCommTimeouts)(HANDLE handle, tCommTimeouts* timeouts);
    BOOL (*PurgeComm)(HANDLE handle, DWORD flags);
    BOOL (*EscapeCommFunction)(HANDLE handle, DWORD function);
    BOOL (*SetCommBreak)(HANDLE handle);
    BOOL (*ClearCommBreak)(HANDLE handle);
    BOOL (*GetCommModemStatus)(HANDLE handle, DWORD* status);
    // Returns when `size` bytes came or the read total time-out ran out; `done` tells how many came.
    BOOL (*ReadFile)(HANDLE handle, void* buffer, DWORD size, DWORD* done, void* overlapped);
    BOOL (*WriteFile)(HANDLE handle, void* buffer, DWORD size, DWORD* done, void* overlapped);
    BOOL (*CloseHandle)(HANDLE handle);
};

// The table of serial ports (termios), unless the demo sensors or a test installed another.
const tCommApi& ComApi();
void SetComApi(const tCommApi* api);

// The termios implementation.
const tCommApi& TermiosComApi();

#include <QStringList>

// Serial ports that sit on a USB device (USB serial bridges and CDC ports), by device path, in a stable
// order; the demo sensors or a test may install another lister. Raises nothing: an empty list when udev
// cannot tell.
QStringList ComPorts();
void SetComPortLister(QStringList (*lister)());
// False when the system's device database cannot be read at all.
bool ComPortListAvailable();
