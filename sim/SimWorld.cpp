// The demo call tables: open ports of simulated sensors, their line state and time-outs.
#include "sim/SimWorld.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// One open line of a simulated sensor.
struct tSimPort {
    std::shared_ptr<tSimSensor> Sensor;
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

HANDLE OpenPort(std::shared_ptr<tSimSensor> sensor) {
    if (!sensor) {
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
    tSimPort* port = Port(handle);
    if (!port) return 0;
    *dcb = port->Dcb;
    return 1;
}

BOOL SetState(HANDLE handle, tDCB* dcb) {
    tSimPort* port = Port(handle);
    if (!port) return 0;
    port->Dcb = *dcb;
    port->Sensor->HostSetBaud(int(dcb->BaudRate));
    return 1;
}

BOOL GetTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSimPort* port = Port(handle);
    if (!port) return 0;
    *timeouts = port->Timeouts;
    return 1;
}

BOOL SetTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSimPort* port = Port(handle);
    if (!port) return 0;
    port->Timeouts = *timeouts;
    return 1;
}

BOOL Purge(HANDLE handle, DWORD flags) {
    tSimPort* port = Port(handle);
    if (!port) return 0;
    if (flags & PURGE_RXCLEAR) port->Sensor->HostPurgeReceive();
    return 1;
}

BOOL Escape(HANDLE handle, DWORD) {
    return Port(handle) ? 1 : 0;
}
BOOL Break(HANDLE handle) {
    return Port(handle) ? 1 : 0;
}

BOOL ModemStatus(HANDLE handle, DWORD* status) {
    tSimPort* port = Port(handle);
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
    const tCommTimeouts& t = port->Timeouts;
    const std::int64_t total = std::int64_t(t.ReadTotalTimeoutMultiplier) * size + t.ReadTotalTimeoutConstant;
    const int got = port->Sensor->HostRead(static_cast<std::uint8_t*>(buffer), int(size), total);
    if (got < 0) {
        errno = EIO;
        return 0;
    }
    *done = DWORD(got);
    return 1;
}

BOOL Write(HANDLE handle, void* buffer, DWORD size, DWORD* done, void*) {
    *done = 0;
    tSimPort* port = Port(handle);
    if (!port) return 0;
    if (!port->Sensor->HostWrite(static_cast<const std::uint8_t*>(buffer), int(size))) {
        errno = EIO;
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

DWORD LastError(FT_HANDLE) {
    return 0;
}

const tCommApi kSimCom = {ComCreateFile, GetState, SetState,    GetTimeouts, SetTimeouts, Purge, Escape,
                          Break,         Break,    ModemStatus, Read,        Write,       Close};

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
    Break,
    Break,
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
    for (const auto& entry : FCom) paths.append(entry.first);
    return paths;
}

std::vector<DWORD> tSimWorld::FtdiLocations() const {
    std::lock_guard<std::mutex> guard(FMutex);
    std::vector<DWORD> locations;
    for (const auto& entry : FFtdi) locations.push_back(entry.first);
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
    return FHid;
}

const tCommApi& SimComApi() {
    return kSimCom;
}

const tFTDIFunctions& SimFtdiFunctions() {
    return kSimFtdi;
}
