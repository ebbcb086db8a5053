// The demo call tables: open ports of simulated sensors, their line state and time-outs.
#include "sim/SimWorld.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// One open line of a simulated sensor.
struct tSimPort {
    std::shared_ptr<tSimSensor> Sensor;
    std::uint64_t Generation = 0;
    tCommTimeouts Timeouts = {};
    tDCB Dcb = {};
};

std::mutex gOpenMutex;
std::vector<tSimSensor*> gOpen;

tSimPort* Port(HANDLE handle) {
    if (!IsValidHandle(handle)) {
        errno = EBADF;
        return nullptr;
    }
    return static_cast<tSimPort*>(handle);
}

// A port whose sensor is still there; calls on a line whose sensor was unplugged fail as on a removed
// device.
tSimPort* LivePort(HANDLE handle) {
    tSimPort* port = Port(handle);
    if (port && !port->Sensor->LineAlive(port->Generation)) {
        errno = ENODEV;
        return nullptr;
    }
    return port;
}

// Records a call on a live line; false (errno set) on a dead one.
tSimPort* Call(HANDLE handle, const QString& call) {
    tSimPort* port = LivePort(handle);
    if (port) port->Sensor->RecordCall(call);
    return port;
}

HANDLE OpenPort(std::shared_ptr<tSimSensor> sensor) {
    if (!sensor || !sensor->Plugged()) {
        errno = ENOENT;
        return InvalidHandle();
    }
    std::lock_guard<std::mutex> guard(gOpenMutex);
    if (std::find(gOpen.begin(), gOpen.end(), sensor.get()) != gOpen.end()) {
        errno = EBUSY;
        return InvalidHandle();
    }
    gOpen.push_back(sensor.get());
    auto* port = new tSimPort;
    port->Generation = sensor->Generation();
    port->Sensor = std::move(sensor);
    port->Dcb.DCBlength = sizeof(tDCB);
    port->Dcb.BaudRate = 9600;
    port->Dcb.ByteSize = 8;
    return port;
}

HANDLE ComCreateFile(const char* name, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    return OpenPort(tSimWorld::Instance().FindCom(QString::fromLocal8Bit(name)));
}

HANDLE FtdiCreateFile(const char* name, DWORD, DWORD, void*, DWORD, DWORD flags, HANDLE) {
    if (!(flags & FT_OPEN_BY_LOCATION)) {
        errno = EINVAL;
        return InvalidHandle();
    }
    return OpenPort(tSimWorld::Instance().FindFtdi(DWORD(reinterpret_cast<std::uintptr_t>(name))));
}

BOOL GetState(HANDLE handle, tDCB* dcb) {
    tSimPort* port = LivePort(handle);
    if (!port) return 0;
    *dcb = port->Dcb;
    return 1;
}

BOOL SetState(HANDLE handle, tDCB* dcb) {
    static const char kParity[] = "NOE";
    tSimPort* port = Call(handle, QStringLiteral("SetState %1 %2%3%4 rts=%5")
                                      .arg(dcb->BaudRate)
                                      .arg(dcb->ByteSize)
                                      .arg(QLatin1Char(dcb->Parity < 3 ? kParity[dcb->Parity] : '?'))
                                      .arg(dcb->StopBits == 0   ? 1
                                           : dcb->StopBits == 2 ? 2
                                                                : 0)
                                      .arg(RtsControl(*dcb)));
    if (!port) return 0;
    port->Dcb = *dcb;
    port->Sensor->HostSetBaud(int(dcb->BaudRate));
    return 1;
}

BOOL GetTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSimPort* port = LivePort(handle);
    if (!port) return 0;
    *timeouts = port->Timeouts;
    return 1;
}

BOOL SetTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSimPort* port = LivePort(handle);
    if (!port) return 0;
    port->Timeouts = *timeouts;
    return 1;
}

BOOL Purge(HANDLE handle, DWORD flags) {
    tSimPort* port = Call(handle, QStringLiteral("Purge %1").arg(flags));
    if (!port) return 0;
    if (flags & PURGE_RXCLEAR) port->Sensor->HostPurgeReceive();
    return 1;
}

BOOL Escape(HANDLE handle, DWORD function) {
    return Call(handle, QStringLiteral("Escape %1").arg(function)) ? 1 : 0;
}
BOOL SetBreak(HANDLE handle) {
    return Call(handle, QStringLiteral("SetBreak")) ? 1 : 0;
}
BOOL ClearBreak(HANDLE handle) {
    return Call(handle, QStringLiteral("ClearBreak")) ? 1 : 0;
}

BOOL ModemStatus(HANDLE handle, DWORD* status) {
    tSimPort* port = LivePort(handle);
    if (!port) return 0;
    if (port->Sensor->Faults().FailModemStatus) {
        errno = ENOTTY;
        return 0;
    }
    *status = MS_CTS_ON | MS_DSR_ON | (port->Sensor->CarrierDetect() ? MS_RLSD_ON : 0);
    return 1;
}

BOOL Read(HANDLE handle, void* buffer, DWORD size, DWORD* done, void*) {
    *done = 0;
    tSimPort* port = Port(handle);
    if (!port) return 0;
    if (!port->Sensor->LineAlive(port->Generation)) {
        // The last bytes sent before the cable was pulled still come; after them the line is gone.
        const int got = port->Sensor->HostDrain(static_cast<std::uint8_t*>(buffer), int(size));
        *done = DWORD(got);
        if (got > 0) return 1;
        errno = ENODEV;
        return 0;
    }
    const tCommTimeouts& t = port->Timeouts;
    const std::int64_t total = std::int64_t(t.ReadTotalTimeoutMultiplier) * size + t.ReadTotalTimeoutConstant;
    const int got = port->Sensor->HostRead(static_cast<std::uint8_t*>(buffer), int(size), total);
    if (got < 0) {
        // A scripted failure of a line that is still there.
        errno = EPROTO;
        return 0;
    }
    *done = DWORD(got);
    return 1;
}

BOOL Write(HANDLE handle, void* buffer, DWORD size, DWORD* done, void*) {
    *done = 0;
    tSimPort* port = Call(handle, QStringLiteral("Write %1").arg(size));
    if (!port) return 0;
    if (!port->Sensor->HostWrite(static_cast<const std::uint8_t*>(buffer), int(size))) {
        // A scripted failure of a line that is still there.
        errno = EPROTO;
        return 0;
    }
    *done = size;
    return 1;
}

BOOL Close(HANDLE handle) {
    tSimPort* port = Port(handle);
    if (!port) return 0;
    {
        std::lock_guard<std::mutex> guard(gOpenMutex);
        gOpen.erase(std::remove(gOpen.begin(), gOpen.end(), port->Sensor.get()), gOpen.end());
    }
    delete port;
    return 1;
}

FT_STATUS CreateDeviceInfoList(DWORD* count) {
    *count = DWORD(tSimWorld::Instance().FtdiLocations().size());
    return 0;
}

FT_STATUS GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* list, DWORD* count) {
    const std::vector<DWORD> locations = tSimWorld::Instance().FtdiLocations();
    const DWORD n = std::min<DWORD>(*count, DWORD(locations.size()));
    for (DWORD i = 0; i < n; ++i) {
        list[i] = FT_DEVICE_LIST_INFO_NODE{};
        list[i].Type = 5;
        list[i].ID = 0x04036001;
        list[i].LocId = locations[i];
        std::snprintf(list[i].SerialNumber, sizeof list[i].SerialNumber, "ZRB%05u", unsigned(i));
        std::strncpy(list[i].Description, "Zorbinka demo sensor", sizeof list[i].Description - 1);
    }
    *count = n;
    return 0;
}

FT_STATUS SetLatency(FT_HANDLE, unsigned char latency) {
    tSimWorld::Instance().LastLatency = latency;
    return 0;
}

FT_STATUS SetUsbParameters(FT_HANDLE, DWORD in, DWORD out) {
    tSimWorld::Instance().LastInSize = in;
    tSimWorld::Instance().LastOutSize = out;
    return 0;
}

// FT_IO_ERROR once the bridge has been unplugged.
DWORD LastError(FT_HANDLE handle) {
    tSimPort* port = Port(handle);
    return port && !port->Sensor->LineAlive(port->Generation) ? 4 : 0;
}

const tCommApi kSimCom = {ComCreateFile, GetState,   SetState,    GetTimeouts, SetTimeouts, Purge, Escape,
                          SetBreak,      ClearBreak, ModemStatus, Read,        Write,       Close};

const tFTDIFunctions kSimFtdi = {
    CreateDeviceInfoList,
    GetDeviceInfoList,
    Read,
    Write,
    FtdiCreateFile,
    GetState,
    SetState,
    Purge,
    SetTimeouts,
    GetTimeouts,
    Close,
    Escape,
    SetBreak,
    ClearBreak,
    SetLatency,
    SetUsbParameters,
    ModemStatus,
    LastError,
};

} // namespace

tSimWorld& tSimWorld::Instance() {
    static tSimWorld world;
    return world;
}

void tSimWorld::Clear() {
    std::lock_guard<std::mutex> guard(FMutex);
    FCom.clear();
    FFtdi.clear();
    FHid.clear();
    LastLatency = -1;
    LastInSize = LastOutSize = 0;
}

void tSimWorld::AddComSensor(const QString& path, std::shared_ptr<tSimSensor> sensor) {
    std::lock_guard<std::mutex> guard(FMutex);
    FCom.emplace_back(path, std::move(sensor));
}

void tSimWorld::AddFtdiSensor(DWORD location, std::shared_ptr<tSimSensor> sensor) {
    std::lock_guard<std::mutex> guard(FMutex);
    FFtdi.emplace_back(location, std::move(sensor));
}

QStringList tSimWorld::ComPaths() const {
    std::lock_guard<std::mutex> guard(FMutex);
    QStringList paths;
    for (const auto& entry : FCom)
        if (!entry.second || entry.second->Plugged()) paths.append(entry.first);
    return paths;
}

std::vector<DWORD> tSimWorld::FtdiLocations() const {
    std::lock_guard<std::mutex> guard(FMutex);
    std::vector<DWORD> locations;
    for (const auto& entry : FFtdi)
        if (!entry.second || entry.second->Plugged()) locations.push_back(entry.first);
    return locations;
}

std::shared_ptr<tSimSensor> tSimWorld::FindCom(const QString& path) const {
    std::lock_guard<std::mutex> guard(FMutex);
    for (const auto& entry : FCom)
        if (entry.first == path) return entry.second;
    return nullptr;
}

std::shared_ptr<tSimSensor> tSimWorld::FindFtdi(DWORD location) const {
    std::lock_guard<std::mutex> guard(FMutex);
    for (const auto& entry : FFtdi)
        if (entry.first == location) return entry.second;
    return nullptr;
}

void tSimWorld::AddHidSensor(const QString& path, std::shared_ptr<tSimHidSensor> sensor) {
    std::lock_guard<std::mutex> guard(FMutex);
    FHid.emplace_back(path, std::move(sensor));
}

std::shared_ptr<tSimHidSensor> tSimWorld::FindHid(const QString& path) const {
    std::lock_guard<std::mutex> guard(FMutex);
    for (const auto& entry : FHid)
        if (entry.first == path) return entry.second;
    return nullptr;
}

std::vector<std::pair<QString, std::shared_ptr<tSimHidSensor>>> tSimWorld::HidSensors() const {
    std::lock_guard<std::mutex> guard(FMutex);
    std::vector<std::pair<QString, std::shared_ptr<tSimHidSensor>>> plugged;
    for (const auto& entry : FHid)
        if (!entry.second || entry.second->Sensor().Plugged()) plugged.push_back(entry);
    return plugged;
}

void tSimWorld::SetPlugged(bool plugged) {
    std::vector<std::shared_ptr<tSimSensor>> sensors;
    {
        std::lock_guard<std::mutex> guard(FMutex);
        for (const auto& entry : FCom)
            if (entry.second) sensors.push_back(entry.second);
        for (const auto& entry : FFtdi)
            if (entry.second) sensors.push_back(entry.second);
        for (const auto& entry : FHid)
            if (entry.second) sensors.push_back(entry.second->SharedSensor());
    }
    for (const auto& sensor : sensors) {
        if (plugged && !sensor->Plugged()) sensor->Plug();
        if (!plugged && sensor->Plugged()) sensor->Unplug();
    }
}

const tCommApi& SimComApi() {
    return kSimCom;
}

const tFTDIFunctions& SimFtdiFunctions() {
    return kSimFtdi;
}
