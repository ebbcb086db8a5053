// A simulated serial sensor: both command protocols, rate and packet-size streaming, scriptable faults.
#pragma once

#include "sim/SimClock.h"

#include <QByteArray>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct tSimSensorConfig {
    QByteArray Name = "T100";
    // The INFO text as sent (padded to 39 bytes with zeros); empty: name, four fields and the rate.
    QByteArray InfoText;
    // INFO's sixth field: the line rate of rate mode; 0 selects packet-size mode.
    int Speed = 921600;
    // Carrier detect raised: the single-letter protocol at 38400 baud, else hub mode at 921600.
    bool CarrierDetect = false;
    int PacketSize = 64;
    // The answer to START in packet-size mode (padded to 39 bytes with blanks); empty: "PACKET_SIZE=" and the
    // size.
    QByteArray StartReply;
    // Sampling period in microseconds until FREQ sets another.
    int Freq = 1000;
    int Decimals = 2;
    int Channels = 1;
    // The measured quantity at a time in seconds, per channel.
    std::function<double(double seconds, int channel)> Signal = [](double t, int) { return 20.0 + t; };
    // Every value sent is kept for Generated() (tests compare with it); the demo sensors of the program keep
    // none, or a run of hours would hold them all twice.
    bool KeepGenerated = true;
};

// Faults a test can script; each applies until changed.
struct tSimFaults {
    bool SilentInfo = false;        // INFO gets no reply at all
    int ShortInfo = 0;              // INFO's text reply cut to this many bytes (0: whole)
    int InfoStatus = 0;             // status byte of single-letter INFO
    bool RefuseStart = false;       // start answered with 0x01 (rate) or a text without PACKET_SIZE
    bool NoGroupEnd = false;        // the stream carries digits without ever ending a number
    bool SplitValues = false;       // the bytes of one value arrive spread over its period
    long long LoseAfterValues = -1; // after this many values the sensor reports itself lost (0xF6)
    int FailReads = 0;              // this many reads in a row fail
    int FailReadsAfter = 0;         // ... once this many reads have succeeded
    int FailWritesAfter = -1;       // writes fail once this many bytes were written
    bool FailModemStatus = false;   // the modem status cannot be read
    bool Mute = false;              // the sensor streams nothing (its values are skipped, not sent later)
};

class tSimSensor {
public:
    explicit tSimSensor(tSimSensorConfig config,
                        std::shared_ptr<tSimClock> clock = std::make_shared<tRealClock>());

    // The host side of the line.
    bool HostWrite(const std::uint8_t* bytes, int count);
    // Reads up to `count` bytes within `timeoutMs` (0 waits for all); -1 for a failed read.
    int HostRead(std::uint8_t* buffer, int count, std::int64_t timeoutMs);
    void HostPurgeReceive();
    // The time of the first byte that has come by `us`, or -1 when none has.
    std::int64_t FirstByteBy(std::int64_t us);
    // Takes up to `count` bytes that have come by `us`, without waiting. An answer to a command is taken
    // alone, never with stream bytes that came after it: a report carries one or the other.
    int HostTake(std::uint8_t* buffer, int count, std::int64_t us);
    void HostSetBaud(int baud);
    bool CarrierDetect() const { return FConfig.CarrierDetect; }

    // Pulling the cable: the bytes already sent still arrive, then every call on a line opened before fails
    // as on a removed device, and the sensor cannot be found or opened. Plugging it back makes it a new
    // device, to be found and opened again.
    void Unplug();
    void Plug();
    bool Plugged();
    // Whether a line opened at `generation` still reaches the sensor.
    bool LineAlive(std::uint64_t generation);
    std::uint64_t Generation();
    // Takes the bytes that were on their way when the sensor was unplugged.
    int HostDrain(std::uint8_t* buffer, int count);
    bool HasPendingBytes();

    // The control calls made on the sensor's lines, in order ("Escape 3", "SetState 921600 8N1 rts=1" ...).
    void RecordCall(const QString& call);
    QStringList Calls();

    // What tests look at and script.
    // Faults are set before the sensor is used, or through SetFaults while a thread uses it.
    tSimFaults& Faults() { return FFaults; }
    void SetFaults(const tSimFaults& faults);
    QByteArray Written();
    // The values the sensor has sent (a value waiting in an unfinished packet of packet-size mode is not
    // sent yet).
    std::vector<double> Generated(int channel = 0);
    int HostBaud();
    // The byte counts the host asked for, read by read.
    std::vector<int> ReadRequests();
    bool Streaming();
    // How many values the stream begun last has made so far (each from the signal as it was then).
    long long ValuesMade();
    int Freq();
    tSimClock& Clock() { return *FClock; }
    const tSimSensorConfig& Config() const { return FConfig; }
    std::mutex& Mutex() { return FMutex; }

private:
    void Command(const QByteArray& command);
    void Reply(const QByteArray& bytes);
    void StartStream(bool packetMode);
    // Produces the stream up to the time `us`.
    void Generate(std::int64_t us);
    void EmitValue(std::int64_t at, long long index);
    void Emit(std::int64_t at, const std::vector<std::uint8_t>& bytes);
    void FlushPacket(std::int64_t at);

    struct tTimedByte {
        std::int64_t At;
        std::uint8_t Byte;
        bool Answer = false;
    };

    tSimSensorConfig FConfig;
    std::shared_ptr<tSimClock> FClock;
    std::mutex FMutex;
    tSimFaults FFaults;
    QByteArray FInput;
    QByteArray FWritten;
    std::deque<tTimedByte> FOutput;
    int FHostBaud = 9600;
    int FFreq;
    bool FStreaming = false;
    bool FPacketMode = false;
    bool FLost = false;
    bool FPlugged = true;
    std::uint64_t FGeneration = 1;
    std::int64_t FStreamStart = 0;
    long long FNextValue = 0;
    std::uint8_t FSequence = 0;
    std::vector<std::uint8_t> FPacketData;
    std::size_t FPacketValues = 0;
    std::vector<std::vector<double>> FGenerated;
    std::vector<int> FReadRequests;
    QStringList FCalls;
};
