// The HID link of a device: opening the path, commands carried in reports, the receive buffer between
// requests.
#include "core/Exception.h"
#include "core/Functions.h"
#include "core/Logfile.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "device/Device.h"
#include "platform/HidApi.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Logs one report's transfer as the overlapped calls would: completed at once ("(1) ..."), completed after a
// wait, or failed. Returns the byte count, 0 on failure.
int LogHidTransfer(int result, bool immediate, const char* verb, const char* record, const char* tag) {
    const QString v = QString::fromLatin1(verb);
    const QString r = QString::fromLatin1(record);
    const QString t = QString::fromLatin1(tag);
    if (result < 0) {
        WriteLog(v + QStringLiteral(" Error: ") + HidErrorText(result));
        return 0;
    }
    const QString at = immediate ? QStringLiteral("(1) ") : QString();
    WriteLog(at + QStringLiteral("HID %1 successfully.").arg(v));
    WriteLog(at + QStringLiteral("%1.InternalHigh%2").arg(r).arg(result));
    WriteLog(at + QStringLiteral("%1 SUCCESS:%2").arg(t).arg(result));
    if (!immediate) WriteLog(QStringLiteral("%1 SUCCESS:%2").arg(t).arg(result));
    return result;
}

} // namespace

void tDevice::OpenHID() {
    HubMode = false;
    const tHidApi* api = HidApi();
    if (!api) throw Exception(QStringLiteral("Unable to load HID library"));
    errno = 0;
    Handle = api->Open(Place.toLocal8Bit().constData());
    if (!Handle) {
        const QString reason = SystemErrorText(errno != 0 ? errno : EIO);
        Handle = InvalidHandle();
        throw Exception(FmtLoadStr(sCannotOpenDevice, {Place, reason}));
    }
    if (!api->GetReportLengths(Handle, &InputReportLength, &OutputReportLength))
        throw Exception(QStringLiteral("Unable to get HID preparsed data."));
    if (InputReportLength < 3 || OutputReportLength < 2)
        throw Exception(QStringLiteral("Unable to get HID Device Capabilities"));
}

bool tDevice::TransferHID(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t) {
    if (HubMode) {
        WriteLog(QStringLiteral("HID Device not support HUB mode"));
        return false;
    }
    const tHidApi* api = HidApi();
    if (!api || !IsValidHandle(Handle)) return false;
    std::vector<std::uint8_t> output(static_cast<size_t>(OutputReportLength));
    std::vector<std::uint8_t> input(static_cast<size_t>(InputReportLength), 0);
    bool ok = true;

    WriteLog(QStringLiteral("SEND: write bytes %1").arg(n));
    for (int pos = 0; pos < n && ok; pos += OutputReportLength - 1) {
        WriteLog(QStringLiteral("SEND: write report %1").arg(pos));
        std::fill(output.begin(), output.end(), 0);
        output[0] = std::uint8_t(Setting("HID_SendReportID", 2) & 0xFF);
        const int chunk = std::min(OutputReportLength - 1, n - pos);
        std::memcpy(output.data() + 1, request + pos, size_t(chunk));
        WriteLog(QStringLiteral("SEND: HEX ") + LogHex(output.data(), OutputReportLength, "0x", " "));
        WriteLog(QStringLiteral("SEND: BIN '") + LogRaw(output.data(), OutputReportLength) + u'\'');

        bool immediate = false;
        errno = 0;
        const int result = api->Write(Handle, output.data(), OutputReportLength, 500, &immediate);
        int count = LogHidTransfer(result, immediate, "Write", "ovWrite", "OVW");
        // Wine reports a pending HID write one byte short.
        if (result >= 0 && !immediate && IsWine() && Setting("FixWine", 1) != 0) ++count;
        ok = result >= 0 && count == OutputReportLength;
        if (ok) WriteLog(QStringLiteral("SEND: report %1 written.").arg(pos));
    }
    if (ok && n != 0) WriteLog(QStringLiteral("SEND: request written"));

    WriteLog(QStringLiteral("RECV: try to read bytes %1").arg(m));
    int taken = 0;
    int got = 0;
    if (m > 0) {
        WriteLog(QStringLiteral("RECV: Bytes in buffer %1").arg(RecvBuffer.size()));
        if (!RecvBuffer.isEmpty()) {
            taken = int(std::min<qsizetype>(m, RecvBuffer.size()));
            std::memcpy(reply, RecvBuffer.constData(), size_t(taken));
            RecvBuffer.remove(0, taken);
            WriteLog(QStringLiteral("RECV: Read from buffer size%1").arg(taken));
            WriteLog(QStringLiteral("RECV: Read from  buffer HEX ") + LogHex(reply, taken, "0x", " "));
            WriteLog(QStringLiteral("RECV: Read from  buffer BIN '") + LogRaw(reply, taken) + u'\'');
        }
    }
    const int recvId = Setting("HID_RecvReportID", 1);
    while (ok && taken + got < m) {
        std::fill(input.begin(), input.end(), 0);
        bool immediate = false;
        errno = 0;
        const int result = api->Read(Handle, input.data(), InputReportLength, t, nullptr, &immediate);
        const int count = LogHidTransfer(result, immediate, "Read", "ovRead", "OVR");
        WriteLog(QStringLiteral("RECV: read bytes %1").arg(count));
        WriteLog(QStringLiteral("RECV: HEX ") + LogHex(input.data(), count, "0x", " "));
        WriteLog(QStringLiteral("RECV: BIN '") + LogRaw(input.data(), count) + u'\'');
        ok = result >= 0 && count == InputReportLength && input[0] == std::uint8_t(recvId);
        if (!ok) break;

        int payload = input[1] == 255 ? InputReportLength - 2 : input[1];
        // A count beyond the report can only be garbage: take what the report holds.
        payload = std::min(payload, InputReportLength - 2);
        WriteLog(QStringLiteral("RECV: useful information size=%1").arg(payload));
        WriteLog(QStringLiteral("RECV: Useful info HEX ") + LogHex(input.data() + 2, payload, "0x", " "));
        WriteLog(QStringLiteral("RECV: Useful info BIN '") + LogRaw(input.data() + 2, payload) + u'\'');
        const int still = m - taken - got;
        if (payload > still) {
            WriteLog(QStringLiteral("RECV: Bytes to response %1").arg(still));
            std::memcpy(reply + taken + got, input.data() + 2, size_t(still));
            RecvBuffer.append(reinterpret_cast<const char*>(input.data() + 2 + still), payload - still);
            WriteLog(QStringLiteral("RECV: Bytes to buffer %1").arg(RecvBuffer.size()));
        } else {
            WriteLog(QStringLiteral("RECV: Bytes to response %1").arg(payload));
            std::memcpy(reply + taken + got, input.data() + 2, size_t(payload));
            WriteLog(QStringLiteral("RECV: Bytes to buffer 0"));
        }
        got += payload;
    }
    WriteLog(QString());
    return ok;
}

void tDevice::FlushHID() {
    const tHidApi* api = HidApi();
    if (api && IsValidHandle(Handle)) api->Flush(Handle);
}

void tDevice::CloseHID() {
    const tHidApi* api = HidApi();
    if (api && IsValidHandle(Handle)) api->Close(Handle);
}
