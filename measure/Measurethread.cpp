// The measurement thread object: its packet queue, start and stop, and the choice of the streaming routine.
#include "measure/Measurethread.h"

#include "core/AppMessages.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "device/Ftdilibrary.h"

#include <cerrno>

int RatePacketSize(int speed) {
    // Integer arithmetic: speed × 1.05 × 0.01 truncated, without the rounding of a binary fraction.
    return int(std::int64_t(speed) * 105 / 10000);
}

bool IsLinkGoneError(int error) {
    switch (error) {
    case EIO:
    case ENODEV:
    case ENXIO:
    case EBADF:
    case EPIPE:
    case ESHUTDOWN:
        return true;
    }
    return false;
}

void UseMeasureThreads() {
    SetPacketSourceMaker([](const tStreamStart& start) -> std::unique_ptr<tPacketSource> {
        return std::make_unique<tMeasureThread>(start.StartParam, start.Handle, start.Speed, start.DeviceType,
                                                start.FixWine);
    });
}

tMeasureThread::tMeasureThread(std::uint8_t startParam, HANDLE handle, int speed, std::uint8_t deviceType,
                               bool fixWine)
    : StartParam(startParam), Handle(handle), Speed(speed), DeviceType(deviceType), FixWine(fixWine),
      LogMeasure(FindCmdLineSwitch(QStringLiteral("LOG_MEASURE"))) {
    SetPriority(tPriority::Highest);
    Start();
}

tMeasureThread::~tMeasureThread() {
    RequestStop();
    WaitFor();
    ClearPackets();
}

void tMeasureThread::ClearPackets() {
    std::lock_guard<std::mutex> guard(Lock);
    Packets.clear();
}

int tMeasureThread::GetPacketCount() {
    std::lock_guard<std::mutex> guard(Lock);
    return int(Packets.size());
}

void tMeasureThread::GetPacket(tMeasurePacket& packet) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Packets.empty()) {
        packet = tMeasurePacket();
        return;
    }
    packet = std::move(Packets.front());
    Packets.pop_front();
}

void tMeasureThread::RequestStop() {
    Terminate();
    StopEvent.Set();
}

void tMeasureThread::QueuePacket(std::unique_ptr<std::uint8_t[]> data, int size) {
    // No notice: the window's tick polls the queue, and a notice per packet (a hundred a second from a HID
    // sensor) would only wake it for nothing.
    std::lock_guard<std::mutex> guard(Lock);
    Packets.push_back({std::move(data), size});
}

void tMeasureThread::PostFailure(int message, int parameter) {
    if (!Terminated()) PostAppMessage(message, parameter, 0);
}

void tMeasureThread::Failed(const QString&) {
    // A measurement that failed (the FTDI library gone, a device of no known type) ends the run with a box,
    // as a receive error does: the window would otherwise count the time of a run that gets no value.
    PostFailure(WM_MEASURE_RECV_ERROR, 1);
}

void tMeasureThread::EndStream(const QString& reason) {
    WriteLog(QStringLiteral("RECV: stream ended: ") + reason);
    PostFailure(WM_MEASURE_RECV_ERROR, 2);
}

void tMeasureThread::Execute() {
    // A new run never sees the packets of an earlier one.
    ClearPackets();
    switch (DeviceType) {
    case dtFTDI:
        MeasureFTDI();
        break;
    case dtCOM:
        MeasureCOM();
        break;
    case dtHID:
        MeasureHID();
        break;
    default:
        throw Exception(QStringLiteral("tMeasureThread::Execute: Unknown device type"));
    }
}

void tMeasureThread::MeasureCOM() {
    MeasureSerial({&ComApi(), 1000, true, [](HANDLE) { return IsLinkGoneError(errno); }});
}

void tMeasureThread::MeasureFTDI() {
    const tFTDILibrary& library = GetFTDILibrary();
    if (!library.IsLoaded())
        throw Exception(QStringLiteral("??? Thread: Библиотека доступа через интерфейс FTDI не загружена!"));
    const tCommApi api = library.CommApi();
    // The library's own status after a failed call: invalid handle, device not found, not opened or an I/O
    // error all mean the bridge has gone.
    MeasureSerial({&api, 100, false, [](HANDLE handle) {
                       const tFTDILibrary& ftdi = GetFTDILibrary();
                       if (!ftdi.IsLoaded() || !ftdi.FT_W32_GetLastError) return false;
                       const DWORD status = ftdi.FT_W32_GetLastError(handle);
                       return status >= 1 && status <= 4;
                   }});
}
