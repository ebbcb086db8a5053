// The FTDI D2XX library bound at run time: 18 functions by name, one process-wide binding.
#pragma once

#include "platform/CommApi.h"

#include <QString>
#include <cstddef>
#include <memory>

class tLibrary;

using FT_STATUS = DWORD;
using FT_HANDLE = void*;

// One entry of the library's device list, as the Linux build of the library declares it: the
// handle at the end is 8 bytes wide on 64-bit systems.
struct FT_DEVICE_LIST_INFO_NODE {
    DWORD Flags;
    DWORD Type;
    DWORD ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, LocId) == 12, "location ID at offset 12");
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(void*) == 8 ? 104 : 100),
              "device-list node as the Linux library lays it out");

// The 18 functions in binding order.
struct tFTDIFunctions {
    FT_STATUS (*FT_CreateDeviceInfoList)(DWORD* count);
    FT_STATUS (*FT_GetDeviceInfoList)(FT_DEVICE_LIST_INFO_NODE* list, DWORD* count);
    BOOL (*FT_W32_ReadFile)(FT_HANDLE, void* buffer, DWORD size, DWORD* done, void* overlapped);
    BOOL (*FT_W32_WriteFile)(FT_HANDLE, void* buffer, DWORD size, DWORD* done, void* overlapped);
    FT_HANDLE(*FT_W32_CreateFile)
    (const char* name, DWORD access, DWORD shareMode, void* security, DWORD creation, DWORD flags,
     HANDLE templateFile);
    BOOL (*FT_W32_GetCommState)(FT_HANDLE, tDCB*);
    BOOL (*FT_W32_SetCommState)(FT_HANDLE, tDCB*);
    BOOL (*FT_W32_PurgeComm)(FT_HANDLE, DWORD flags);
    BOOL (*FT_W32_SetCommTimeouts)(FT_HANDLE, tCommTimeouts*);
    BOOL (*FT_W32_GetCommTimeouts)(FT_HANDLE, tCommTimeouts*);
    BOOL (*FT_W32_CloseHandle)(FT_HANDLE);
    BOOL (*FT_W32_EscapeCommFunction)(FT_HANDLE, DWORD function);
    BOOL (*FT_W32_SetCommBreak)(FT_HANDLE);
    BOOL (*FT_W32_ClearCommBreak)(FT_HANDLE);
    FT_STATUS (*FT_SetLatencyTimer)(FT_HANDLE, unsigned char latency);
    FT_STATUS (*FT_SetUSBParameters)(FT_HANDLE, DWORD inSize, DWORD outSize);
    BOOL (*FT_W32_GetCommModemStatus)(FT_HANDLE, DWORD* status);
    DWORD (*FT_W32_GetLastError)(FT_HANDLE);
};

class tFTDILibrary : public tFTDIFunctions {
public:
    // Binds the system's D2XX library.
    tFTDILibrary();
    // Binds the library of that file name (tests use a library that lacks the functions).
    explicit tFTDILibrary(const QString& fileName);
    // Takes a ready table of the 18 functions (the demo sensors).
    explicit tFTDILibrary(const tFTDIFunctions& table);
    virtual ~tFTDILibrary();

    bool IsLoaded() const { return FLoaded; }

    // The serial calls of the table.
    tCommApi CommApi() const;

private:
    void Bind(const QString& fileName);

    std::unique_ptr<tLibrary> Library;
    bool FLoaded = false;
};

// The name the loader looks for.
extern const char kFTDILibraryName[];

// The process-wide binding, made on first use and kept for the whole run.
tFTDILibrary& GetFTDILibrary();
// Replaces the process-wide binding (the DEMO switch and tests); nullptr binds anew on next use.
void SetFTDILibrary(std::unique_ptr<tFTDILibrary> library);

// Texts of the FTDI paths when the library is not there.
extern const char kFTDINotLoaded[];
