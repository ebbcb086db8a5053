// The three sensor searches on demo sensors, the USB notices' filtering and the demo world of the DEMO
// switch.
#include "core/Exception.h"
#include "core/Strings.h"
#include "core/UserFolders.h"
#include "device/Componentusb.h"
#include "device/Device.h"
#include "device/Searches.h"
#include "platform/Pause.h"
#include "sim/DemoWorld.h"
#include "support/LogCapture.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"
#include "support/SimFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <sys/stat.h>

namespace {

class SearchTest : public tSimFixture {
protected:
    void SetUp() override {
        tSimFixture::SetUp();
        SetDetectorSpacing(1);
    }
    void TearDown() override {
        SetDetectorSpacing(100);
        tSimFixture::TearDown();
    }
    tSimSensorConfig Named(const char* name) {
        tSimSensorConfig config;
        config.Name = name;
        return config;
    }
    // The port of a closed sensor opens again.
    bool Reopens(const QString& place, std::uint8_t type) {
        tDevice device(place, type, &settings);
        QString error;
        return device.Init(error);
    }
};

} // namespace

TEST_F(SearchTest, EachLinkFindsItsSensor) {
    AddFtdi(1, Named("A"));
    AddFtdi(2, Named("B"));
    AddCom(QStringLiteral("/dev/ttyACM0"), Named("C"));
    AddHid(QStringLiteral("hid0"), Named("D"));
    auto b = FindFTDISensor(QStringLiteral("B"), &settings);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->GetPlace(), QStringLiteral("2"));
    EXPECT_TRUE(Reopens(QStringLiteral("1"), dtFTDI)) << "the unmatched sensor was closed";
    auto c = FindCOMSensor(QStringLiteral("C"), &settings);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetDeviceType(), dtCOM);
    auto d = FindHIDSensor(QStringLiteral("D"), &settings);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->GetPlace(), QStringLiteral("hid0"));
    tDeviceInfo info;
    EXPECT_TRUE(d->Info(info)) << "the found device stays open";
}

// A connect's searches: those the settings switch on, in the order FTDI, COM, HID, until one finds the
// sensor.
TEST_F(SearchTest, TheLinksAreSearchedInOrderUntilOneFinds) {
    AddFtdi(1, Named("A"));
    AddCom(QStringLiteral("/dev/ttyACM0"), Named("C"));
    AddHid(QStringLiteral("hid0"), Named("D"));
    const struct {
        const char* wanted;
        const char* switches; // UseFTDI, UseCDC, UseHID
        const char* searched;
        QString place;
    } rows[] = {{"A", "111", "FTDI", QStringLiteral("1")},
                {"C", "111", "FTDI,COM", QStringLiteral("/dev/ttyACM0")},
                {"D", "111", "FTDI,COM,HID", QStringLiteral("hid0")},
                {"D", "001", "HID", QStringLiteral("hid0")},
                {"C", "101", "FTDI,HID", QString()},
                {"X", "000", "", QString()}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wanted);
        tSettings switches(false);
        switches.AddName(QStringLiteral("Timeout"), QStringLiteral("0"));
        const char* const keys[] = {"UseFTDI", "UseCDC", "UseHID"};
        for (int i = 0; i < 3; ++i)
            switches.AddName(QString::fromLatin1(keys[i]), QString(QChar::fromLatin1(row.switches[i])));
        std::atomic<int> link{0};
        const tSensorSearch found = FindSensor(QString::fromLatin1(row.wanted), &switches, &link);
        EXPECT_EQ(found.Searched.join(u','), QString::fromLatin1(row.searched));
        EXPECT_EQ(found.Device ? found.Device->GetPlace() : QString(), row.place);
        EXPECT_FALSE(found.FtdiMissing);
    }
}

// The link a sensor was found on last time is searched first; a sensor that moved is found on its new link
// all the same, which is searched first from then on.
TEST_F(SearchTest, TheLinkASensorWasFoundOnLastIsSearchedFirst) {
    const struct {
        const char* link; // where the sensor "M" (a name no other test uses) is plugged in
        const char* searched;
    } rows[] = {{"HID", "FTDI,COM,HID"}, {"HID", "HID"},          {"COM", "HID,FTDI,COM"},
                {"COM", "COM"},          {"FTDI", "COM,FTDI"},    {"", "FTDI,COM,HID"},
                {"FTDI", "FTDI"}};
    tSettings switches(false);
    switches.AddName(QStringLiteral("Timeout"), QStringLiteral("0"));
    for (const char* key : {"UseFTDI", "UseCDC", "UseHID"}) switches.AddName(QString::fromLatin1(key), "1");
    QString remembered;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.link) + " " + row.searched);
        tSimWorld::Instance().Clear();
        const QString link = QString::fromLatin1(row.link);
        if (link == QLatin1String("HID")) AddHid(QStringLiteral("hid0"), Named("M"));
        if (link == QLatin1String("COM")) AddCom(QStringLiteral("/dev/ttyACM0"), Named("M"));
        if (link == QLatin1String("FTDI")) AddFtdi(1, Named("M"));
        const tSensorSearch found = FindSensor(QStringLiteral("M"), &switches);
        EXPECT_EQ(found.Searched.join(u','), QString::fromLatin1(row.searched));
        EXPECT_EQ(found.Device != nullptr, !link.isEmpty());
        if (!link.isEmpty()) remembered = link;
        EXPECT_EQ(LastSensorLink(QStringLiteral("M")), remembered) << "a search that finds nothing forgets nothing";
    }
    EXPECT_TRUE(LastSensorLink(QStringLiteral("E")).isEmpty());
}

// A search cancelled stops before the next link; a remembered link kept in a file that is no plain file (a
// FIFO would hold the reading for good, /dev/zero would never end) is set aside and the search goes on.
TEST_F(SearchTest, ASearchCanBeCancelledAndNoStateFileHoldsIt) {
    AddHid(QStringLiteral("hid0"), Named("D"));
    tSettings switches(false);
    switches.AddName(QStringLiteral("Timeout"), QStringLiteral("0"));
    for (const char* key : {"UseFTDI", "UseCDC", "UseHID"}) switches.AddName(QString::fromLatin1(key), "1");
    std::atomic<bool> cancel{true};
    const tSensorSearch cancelled = FindSensor(QStringLiteral("D"), &switches, nullptr, &cancel);
    EXPECT_TRUE(cancelled.Cancelled);
    EXPECT_FALSE(cancelled.Device);
    EXPECT_TRUE(cancelled.Searched.isEmpty());

    const QString state = UserStateFolder();
    QDir().mkpath(state);
    const QString links = state + QStringLiteral("/links.ini");
    const struct {
        const char* what;
        std::function<void()> make;
    } rows[] = {
        {"a FIFO", [&] { ::mkfifo(links.toLocal8Bit().constData(), 0600); }},
        {"a link to /dev/zero", [&] { QFile::link(QStringLiteral("/dev/zero"), links); }},
        {"a folder", [&] { QDir().mkpath(links); }},
        {"a link to nowhere", [&] { QFile::link(state + QStringLiteral("/none"), links); }},
        {"two megabytes", [&] {
             QFile file(links);
             file.open(QIODevice::WriteOnly);
             file.write(QByteArray(2 << 20, '['));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(links + QStringLiteral(".unusable")).removeRecursively();
        QFile::remove(links + QStringLiteral(".unusable"));
        row.make();
        tLogCapture log;
        const tSensorSearch found = FindSensor(QStringLiteral("D"), &switches);
        EXPECT_TRUE(found.Device);
        EXPECT_TRUE(log.Text().contains(QStringLiteral("links.ini.unusable")));
        EXPECT_EQ(LastSensorLink(QStringLiteral("D")), QStringLiteral("HID")) << "kept anew";
        EXPECT_TRUE(QFileInfo(links).isFile());
        QFile::remove(links);
    }
}

TEST_F(SearchTest, FirstInCreationOrderWinsAndNamesMatchExactly) {
    AddCom(QStringLiteral("/dev/ttyACM0"), Named("T101"));
    AddCom(QStringLiteral("/dev/ttyACM1"), Named("T101"));
    AddCom(QStringLiteral("/dev/ttyACM2"), Named("t101"));
    auto found = FindCOMSensor(QStringLiteral("T101"), &settings);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->GetPlace(), QStringLiteral("/dev/ttyACM0"));
    EXPECT_TRUE(Reopens(QStringLiteral("/dev/ttyACM1"), dtCOM));
    found.reset();

    tLogCapture log;
    EXPECT_FALSE(FindCOMSensor(QStringLiteral("T10"), &settings));
    EXPECT_FALSE(FindCOMSensor(QStringLiteral("T101 "), &settings));
    tSimWorld::Instance().Clear();
    AddCom(QStringLiteral("/dev/ttyACM2"), Named("t101"));
    EXPECT_FALSE(FindCOMSensor(QStringLiteral("T101"), &settings));
    EXPECT_TRUE(Reopens(QStringLiteral("/dev/ttyACM2"), dtCOM))
        << "a name differing in letter case is closed";
    EXPECT_EQ(log.Entries().last(), QStringLiteral("COM: ") + LoadStr(sNoSensorsBusy));
}

TEST_F(SearchTest, EveryFailureIsLoggedWithItsPrefix) {
    auto silent = AddCom(QStringLiteral("/dev/ttyACM0"), Named("X"));
    silent->Faults().SilentInfo = true;
    // A port that the list names but that cannot be opened.
    tSimWorld::Instance().AddComSensor(QStringLiteral("/dev/ttyACM1"), nullptr);
    tLogCapture log;
    EXPECT_FALSE(FindCOMSensor(QStringLiteral("X"), &settings));
    const QStringList entries = log.Entries();
    EXPECT_EQ(entries.mid(0, 6),
              (QStringList{QStringLiteral("Registry created"), QStringLiteral("StringList created"),
                           QStringLiteral("Rootkey!"), QStringLiteral("Key opened."),
                           QStringLiteral("Object list created."), QStringLiteral("Get Value Names.")}));
    EXPECT_TRUE(entries.contains(QStringLiteral("DevID /dev/ttyACM0 error: INFO failed.")));
    EXPECT_TRUE(entries.contains(QStringLiteral("DevID /dev/ttyACM1 error: Невозможно открыть устройство "
                                                "'/dev/ttyACM1'.\r\nСистема сообщает: ") +
                                 SystemErrorText(ENOENT)));
    EXPECT_EQ(entries.last(), QStringLiteral("COM: ") + LoadStr(sNoSensorsBusy));

    tSimWorld::Instance().Clear();
    log.Clear();
    EXPECT_FALSE(FindCOMSensor(QStringLiteral("X"), &settings));
    EXPECT_EQ(log.Entries().last(), QStringLiteral("COM: ") + LoadStr(sNoSensorsNoPorts));
    log.Clear();
    EXPECT_FALSE(FindFTDISensor(QStringLiteral("X"), &settings));
    EXPECT_EQ(log.Entries(), QStringList{QStringLiteral("FTW32: ") + LoadStr(sNoSensorsBusy)});
    log.Clear();
    EXPECT_FALSE(FindHIDSensor(QStringLiteral("X"), &settings));
    EXPECT_EQ(log.Entries(), QStringList{QStringLiteral("HID: ") + LoadStr(sNoSensorsBusy)});
}

TEST_F(SearchTest, WithoutTheFtdiLibraryNoDetectorStarts) {
    AddFtdi(1, Named("X"));
    tLogCapture log;
    SetFTDILibrary(std::make_unique<tFTDILibrary>(QStringLiteral("libzorbinka-absent.so")));
    log.Clear();
    EXPECT_FALSE(FindFTDISensor(QStringLiteral("X"), &settings));
    EXPECT_EQ(log.Entries(),
              QStringList{QStringLiteral("FTW32: Библиотека доступа через интерфейс FTDI не загружена!")});
}

TEST_F(SearchTest, HidDevicesAreChosenByVendorAndProduct) {
    AddHid(QStringLiteral("hid-sensor"), Named("M401"));
    tSimHidConfig other;
    other.VendorId = 0x046D;
    AddHid(QStringLiteral("hid-keyboard"), Named("M401"), other);
    const struct {
        const char* vid;
        const char* pid;
        bool found;
    } rows[] = {
        {nullptr, nullptr, true},       {"", "", true},
        {"VID_0483", "PID_5750", true}, {"vid_0483", "pid_5750", true},
        {"vid_046d", "pid_5750", true}, {"vid_1234", "pid_5750", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.vid ? row.vid : "absent"));
        tSettings keys(false);
        keys.AddName(QStringLiteral("Timeout"), QStringLiteral("0"));
        if (row.vid) keys.AddName(QStringLiteral("HID_VID"), QString::fromLatin1(row.vid));
        if (row.pid) keys.AddName(QStringLiteral("HID_PID"), QString::fromLatin1(row.pid));
        tLogCapture log;
        auto device = FindHIDSensor(QStringLiteral("M401"), &keys);
        EXPECT_EQ(bool(device), row.found);
        const QStringList entries = log.Entries();
        const bool keyboard = row.vid && QByteArray(row.vid).toLower() == "vid_046d";
        EXPECT_EQ(entries.contains(QStringLiteral("START DETECTION: hid-keyboard")), keyboard);
        EXPECT_EQ(entries.contains(QStringLiteral("START DETECTION: hid-sensor")), row.found && !keyboard);
    }
}

// Each detector takes its open pause in its own thread: all five pause at once, not one after another. The
// pauses are watched: each waits until every detector pauses (or, were they taken in turn, for ever).
TEST_F(SearchTest, OpenPausesOverlap) {
    SetDetectorSpacing(0);
    settings.AddName(QStringLiteral("Timeout"), QStringLiteral("500"));
    for (int i = 0; i < 5; ++i)
        AddCom(QStringLiteral("/dev/ttyACM%1").arg(i), Named(i == 4 ? "WANTED" : "OTHER"));
    std::mutex lock;
    std::condition_variable changed;
    int pausing = 0;
    int most = 0;
    SetPauseHook([&](int milliseconds) {
        EXPECT_EQ(milliseconds, 500);
        std::unique_lock<std::mutex> guard(lock);
        most = std::max(most, ++pausing);
        changed.notify_all();
        changed.wait_for(guard, std::chrono::seconds(30), [&] { return most == 5; });
        --pausing;
        return true;
    });
    auto found = FindCOMSensor(QStringLiteral("WANTED"), &settings);
    VirtualPauses();
    SetDetectorSpacing(100);
    ASSERT_TRUE(found);
    EXPECT_EQ(most, 5) << "one pause of every detector at once";
}

TEST(ComponentUsb, NoticesAreFiltered) {
    const struct {
        unsigned code;
        unsigned type;
        const char* event;
    } rows[] = {
        {0x8000, 5, "arrival"}, {0x8004, 5, "removal"}, {0x0007, 0, "tree"},
        {0x0007, 5, "tree"},    {0x8000, 2, ""},        {0x8004, 3, ""},
        {0x8001, 5, ""},        {0x8003, 5, ""},        {0x0018, 5, ""},
    };
    TComponentUSB usb(nullptr);
    QStringList events;
    QObject* sender = nullptr;
    usb.OnUSBArrival = [&](QObject* s) { events << QStringLiteral("arrival"), sender = s; };
    usb.OnUSBRemove = [&](QObject*) { events << QStringLiteral("removal"); };
    usb.OnDevNodeChanged = [&](QObject*) { events << QStringLiteral("tree"); };
    for (const auto& row : rows) {
        events.clear();
        usb.WMDeviceChange(row.code, row.type);
        EXPECT_EQ(events.join(u','), QString::fromLatin1(row.event))
            << std::hex << row.code << " " << row.type;
    }
    usb.WMDeviceChange(0x8000, 5);
    EXPECT_EQ(sender, &usb);
    // Unassigned events are skipped.
    TComponentUSB bare(nullptr);
    bare.WMDeviceChange(0x8000, 5);
    bare.WMDeviceChange(0x0007, 0);
}

TEST_F(SearchTest, DemoWorldServesEverySensorOnItsLink) {
    InstallDemoWorld();
    for (const tDemoSensorInfo& sensor : DemoSensors()) {
        SCOPED_TRACE(sensor.Name.toStdString());
        std::unique_ptr<tDevice> device =
            sensor.Link == QStringLiteral("FTDI")  ? FindFTDISensor(sensor.Name, &settings)
            : sensor.Link == QStringLiteral("COM") ? FindCOMSensor(sensor.Name, &settings)
                                                   : FindHIDSensor(sensor.Name, &settings);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->GetPlace(), sensor.Place);
        EXPECT_TRUE(device->SetFreq(0, 10000));
    }
}
