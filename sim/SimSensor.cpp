// The simulated sensor's command parser, stream generator and timed output queue.
#include "sim/SimSensor.h"

#include "measure/ValueStream.h"

#include <QList>

#include <algorithm>
#include <limits>

namespace {

constexpr int kReplyLength = 39;
constexpr std::int64_t kStepUs = 100000;

QByteArray Padded(QByteArray text, char filler) {
    text = text.left(kReplyLength);
    text.append(kReplyLength - text.size(), filler);
    return text;
}

} // namespace

tSimSensor::tSimSensor(tSimSensorConfig config, std::shared_ptr<tSimClock> clock)
    : FConfig(std::move(config)), FClock(std::move(clock)), FFreq(FConfig.Freq),
      FGenerated(size_t(std::max(1, FConfig.Channels))) {}

bool tSimSensor::HostWrite(const std::uint8_t* bytes, int count) {
    std::lock_guard<std::mutex> guard(FMutex);
    for (int i = 0; i < count; ++i) {
        if (FFaults.FailWritesAfter >= 0 && FWritten.size() >= FFaults.FailWritesAfter) return false;
        FWritten.append(char(bytes[i]));
        FInput.append(char(bytes[i]));
        // The stop byte of hub mode stands alone.
        if (FInput == QByteArray(1, char(0xFF))) {
            FInput.clear();
            Command(QByteArray(1, char(0xFF)));
            continue;
        }
        const qsizetype end = std::max(FInput.indexOf('\0'), FInput.indexOf('\n'));
        if (end < 0) continue;
        QByteArray command = FInput.left(end);
        FInput.remove(0, end + 1);
        if (command.endsWith('\r')) command.chop(1);
        Command(command);
    }
    return true;
}

void tSimSensor::Reply(const QByteArray& bytes) {
    const std::int64_t now = FClock->NowUs();
    for (const char byte : bytes) FOutput.push_back({now, std::uint8_t(byte), true});
}

void tSimSensor::Command(const QByteArray& command) {
    Generate(FClock->NowUs());
    const bool single = FConfig.CarrierDetect;
    if (command == QByteArray(1, char(0xFF)) || command == "T") {
        FStreaming = false;
    } else if (command == "INFO" || command == "I") {
        if (FFaults.SilentInfo) return;
        if (single) Reply(QByteArray(1, char(FFaults.InfoStatus)));
        if (single && FFaults.InfoStatus != 0) return;
        QByteArray text =
            Padded(FConfig.InfoText.isEmpty() ? FConfig.Name + ",1,2,3,4," + QByteArray::number(FConfig.Speed)
                                              : FConfig.InfoText,
                   '\0');
        if (FFaults.ShortInfo > 0) text = text.left(FFaults.ShortInfo);
        Reply(text);
    } else if (command.startsWith("FREQ ") || command.startsWith("F ")) {
        const int freq = command.split(' ').last().toInt();
        if (freq > 0) FFreq = freq;
        Reply(single ? QByteArray(1, '\0') : Padded("FREQ: Ok.", '\0'));
    } else if (command == "S") {
        Reply(QByteArray(1, FFaults.RefuseStart ? '\x01' : '\0'));
        if (!FFaults.RefuseStart && FConfig.Speed != 0) StartStream(false);
    } else if (command.startsWith("START")) {
        const QByteArray text = !FConfig.StartReply.isEmpty() ? FConfig.StartReply
                                : FFaults.RefuseStart
                                    ? QByteArray("BUSY")
                                    : "PACKET_SIZE=" + QByteArray::number(FConfig.PacketSize);
        Reply(Padded(text, ' '));
        if (!FFaults.RefuseStart && FConfig.Speed == 0) StartStream(true);
    }
}

void tSimSensor::StartStream(bool packetMode) {
    FStreaming = true;
    FPacketMode = packetMode;
    FLost = false;
    FStreamStart = FClock->NowUs();
    FNextValue = 0;
    FSequence = 0;
    FPacketData.clear();
    FPacketValues = 0;
    for (auto& values : FGenerated) values.clear();
}

void tSimSensor::Generate(std::int64_t us) {
    while (FStreaming && !FLost) {
        const std::int64_t at = FStreamStart + (FNextValue + 1) * std::int64_t(FFreq);
        if (at > us) break;
        if (FFaults.Mute)
            ++FNextValue;
        else
            EmitValue(at, FNextValue++);
    }
}

void tSimSensor::Unplug() {
    std::lock_guard<std::mutex> guard(FMutex);
    Generate(FClock->NowUs());
    // An unfinished packet never leaves the sensor.
    for (auto& values : FGenerated) values.resize(values.size() - std::min(values.size(), FPacketValues));
    FPacketData.clear();
    FPacketValues = 0;
    FStreaming = false;
    FPlugged = false;
}

void tSimSensor::Plug() {
    std::lock_guard<std::mutex> guard(FMutex);
    FOutput.clear();
    FInput.clear();
    FStreaming = false;
    FHostBaud = 9600;
    FPlugged = true;
    ++FGeneration;
}

bool tSimSensor::Plugged() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FPlugged;
}

bool tSimSensor::LineAlive(std::uint64_t generation) {
    std::lock_guard<std::mutex> guard(FMutex);
    return FPlugged && generation == FGeneration;
}

std::uint64_t tSimSensor::Generation() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FGeneration;
}

int tSimSensor::HostDrain(std::uint8_t* buffer, int count) {
    std::lock_guard<std::mutex> guard(FMutex);
    if (FReadRequests.size() < 100000) FReadRequests.push_back(count);
    int got = 0;
    while (got < count && !FOutput.empty()) {
        buffer[got++] = FOutput.front().Byte;
        FOutput.pop_front();
    }
    return got;
}

bool tSimSensor::HasPendingBytes() {
    std::lock_guard<std::mutex> guard(FMutex);
    return !FOutput.empty();
}

void tSimSensor::EmitValue(std::int64_t at, long long index) {
    std::vector<std::uint8_t> bytes;
    if (index == FFaults.LoseAfterValues) {
        FLost = true;
        bytes.push_back(kSensorLost);
    } else {
        // Value n is sampled at n sampling periods after the start and sent once it is converted, a period
        // later: the program places it at n periods.
        const double seconds = double(index) * FFreq / 1e6;
        for (int channel = 0; channel < int(FGenerated.size()); ++channel) {
            if (FGenerated.size() > 1) bytes.push_back(std::uint8_t(0xD0 | channel));
            if (FFaults.NoGroupEnd) {
                bytes.push_back(0x12);
                bytes.push_back(0x34);
                continue;
            }
            // The value as the sensor codes it: rounded to its decimals, as the display will read it back.
            std::vector<std::uint8_t> coded;
            EncodeValue(FConfig.Signal(seconds, channel), FConfig.Decimals, coded);
            if (FConfig.KeepGenerated) {
                int current = 0;
                tChannels decoded;
                DecodeValueStream(coded.data(), coded.size(), current, decoded);
                FGenerated[size_t(channel)].push_back(decoded[0].empty() ? 0.0 : decoded[0].front());
            }
            bytes.insert(bytes.end(), coded.begin(), coded.end());
        }
    }
    if (!FPacketMode) {
        Emit(at, bytes);
        return;
    }
    const size_t room = size_t(std::max(0, FConfig.PacketSize - 4));
    if (!FPacketData.empty() && FPacketData.size() + bytes.size() > room) FlushPacket(at);
    FPacketData.insert(FPacketData.end(), bytes.begin(), bytes.end());
    if (!FLost) ++FPacketValues;
    if (FLost) FlushPacket(at);
}

void tSimSensor::FlushPacket(std::int64_t at) {
    std::vector<std::uint8_t> packet(size_t(std::max(4, FConfig.PacketSize)), kDataEnd);
    packet[0] = kPacketStart;
    packet[1] = FSequence++;
    packet[2] = kDataStart;
    std::copy_n(FPacketData.begin(), std::min(FPacketData.size(), packet.size() - 4), packet.begin() + 3);
    packet.back() = kPacketEnd;
    FPacketData.clear();
    FPacketValues = 0;
    for (const std::uint8_t byte : packet) FOutput.push_back({at, byte});
}

void tSimSensor::Emit(std::int64_t at, const std::vector<std::uint8_t>& bytes) {
    const std::int64_t spread =
        FFaults.SplitValues ? std::int64_t(FFreq) / std::int64_t(bytes.size() + 1) : 0;
    for (size_t i = 0; i < bytes.size(); ++i) FOutput.push_back({at + std::int64_t(i) * spread, bytes[i]});
}

int tSimSensor::HostRead(std::uint8_t* buffer, int count, std::int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(FMutex);
    if (FReadRequests.size() < 100000) FReadRequests.push_back(count);
    if (FFaults.FailReadsAfter > 0) {
        --FFaults.FailReadsAfter;
    } else if (FFaults.FailReads > 0) {
        --FFaults.FailReads;
        return -1;
    }
    const std::int64_t now = FClock->NowUs();
    const std::int64_t deadline = now + (timeoutMs > 0 ? timeoutMs : 60000) * 1000;
    std::int64_t target = deadline;
    for (std::int64_t t = now;;) {
        const std::int64_t stepEnd = std::min(deadline, t + kStepUs);
        Generate(stepEnd);
        if (FOutput.size() >= size_t(count) && FOutput[size_t(count) - 1].At <= stepEnd) {
            target = std::max(now, FOutput[size_t(count) - 1].At);
            break;
        }
        if (stepEnd >= deadline || !FStreaming) break;
        t = stepEnd;
    }
    lock.unlock();
    FClock->SleepUntilUs(target);
    lock.lock();
    int got = 0;
    while (got < count && !FOutput.empty() && FOutput.front().At <= target) {
        buffer[got++] = FOutput.front().Byte;
        FOutput.pop_front();
    }
    return got;
}

std::int64_t tSimSensor::FirstByteBy(std::int64_t us) {
    std::lock_guard<std::mutex> guard(FMutex);
    Generate(us);
    return !FOutput.empty() && FOutput.front().At <= us ? FOutput.front().At : -1;
}

int tSimSensor::HostTake(std::uint8_t* buffer, int count, std::int64_t us) {
    std::lock_guard<std::mutex> guard(FMutex);
    Generate(us);
    int got = 0;
    const bool answer = !FOutput.empty() && FOutput.front().Answer;
    while (got < count && !FOutput.empty() && FOutput.front().At <= us && FOutput.front().Answer == answer) {
        buffer[got++] = FOutput.front().Byte;
        FOutput.pop_front();
    }
    return got;
}

void tSimSensor::HostPurgeReceive() {
    std::lock_guard<std::mutex> guard(FMutex);
    // Only what has arrived is dropped; bytes still on their way come later.
    const std::int64_t now = FClock->NowUs();
    Generate(now);
    while (!FOutput.empty() && FOutput.front().At <= now) FOutput.pop_front();
}

void tSimSensor::HostSetBaud(int baud) {
    std::lock_guard<std::mutex> guard(FMutex);
    FHostBaud = baud;
}

QByteArray tSimSensor::Written() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FWritten;
}

std::vector<double> tSimSensor::Generated(int channel) {
    std::lock_guard<std::mutex> guard(FMutex);
    const std::vector<double>& values = FGenerated[size_t(channel)];
    return std::vector<double>(values.begin(),
                               values.end() - std::ptrdiff_t(std::min(values.size(), FPacketValues)));
}

void tSimSensor::SetFaults(const tSimFaults& faults) {
    std::lock_guard<std::mutex> guard(FMutex);
    FFaults = faults;
}

std::vector<int> tSimSensor::ReadRequests() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FReadRequests;
}

int tSimSensor::HostBaud() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FHostBaud;
}

bool tSimSensor::Streaming() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FStreaming;
}

long long tSimSensor::ValuesMade() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FNextValue;
}

int tSimSensor::Freq() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FFreq;
}

void tSimSensor::RecordCall(const QString& call) {
    std::lock_guard<std::mutex> guard(FMutex);
    if (FCalls.size() < 10000) FCalls.append(call);
}

QStringList tSimSensor::Calls() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FCalls;
}
