// One sensor connection: opening its link, the command protocol (INFO, FREQ, stop) and its measurement
// thread.
#pragma once

#include "device/DeviceType.h"
#include "device/PacketSource.h"
#include "platform/CommApi.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class tSettings;

// The six fields of the INFO reply.
struct tDeviceInfo {
    QString Name;
    QString Field2;
    QString Field3;
    std::uint8_t Field4 = 0;
    QString Field5;
    QString Field6;
};

// The sensor's 39-byte INFO reply: six comma-separated fields; the sixth is the streaming rate (0 when it is
// no number).
tDeviceInfo ParseInfoReply(const std::uint8_t* reply, int* speed);
// The answer to FREQ in hub mode.
bool IsFreqAccepted(const std::uint8_t* reply);

class tDevice {
public:
    // `place`: the FTDI location ID in decimal, the serial device path, or the HID device path.
    tDevice(const QString& place, std::uint8_t deviceType, tSettings* settings);
    virtual ~tDevice();

    tDevice(const tDevice&) = delete;
    tDevice& operator=(const tDevice&) = delete;

    // Opens the link; false with the reason in `error` when it cannot (the link is closed again).
    bool Init(QString& error);
    // Asks the sensor for its name and rate.
    bool Info(tDeviceInfo& info);
    QString GetName() const { return Name; }
    bool SetFreq(int a, int b);
    bool StartMeasure(std::uint8_t startParam);
    // Ends the measurement thread and waits for it, keeping what it queued for GetPacket; Stop then frees
    // the thread and stops the sensor.
    void EndMeasureThread();
    bool Stop();
    int GetPacketCount();
    void GetPacket(tMeasurePacket& packet);

    // Writes n request bytes and reads m reply bytes within t milliseconds; never raises.
    bool SendRequest(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t);
    bool IsHubMode() const { return HubMode; }

    std::uint8_t GetDeviceType() const { return DeviceType; }
    QString GetPlace() const { return Place; }
    int GetSpeed() const { return Speed; }
    bool IsMeasuring() const { return MeasureThread != nullptr; }

protected:
    virtual void Cleanup();

private:
    // An integer key of the settings, or `fallback` when there are none or the value is missing or invalid.
    int Setting(const char* key, int fallback) const;
    // The serial call table of this device's link, or nullptr when the FTDI library is not loaded.
    const tCommApi* SerialApi();
    void OpenSerial();
    bool TransferSerial(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t);
    void CloseSerial();
    void RestoreSerialRate();
    void PurgeSerial();
    void OpenHID();
    bool TransferHID(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t);
    void FlushHID();
    void CloseHID();

    const std::uint8_t DeviceType;
    HANDLE Handle;
    const QString Place;
    bool HubMode = true;
    int Speed = 0;
    std::unique_ptr<tPacketSource> MeasureThread;
    QString Name;
    tSettings* const Settings;
    int InputReportLength = 0;
    int OutputReportLength = 0;
    QByteArray RecvBuffer;
    tCommApi FFtdiApi = {};
};
