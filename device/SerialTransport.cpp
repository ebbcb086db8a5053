// The serial link of a device, written once over the call table of either the COM or the FTDI link.
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "device/Device.h"
#include "device/Ftdilibrary.h"
#include "platform/Pause.h"

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

QString LastErrorText() {
    return SystemErrorText(errno != 0 ? errno : EIO);
}

// The open pause is bounded: a mistyped Timeout must not hold the window for days.
constexpr int kMaxOpenPauseMs = 60000;

} // namespace

const tCommApi* tDevice::SerialApi() {
    if (DeviceType == dtCOM) return &ComApi();
    const tFTDILibrary& library = GetFTDILibrary();
    if (!library.IsLoaded()) return nullptr;
    FFtdiApi = library.CommApi();
    return &FFtdiApi;
}

void tDevice::OpenSerial() {
    const bool ftdi = DeviceType == dtFTDI;
    const tCommApi* api = SerialApi();
    if (!api) throw Exception(QString::fromUtf8(kFTDINotLoaded));

    errno = 0;
    if (ftdi) {
        // The D2XX library opens by location: the number itself stands in place of the name.
        const auto location = std::uintptr_t(std::uint32_t(Place.toUInt()));
        Handle =
            api->CreateFile(reinterpret_cast<const char*>(location), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FT_OPEN_BY_LOCATION, nullptr);
    } else {
        Handle = api->CreateFile(Place.toLocal8Bit().constData(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (!IsValidHandle(Handle)) {
        const QString reason = LastErrorText();
        Handle = InvalidHandle();
        throw Exception(FmtLoadStr(sCannotOpenDevice, {Place, reason}));
    }
    api->EscapeCommFunction(Handle, SETRTS);
    api->ClearCommBreak(Handle);

    DWORD status = 0;
    if (!api->GetCommModemStatus(Handle, &status))
        throw Exception(QStringLiteral("Невозможно получить состояние устройства на порту: ") + Place +
                        QStringLiteral("."));
    // A sensor that raises carrier detect speaks the single-letter protocol.
    HubMode = (status & MS_RLSD_ON) == 0;
    int pause = Setting("Timeout", 5000);
    if (pause < 0 || pause > kMaxOpenPauseMs) {
        const int bounded = std::clamp(pause, 0, kMaxOpenPauseMs);
        WriteLog(QStringLiteral("Timeout=%1 is out of range; %2 ms taken").arg(pause).arg(bounded));
        pause = bounded;
    }
    Pause(pause, true); // a log-off or shut-down cuts it short
    if (!ftdi && Setting("IgnoreCD", 0) != 0) HubMode = false;

    tDCB dcb = {};
    api->GetCommState(Handle, &dcb);
    dcb.DCBlength = sizeof(tDCB);
    dcb.BaudRate = HubMode ? 921600 : 38400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetRtsControl(dcb, RTS_CONTROL_ENABLE);
    if (!api->SetCommState(Handle, &dcb))
        throw Exception(FmtLoadStr(sCannotSetDeviceParams, {Place, LastErrorText()}));

    if (ftdi) {
        const int latency = Setting("Latency", 16);
        const int inSize = Setting("InSize", 4096);
        const int outSize = Setting("OutSize", 4096);
        GetFTDILibrary().FT_SetLatencyTimer(Handle, static_cast<unsigned char>(latency & 0xFF));
        GetFTDILibrary().FT_SetUSBParameters(Handle, DWORD(inSize), DWORD(outSize));
    }

    tCommTimeouts timeouts = {0, 0, 500, 0, 500};
    if (!api->SetCommTimeouts(Handle, &timeouts))
        throw Exception(FmtLoadStr(sCannotSetDeviceParams, {Place, LastErrorText()}));
    api->PurgeComm(Handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool tDevice::TransferSerial(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t) {
    const tCommApi* api = SerialApi();
    if (!api) {
        WriteLog(QString::fromUtf8(kFTDINotLoaded));
        return false;
    }
    bool ok = true;
    tCommTimeouts timeouts = {};
    api->GetCommTimeouts(Handle, &timeouts);
    // The new read time-out stays in force for later transfers and for streaming.
    if (m > 0 && timeouts.ReadTotalTimeoutConstant != DWORD(t)) {
        timeouts.ReadTotalTimeoutConstant = DWORD(t);
        api->SetCommTimeouts(Handle, &timeouts);
    }
    if (n > 0) {
        WriteLog(QStringLiteral("SEND: purge comm"));
        api->PurgeComm(Handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    WriteLog(QStringLiteral("SEND: write bytes %1").arg(n));
    WriteLog(QStringLiteral("SEND: HEX ") + LogHex(request, n, "0x", " "));
    WriteLog(QStringLiteral("SEND: BIN '") + LogRaw(request, n) + u'\'');
    if (HubMode || n == 0) {
        // Sensors in hub mode take a command one byte per write.
        for (int i = 0; i < n && ok; ++i) {
            DWORD written = 0;
            std::uint8_t byte = request[i];
            ok = api->WriteFile(Handle, &byte, 1, &written, nullptr) && written == 1;
        }
    } else {
        DWORD written = 0;
        ok = api->WriteFile(Handle, const_cast<std::uint8_t*>(request), DWORD(n), &written, nullptr) &&
             written == DWORD(n);
    }
    if (ok) WriteLog(QStringLiteral("SEND: request written"));
    WriteLog(QStringLiteral("RECV: try to read bytes %1").arg(m));
    if (ok && m > 0) {
        DWORD got = 0;
        ok = api->ReadFile(Handle, reply, DWORD(m), &got, nullptr) && got == DWORD(m);
        const int k = int(std::min<DWORD>(got, DWORD(m)));
        WriteLog(QStringLiteral("RECV: read bytes %1").arg(k));
        WriteLog(QStringLiteral("RECV: HEX ") + LogHex(reply, k, "0x", " "));
        WriteLog(QStringLiteral("RECV: BIN '") + LogRaw(reply, k) + u'\'');
    }
    WriteLog(QString());
    return ok;
}

void tDevice::CloseSerial() {
    const tCommApi* api = SerialApi();
    if (!api) throw Exception(QString::fromUtf8(kFTDINotLoaded));
    // A second close (after a failed open) has nothing to act on.
    if (!IsValidHandle(Handle)) return;
    api->EscapeCommFunction(Handle, CLRRTS);
    api->SetCommBreak(Handle);
    api->CloseHandle(Handle);
}

void tDevice::RestoreSerialRate() {
    const tCommApi* api = SerialApi();
    if (!api) throw Exception(QString::fromUtf8(kFTDINotLoaded));
    tDCB dcb = {};
    api->GetCommState(Handle, &dcb);
    dcb.BaudRate = 38400;
    SetRtsControl(dcb, RTS_CONTROL_ENABLE);
    api->SetCommState(Handle, &dcb);
}

void tDevice::PurgeSerial() {
    const tCommApi* api = SerialApi();
    if (!api) throw Exception(QString::fromUtf8(kFTDINotLoaded));
    api->PurgeComm(Handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}
