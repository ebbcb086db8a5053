// The measurement thread: starts the sensor's stream, frames it into packets and queues them for the window.
#pragma once

#include "core/Event.h"
#include "core/Thread.h"
#include "device/DeviceType.h"
#include "device/PacketSource.h"
#include "platform/CommApi.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class QString;

// The serial link a stream runs over and the few ways the FTDI one differs from the COM one.
struct tSerialStreamLink {
    const tCommApi* Api;
    DWORD StartReadTimeoutRateMode; // read total constant before the start request in rate mode
    bool ShortTimeoutAfterSwitch;   // set the read total constant to 100 ms after switching the rate
    // After a failed read: true when the line itself is gone (the sensor was unplugged), so that no further
    // read can succeed.
    bool (*LinkGone)(HANDLE handle);
};

// True for the reasons a read or write gives once a serial line or a HID device has gone away.
bool IsLinkGoneError(int error);

class tMeasureThread : public tThread, public tPacketSource {
public:
    // Starts running at once.
    tMeasureThread(std::uint8_t startParam, HANDLE handle, int speed, std::uint8_t deviceType, bool fixWine);
    ~tMeasureThread() override;

    int GetPacketCount() override;
    // Moves the oldest packet out; an empty queue gives {null, 0}.
    void GetPacket(tMeasurePacket& packet) override;
    // Sets the terminate flag and wakes a waiting read.
    void RequestStop();
    void EndAndWait() override {
        RequestStop();
        WaitFor();
    }

    // Largest packet the thread accepts from a sensor's rate or packet size.
    static constexpr int kMaxPacketSize = 1 << 20;

protected:
    void Execute() override;
    void Failed(const QString& message) override;

private:
    void MeasureCOM();
    void MeasureFTDI();
    void MeasureHID();
    void MeasureSerial(const tSerialStreamLink& link);
    void StreamRateMode(const tSerialStreamLink& link, int size);
    void StreamPacketMode(const tSerialStreamLink& link, int size);
    void QueuePacket(std::unique_ptr<std::uint8_t[]> data, int size);
    // Posts a failure of the start or of the stream, unless a stop was asked for: a run the user ended
    // reports nothing afterwards.
    void PostFailure(int message, int parameter);
    // A failure that ends the stream: logged with its reason, posted once.
    void EndStream(const QString& reason);
    void ClearPackets();

    const std::uint8_t StartParam;
    const HANDLE Handle;
    const int Speed;
    const std::uint8_t DeviceType;
    const bool FixWine;
    const bool LogMeasure;

    std::mutex Lock;
    std::deque<tMeasurePacket> Packets;
    tEvent StopEvent;
};

// Size of a rate-mode packet: 100 ms of the line at `speed` baud with 5 % to spare.
int RatePacketSize(int speed);
// The packet size that the 39-byte answer to START gives in packet-size mode ("PACKET_SIZE=" and a decimal
// number, blanks and control characters around it); 0 when it gives none.
int PacketSizeFromResponse(const unsigned char* bytes, int count);

// Devices read their streams with measurement threads from now on.
void UseMeasureThreads();
