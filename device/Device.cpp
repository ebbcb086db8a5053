// The device object: link dispatch, INFO parsing, FREQ, start and stop of a measurement.
#include "device/Device.h"

#include "core/Exception.h"
#include "core/Functions.h"
#include "core/Logfile.h"
#include "core/Settings.h"
#include "device/Ftdilibrary.h"
#include "platform/Pause.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kReplyLength = 39;
// The stop's pause before the purge: the bytes still on their way arrive meanwhile.
constexpr int kStopPause = 300;

// The reply taken as 39 characters, trimmed of blanks and control characters at both ends.
QString ReplyText(const std::uint8_t* reply) {
    QString text = QString::fromLatin1(reinterpret_cast<const char*>(reply), kReplyLength);
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= 0x20) ++first;
    while (last > first && text[last - 1].unicode() <= 0x20) --last;
    return text.mid(first, last - first);
}

int DecimalOrZero(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QByteArray Command(const QByteArray& text) {
    return text + '\0';
}

} // namespace

tDeviceInfo ParseInfoReply(const std::uint8_t* reply, int* speed) {
    QString rest = ReplyText(reply);
    QString fields[6];
    for (QString& field : fields) field = CutToken(rest, u',', true);
    *speed = DecimalOrZero(fields[5]);
    return tDeviceInfo{fields[0], fields[1], fields[2], std::uint8_t(DecimalOrZero(fields[3]) & 0xFF),
                       fields[4], fields[5]};
}

bool IsFreqAccepted(const std::uint8_t* reply) {
    return std::memcmp(reply, "FREQ: Ok.", 9) == 0;
}

namespace {
std::atomic<tPacketSourceMaker> gPacketSourceMaker{nullptr};
} // namespace

void SetPacketSourceMaker(tPacketSourceMaker maker) {
    gPacketSourceMaker.store(maker);
}

tPacketSourceMaker PacketSourceMaker() {
    return gPacketSourceMaker.load();
}

tDevice::tDevice(const QString& place, std::uint8_t deviceType, tSettings* settings)
    : DeviceType(deviceType), Handle(InvalidHandle()), Place(place), Settings(settings) {}

tDevice::~tDevice() {
    // The thread borrows the handle: it must end before the line is closed.
    if (MeasureThread) {
        MeasureThread->EndAndWait();
        MeasureThread.reset();
    }
    try {
        Cleanup();
    } catch (...) {
        // Closing an FTDI line without the library has nothing left to close.
    }
}

bool tDevice::Init(QString& error) {
    error.clear();
    try {
        switch (DeviceType) {
        case dtFTDI:
        case dtCOM:
            OpenSerial();
            break;
        case dtHID:
            OpenHID();
            break;
        default:
            throw Exception(QStringLiteral("tDevice::Init: Unknown device type"));
        }
    } catch (const Exception& e) {
        try {
            Cleanup();
        } catch (const Exception&) {
        }
        error = e.Message();
        return false;
    }
    return true;
}

bool tDevice::SendRequest(const std::uint8_t* request, int n, std::uint8_t* reply, int m, int t) {
    switch (DeviceType) {
    case dtFTDI:
    case dtCOM:
        return TransferSerial(request, n, reply, m, t);
    case dtHID:
        return TransferHID(request, n, reply, m, t);
    }
    throw Exception(QStringLiteral("tDevice::SendRequest: Unknown device type"));
}

bool tDevice::Info(tDeviceInfo& info) {
    Name.clear();
    std::uint8_t reply[kReplyLength] = {};
    bool ok;
    if (HubMode) {
        const QByteArray request = Command("INFO");
        ok = SendRequest(reinterpret_cast<const std::uint8_t*>(request.constData()), int(request.size()),
                         reply, kReplyLength, 500);
    } else {
        const std::uint8_t request[] = {'I', 0};
        ok = SendRequest(request, 2, reply, 1, 500) && reply[0] == 0 &&
             SendRequest(nullptr, 0, reply, kReplyLength, 1000);
    }
    if (!ok) return false;
    info = ParseInfoReply(reply, &Speed);
    Name = info.Name;
    return true;
}

bool tDevice::SetFreq(int a, int b) {
    std::uint8_t reply[kReplyLength] = {};
    if (HubMode) {
        const QByteArray request = Command("FREQ " + QByteArray::number(a) + ' ' + QByteArray::number(b));
        return SendRequest(reinterpret_cast<const std::uint8_t*>(request.constData()), int(request.size()),
                           reply, kReplyLength, 500) &&
               IsFreqAccepted(reply);
    }
    const QByteArray request = Command("F " + QByteArray::number(b));
    return SendRequest(reinterpret_cast<const std::uint8_t*>(request.constData()), int(request.size()), reply,
                       1, 500) &&
           reply[0] == 0;
}

int tDevice::Setting(const char* key, int fallback) const {
    return Settings ? Settings->GetInt(QString::fromLatin1(key), fallback) : fallback;
}

bool tDevice::StartMeasure(std::uint8_t startParam) {
    const tPacketSourceMaker maker = PacketSourceMaker();
    if (!maker) {
        WriteLog(QStringLiteral("tDevice::StartMeasure: no measurement thread installed"));
        return false;
    }
    MeasureThread = maker({startParam, Handle, Speed, DeviceType, Setting("FixWine", 1) != 0});
    return true;
}

int tDevice::GetPacketCount() {
    return MeasureThread ? MeasureThread->GetPacketCount() : 0;
}

void tDevice::GetPacket(tMeasurePacket& packet) {
    if (MeasureThread)
        MeasureThread->GetPacket(packet);
    else
        packet = tMeasurePacket();
}

void tDevice::EndMeasureThread() {
    if (MeasureThread) MeasureThread->EndAndWait();
}

bool tDevice::Stop() {
    if (MeasureThread) {
        MeasureThread->EndAndWait();
        MeasureThread.reset();
    }
    bool ok;
    if (HubMode) {
        const std::uint8_t request[] = {0xFF};
        ok = SendRequest(request, 1, nullptr, 0, 500);
    } else {
        const std::uint8_t request[] = {'T', 0};
        ok = SendRequest(request, 2, nullptr, 0, 500);
        // The stream may have switched the line to the sensor's own rate.
        switch (DeviceType) {
        case dtFTDI:
        case dtCOM:
            RestoreSerialRate();
            break;
        case dtHID:
            break;
        default:
            throw Exception(QStringLiteral("tDevice::Stop:(1) Unknown device type"));
        }
    }
    Pause(kStopPause);
    if (ok) {
        switch (DeviceType) {
        case dtFTDI:
        case dtCOM:
            PurgeSerial();
            break;
        case dtHID:
            FlushHID();
            break;
        default:
            throw Exception(QStringLiteral("tDevice::Stop:(2) Unknown device type"));
        }
    }
    return ok;
}

void tDevice::Cleanup() {
    switch (DeviceType) {
    case dtFTDI:
    case dtCOM:
        CloseSerial();
        break;
    case dtHID:
        CloseHID();
        break;
    default:
        throw Exception(QStringLiteral("tDevice::Cleanup: Unknown device type"));
    }
    Handle = InvalidHandle();
}
