// The demo world: simulated sensors on serial paths and FTDI locations, behind the same call tables as real
// ones.
#pragma once

#include "device/Ftdilibrary.h"
#include "platform/CommApi.h"
#include "sim/SimHid.h"
#include "sim/SimSensor.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class tSimWorld {
public:
    static tSimWorld& Instance();

    void Clear();
    void AddComSensor(const QString& path, std::shared_ptr<tSimSensor> sensor);
    void AddFtdiSensor(DWORD location, std::shared_ptr<tSimSensor> sensor);
    void AddHidSensor(const QString& path, std::shared_ptr<tSimHidSensor> sensor);

    QStringList ComPaths() const;
    std::vector<DWORD> FtdiLocations() const;
    std::shared_ptr<tSimSensor> FindCom(const QString& path) const;
    std::shared_ptr<tSimSensor> FindFtdi(DWORD location) const;
    std::shared_ptr<tSimHidSensor> FindHid(const QString& path) const;
    // The plugged-in HID sensors.
    std::vector<std::pair<QString, std::shared_ptr<tSimHidSensor>>> HidSensors() const;
    // Pulls every sensor's cable, or plugs every pulled one back.
    void SetPlugged(bool plugged);

    // What the FTDI table was told last (tests look at it).
    int LastLatency = -1;
    DWORD LastInSize = 0;
    DWORD LastOutSize = 0;

private:
    mutable std::mutex FMutex;
    std::vector<std::pair<QString, std::shared_ptr<tSimSensor>>> FCom;
    std::vector<std::pair<DWORD, std::shared_ptr<tSimSensor>>> FFtdi;
    std::vector<std::pair<QString, std::shared_ptr<tSimHidSensor>>> FHid;
};

// The serial call table of the demo COM ports.
const tCommApi& SimComApi();
// The 18 D2XX functions of the demo FTDI bridges.
const tFTDIFunctions& SimFtdiFunctions();
