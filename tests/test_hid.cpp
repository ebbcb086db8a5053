// HID sensors on the demo HID table: commands in reports, the receive buffer, the Wine correction, streaming.
#include "core/Functions.h"
#include "support/LogCapture.h"
#include "support/MessageCollector.h"
#include "support/QtPrint.h"
#include "support/SimFixture.h"

#include "measure/ValueStream.h"

#include <QElapsedTimer>

namespace {

const QString kPath = QStringLiteral("/dev/hidraw3");

class HidTest : public tSimFixture {
protected:
    void TearDown() override {
        SetWineOverride(std::nullopt);
        tSimFixture::TearDown();
    }
    // A new HID sensor at that rate, opened and asked INFO.
    std::pair<std::shared_ptr<tSimHidSensor>, std::unique_ptr<tDevice>> FreshSensor(int speed) {
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Speed = speed;
        auto sensor = AddHid(kPath, config);
        auto device = Open(kPath, dtHID);
        tDeviceInfo info;
        EXPECT_TRUE(device->Info(info));
        return {sensor, std::move(device)};
    }
    static bool Contains(const QStringList& entries, const QString& start) {
        for (const QString& e : entries)
            if (e.startsWith(start)) return true;
        return false;
    }
};

} // namespace

TEST_F(HidTest, RequestsAreSplitIntoReportsOf63Bytes) {
    auto sensor = AddHid(kPath);
    auto device = Open(kPath, dtHID);
    EXPECT_FALSE(device->IsHubMode());
    for (const int length : {1, 63, 64, 126, 127}) {
        SCOPED_TRACE(length);
        const size_t before = sensor->Reports().size();
        std::vector<std::uint8_t> request(size_t(length), 0x20);
        request[0] = 'Q';
        EXPECT_TRUE(device->SendRequest(request.data(), length, nullptr, 0, 500));
        const auto reports = sensor->Reports();
        ASSERT_EQ(reports.size() - before, size_t((length + 62) / 63));
        for (size_t i = before; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].size(), 64u);
            EXPECT_EQ(reports[i][0], 2) << "report ID from HID_SendReportID";
        }
        EXPECT_EQ(reports[before][1], 'Q');
        const int chunk = length - 63 * int(reports.size() - before - 1);
        if (length > 1) {
            EXPECT_EQ(reports.back()[size_t(chunk)], 0x20);
        }
        for (int i = chunk + 1; i < 64; ++i) ASSERT_EQ(reports.back()[size_t(i)], 0) << "zero-filled rest";
    }
    tLogCapture log;
    // Nothing to write: straight to reading; nothing to read: the send decides.
    EXPECT_FALSE(device->SendRequest(nullptr, 0, nullptr, 0, 500) && false);
    EXPECT_FALSE(Contains(log.Entries(), QStringLiteral("SEND: write report")));
    EXPECT_FALSE(Contains(log.Entries(), QStringLiteral("SEND: request written")));
}

TEST_F(HidTest, InfoIsServedFromTheReceiveBuffer) {
    tSimSensorConfig config;
    config.Name = "M401";
    config.Speed = 115200;
    auto sensor = AddHid(kPath, config);
    auto device = Open(kPath, dtHID);
    tLogCapture log;
    tDeviceInfo info;
    ASSERT_TRUE(device->Info(info));
    EXPECT_EQ(info.Name, QStringLiteral("M401"));
    EXPECT_EQ(device->GetSpeed(), 115200);
    const QStringList entries = log.Entries();
    // The status byte and the 39-byte reply came in one report: the second request reads no report.
    EXPECT_TRUE(entries.contains(QStringLiteral("RECV: Bytes to buffer 39")));
    EXPECT_TRUE(entries.contains(QStringLiteral("RECV: Read from buffer size39")));
    EXPECT_EQ(entries.count(QStringLiteral("(1) HID Read successfully.")), 1);
    EXPECT_EQ(sensor->Reports().size(), 1u);
    EXPECT_TRUE(device->SetFreq(5, 1000));
    EXPECT_EQ(sensor->Sensor().Freq(), 1000);
    EXPECT_EQ(sensor->Reports().back()[1], 'F');
}

TEST_F(HidTest, ReplySpreadOverReportsAndLeftInTheBuffer) {
    auto sensor = AddHid(kPath);
    sensor->Faults().ReplyChunk = 10;
    auto device = Open(kPath, dtHID);
    tDeviceInfo info;
    ASSERT_TRUE(device->Info(info)) << "40 bytes in four reports";
    EXPECT_EQ(info.Name, QStringLiteral("T100"));

    // A 1-byte answer asked for 0 bytes stays buffered for the next request that wants bytes.
    const std::uint8_t freq[] = {'F', ' ', '9', 0};
    std::uint8_t status = 0xAA;
    sensor->Faults().ReplyChunk = 62;
    ASSERT_TRUE(device->SendRequest(freq, 4, &status, 1, 500));
    EXPECT_EQ(status, 0);

    // The start answer read long after the stream began still comes alone in its report, as the stream's
    // first-report check expects of a sensor; the values follow in the next report.
    std::uint8_t start[64] = {2, 'S'};
    bool immediate = false;
    ASSERT_EQ(sensor->Write(start, 64, 500, &immediate), 64);
    clock->SleepUntilUs(clock->NowUs() + 50000);
    std::uint8_t report[64] = {};
    ASSERT_EQ(sensor->Read(report, 64, 500, nullptr, &immediate), 64);
    EXPECT_EQ(report[1], 1);
    EXPECT_EQ(report[2], 0);
    ASSERT_EQ(sensor->Read(report, 64, 500, nullptr, &immediate), 64);
    EXPECT_GT(report[1], 0) << "values generated while the answer waited";
}

TEST_F(HidTest, BadReportsFailTheTransfer) {
    const struct {
        const char* what;
        tSimHidFaults faults;
        const char* logLine;
    } rows[] = {
        {"wrong report ID", {.WrongReportId = true}, "RECV: read bytes 64"},
        {"short report", {.ShortReports = 20}, "RECV: read bytes 20"},
        {"no report", {.Silent = true}, "Read Error: Timeout"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tSimWorld::Instance().Clear();
        auto sensor = AddHid(kPath);
        auto device = Open(kPath, dtHID);
        sensor->Faults() = row.faults;
        tLogCapture log;
        tDeviceInfo info;
        EXPECT_FALSE(device->Info(info));
        EXPECT_TRUE(log.Entries().contains(QString::fromLatin1(row.logLine))) << log.Text().toStdString();
    }
}

TEST_F(HidTest, WineCorrectionOfPendingWrites) {
    const struct {
        bool wine;
        int fixWine;
        bool shortWrite;
        bool pending;
        bool accepted;
    } rows[] = {
        {true, 1, true, true, true},   {true, 1, false, true, false}, {true, 0, true, true, false},
        {true, 0, false, true, true},  {false, 1, true, true, false}, {false, 1, false, true, true},
        {true, 1, false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.wine << row.fixWine << row.shortWrite << row.pending);
        tSimWorld::Instance().Clear();
        SetWineOverride(row.wine);
        settings.AddName(QStringLiteral("FixWine"), QString::number(row.fixWine));
        auto sensor = AddHid(kPath);
        auto device = Open(kPath, dtHID);
        sensor->Faults().PendingWrites = row.pending;
        sensor->Faults().WineShortWrites = row.shortWrite;
        const std::uint8_t stop[] = {'T', 0};
        EXPECT_EQ(device->SendRequest(stop, 2, nullptr, 0, 500), row.accepted);
    }
}

TEST_F(HidTest, StreamsTenSecondsWhole) {
    tSimSensorConfig config;
    config.Speed = 115200;
    config.Freq = 1000;
    config.Signal = [](double t, int) { return 36.6 + std::sin(t * 7); };
    auto sensor = AddHid(kPath, config);
    auto device = Open(kPath, dtHID);
    tDeviceInfo info;
    ASSERT_TRUE(device->Info(info));
    tMessageCollector messages;
    tLogCapture log;
    const std::int64_t end = clock->NowUs() + 10'000'000;
    device->StartMeasure(0);
    std::vector<tMeasurePacket> stream;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const bool done = clock->NowUs() >= end;
            for (;;) {
                tMeasurePacket packet;
                device->GetPacket(packet);
                if (!packet.Data) break;
                stream.push_back(std::move(packet));
            }
            return done;
        },
        3000))
        << log.Text().left(3000).toStdString();
    QElapsedTimer timer;
    timer.start();
    device->Stop();
    EXPECT_LT(timer.elapsed(), 5000) << "the stop waits out no read";
    ASSERT_GE(stream.size(), 990u);
    tChannels channels;
    int channel = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
        ASSERT_EQ(stream[i].Size, RatePacketSize(115200));
        ASSERT_EQ(stream[i].Data[1], std::uint8_t(i));
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(ExtractPayload(stream[i].Data.get(), size_t(stream[i].Size), payload));
        DecodeValueStream(payload.data(), payload.size(), channel, channels);
    }
    const std::vector<double> generated = sensor->Sensor().Generated();
    ASSERT_GE(channels[0].size(), 9900u);
    for (size_t i = 0; i < channels[0].size(); ++i) ASSERT_DOUBLE_EQ(channels[0][i], generated[i]);
    EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR) + messages.Count(WM_MEASURE_SEND_ERROR), 0);
    EXPECT_EQ(sensor->Reports()[1][1], 'S');
    EXPECT_EQ(sensor->Reports().back()[1], 'T');
}

TEST_F(HidTest, StartFailures) {
    const struct {
        const char* what;
        int speed;
        tSimHidFaults faults;
        int message;
        int param;
        QStringList lines;
    } rows[] = {
        {"speed 0", 0, {}, WM_MEASURE_RECV_ERROR, 1, {QStringLiteral("Speed is non zero")}},
        {"speed 300", 300, {}, WM_MEASURE_RECV_ERROR, 1, {QStringLiteral("Invalid speed: 300")}},
        {"short first report",
         115200,
         {.ShortReports = 10},
         WM_MEASURE_RECV_ERROR,
         1,
         {QStringLiteral("ERR Tranferred: 10"), QStringLiteral("ERR in[0]: 1"),
          QStringLiteral("ERR in[1]: 1"), QStringLiteral("ERR in[2]: 0")}},
        {"wrong ID",
         115200,
         {.WrongReportId = true},
         WM_MEASURE_RECV_ERROR,
         1,
         {QStringLiteral("ERR Tranferred: 64"), QStringLiteral("ERR in[0]: 3")}},
        {"unknown report lengths",
         115200,
         {.UnknownLengths = true},
         WM_MEASURE_RECV_ERROR,
         1,
         {QStringLiteral("MEASURE: Unable to get HID preparsed data.")}},
        {"Wine short start write refused without correction",
         115200,
         {.PendingWrites = true, .WineShortWrites = true},
         WM_MEASURE_SEND_ERROR,
         0,
         {QStringLiteral("SEND: start report ")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto [sensor, device] = FreshSensor(row.speed);
        sensor->Faults() = row.faults;
        tLogCapture log;
        tMessageCollector messages;
        device->StartMeasure(0);
        ASSERT_TRUE(WaitUntil([&] { return messages.Count(row.message, row.param) == 1; }));
        EXPECT_EQ(device->GetPacketCount(), 0);
        // The thread logs after it posts: wait for its end.
        device->Stop();
        const QStringList entries = log.Entries();
        for (const QString& line : row.lines) EXPECT_TRUE(entries.contains(line)) << line.toStdString();
    }
}

TEST_F(HidTest, DataReportRules) {
    const struct {
        const char* what;
        int speed;
        int count;
        std::uint8_t firstData;
        const char* line;
    } rows[] = {
        {"count 0 gives the empty marker", 115200, 0, kEmptyRead, nullptr},
        {"count too large for the packet", 5000, 255, 0, "Too Many Data"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto [sensor, device] = FreshSensor(row.speed);
        tLogCapture log;
        // The first report is the start answer; the data reports after it carry the scripted count.
        sensor->Faults().CountOverride = row.count;
        device->StartMeasure(0);
        if (row.line) {
            ASSERT_TRUE(WaitUntil([&] { return log.Entries().contains(QString::fromLatin1(row.line)); }));
        } else {
            ASSERT_TRUE(WaitUntil([&] {
                tMeasurePacket packet;
                device->GetPacket(packet);
                return packet.Data && packet.Data[3] == row.firstData && packet.Data[4] == kDataEnd;
            }));
        }
        device->Stop();
    }
}

TEST_F(HidTest, StopDuringAWaitingReadReturnsAtOnce) {
    tSimSensorConfig config;
    config.Speed = 115200;
    // A real clock: the thread really waits for a report that never comes.
    auto sensor = std::make_shared<tSimHidSensor>(config, tSimHidConfig{}, std::make_shared<tRealClock>());
    tSimWorld::Instance().AddHidSensor(kPath, sensor);
    auto device = Open(kPath, dtHID);
    tDeviceInfo info;
    ASSERT_TRUE(device->Info(info));
    tLogCapture log;
    device->StartMeasure(0);
    ASSERT_TRUE(WaitUntil([&] { return device->GetPacketCount() > 0; }));
    tSimHidFaults silent;
    silent.Silent = true;
    // A read begun after the sensor fell silent waits for a report that never comes. The reads are counted
    // before the silence: one begun in between already waits its whole 10 s, and no other begins meanwhile.
    const int reads = sensor->Reads();
    sensor->SetFaults(silent);
    ASSERT_TRUE(WaitUntil([&] { return sensor->Reads() > reads; }));
    const int queued = device->GetPacketCount();
    QElapsedTimer timer;
    timer.start();
    device->Stop();
    EXPECT_LT(timer.elapsed(), 5000) << "the stop event ends the 10-second wait";
    EXPECT_TRUE(log.Entries().contains(QStringLiteral("Terminating...")));
    EXPECT_LE(queued, 12);

    // Stopped while the first report is awaited: the run ends without a failure to report.
    tMessageCollector messages;
    const int before = sensor->Reads();
    device->StartMeasure(0);
    ASSERT_TRUE(WaitUntil([&] { return sensor->Reads() > before; }));
    device->Stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR), 0);
}

TEST_F(HidTest, HubModeAndMissingLibrary) {
    AddHid(kPath);
    tDevice unopened(kPath, dtHID, &settings);
    tLogCapture log;
    const std::uint8_t byte = 0;
    EXPECT_FALSE(unopened.SendRequest(&byte, 1, nullptr, 0, 500));
    EXPECT_EQ(log.Entries(), QStringList{QStringLiteral("HID Device not support HUB mode")});

    SetHidApi(nullptr);
    tDevice device(kPath, dtHID, &settings);
    QString error;
    // Whether hidapi is installed or not, the demo path is no device of the system.
    EXPECT_FALSE(device.Init(error));
    EXPECT_FALSE(error.isEmpty());
}
