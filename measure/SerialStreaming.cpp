// Streaming from a serial sensor (COM or FTDI, one routine over either call table): start exchange,
// rate mode with carry-over, packet-size mode.
#include "core/AppMessages.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "measure/Measurethread.h"
#include "measure/RateFramer.h"
#include "measure/ValueStream.h"
#include "platform/Clock.h"

#include <QString>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kFirstResponseLength = 39;

// Sets the read total constant (and clears the interval and multipliers) when it differs from `constant`,
// or always when `always` is set.
void SetReadTimeout(const tCommApi& api, HANDLE handle, DWORD constant, bool always) {
    tCommTimeouts timeouts = {};
    api.GetCommTimeouts(handle, &timeouts);
    if (!always && timeouts.ReadTotalTimeoutConstant == constant) return;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = constant;
    api.SetCommTimeouts(handle, &timeouts);
}

QString ElapsedMs(std::int64_t from, std::int64_t to) {
    return QString::number(double(to - from) * 1000.0 / double(PerformanceFrequency()), 'f', 3);
}

// The reply's text without blanks and control characters at either end.
QByteArray TrimmedReply(const unsigned char* bytes, int count) {
    int first = 0;
    int last = count;
    while (first < last && bytes[first] <= 0x20) ++first;
    while (last > first && bytes[last - 1] <= 0x20) --last;
    return QByteArray(reinterpret_cast<const char*>(bytes + first), last - first);
}

} // namespace

int PacketSizeFromResponse(const unsigned char* bytes, int count) {
    static const QByteArray kPrefix = QByteArrayLiteral("PACKET_SIZE=");
    const QByteArray text = TrimmedReply(bytes, count);
    if (!text.startsWith(kPrefix)) return 0;
    bool ok = false;
    const int size = text.mid(kPrefix.size()).toInt(&ok, 10);
    return ok && size > 0 ? size : 0;
}

void tMeasureThread::MeasureSerial(const tSerialStreamLink& link) {
    const tCommApi& api = *link.Api;
    const bool rateMode = Speed != 0;

    SetReadTimeout(api, Handle, rateMode ? link.StartReadTimeoutRateMode : 1000, false);

    QByteArray request =
        QByteArrayLiteral("START ") + QByteArray::number(StartParam) + QByteArrayLiteral("\r\n");
    if (rateMode) request = QByteArray("S\0", 2);
    api.PurgeComm(Handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    for (char byte : request) {
        DWORD written = 0;
        if (!api.WriteFile(Handle, &byte, 1, &written, nullptr) || written != 1) {
            // A sensor unplugged while nothing was read from it is found out here.
            PostFailure(WM_MEASURE_SEND_ERROR, link.LinkGone(Handle) ? 2 : 0);
            return;
        }
    }

    unsigned char response[kFirstResponseLength] = {};
    const DWORD wanted = rateMode ? 1 : kFirstResponseLength;
    DWORD got = 0;
    const bool read = api.ReadFile(Handle, response, wanted, &got, nullptr);
    const bool accepted = read && got == wanted && (!rateMode || response[0] == 0);
    if (!accepted) {
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        WriteLog(QStringLiteral("First read timeout :") + LogRaw(response, int(got)));
        return;
    }

    int size = 0;
    if (rateMode) {
        const std::int64_t beforeGet = PerformanceCounter();
        tDCB dcb = {};
        api.GetCommState(Handle, &dcb);
        dcb.BaudRate = DWORD(Speed);
        SetRtsControl(dcb, RTS_CONTROL_ENABLE);
        WriteLog(QStringLiteral("GetCommState: ") + ElapsedMs(beforeGet, PerformanceCounter()));
        const std::int64_t beforeSet = PerformanceCounter();
        api.SetCommState(Handle, &dcb);
        size = RatePacketSize(Speed);
        WriteLog(QStringLiteral("SetCommState: ") + ElapsedMs(beforeSet, PerformanceCounter()));
        api.PurgeComm(Handle, PURGE_RXCLEAR);
        if (link.ShortTimeoutAfterSwitch) SetReadTimeout(api, Handle, 100, false);
        // A frame needs 3 header bytes, the final 0xFF and room for data: rates from 96 to 476 baud give
        // 1 to 4 bytes and are refused like a rate of 0.
        if (size < 5) size = 0;
    } else {
        const QByteArray text = TrimmedReply(response, kFirstResponseLength);
        WriteLog(QStringLiteral("RECV START: ") + LogRaw(text.constData(), int(text.size())));
        size = PacketSizeFromResponse(response, kFirstResponseLength);
    }
    if (size <= 0 || size > kMaxPacketSize) {
        PostFailure(WM_MEASURE_RECV_ERROR, 1);
        WriteLog(QStringLiteral("Invalid first response :") + LogRaw(response, int(got)));
        return;
    }

    if (rateMode)
        StreamRateMode(link, size);
    else
        StreamPacketMode(link, size);

    SetReadTimeout(api, Handle, 500, true);
}

// A failed read on a line that has gone away ends the stream at once; other failures end it once 300 came
// in a row. Either way the failure is posted once and the thread ends: the window stops the run on the first
// notice, so reading on would only spin.
void tMeasureThread::StreamRateMode(const tSerialStreamLink& link, int size) {
    const tCommApi& api = *link.Api;
    tRateFramer framer(size, LogMeasure);
    while (!Terminated()) {
        framer.Begin();
        DWORD got = 0;
        errno = 0;
        const bool ok = api.ReadFile(Handle, framer.Data(), DWORD(framer.Room()), &got, nullptr) != 0;
        const int error = errno;
        const bool gone = !ok && link.LinkGone(Handle);
        if (std::unique_ptr<std::uint8_t[]> block = framer.Finish(int(got), ok))
            QueuePacket(std::move(block), size);
        else if (gone || framer.ReportFailure())
            return EndStream(gone ? SystemErrorText(error != 0 ? error : EIO)
                                  : QStringLiteral("%1 failed reads").arg(framer.Failures()));
    }
}

// Every failed or short packet is reported, so the first one ends the stream.
void tMeasureThread::StreamPacketMode(const tSerialStreamLink& link, int size) {
    const tCommApi& api = *link.Api;
    while (!Terminated()) {
        std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size_t(size)]());
        DWORD got = 0;
        errno = 0;
        const bool ok = api.ReadFile(Handle, block.get(), DWORD(size), &got, nullptr) != 0;
        const int error = errno;
        if (!ok || got < DWORD(size)) {
            // Bytes that came before a loss are the sensor's last packet, unfinished: nothing to draw.
            WriteLog(QStringLiteral("RECV PACKET: ReadTimeout"));
            WriteLog(QStringLiteral("Invalid data recv :") +
                     LogRaw(block.get(), int(std::min<DWORD>(got, DWORD(size)))));
            return EndStream(!ok ? SystemErrorText(error != 0 ? error : EIO)
                                 : QStringLiteral("%1 of %2 bytes").arg(got).arg(size));
        }
        if (LogMeasure) {
            WriteLog(QStringLiteral("RECV PACKET :size=%1\r\n").arg(size) +
                     LogHex(block.get(), size, "", " "));
            WriteLog(QStringLiteral("\r\n"));
        }
        QueuePacket(std::move(block), size);
    }
}
