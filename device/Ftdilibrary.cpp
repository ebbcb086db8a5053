// Binding the D2XX library; a failure is logged (or shown) once and the program goes on without FTDI.
#include "device/Ftdilibrary.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Prompts.h"
#include "device/Library.h"

#include <mutex>

const char kFTDILibraryName[] = "libftd2xx.so";
const char kFTDINotLoaded[] = "??? Библиотека доступа через интерфейс FTDI не загружена!";

namespace {

std::unique_ptr<tFTDILibrary> gLibrary;
std::mutex gLibraryMutex;

template <typename T> void BindOne(const tLibrary& library, T& slot, const char* name) {
    slot = reinterpret_cast<T>(library.GetProc(QString::fromLatin1(name)));
}

} // namespace

tFTDILibrary::tFTDILibrary() : tFTDIFunctions{} {
    Bind(QString::fromLatin1(kFTDILibraryName));
}

tFTDILibrary::tFTDILibrary(const QString& fileName) : tFTDIFunctions{} {
    Bind(fileName);
}

tFTDILibrary::tFTDILibrary(const tFTDIFunctions& table) : tFTDIFunctions(table), FLoaded(true) {}

tFTDILibrary::~tFTDILibrary() = default;

void tFTDILibrary::Bind(const QString& fileName) {
    try {
        Library = std::make_unique<tLibrary>(fileName);
        const tLibrary& l = *Library;
        BindOne(l, FT_CreateDeviceInfoList, "FT_CreateDeviceInfoList");
        BindOne(l, FT_GetDeviceInfoList, "FT_GetDeviceInfoList");
        BindOne(l, FT_W32_ReadFile, "FT_W32_ReadFile");
        BindOne(l, FT_W32_WriteFile, "FT_W32_WriteFile");
        BindOne(l, FT_W32_CreateFile, "FT_W32_CreateFile");
        BindOne(l, FT_W32_GetCommState, "FT_W32_GetCommState");
        BindOne(l, FT_W32_SetCommState, "FT_W32_SetCommState");
        BindOne(l, FT_W32_PurgeComm, "FT_W32_PurgeComm");
        BindOne(l, FT_W32_SetCommTimeouts, "FT_W32_SetCommTimeouts");
        BindOne(l, FT_W32_GetCommTimeouts, "FT_W32_GetCommTimeouts");
        BindOne(l, FT_W32_CloseHandle, "FT_W32_CloseHandle");
        BindOne(l, FT_W32_EscapeCommFunction, "FT_W32_EscapeCommFunction");
        BindOne(l, FT_W32_SetCommBreak, "FT_W32_SetCommBreak");
        BindOne(l, FT_W32_ClearCommBreak, "FT_W32_ClearCommBreak");
        BindOne(l, FT_SetLatencyTimer, "FT_SetLatencyTimer");
        BindOne(l, FT_SetUSBParameters, "FT_SetUSBParameters");
        BindOne(l, FT_W32_GetCommModemStatus, "FT_W32_GetCommModemStatus");
        BindOne(l, FT_W32_GetLastError, "FT_W32_GetLastError");
        FLoaded = true;
    } catch (const Exception& e) {
        Library.reset();
        const QString reason = QStringLiteral("Использование интерфейса FTDI невозможно!");
        if (LogFile) {
            LogFile->Write(e.Message());
            LogFile->Write(reason);
        } else {
            ShowWarningBox(nullptr, reason + QStringLiteral("\r\nПричина: ") + e.Message());
        }
    }
}

tCommApi tFTDILibrary::CommApi() const {
    return tCommApi{
        FT_W32_CreateFile,      FT_W32_GetCommState,       FT_W32_SetCommState,       FT_W32_GetCommTimeouts,
        FT_W32_SetCommTimeouts, FT_W32_PurgeComm,          FT_W32_EscapeCommFunction, FT_W32_SetCommBreak,
        FT_W32_ClearCommBreak,  FT_W32_GetCommModemStatus, FT_W32_ReadFile,           FT_W32_WriteFile,
        FT_W32_CloseHandle,
    };
}

tFTDILibrary& GetFTDILibrary() {
    std::lock_guard<std::mutex> guard(gLibraryMutex);
    if (!gLibrary) gLibrary = std::make_unique<tFTDILibrary>();
    return *gLibrary;
}

void SetFTDILibrary(std::unique_ptr<tFTDILibrary> library) {
    std::lock_guard<std::mutex> guard(gLibraryMutex);
    gLibrary = std::move(library);
}
