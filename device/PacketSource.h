// What a measuring sensor's stream is read by: the device starts one when a measurement starts and takes
// its packets; the measurement thread of the acquisition layer is the one the program installs.
#pragma once

#include "platform/CommApi.h"

#include <cstdint>
#include <memory>

// One block of stream bytes handed whole from the thread to the window; the holder owns it.
struct tMeasurePacket {
    std::unique_ptr<std::uint8_t[]> Data;
    int Size = 0;
};

// What a stream needs of the device it reads: the open link (borrowed, never closed by the stream).
struct tStreamStart {
    std::uint8_t StartParam = 0;
    HANDLE Handle = nullptr;
    int Speed = 0;
    std::uint8_t DeviceType = 0;
    bool FixWine = true;
};

class tPacketSource {
public:
    virtual ~tPacketSource() = default;
    virtual int GetPacketCount() = 0;
    // Moves the oldest packet out; an empty queue gives {null, 0}.
    virtual void GetPacket(tMeasurePacket& packet) = 0;
    // Asks the stream to end and waits until it has; the packets it queued stay to be taken.
    virtual void EndAndWait() = 0;
};

using tPacketSourceMaker = std::unique_ptr<tPacketSource> (*)(const tStreamStart& start);
// How measurements read their streams from now on; without one a start fails with a logged reason.
void SetPacketSourceMaker(tPacketSourceMaker maker);
tPacketSourceMaker PacketSourceMaker();
