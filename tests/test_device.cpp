// The device object on demo sensors: exact bytes and log lines of INFO, FREQ and stop over both tables.
#include "core/Exception.h"
#include "support/LogCapture.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"
#include "support/SimFixture.h"

#include "platform/Pause.h"
#include "platform/SessionEnd.h"
#include "support/MessageCollector.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <csignal>

namespace {

QByteArray Bytes(const char* text, int size) {
    return QByteArray(text, size);
}

class DeviceTest : public tSimFixture {};

} // namespace

TEST_F(DeviceTest, InfoFreqAndStopBytesInBothProtocolsOverBothTables) {
    const struct {
        const char* what;
        std::uint8_t type;
        bool carrier;
        QByteArray expected;
        int baudAfterStop;
    } rows[] = {
        {"COM hub", dtCOM, false, Bytes("INFO\0FREQ 0 100000\0\xFF", 20), 460800},
        {"COM single-letter", dtCOM, true, Bytes("I\0F 100000\0T\0", 13), 38400},
        {"FTDI hub", dtFTDI, false, Bytes("INFO\0FREQ 0 100000\0\xFF", 20), 460800},
        {"FTDI single-letter", dtFTDI, true, Bytes("I\0F 100000\0T\0", 13), 38400},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Name = "Temp-1";
        config.Speed = 460800;
        config.CarrierDetect = row.carrier;
        auto sensor =
            row.type == dtCOM ? AddCom(QStringLiteral("/dev/ttyACM0"), config) : AddFtdi(1234, config);
        auto device =
            Open(row.type == dtCOM ? QStringLiteral("/dev/ttyACM0") : QStringLiteral("1234"), row.type);
        EXPECT_EQ(device->IsHubMode(), !row.carrier);
        EXPECT_EQ(sensor->HostBaud(), row.carrier ? 38400 : 921600);

        tDeviceInfo info;
        ASSERT_TRUE(device->Info(info));
        EXPECT_EQ(info.Name, QStringLiteral("Temp-1"));
        EXPECT_EQ(device->GetName(), QStringLiteral("Temp-1"));
        EXPECT_EQ(device->GetSpeed(), 460800);
        EXPECT_TRUE(device->SetFreq(0, 100000));
        EXPECT_EQ(sensor->Freq(), 100000);
        sensor->HostSetBaud(460800);
        EXPECT_TRUE(device->Stop());
        EXPECT_EQ(sensor->Written(), row.expected);
        EXPECT_EQ(sensor->HostBaud(), row.baudAfterStop)
            << "single-letter stop returns the line to 38400, hub stop leaves it";

        // What the sensors depend on beyond the bytes: the control lines, the line format, the purges, and
        // how a command is cut into write calls.
        device->StartMeasure(0);
        ASSERT_TRUE(WaitUntil([&] { return device->GetPacketCount() > 0; }));
        device->Stop();
        device.reset();
        QStringList calls = sensor->Calls();
        const QString line = QStringLiteral("SetState %1 8N1 rts=1").arg(row.carrier ? 38400 : 921600);
        EXPECT_EQ(calls.mid(0, 4), (QStringList{QStringLiteral("Escape 3"), QStringLiteral("ClearBreak"),
                                                line, QStringLiteral("Purge 12")}))
            << "RTS up, break off, 8N1, both buffers purged";
        EXPECT_EQ(calls.mid(calls.size() - 2),
                  (QStringList{QStringLiteral("Escape 4"), QStringLiteral("SetBreak")}))
            << "RTS down and break on at close";
        const qsizetype start = calls.indexOf(QStringLiteral("SetState 460800 8N1 rts=1"));
        ASSERT_GE(start, 0) << "the stream runs at the sensor's rate";
        EXPECT_EQ(calls[start + 1], QStringLiteral("Purge 8")) << "receive buffer purged after the switch";
        EXPECT_EQ(calls.count(QStringLiteral("Purge 15")), 2) << "each stop purges everything";
        QStringList writes = calls.filter(QStringLiteral("Write "));
        writes.removeDuplicates();
        EXPECT_EQ(writes, row.carrier ? (QStringList{QStringLiteral("Write 2"), QStringLiteral("Write 9"),
                                                     QStringLiteral("Write 1")})
                                      : QStringList{QStringLiteral("Write 1")})
            << "hub mode writes byte by byte, single-letter mode a command per call (the start byte by byte)";
    }
    EXPECT_EQ(tSimWorld::Instance().LastLatency, 16);
    EXPECT_EQ(tSimWorld::Instance().LastInSize, 4096u);
}

TEST_F(DeviceTest, InfoReplyParsing) {
    const struct {
        QByteArray reply;
        const char* name;
        int speed;
        int field4;
        const char* field6;
    } rows[] = {
        {"ABC,1,2,3,4,921600", "ABC", 921600, 3, "921600"},
        {"ABC,1,2", "ABC", 0, 0, ""},
        {" ABC ,1,2,300,4,x", "ABC ", 0, 300 & 0xFF, "x"},
        {"\x01\x02M401,a,b,c,d,2000\x03", "M401", 2000, 0, "2000"},
        {"", "", 0, 0, ""},
        {",,,,,", "", 0, 0, ""},
        {"N,1,2,3,4,5,6,7", "N", 5, 3, "5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply.toStdString());
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.InfoText = row.reply.isEmpty() ? QByteArray(1, '\0') : row.reply;
        AddCom(QStringLiteral("/dev/ttyUSB0"), config);
        auto device = Open(QStringLiteral("/dev/ttyUSB0"), dtCOM);
        tDeviceInfo info;
        ASSERT_TRUE(device->Info(info));
        EXPECT_EQ(info.Name, QString::fromLatin1(row.name));
        EXPECT_EQ(device->GetSpeed(), row.speed);
        EXPECT_EQ(info.Field4, row.field4);
        EXPECT_EQ(info.Field6, QString::fromLatin1(row.field6));
    }
}

TEST_F(DeviceTest, InfoFailures) {
    const struct {
        const char* what;
        bool carrier;
        tSimFaults faults;
        QByteArray written;
    } rows[] = {
        {"no reply", false, {.SilentInfo = true}, Bytes("INFO\0", 5)},
        {"short reply", false, {.ShortInfo = 20}, Bytes("INFO\0", 5)},
        {"status not 0: no 39-byte read", true, {.InfoStatus = 1}, Bytes("I\0", 2)},
        {"single-letter silent", true, {.SilentInfo = true}, Bytes("I\0", 2)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.CarrierDetect = row.carrier;
        auto sensor = AddCom(QStringLiteral("/dev/ttyUSB0"), config);
        sensor->Faults() = row.faults;
        auto device = Open(QStringLiteral("/dev/ttyUSB0"), dtCOM);
        tDeviceInfo info;
        info.Name = QStringLiteral("kept");
        EXPECT_FALSE(device->Info(info));
        EXPECT_EQ(info.Name, QStringLiteral("kept"));
        EXPECT_TRUE(device->GetName().isEmpty());
        EXPECT_EQ(sensor->Written(), row.written);
        if (row.carrier) {
            EXPECT_EQ(sensor->ReadRequests().size(), 1u);
        }
    }
}

TEST_F(DeviceTest, HubInfoOverComLogsTheWholeExchange) {
    tSimSensorConfig config;
    config.InfoText = "ABC,1,2,3,4,921600";
    AddCom(QStringLiteral("/dev/ttyACM1"), config);
    auto device = Open(QStringLiteral("/dev/ttyACM1"), dtCOM);
    tLogCapture log;
    tDeviceInfo info;
    ASSERT_TRUE(device->Info(info));
    const QByteArray reply = config.InfoText + QByteArray(39 - config.InfoText.size(), '\0');
    QString hex;
    for (const char c : reply)
        hex += QStringLiteral("0x%1 ").arg(uchar(c), 2, 16, QChar(u'0')).toUpper().replace(u'X', u'x');
    const QStringList expected = {
        QStringLiteral("SEND: purge comm"),
        QStringLiteral("SEND: write bytes 5"),
        QStringLiteral("SEND: HEX 0x49 0x4E 0x46 0x4F 0x00 "),
        QStringLiteral("SEND: BIN '") + QString::fromLatin1("INFO\0", 5) + u'\'',
        QStringLiteral("SEND: request written"),
        QStringLiteral("RECV: try to read bytes 39"),
        QStringLiteral("RECV: read bytes 39"),
        QStringLiteral("RECV: HEX ") + hex,
        QStringLiteral("RECV: BIN '") + QString::fromLatin1(reply) + u'\'',
        QString(),
    };
    EXPECT_EQ(log.Entries(), expected);
}

TEST_F(DeviceTest, TransfersWithNothingToWriteOrNothingToRead) {
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"));
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    tLogCapture log;
    std::uint8_t reply[4] = {};
    // n = 0: no purge, no write; the read is still done (and times out here).
    EXPECT_FALSE(device->SendRequest(nullptr, 0, reply, 4, 1000));
    EXPECT_EQ(log.Entries().mid(0, 5),
              (QStringList{QStringLiteral("SEND: write bytes 0"), QStringLiteral("SEND: HEX "),
                           QStringLiteral("SEND: BIN ''"), QStringLiteral("SEND: request written"),
                           QStringLiteral("RECV: try to read bytes 4")}));
    EXPECT_EQ(sensor->ReadRequests().back(), 4);

    // m = 0: the read time-out of the previous transfer stays, no read is done.
    const size_t reads = sensor->ReadRequests().size();
    log.Clear();
    const std::uint8_t stop[] = {0xFF};
    EXPECT_TRUE(device->SendRequest(stop, 1, nullptr, 0, 500));
    EXPECT_EQ(sensor->ReadRequests().size(), reads);
    EXPECT_EQ(log.Entries().last(), QString());
    EXPECT_FALSE(log.Entries().contains(QStringLiteral("RECV: read bytes 0")));
    const std::int64_t before = clock->NowUs();
    EXPECT_FALSE(device->SendRequest(nullptr, 0, reply, 4, 0 + 1000));
    EXPECT_EQ(clock->NowUs() - before, 1000 * 1000) << "the 1000 ms time-out is still in force";
}

TEST_F(DeviceTest, IgnoreCdSwitchesHubModeOffOnComOnly) {
    settings.AddName(QStringLiteral("IgnoreCD"), QStringLiteral("1"));
    AddCom(QStringLiteral("/dev/ttyACM0"));
    AddFtdi(7);
    EXPECT_FALSE(Open(QStringLiteral("/dev/ttyACM0"), dtCOM)->IsHubMode());
    EXPECT_TRUE(Open(QStringLiteral("7"), dtFTDI)->IsHubMode());
}

TEST_F(DeviceTest, OpenFailuresCloseAgainAndReport) {
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"));
    sensor->Faults().FailModemStatus = true;
    const struct {
        QString place;
        std::uint8_t type;
        QString error;
    } rows[] = {
        {QStringLiteral("/dev/ttyACM0"), dtCOM,
         QStringLiteral("Невозможно получить состояние устройства на порту: /dev/ttyACM0.")},
        {QStringLiteral("/dev/ttyACM9"), dtCOM,
         QStringLiteral("Невозможно открыть устройство '/dev/ttyACM9'.\r\nСистема сообщает: ") +
             SystemErrorText(ENOENT)},
        {QStringLiteral("99"), dtFTDI,
         QStringLiteral("Невозможно открыть устройство '99'.\r\nСистема сообщает: ") +
             SystemErrorText(ENOENT)},
        {QStringLiteral("x"), 7, QStringLiteral("tDevice::Init: Unknown device type")},
    };
    for (const auto& row : rows) {
        tDevice device(row.place, row.type, &settings);
        QString error;
        EXPECT_FALSE(device.Init(error));
        EXPECT_EQ(error, row.error);
    }
    // The failed open closed the port: it opens again.
    sensor->Faults().FailModemStatus = false;
    Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
}

TEST_F(DeviceTest, FtdiWithoutTheLibrary) {
    tRecordingPrompts prompts;
    tLogCapture log;
    SetFTDILibrary(std::make_unique<tFTDILibrary>(QStringLiteral("libzorbinka-absent.so")));
    tDevice device(QStringLiteral("5"), dtFTDI, &settings);
    QString error;
    EXPECT_FALSE(device.Init(error));
    EXPECT_EQ(error, QStringLiteral("??? Библиотека доступа через интерфейс FTDI не загружена!"));
    log.Clear();
    std::uint8_t byte = 0;
    EXPECT_FALSE(device.SendRequest(&byte, 1, nullptr, 0, 500));
    EXPECT_EQ(log.Entries(),
              QStringList{QStringLiteral("??? Библиотека доступа через интерфейс FTDI не загружена!")});
    EXPECT_FALSE(device.Stop()) << "hub mode: the stop byte cannot be written, nothing raises";
}

// The pauses are watched, not waited: each is written among the sensor's calls where it is taken.
TEST_F(DeviceTest, StopPausesBeforeThePurge) {
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"));
    SetPauseHook([&](int milliseconds) {
        sensor->RecordCall(QStringLiteral("Pause %1").arg(milliseconds));
        return true;
    });
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    EXPECT_TRUE(device->Stop()) << "no measurement: the stop command is sent all the same";
    VirtualPauses();
    const QStringList calls = sensor->Calls();
    const qsizetype pause = calls.lastIndexOf(QStringLiteral("Pause 300"));
    ASSERT_GE(pause, 0) << calls.join(u'|').toStdString();
    EXPECT_TRUE(calls.indexOf(QRegularExpression(QStringLiteral("Purge \\d+")), pause) > pause)
        << calls.join(u'|').toStdString();
}

TEST_F(DeviceTest, OpenPauseIsTakenBoundedAndCutShortBySigterm) {
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"));
    QList<int> pauses;
    SetPauseHook([&](int milliseconds) {
        pauses << milliseconds;
        return true;
    });
    settings.SetSettingByName(QStringLiteral("Timeout"), QStringLiteral("120"));
    Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    EXPECT_EQ(pauses, QList<int>{120}) << "the sensor gets its pause after the line opens";

    // A pause of 24 days is bounded to a minute.
    settings.SetSettingByName(QStringLiteral("Timeout"), QStringLiteral("2147483647"));
    tLogCapture log;
    pauses.clear();
    Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    SetPauseHook(nullptr);
    EXPECT_EQ(pauses, QList<int>{60000});
    // SIGTERM (log-off, shut-down) ends such a pause at once: else this waits the whole minute and says so.
    tSessionEnd sessionEnd;
    std::raise(SIGTERM);
    EXPECT_FALSE(Pause(60000, true));
    EXPECT_TRUE(log.Entries().contains(QStringLiteral("Timeout=2147483647 is out of range; 60000 ms taken")));
}
