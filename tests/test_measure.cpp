// The measurement thread on demo sensors: start exchange, packets, carry-over, failures, the queue.
#include "support/LogCapture.h"
#include "support/MessageCollector.h"
#include "support/QtPrint.h"
#include "support/SimFixture.h"

#include "core/Settings.h"
#include "measure/ValueStream.h"
#include "runs/Collection.h"

namespace {

class MeasureTest : public tSimFixture {
protected:
    // Drains every queued packet.
    std::vector<tMeasurePacket> Drain(tDevice& device) {
        std::vector<tMeasurePacket> packets;
        for (;;) {
            tMeasurePacket packet;
            device.GetPacket(packet);
            if (!packet.Data) break;
            packets.push_back(std::move(packet));
        }
        return packets;
    }

    // Asks INFO (which gives the rate) and starts the stream.
    static void Start(tDevice& device) {
        tDeviceInfo info;
        EXPECT_TRUE(device.Info(info));
        device.StartMeasure(0);
    }

    // Runs a measurement until the sensor's clock shows `seconds` more, taking the packets as they come
    // (the stop frees what is still queued).
    std::vector<tMeasurePacket> Run(tDevice& device, double seconds) {
        const std::int64_t end = clock->NowUs() + std::int64_t(seconds * 1e6);
        Start(device);
        std::vector<tMeasurePacket> stream;
        // The clock is read before the drain, so every packet of the run's time is taken.
        EXPECT_TRUE(WaitUntil([&] {
            const bool done = clock->NowUs() >= end;
            for (auto& packet : Drain(device)) stream.push_back(std::move(packet));
            return done;
        }));
        device.Stop();
        return stream;
    }

    // Decodes packets like the display does and checks the frame and the sequence.
    static std::vector<double> Decode(const std::vector<tMeasurePacket>& packets, bool contiguous = true) {
        tChannels channels;
        int channel = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            const tMeasurePacket& p = packets[i];
            std::vector<std::uint8_t> payload;
            EXPECT_TRUE(ExtractPayload(p.Data.get(), size_t(p.Size), payload));
            if (contiguous) {
                EXPECT_EQ(p.Data[1], std::uint8_t(i)) << "packet " << i;
            }
            DecodeValueStream(payload.data(), payload.size(), channel, channels);
        }
        return channels[0];
    }

    static void ExpectPrefixOf(const std::vector<double>& decoded, const std::vector<double>& generated) {
        ASSERT_LE(decoded.size(), generated.size());
        for (size_t i = 0; i < decoded.size(); ++i)
            ASSERT_DOUBLE_EQ(decoded[i], generated[i]) << "value " << i;
    }
};

} // namespace

TEST_F(MeasureTest, FtdiRateModeStreamsTenSecondsWhole) {
    tSimSensorConfig config;
    config.Speed = 921600;
    config.Freq = 1000;
    config.Signal = [](double t, int) { return 20 + 5 * std::sin(t) + t * 0.37; };
    auto sensor = AddFtdi(42, config);
    auto device = Open(QStringLiteral("42"), dtFTDI);
    tMessageCollector messages;
    const auto stream = Run(*device, 10);
    ASSERT_GE(stream.size(), 98u);
    for (const auto& p : stream) EXPECT_EQ(p.Size, 9676) << "921600 × 1.05 × 0.01";
    const std::vector<double> decoded = Decode(stream);
    ExpectPrefixOf(decoded, sensor->Generated());
    EXPECT_GE(decoded.size(), 9800u);
    EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR) + messages.Count(WM_MEASURE_SEND_ERROR), 0);
    EXPECT_EQ(sensor->Written(), QByteArray("INFO\0S\0\xFF", 8));
}

TEST_F(MeasureTest, ComSingleLetterRateModeWithValuesSplitAcrossReads) {
    tSimSensorConfig config;
    config.CarrierDetect = true;
    config.Speed = 115200;
    config.Freq = 2000;
    config.Channels = 2;
    config.Signal = [](double t, int channel) { return channel ? -t : 100 * t; };
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
    sensor->Faults().SplitValues = true;
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    const auto stream = Run(*device, 10);
    ExpectPrefixOf(Decode(stream), sensor->Generated(0));
    EXPECT_GE(Decode(stream).size(), 4850u);
    EXPECT_EQ(sensor->HostBaud(), 38400) << "the stop put the line back";
    // Each read asks for the packet less the frame less what was carried.
    const std::vector<int> reads = sensor->ReadRequests();
    const int size = RatePacketSize(115200);
    bool sawCarry = false;
    for (size_t i = 1; i < reads.size(); ++i) {
        EXPECT_LE(reads[i], size - 4);
        sawCarry = sawCarry || reads[i] < size - 4;
    }
    EXPECT_TRUE(sawCarry) << "split values were carried into the next packet";
}

TEST_F(MeasureTest, PacketSizeModeQueuesTheSensorsOwnPackets) {
    tSimSensorConfig config;
    config.Speed = 0;
    config.PacketSize = 64;
    config.Freq = 5000;
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    tLogCapture log;
    const auto stream = Run(*device, 3);
    ASSERT_GE(stream.size(), 10u);
    for (const auto& p : stream) EXPECT_EQ(p.Size, 64);
    ExpectPrefixOf(Decode(stream), sensor->Generated());
    EXPECT_TRUE(log.Entries().contains(QStringLiteral("RECV START: PACKET_SIZE=64")))
        << log.Text().toStdString();
    EXPECT_TRUE(sensor->Written().startsWith(QByteArray("INFO\0START 0\r\n", 14)));
}

TEST_F(MeasureTest, PacketSizeFromTheStartReply) {
    const struct {
        QByteArray reply;
        bool accepted;
    } rows[] = {
        {"PACKET_SIZE=0", false},  {"PACKET_SIZE=64", true},   {"\r\n  PACKET_SIZE=64  \x01", true},
        {"PACKET_SIZE=-5", false}, {"PACKET_SIZE=abc", false}, {"PACKET_SIZE=99999999999", false},
        {"packet_size=64", false}, {"SIZE=64", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply.toStdString());
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Speed = 0;
        config.StartReply = row.reply;
        AddCom(QStringLiteral("/dev/ttyACM0"), config);
        auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
        tMessageCollector messages;
        tLogCapture log;
        Start(*device);
        if (row.accepted) {
            ASSERT_TRUE(WaitUntil([&] { return device->GetPacketCount() > 0; }));
            tMeasurePacket packet;
            device->GetPacket(packet);
            EXPECT_EQ(packet.Size, 64);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return messages.Count(WM_MEASURE_RECV_ERROR, 1) == 1; }));
        }
        // The thread logs after it posts: the stop waits for its end.
        device->Stop();
        if (!row.accepted) {
            bool invalid = false;
            for (const QString& entry : log.Entries())
                invalid = invalid || entry.startsWith(QStringLiteral("Invalid first response :"));
            EXPECT_TRUE(invalid);
        }
    }
}

TEST_F(MeasureTest, LogMeasureDumpsEveryPass) {
    tSimSensorConfig config;
    config.Freq = 25000;
    config.Signal = [](double, int) { return 1.5; };
    AddCom(QStringLiteral("/dev/ttyACM0"), config);
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    tLogCapture log({QStringLiteral("/log"), QStringLiteral("-LOG_MEASURE")});
    Run(*device, 0.3);
    QStringList passes;
    for (const QString& entry : log.Entries())
        if (entry.startsWith(QStringLiteral("\r\ntransfer_size=")) ||
            entry.startsWith(QStringLiteral("_footer_size=")))
            passes.append(entry);
    ASSERT_GE(passes.size(), 4);
    // Four values of 1.50 a pass: 0x1B 0x50 0xCF each.
    EXPECT_EQ(passes[0], QStringLiteral("\r\ntransfer_size=12\r\nfooter_size=0\r\nsize=9676\r\n") +
                             QStringLiteral("0x1B 0x50 0xCF ").repeated(4) + QStringLiteral("\r\n"));
    EXPECT_EQ(passes[1], QStringLiteral("_footer_size=0\r\n\r\n"));
}

TEST_F(MeasureTest, FirstResponseChecks) {
    const struct {
        const char* what;
        int speed;
        bool refuse;
        int message;
        const char* logPrefix;
    } rows[] = {
        {"rate mode refused", 921600, true, WM_MEASURE_RECV_ERROR, "First read timeout :"},
        {"packet mode without PACKET_SIZE", 0, true, WM_MEASURE_RECV_ERROR, "Invalid first response :"},
        {"rate 300 gives a 3-byte packet", 300, false, WM_MEASURE_RECV_ERROR, "Invalid first response :"},
        {"rate 95 gives no packet", 95, false, WM_MEASURE_RECV_ERROR, "Invalid first response :"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Speed = row.speed;
        auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
        sensor->Faults().RefuseStart = row.refuse;
        auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
        tDeviceInfo info;
        ASSERT_TRUE(device->Info(info));
        tLogCapture log;
        tMessageCollector messages;
        device->StartMeasure(0);
        ASSERT_TRUE(WaitUntil([&] { return messages.Count(row.message, 1) == 1; }));
        device->Stop();
        EXPECT_TRUE(Drain(*device).empty());
        bool logged = false;
        for (const QString& entry : log.Entries())
            logged = logged || entry.startsWith(QString::fromLatin1(row.logPrefix));
        EXPECT_TRUE(logged) << log.Text().toStdString();
    }
}

TEST_F(MeasureTest, StartRequestThatCannotBeWrittenPostsSendError) {
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"));
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    sensor->Faults().FailWritesAfter = 1;
    tMessageCollector messages;
    device->StartMeasure(0);
    ASSERT_TRUE(WaitUntil([&] { return messages.Count(WM_MEASURE_SEND_ERROR, 0) == 1; }));
    device->Stop();
    EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR), 0);
}

TEST_F(MeasureTest, TheThreeHundredthFailedReadInARowIsReportedOnceAndEndsTheStream) {
    for (const int failures : {299, 300, 302}) {
        SCOPED_TRACE(failures);
        tSimWorld::Instance().Clear();
        tSimSensorConfig config;
        config.Freq = 10000;
        auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
        // INFO and the start answer take a read each; two stream reads succeed, then the failures.
        sensor->Faults().FailReadsAfter = 4;
        sensor->Faults().FailReads = failures;
        auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
        tLogCapture log;
        tMessageCollector messages;
        Start(*device);
        const bool ends = failures >= 300;
        ASSERT_TRUE(WaitUntil([&] {
            return ends ? messages.Count(WM_MEASURE_RECV_ERROR, 2) > 0 : device->GetPacketCount() >= 4;
        }));
        device->EndMeasureThread();
        const auto stream = Drain(*device);
        device->Stop();
        EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR, 2), ends ? 1 : 0);
        EXPECT_EQ(log.Entries().count(QStringLiteral("ReadTimeout")), std::min(failures, 300));
        // Dropped packets still used their sequence numbers; after the report nothing more is read.
        ASSERT_GE(stream.size(), ends ? 2u : 3u);
        EXPECT_EQ(stream[0].Data[1], 0);
        EXPECT_EQ(stream[1].Data[1], 1);
        if (ends)
            EXPECT_EQ(stream.size(), 2u);
        else
            EXPECT_EQ(stream[2].Data[1], std::uint8_t(2 + failures));
    }
}

TEST_F(MeasureTest, EmptyReadsAndReadsWithoutAGroupEnd) {
    tSimSensorConfig config;
    config.Freq = 1000000; // one value a second: most 100 ms reads bring nothing
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    const auto quiet = Run(*device, 0.5);
    ASSERT_GE(quiet.size(), 3u);
    EXPECT_EQ(quiet[0].Data[3], kEmptyRead);
    EXPECT_EQ(quiet[0].Data[4], kDataEnd);

    tSimWorld::Instance().Clear();
    config.Freq = 1000;
    auto endless = AddCom(QStringLiteral("/dev/ttyACM1"), config);
    endless->Faults().NoGroupEnd = true;
    auto device2 = Open(QStringLiteral("/dev/ttyACM1"), dtCOM);
    const auto stream = Run(*device2, 2);
    ASSERT_GE(stream.size(), 5u);
    // 100 values of 2 bytes a read: too many to carry (at most 255), so they stay in their packet.
    bool sawData = false;
    for (const auto& p : stream) sawData = sawData || p.Data[3] == 0x12;
    EXPECT_TRUE(sawData);
    EXPECT_TRUE(Decode(stream, false).empty());
}

TEST_F(MeasureTest, SequenceWrapsAfter255) {
    tSimSensorConfig config;
    config.Freq = 50000;
    auto sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    const auto stream = Run(*device, 30);
    ASSERT_GT(stream.size(), 257u);
    EXPECT_EQ(stream[255].Data[1], 255);
    EXPECT_EQ(stream[256].Data[1], 0);
    ExpectPrefixOf(Decode(stream, false), sensor->Generated());
}

TEST_F(MeasureTest, QueueHandOverAndEnd) {
    tDevice idle(QStringLiteral("x"), dtCOM, &settings);
    EXPECT_EQ(idle.GetPacketCount(), 0);
    tMeasurePacket packet;
    idle.GetPacket(packet);
    EXPECT_EQ(packet.Data, nullptr);
    EXPECT_EQ(packet.Size, 0);

    // A thread deleted with packets still queued frees them (run under AddressSanitizer).
    AddCom(QStringLiteral("/dev/ttyACM0"));
    auto device = Open(QStringLiteral("/dev/ttyACM0"), dtCOM);
    Start(*device);
    ASSERT_TRUE(WaitUntil([&] { return device->GetPacketCount() >= 5; }));
    device->Stop();
    EXPECT_EQ(device->GetPacketCount(), 0);

    // An unknown device type ends the thread with its error, queues nothing and says so to the window once,
    // as a receive error.
    tMessageCollector messages;
    tMeasureThread thread(0, InvalidHandle(), 1000, 9, true);
    thread.WaitFor();
    EXPECT_EQ(thread.FatalMessage(), QStringLiteral("tMeasureThread::Execute: Unknown device type"));
    EXPECT_EQ(thread.GetPacketCount(), 0);
    ASSERT_TRUE(WaitUntil([&] { return messages.Count(WM_MEASURE_RECV_ERROR, 1) == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.Count(WM_MEASURE_RECV_ERROR), 1);
}

// What a run records of the points a sensor sends, for each way of collecting it: a signal sampled every
// 0.1 s, going down from 1 to 0 in the first second and then up to 3 (a crossing of 0.5 downwards at 0.5 s,
// upwards at 1.5 s).
TEST(Collection, WhatARunRecords) {
    const auto signal = [](double t) { return t < 1 ? 1 - t : t - 1; };
    const struct {
        const char* name;
        tCollection settings;
        int count;       // points recorded
        double first;    // the first one's time
        double last;     // the last one's
        double valueAt0; // the value recorded at t = 0
    } rows[] = {
        {"every point, as without any setting", {}, 41, 0, 4, 1},
        {"a duration of 1 s stops after the point at 1 s", {1}, 11, 0, 1, 1},
        {"rising above 0.5: the crossing at 1.5 s is t = 0", {0, 0, true, 0.5, true, 0}, 26, 0, 2.5, 0.5},
        {"starting above the level does not count as a crossing", {0, 0, true, 0.95, true, 0}, 21, 0, 2, 1},
        {"falling below 0.5, with 0.3 s kept before", {0, 0, true, 0.5, false, 0.3}, 39, -0.3, 3.5, 0.5},
        {"a pre-trigger longer than the wait keeps what there was",
         {0, 0, true, 0.5, true, 2},
         41,
         -1.5,
         2.5,
         0.5},
        {"trigger and duration", {0.5, 0, true, 0.5, true, 0.2}, 8, -0.2, 0.5, 0.5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tCollector collector(row.settings, 100000);
        std::vector<tCollectedPoint> run;
        for (int i = 0; i <= 40 && collector.Phase() != tCollector::tPhase::Done; ++i)
            collector.Feed(i, signal(i / 10.0), run);
        ASSERT_EQ(int(run.size()), row.count);
        // Times exactly as written in tenths: -0.2, never -0.20000000000000007.
        EXPECT_EQ(run.front().X, row.first);
        EXPECT_EQ(run.back().X, row.last);
        for (std::size_t k = 1; k < run.size(); ++k)
            EXPECT_EQ(run[k].X, double(std::llround(run.front().X * 10) + std::int64_t(k)) / 10);
        const auto zero = std::find_if(run.begin(), run.end(),
                                       [](const tCollectedPoint& p) { return std::abs(p.X) < 1e-9; });
        ASSERT_NE(zero, run.end());
        EXPECT_NEAR(zero->Y, row.valueAt0, 1e-9);
        EXPECT_EQ(collector.Phase() == tCollector::tPhase::Done, row.settings.Duration > 0);
    }
    // Waiting for a crossing that never comes records nothing.
    tCollector never({0, 0, true, 5, true, 1}, 100000);
    std::vector<tCollectedPoint> none;
    for (int i = 0; i <= 40; ++i) never.Feed(i, signal(i / 10.0), none);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(never.Phase(), tCollector::tPhase::Waiting);
}

TEST(Collection, KeysOfADefinitionOverItsDefaults) {
    const struct {
        const char* lines;
        tCollection expected;
    } rows[] = {
        {"", {}},
        {"Duration=10\nStartDelay=3\nTriggerLevel=0,2\nTriggerSlope=down\nPreTrigger=0.5",
         {10, 3, true, 0.2, false, 0.5}},
        {"Duration=-1\nStartDelay=x\nPreTrigger=5\nTriggerLevel=\nTriggerSlope=sideways", {}},
        {"TriggerLevel=off\nDuration=2", {2}},
    };
    for (const auto& row : rows) {
        tSettings file(false);
        file.SetLines(QString::fromUtf8(row.lines).split(u'\n'));
        EXPECT_EQ(ReadCollection(file), row.expected) << row.lines;
        // Written and read again, the same.
        tSettings again(false);
        again.SetLines(CollectionLines(row.expected));
        EXPECT_EQ(ReadCollection(again, {7, 7, true, 0, false, 1}), row.expected) << row.lines;
    }
}
