// The lesson without any window: runs made of values, the beat rate of a pulse, results that follow their
// runs, colours kept, and a whole lesson on a demo sensor and the virtual clock with every notice it gives.
#include "acquisition/Acquisition.h"
#include "core/Exception.h"
#include "core/LocaleFormats.h"
#include "core/TextCodec.h"
#include "device/Device.h"
#include "device/PacketSource.h"
#include "device/Searches.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "measure/ValueStream.h"
#include "sim/DemoWorld.h"
#include "sim/SimWorld.h"
#include "support/LessonSteps.h"
#include "support/LogCapture.h"
#include "support/MessageCollector.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"
#include "ui/LessonTexts.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <deque>
#include <functional>
#include <random>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

tExperiment Defined(const QString& sensor = QStringLiteral("T101")) {
    tExperiment e;
    e.SetDefaults();
    e.Name = QStringLiteral("Опыт");
    e.SensorName = sensor;
    e.Freq = 10000;
    e.Average = 1;
    e.MinY = 0;
    e.MaxY = 100;
    e.CaptionX = QStringLiteral("t, с");
    e.CaptionY = QStringLiteral("T, °C");
    e.SeriesCount = 2;
    return e;
}

// Every notice of a lesson, in order, as "runStarted 1".
class tNotices : public QStringList {
public:
    explicit tNotices(tLesson& lesson) {
        const auto note = [this](const char* name) {
            return [this, name](auto... index) {
                QString text = QString::fromLatin1(name);
                ((text += u' ' + QString::number(index)), ...);
                append(text);
            };
        };
        QObject::connect(&lesson, &tLesson::opened, note("opened"));
        QObject::connect(&lesson, &tLesson::runStarted, note("runStarted"));
        QObject::connect(&lesson, &tLesson::runEnded, note("runEnded"));
        QObject::connect(&lesson, &tLesson::runChanged, note("runChanged"));
        QObject::connect(&lesson, &tLesson::runChosen, note("runChosen"));
        QObject::connect(&lesson, &tLesson::runRemoved, note("runRemoved"));
        QObject::connect(&lesson, &tLesson::resultAdded, note("resultAdded"));
        QObject::connect(&lesson, &tLesson::resultRemoved, note("resultRemoved"));
        QObject::connect(&lesson, &tLesson::resultsChanged, note("resultsChanged"));
        QObject::connect(&lesson, &tLesson::collectingChanged, note("collectingChanged"));
        QObject::connect(&lesson, &tLesson::sensorStateChanged, note("sensorStateChanged"));
        QObject::connect(&lesson, &tLesson::workFailed, [this] { append(QStringLiteral("workFailed")); });
        QObject::connect(&lesson, &tLesson::pointsAppended,
                         [this](int run) { append(QStringLiteral("pointsAppended %1").arg(run)); });
        QObject::connect(&lesson, &tLesson::pointsChanged, note("pointsChanged"));
    }
    // The notices since the last look, points appended once for all.
    QString Taken() {
        QStringList seen;
        for (const QString& notice : *this)
            if (seen.isEmpty() || notice != seen.last() || !notice.startsWith(QStringLiteral("points")))
                seen << notice;
        clear();
        return seen.join(QStringLiteral(", "));
    }
};

// A pulse wave sampled every `step` seconds given to a lesson a tenth of a second at a time, as the window's
// ticks give it: the rates the lesson derives.
std::vector<std::pair<double, double>> Rates(const std::function<double(double)>& signal, double seconds,
                                             double step = 0.01) {
    tLesson lesson;
    tExperiment e = Defined(QStringLiteral("M401"));
    e.Freq = int(std::lround(step * 1e6));
    lesson.Open(e);
    lesson.BeginRun(0);
    const int perTick = int(std::lround(0.1 / step));
    std::vector<double> values;
    for (int k = 0; k * step <= seconds + 1e-9; ++k) {
        values.push_back(signal(k * step));
        if ((k + 1) % perTick == 0) lesson.TakeRunValues(values, true);
    }
    lesson.TakeRunValues(values, true);
    lesson.EndRun();
    const tPointSeries& rates = *lesson.Run(0).Rates;
    std::vector<std::pair<double, double>> found;
    for (int i = 0; i < rates.Count(); ++i) found.emplace_back(rates.X(i), rates.Y(i));
    return found;
}

// Spikes that fall through the threshold at the given times.
std::function<double(double)> Spikes(std::vector<double> times) {
    return [times](double t) {
        for (const double beat : times)
            if (t > beat - 0.035 && t < beat + 0.005) return 100.0;
        return 0.0;
    };
}

} // namespace

// Blocks of values become points: a complete block waits for one more value during a run, the last take
// takes it; x counts points at Freq × Average; a label typed before any point goes to the first.
TEST(Lesson, PointsAreMadeOfBlocksOfValues) {
    const struct {
        int freq, average;
        std::vector<double> values;
        bool last;
        std::vector<double> x, y;
        std::size_t left; // values still waiting
    } rows[] = {
        {100000, 1, {1, 2, 3}, false, {0, 0.1}, {1, 2}, 1},
        {100000, 1, {1, 2, 3}, true, {0, 0.1, 0.2}, {1, 2, 3}, 0},
        {1000, 10, std::vector<double>(10, 50), false, {}, {}, 10},
        {1000,
         10,
         [] {
             auto v = std::vector<double>(10, 50);
             v.push_back(500);
             return v;
         }(),
         false,
         {0},
         {50},
         1},
        {1000, 10, std::vector<double>(25, 4), true, {0, 0.01}, {4, 4}, 5},
        {10000, 2, {1, 3, 5, 7, 9}, false, {0, 0.02}, {2, 6}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.values.size());
        tLesson lesson;
        tExperiment e = Defined();
        e.Freq = row.freq;
        e.Average = row.average;
        lesson.Open(e);
        lesson.BeginRun(0);
        std::vector<double> values = row.values;
        lesson.BeginLabel();
        EXPECT_EQ(lesson.EndLabel(QStringLiteral("метка")), -1) << "for the next point";
        lesson.TakeRunValues(values, row.last);
        const tPointSeries& points = *lesson.Run(0).Points;
        ASSERT_EQ(std::size_t(points.Count()), row.x.size());
        for (int i = 0; i < points.Count(); ++i) {
            EXPECT_DOUBLE_EQ(points.X(i), row.x[std::size_t(i)]);
            EXPECT_DOUBLE_EQ(points.Y(i), row.y[std::size_t(i)]);
            EXPECT_EQ(points.Label(i), i == 0 ? QStringLiteral("метка") : QString());
        }
        EXPECT_EQ(values.size(), row.left);
    }
}

// A label goes to the first point measured after its box opened, though the run ended meanwhile: to the next
// point when none came yet, to the run's last when the run ended first, nowhere when the run was dropped or
// the label is empty. A point already on the disk is written again with it.
TEST(Lesson, ALabelGoesToThePointAskedFor) {
    const struct {
        const char* what;
        int before, during;       // points measured before the box opened, and while it was open
        bool ended;               // the run ended while the box was open
        int after;                // points measured after it closed
        std::optional<int> place; // where EndLabel said it went
        int labelled;             // the point that has it, -1 none
    } rows[] = {
        {"a point came while the box was open", 5, 3, false, 0, 5, 5},
        {"no point yet: the next one takes it", 5, 0, false, 2, -1, 5},
        {"the run ended with points after the box opened", 5, 3, true, 0, 5, 5},
        {"the run ended with none after it opened: its last", 5, 0, true, 0, 4, 4},
        {"the run ended with none at all", 0, 0, true, 0, std::nullopt, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        tLesson lesson;
        lesson.Open(Defined());
        lesson.BeginRun(0);
        const int id = lesson.Run(0).Id;
        const auto points = [&](int count) {
            std::vector<double> values(std::size_t(count), 21.5);
            lesson.TakeRunValues(values, true);
        };
        points(row.before);
        lesson.BeginLabel();
        points(row.during);
        if (row.ended) lesson.EndRun();
        EXPECT_EQ(lesson.EndLabel(QStringLiteral("метка")), row.place);
        if (!row.ended) {
            points(row.after);
            lesson.EndRun();
        }
        if (row.labelled < 0) {
            EXPECT_EQ(lesson.RunIndex(id), -1);
            continue;
        }
        const tPointSeries& kept = *lesson.Run(0).Points;
        EXPECT_EQ(kept.Labels(), (std::map<int, QString>{{row.labelled, QStringLiteral("метка")}}));
        const QStringList lines =
            QString::fromUtf8(ReadFile(lesson.Work()->Path() + QStringLiteral("/run-01.csv"))).split(u'\n');
        ASSERT_GT(lines.size(), kept.Count());
        EXPECT_EQ(lines.filter(QStringLiteral("метка")).size(), 1);
        EXPECT_TRUE(lines[row.labelled + 1].trimmed().endsWith(QStringLiteral("метка")));
        EXPECT_EQ(lines.size(), kept.Count() + 2) << "every point once";
    }
}

// The beat rate of a pulse run, derived as its wave comes: a beat where the curve falls through 70 % of the
// last five seconds' swing, none before 5.3 s, none within 0.2 s of the last; noise and a flat line are none.
TEST(Lesson, BeatRatesOfAPulseRun) {
    EXPECT_TRUE(Rates(Spikes({1, 2, 3, 4}), 5.2).empty()) << "no rate before 5.3 s";
    // Beats at 1.0 and 1.8: one rate of 75 at their mid-time; the first beat gives none.
    auto rates = Rates(Spikes({1.0, 1.8}), 6);
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_NEAR(rates[0].first, 1.4, 0.011);
    EXPECT_EQ(rates[0].second, 75);
    // A crossing 0.15 s after a beat is ignored; 0.25 s after it gives 240.
    rates = Rates(Spikes({1.0, 1.15, 1.4}), 6);
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_EQ(rates[0].second, 150) << "1.15 ignored, then 1.4 is 0.4 s after 1.0";
    rates = Rates(Spikes({1.0, 1.25}), 6);
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_EQ(rates[0].second, 240);
    EXPECT_TRUE(Rates([](double) { return 5.0; }, 6).empty());
    EXPECT_TRUE(Rates([](double t) { return 50 + 4 * std::sin(t * 977.0); }, 12).empty());
    rates = Rates(
        [](double t) {
            if (t < 6) return 4 + 4 * std::sin(t * 977.0);
            return Spikes({7.0, 7.8, 8.6, 9.4})(t);
        },
        10);
    ASSERT_FALSE(rates.empty());
    for (const auto& [x, rate] : rates) EXPECT_EQ(rate, 75) << x;
    // A synthetic heartbeat at 72 a minute.
    rates = Rates(
        [](double t) {
            const double phase = std::fmod(t, 60.0 / 72) / (60.0 / 72);
            return 50 + 40 * std::exp(-std::pow((phase - 0.2) / 0.07, 2)) +
                   10 * std::exp(-std::pow((phase - 0.5) / 0.08, 2));
        },
        30);
    ASSERT_GE(rates.size(), 25u);
    for (const auto& [x, rate] : rates) EXPECT_NEAR(rate, 72, 2) << x;
}

namespace {

// A station without a window: a lesson fed from a demo sensor as the window's ticks feed it.
class LessonTest : public tSimFixture {
protected:
    void SetUp() override {
        tSimFixture::SetUp();
        SetDetectorSpacing(0);
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    }
    void TearDown() override {
        acquisition.Release();
        SetDetectorSpacing(100);
        tSimFixture::TearDown();
    }
    // The experiment of the catalogue folder `name`, defined by `text`.
    tExperiment Chosen(const char* name, const QByteArray& text) {
        const QString folder = dir.filePath(QStringLiteral("data/") + QString::fromUtf8(name)) + u'/';
        QDir().mkpath(folder);
        WriteFile(folder + QStringLiteral("experiment.txt"), text);
        tExperiment e;
        LoadExperimentFolder(e, QString::fromUtf8(name), folder, nullptr);
        return e;
    }
    void Connect() {
        acquisition.Release();
        tLogCapture log;
        std::unique_ptr<tDevice> device = FindCOMSensor(lesson.Experiment().SensorName, &settings);
        ASSERT_TRUE(device) << log.Text().toStdString();
        device->SetFreq(0, lesson.Experiment().Freq);
        acquisition.Attach(std::move(device));
        lesson.SetSensorState(tLesson::tSensorState::Connected);
    }
    void Start(int line = 0) {
        lesson.BeginRun(line);
        acquisition.BeginRun();
    }
    // A tick of the window: the queued packets' values into the lesson; false when the sensor said it is
    // gone.
    bool Tick(bool last = false) {
        const std::size_t before = messages.Messages.size();
        acquisition.Pump(last);
        QCoreApplication::processEvents();
        for (std::size_t i = before; i < messages.Messages.size(); ++i)
            if (messages.Messages[i].first == WM_SENSOR_LOST) return false;
        return true;
    }
    void TicksUntil(int points) {
        ASSERT_TRUE(WaitUntil([&] {
            Tick();
            return lesson.Run(lesson.Measured()).Points->Count() >= points;
        }));
    }
    void Stop() {
        acquisition.EndRun(true);
        lesson.EndRun();
    }

    QTemporaryDir dir;
    tLesson lesson;
    tNotices notices{lesson};
    tAcquisition acquisition{lesson};
    tMessageCollector messages;
};

} // namespace

// A whole lesson without a window: choose, connect, two runs, analyse, rename, hide, delete, reopen, a lost
// sensor, a trigger with a duration and a countdown; what each step announces and leaves on disk.
TEST_F(LessonTest, AWholeLessonWithoutAWindow) {
    tSimSensorConfig config;
    config.Name = "T106";
    config.Signal = [](double t, int) { return 20 + 10 * t; };
    std::shared_ptr<tSimSensor> sensor = AddCom(QStringLiteral("/dev/ttyACM0"), config);
    const tExperiment warming = Chosen(
        "Нагревание", "SensorName=T106\r\nFreq=10000\r\nAverage=1\r\nSeriesCount=2\r\nCaptionX=t, с\r\n"
                      "CaptionY=T, °C\r\nMaxY=100\r\n");
    lesson.Open(warming);
    EXPECT_EQ(notices.Taken(), QStringLiteral("opened, collectingChanged, sensorStateChanged"));
    Connect();
    EXPECT_EQ(notices.Taken(), QStringLiteral("sensorStateChanged"));

    // Two runs, each in a colour of its own, kept for good, and each in its file.
    for (int run = 0; run < 2; ++run) {
        Start(run);
        TicksUntil(50 + 10 * run);
        Stop();
        EXPECT_EQ(notices.Taken(),
                  QStringLiteral("runStarted %1, collectingChanged, pointsAppended %1, runEnded %1, "
                                 "collectingChanged")
                      .arg(run + 1));
    }
    ASSERT_EQ(lesson.RunCount(), 2);
    EXPECT_EQ(RunColour(lesson, 0), QColor(255, 0, 0));
    EXPECT_EQ(RunColour(lesson, 1), QColor(0, 0, 255));
    const QString work = lesson.Work()->Path();
    for (int run = 0; run < 2; ++run) {
        const QByteArray file = ReadFile(work + QStringLiteral("/run-0%1.csv").arg(run + 1));
        EXPECT_EQ(file.count('\n'), lesson.Run(run).Points->Count() + 1) << "every point on disk";
    }

    // Analysed: the chosen run, then the first one chosen and analysed too.
    const tAnalysisResult& slope = Analyse(lesson, tAnalysisKind::Fit, tFitModel::Line, 0, 10);
    EXPECT_NEAR(slope.Values[0], 10, 0.01) << "the sensor warms by 10 a second";
    EXPECT_EQ(slope.Run, 2);
    lesson.ChooseRun(0);
    Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 10);
    EXPECT_EQ(lesson.ResultRun(1), 0);
    EXPECT_EQ(notices.Taken(), QStringLiteral("resultAdded 0, runChosen 1, resultAdded 1"));
    EXPECT_EQ(ReadFile(work + QStringLiteral("/analysis.txt")).count('\n'), 2);

    // Renamed, hidden: its results are hidden with it.
    lesson.RenameRun(0, QStringLiteral("Стакан"));
    lesson.ShowRun(1, false);
    EXPECT_EQ(notices.Taken(), QStringLiteral("runChanged 1, runChanged 2"));
    EXPECT_FALSE(lesson.ResultShown(0));
    EXPECT_TRUE(lesson.ResultShown(1));
    EXPECT_TRUE(ReadFile(work + QStringLiteral("/work.txt")).contains("Run1.Name=Стакан"));
    EXPECT_TRUE(ReadFile(work + QStringLiteral("/work.txt")).contains("Run2.Shown=0"));

    // Deleted: its file and its results go to deleted/, the other run keeps its colour.
    lesson.DeleteRun(1);
    EXPECT_EQ(notices.Taken(), QStringLiteral("runRemoved 2, resultsChanged"));
    ASSERT_EQ(lesson.ResultCount(), 1);
    EXPECT_EQ(lesson.Result(0).Kind, tAnalysisKind::Statistics);
    EXPECT_EQ(RunColour(lesson, 0), QColor(255, 0, 0));
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/deleted/run-02.csv")));
    EXPECT_TRUE(ReadFile(work + QStringLiteral("/deleted/run-02.analysis.txt")).startsWith("Fit;Line;2;"));
    EXPECT_EQ(ReadFile(work + QStringLiteral("/analysis.txt")).count('\n'), 1);

    // A third run: a colour no run had.
    Start(1);
    TicksUntil(20);
    Stop();
    EXPECT_EQ(RunColour(lesson, 1), QColor(0, 150, 0));
    notices.clear();

    // Reopened as it was left: names, results, colours.
    tExperiment again;
    LoadExperimentFolder(again, QStringLiteral("Нагревание"), work + u'/', nullptr);
    lesson.Open(again, ReadSavedWork(work));
    EXPECT_EQ(notices.Taken(), QStringLiteral("opened, collectingChanged, sensorStateChanged"));
    ASSERT_EQ(lesson.RunCount(), 2);
    EXPECT_TRUE(lesson.WorkOpened());
    EXPECT_EQ(lesson.RunName(0), QStringLiteral("Стакан"));
    EXPECT_EQ(lesson.RunName(1), QStringLiteral("Опыт 3"));
    EXPECT_EQ(RunColour(lesson, 1), QColor(0, 150, 0));
    ASSERT_EQ(lesson.ResultCount(), 1);
    EXPECT_EQ(lesson.ResultRun(0), 0);

    // The sensor lost in the middle of a run: what it sent is kept.
    Connect();
    tSimFaults faults;
    faults.LoseAfterValues = 30;
    sensor->SetFaults(faults);
    Start(0);
    ASSERT_TRUE(WaitUntil([&] { return !Tick(); }));
    Stop();
    lesson.SetSensorState(tLesson::tSensorState::Lost);
    EXPECT_EQ(lesson.Run(2).Points->Count(), 30);
    EXPECT_EQ(lesson.SensorState(), tLesson::tSensorState::Lost);
    EXPECT_TRUE(notices.Taken().endsWith(QStringLiteral("runEnded 4, collectingChanged, sensorStateChanged")))
        << "runs named by ids that never shift: the run read back as the third file keeps 3";

    // A run on a trigger with a duration, after a countdown.
    sensor->SetFaults({});
    Connect();
    lesson.SetCollection({0.5, 3, true, 25, true, 0.1});
    EXPECT_TRUE(lesson.BeginCountdown(100));
    EXPECT_EQ(CollectionStatus(lesson, 101),
              QStringLiteral("Пуск через 2.0 с").replace(u'.', QLocale().decimalPoint()));
    EXPECT_FALSE(lesson.Recording().CountdownOver(102.9));
    EXPECT_TRUE(lesson.Recording().CountdownOver(103));
    Start(1);
    EXPECT_EQ(lesson.Collecting(), tLesson::tCollecting::Waiting);
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return lesson.RunComplete();
    }));
    Stop();
    const tPointSeries& triggered = *lesson.Run(3).Points;
    EXPECT_NEAR(triggered.X(0), -0.1, 1e-9) << "a tenth of a second kept before the crossing";
    EXPECT_NEAR(triggered.X(triggered.Count() - 1), 0.5, 1e-9);
    EXPECT_GE(triggered.Y(triggered.UpperBound(-1e-9)), 25);
    EXPECT_EQ(lesson.Collecting(), tLesson::tCollecting::Idle);
    EXPECT_TRUE(ReadFile(work + QStringLiteral("/work.txt")).contains("Collection.Duration=0.5"));
}

namespace {

// The measuring thread's queue as a test fills it.
std::deque<tMeasurePacket> gQueued;

class tQueuedSource : public tPacketSource {
public:
    int GetPacketCount() override { return int(gQueued.size()); }
    void GetPacket(tMeasurePacket& packet) override {
        if (gQueued.empty()) return void(packet = tMeasurePacket());
        packet = std::move(gQueued.front());
        gQueued.pop_front();
    }
    void EndAndWait() override {}
};

// A packet as the thread frames it around `payload`; `broken` leaves out its end byte.
void Queue(const std::vector<std::uint8_t>& payload, bool broken = false) {
    std::vector<std::uint8_t> bytes{kPacketStart, 0, kDataStart};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes.push_back(kDataEnd);
    bytes.push_back(broken ? kDataEnd : kPacketEnd);
    tMeasurePacket packet{std::make_unique<std::uint8_t[]>(bytes.size()), int(bytes.size())};
    std::copy(bytes.begin(), bytes.end(), packet.Data.get());
    gQueued.push_back(std::move(packet));
}

} // namespace

// The acquisition's one pump, in a run and between runs: the values of channel 0 to the lesson (a channel
// chosen holds on into later packets), a sensor lost said once its values before it are kept, a broken packet
// ending the run with what came before it, a reading that cannot be read never shown.
TEST_F(LessonTest, TheAcquisitionPumpsEveryValueIntoTheLesson) {
    tSimSensorConfig config;
    config.Name = "T108";
    AddCom(QStringLiteral("/dev/ttyACM0"), config);
    lesson.Open(Chosen("Насос", "SensorName=T108\r\nFreq=100000\r\nAverage=1\r\n"));
    Connect();
    SetPacketSourceMaker([](const tStreamStart&) -> std::unique_ptr<tPacketSource> {
        return std::make_unique<tQueuedSource>();
    });
    const struct {
        const char* what;
        std::vector<std::vector<std::uint8_t>> packets; // 0xEE as the first byte: a broken packet
        std::vector<double> points;                     // the run's, once it ended
        bool whole;                                     // the pump found every packet whole
        int lost;                                       // WM_SENSOR_LOST posted
    } rows[] = {
        {"values in two packets", {{0x1C, 0x2C}, {0x3C}}, {1, 2, 3}, true, 0},
        {"a channel chosen holds into the next packet",
         {{0x1C, 0xD2, 0x7C}, {0x8C, 0xD0, 0x4C}},
         {1, 4},
         true,
         0},
        {"a lost sensor after two values", {{0x1C, 0x2C, 0xF6, 0x3C}}, {1, 2}, true, 1},
        {"a broken packet between others", {{0x1C}, {0xEE, 0x2C}, {0x3C}}, {1}, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        gQueued.clear();
        messages.Messages.clear();
        lesson.BeginRun(0);
        acquisition.BeginRun();
        for (const auto& packet : row.packets) {
            const bool broken = !packet.empty() && packet[0] == 0xEE;
            Queue({packet.begin() + (broken ? 1 : 0), packet.end()}, broken);
        }
        EXPECT_EQ(acquisition.Pump(), row.whole);
        if (!row.whole) {
            EXPECT_EQ(gQueued.size(), 1u) << "the packets behind a broken one stay";
        }
        // A broken packet stops the run from inside the tick: nothing more is taken.
        acquisition.EndRun(row.whole);
        lesson.EndRun();
        QCoreApplication::processEvents();
        const tPointSeries& points = *lesson.Run(lesson.RunCount() - 1).Points;
        std::vector<double> ys;
        for (int i = 0; i < points.Count(); ++i) ys.push_back(points.Y(i));
        EXPECT_EQ(ys, row.points);
        EXPECT_EQ(messages.Count(WM_SENSOR_LOST), row.lost);
    }
    // Between runs: the newest reading; a packet that cannot be read loses the reading, and shows nothing.
    gQueued.clear();
    int lostReadings = 0;
    QObject::connect(&acquisition, &tAcquisition::readingLost, [&] { ++lostReadings; });
    ASSERT_TRUE(acquisition.BeginReading());
    EXPECT_FALSE(acquisition.BeginReading()) << "one stream at a time";
    Queue({0x1C, 0x2C, 0x5C});
    EXPECT_TRUE(acquisition.Pump());
    EXPECT_EQ(lesson.NewestValue(), 5);
    Queue({0x9C}, true);
    EXPECT_FALSE(acquisition.Pump());
    EXPECT_EQ(lostReadings, 1);
    EXPECT_FALSE(acquisition.Reading());
    EXPECT_EQ(lesson.NewestValue(), 5) << "the broken packet's value is not shown";
    lesson.SetSensorState(tLesson::tSensorState::Lost);
    EXPECT_FALSE(lesson.NewestValue()) << "a sensor gone gives no value";
    EXPECT_EQ(messages.Count(WM_SENSOR_LOST), 0) << "a reading lost stops no run";
    UseMeasureThreads();
}

// Without a sensor the points are typed by hand: each row in x order, the run's file rewritten at every
// change, the work reopened with them, and analysed as any run.
TEST_F(LessonTest, RowsTypedByHandAreARunKeptAtOnce) {
    lesson.Open(Chosen("Рост", "SensorName=NO\r\nCaptionX=t, сут\r\nCaptionY=h, см\r\nMaxX=14\r\n"));
    notices.clear();
    EXPECT_EQ(lesson.TypedRun(), -1);
    const struct {
        int row; // -1: remove row `x`
        double x, y;
        int place;
        const char* rows;
    } steps[] = {
        {0, 1, 0.5, 0, "1:0.5"},           {1, 3, 2, 1, "1:0.5 3:2"},
        {2, 2, 1.1, 1, "1:0.5 2:1.1 3:2"}, {0, 4, 0.5, 2, "2:1.1 3:2 4:0.5"},
        {-1, 1, 0, 0, "2:1.1 4:0.5"},      {2, 5, 3.25, 2, "2:1.1 4:0.5 5:3.25"},
    };
    const auto rows = [&] {
        QStringList text;
        const tPointSeries& points = *lesson.Run(lesson.TypedRun()).Points;
        for (int i = 0; i < points.Count(); ++i)
            text << QString::number(points.X(i)) + u':' + QString::number(points.Y(i));
        return text.join(u' ');
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.rows);
        if (step.row < 0)
            lesson.RemoveTypedRow(int(step.x));
        else
            EXPECT_EQ(lesson.SetTypedRow(step.row, step.x, step.y), step.place);
        EXPECT_EQ(rows(), QString::fromLatin1(step.rows));
    }
    EXPECT_EQ(lesson.RunCount(), 1);
    EXPECT_TRUE(notices.Taken().startsWith(QStringLiteral("runStarted 1, pointsChanged 1 0")));
    EXPECT_THROW(lesson.SetTypedRow(0, NAN, 1), Exception);
    // On disk at once, every row, as the work opens again.
    ASSERT_TRUE(lesson.Work());
    const QString work = lesson.Work()->Path();
    const QByteArray file = ReadFile(work + QStringLiteral("/run-01.csv"));
    EXPECT_EQ(file.count('\n'), 4) << file.constData();
    tLesson again;
    tExperiment e;
    LoadExperimentFolder(e, QStringLiteral("Рост"), work + u'/', nullptr);
    again.Open(e, ReadSavedWork(work));
    ASSERT_EQ(again.RunCount(), 1);
    EXPECT_EQ(again.Run(0).Points->Count(), 3);
    EXPECT_EQ(again.Run(0).Points->Y(2), 3.25);
    // Analysed as any run.
    const tAnalysisResult& line = Analyse(lesson, tAnalysisKind::Fit, tFitModel::Line, 2, 5);
    EXPECT_TRUE(line.Ok) << line.Error.toStdString();
    // The work opened again goes on with the same run and file.
    lesson.Open(e, ReadSavedWork(work));
    EXPECT_EQ(lesson.SetTypedRow(3, 6, 4), 3);
    EXPECT_EQ(lesson.RunCount(), 1);
    const QByteArray continued = ReadFile(work + QStringLiteral("/run-01.csv"));
    EXPECT_TRUE(continued.startsWith(file.left(file.indexOf('\n') + 1))) << continued.constData();
    EXPECT_EQ(continued.count('\n'), 5) << continued.constData();
    EXPECT_TRUE(continued.endsWith("6;4;\r\n") || continued.endsWith("6,4,\r\n")) << continued.constData();
}

// A run of events keeps a point only when asked: the mean of the last second of readings at the value typed,
// in x order; the value offered next is the last one its step on.
TEST_F(LessonTest, EventsKeepTheLastSecondsMeanAtTheValueTyped) {
    tExperiment e =
        Chosen("Лампа", "SensorName=L301\r\nFreq=100000\r\nAverage=2\r\nMode=Events\r\n"
                        "EntryCaption=r, см\r\nCaptionX=t, с\r\nDuration=1\r\nTriggerLevel=5\r\n");
    EXPECT_EQ(e.CaptionX, QStringLiteral("r, см"));
    EXPECT_EQ(e.Collection, tCollection{}) << "no trigger, no duration";
    lesson.Open(e);
    EXPECT_THROW(lesson.KeepEvent(1), Exception) << "no run";
    lesson.BeginRun(0);
    EXPECT_THROW(lesson.KeepEvent(1), Exception) << "no reading yet";
    EXPECT_FALSE(lesson.OfferedEntry());
    const struct {
        int values; // 1, 2, 3… on from the last; two make a point, five points a second
        double x;
        double mean;
        const char* rows;
        double offered;
    } steps[] = {
        {6, 20, 3.5, "20:3.5", 20},           // a second not yet full
        {30, 30, 31.5, "20:3.5 30:31.5", 40}, // values 27…36
        {4, 10, 35.5, "10:35.5 20:3.5 30:31.5", -10},
    };
    std::vector<double> values;
    int next = 1;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.rows);
        for (int i = 0; i < step.values; ++i) values.push_back(next++);
        const int kept = lesson.Run(0).Points->Count();
        lesson.TakeRunValues(values, false);
        EXPECT_EQ(lesson.Run(0).Points->Count(), kept) << "nothing kept by itself";
        EXPECT_DOUBLE_EQ(*lesson.EventReading(), step.mean);
        lesson.KeepEvent(step.x);
        QStringList rows;
        const tPointSeries& points = *lesson.Run(0).Points;
        for (int i = 0; i < points.Count(); ++i)
            rows << QString::number(points.X(i)) + u':' + QString::number(points.Y(i));
        EXPECT_EQ(rows.join(u' '), QString::fromLatin1(step.rows));
        EXPECT_EQ(*lesson.OfferedEntry(), step.offered);
    }
    EXPECT_THROW(lesson.KeepEvent(NAN), Exception);
    EXPECT_TRUE(lesson.EndRun());
    tSavedWork saved = ReadSavedWork(lesson.Work()->Path());
    ASSERT_EQ(saved.Runs.Count(), 1);
    EXPECT_EQ(saved.Runs.Run(0).Points->X(0), 10);
    EXPECT_EQ(saved.Runs.Run(0).Points->Y(2), 31.5);
    EXPECT_EQ(lesson.FitShift(), 0);
}

// Each catalogue experiment's suggested fit, on its demo sensor and the virtual clock, finds the sensor's
// truth within three standard errors: the capacitor charges with τ = 3 s, the water cools with τ = 240 s, the
// fork rings at 2.5 Hz, the heated water's line is the one that best fits its noiseless curve at the times
// the points stand for, and the lamp's light falls with the square of the distances typed.
TEST_F(LessonTest, EveryCatalogueFitFindsItsDemoSensorsTruth) {
    InstallDemoWorld(clock);
    settings.AddName(QStringLiteral("UseCDC"), QStringLiteral("1"));
    const struct {
        const char* folder;
        std::size_t parameter; // of the fit's values
        std::function<double(const tPointSeries&, double shift)> truth;
        std::vector<double> distances = {}; // of an experiment of events: the lamp's, typed in this order
    } rows[] = {
        {"Физика/Оптика/Освещённость и расстояние до лампы",
         1,
         [](const tPointSeries&, double) { return -2.0; },
         {30, 20, 50, 40, 60, 70, 80, 25, 35, 45, 55, 65, 75, 85, 90}},
        {"Физика/Электричество/Цепи постоянного тока/Зарядка конденсатора", 1,
         [](const tPointSeries&, double) { return 3.0; }},
        {"Физика/Тепловые явления/Остывание воды в разных сосудах", 1,
         [](const tPointSeries&, double) { return 240.0; }},
        {"Физика/Звук/Звуковые колебания камертона", 1, [](const tPointSeries&, double) { return 2.5; }},
        {"Физика/Тепловые явления/Нагревание воды", 0,
         [](const tPointSeries& points, double shift) {
             // The slope of the least-squares line through the warming curve without its noise.
             double sx = 0, sy = 0, sxx = 0, sxy = 0;
             const int n = points.UpperBound(300 - 1e-6);
             for (int i = 0; i < n; ++i) {
                 const double t = points.X(i) + shift;
                 const double y = 21.0 + 14.0 * (1 - std::exp(-t / 90.0));
                 sx += t, sy += y, sxx += t * t, sxy += t * y;
             }
             return (n * sxy - sx * sy) / (n * sxx - sx * sx);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder);
        const QString folder = QStringLiteral(SAMPLE_DATA_DIR "/") + QString::fromUtf8(row.folder) + u'/';
        tExperiment e;
        LoadExperimentFolder(e, QString::fromUtf8(row.folder), folder, nullptr);
        ASSERT_TRUE(e.SuggestedFit.has_value());
        lesson.Open(e);
        std::unique_ptr<tDevice> device = FindSensor(e.SensorName, &settings).Device;
        ASSERT_TRUE(device);
        device->SetFreq(0, e.Freq);
        acquisition.Attach(std::move(device));
        lesson.SetSensorState(tLesson::tSensorState::Connected);
        const std::int64_t begun = acquisition.ValuesTaken();
        Start();
        const std::shared_ptr<tSimSensor> lamp = tSimWorld::Instance().FindFtdi(4098);
        for (const double r : row.distances) {
            // The lamp moves: once the values the sensor made from its new light have been read for more than
            // a second, the point keeps that second (however far the reading lags behind the sensor).
            const long long moved = lamp->ValuesMade();
            SetDemoLampDistance(r);
            ASSERT_TRUE(WaitUntil([&] {
                Tick();
                return acquisition.ValuesTaken() - begun >= moved + 6 * e.Average;
            }));
            lesson.KeepEvent(r);
        }
        // A run of a set duration ends by itself; the others run over their time axis.
        const int points = row.distances.empty()
                               ? int(std::lround((e.MaxX - e.MinX) * 1e6 / double(e.Period())))
                               : int(row.distances.size());
        ASSERT_TRUE(WaitUntil([&] {
            Tick();
            const int run = lesson.Measured();
            return lesson.RunComplete() || (lesson.Collection().Duration <= 0 && run >= 0 &&
                                            lesson.Run(run).Points->Count() >= points);
        }));
        Stop();
        const tPointSeries& run = *lesson.Run(lesson.Chosen()).Points;
        // The time axis' span (the run may have gone on for a tick more: the capacitor starts charging anew).
        tAnalysisJob job = lesson.PrepareAnalysis(tAnalysisKind::Fit, *e.SuggestedFit, run.X(0),
                                                  std::min(run.X(run.Count() - 1), e.MaxX - 1e-6));
        job.Run();
        ASSERT_TRUE(job.Result.Ok) << job.Result.Error.toStdString();
        const std::size_t count = std::size_t(FitParamCount(*e.SuggestedFit));
        const double found = job.Result.Values[row.parameter];
        const double error = job.Result.Values[count + row.parameter];
        const double truth = row.truth(run, lesson.FitShift());
        // A timed run's points are the sensor's values at fixed moments of its clock: the same at every run
        // of the test. The lamp's 15 points are means of the second before each was kept, which depends on
        // when the reading caught up: a fit of 13 degrees of freedom, whose truth lies beyond 5.5 standard
        // errors once in 10 000 (Student's t; 3 would miss it once in a hundred).
        const double errors = row.distances.empty() ? 3 : 5.5;
        EXPECT_LT(std::abs(found - truth), errors * error) << found << " ± " << error << " against " << truth;
    }
    SetDemoLampDistance(20);
}

// A countdown cancelled and a start that measured nothing leave no run; a deleted run's file never goes over
// one that is there, and its results beside it neither.
TEST_F(LessonTest, NothingMeasuredIsNoRunAndNothingIsWrittenOver) {
    tSimSensorConfig config;
    config.Name = "T107";
    AddCom(QStringLiteral("/dev/ttyACM0"), config);
    lesson.Open(Chosen("Пусто", "SensorName=T107\r\nFreq=10000\r\nAverage=1\r\n"));
    Connect();
    lesson.SetCollection({0, 2});
    ASSERT_TRUE(lesson.BeginCountdown(0));
    EXPECT_FALSE(lesson.EndRun());
    EXPECT_EQ(lesson.RunCount(), 0);
    lesson.SetCollection({});
    lesson.BeginRun(0);
    EXPECT_FALSE(lesson.EndRun()) << "nothing measured";
    EXPECT_EQ(lesson.RunCount(), 0);
    notices.clear();
    for (int run = 0; run < 2; ++run) {
        Start();
        TicksUntil(5);
        Stop();
        Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 1);
    }
    const QString work = lesson.Work()->Path();
    QDir().mkpath(work + QStringLiteral("/deleted"));
    WriteFile(work + QStringLiteral("/deleted/run-01.analysis.txt"), "kept");
    lesson.DeleteRun(0);
    EXPECT_EQ(ReadFile(work + QStringLiteral("/deleted/run-01.analysis.txt")), "kept");
    EXPECT_TRUE(
        ReadFile(work + QStringLiteral("/deleted/run-01 (2).analysis.txt")).startsWith("Statistics;Line;1;"));
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/deleted/run-01 (2).csv")));
    EXPECT_THROW(
        {
            Start();
            lesson.DeleteRun(lesson.Measured());
        },
        Exception)
        << "a run being measured is not deleted";
    Stop();
}

namespace {

// A work folder at `path` holding one run of ten points.
void OneRunWork(const QString& path) {
    tWorkFolder folder(path, 0, {QStringLiteral("Experiment=Опыт")});
    auto run = std::make_shared<tRun>();
    for (int i = 0; i < 10; ++i) run->Points->Add(i * 0.1, i);
    folder.BeginRun(run);
    folder.EndRun();
}

} // namespace

// A work's kept results are all read, however many; what cannot be read is said and never written over.
TEST(Lesson, EveryKeptResultIsReadAndNoneIsWrittenOver) {
    const QString good = QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 1 0 2");
    const QString damaged = QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 -1 0 2");
    const QString unknown = QStringLiteral("Newkind;Line;1;0;1;-1;-1;1");
    const struct {
        const char* what;
        std::function<void(const QString& file)> make;
        int results;      // read when the work opens
        const char* said; // in the notes, or "" for nothing said
        int linesAfter;   // in analysis.txt after one more result
        bool unreadKept;  // the file as it was beside it
    } rows[] = {
        {"twenty thousand results, over a megabyte",
         [&](const QString& file) {
             WriteFile(file, (good + QStringLiteral("\r\n")).repeated(20000).toUtf8());
         },
         20000, "", 20001, false},
        {"damaged and unknown lines",
         [&](const QString& file) {
             WriteFile(file, QStringList({good, damaged, unknown, good, QString()})
                                 .join(QStringLiteral("\r\n"))
                                 .toUtf8());
         },
         2, "analysis.txt: пропущено строк: 2", 5, false},
        {"a FIFO", [](const QString& file) { ::mkfifo(file.toLocal8Bit().constData(), 0644); }, 0,
         "analysis.txt: Невозможно прочитать файл", 1, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        OneRunWork(dir.path());
        const QString file = dir.filePath(QStringLiteral("analysis.txt"));
        row.make(file);
        tSavedWork saved = ReadSavedWork(dir.path());
        const QString notes = saved.Opened.Notes();
        tLesson lesson;
        lesson.Open(Defined(), std::move(saved));
        EXPECT_EQ(lesson.ResultCount(), row.results);
        if (*row.said == 0)
            EXPECT_TRUE(notes.isEmpty()) << notes.toStdString();
        else
            EXPECT_TRUE(notes.contains(QString::fromUtf8(row.said))) << notes.toStdString();
        Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 1);
        const QStringList lines = SplitTextLines(QString::fromUtf8(ReadFile(file)));
        EXPECT_EQ(lines.size(), row.linesAfter);
        if (row.results == 2) {
            EXPECT_TRUE(lines.contains(damaged));
            EXPECT_TRUE(lines.contains(unknown));
        }
        EXPECT_EQ(QFileInfo(file + QStringLiteral(".unread-1")).exists(), row.unreadKept);
        EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".tmp")));
    }

    // Lines that are no UTF-8 stay byte for byte: a result is added after them, a box moved writes the
    // results and then them, a run deleted leaves them alone.
    QTemporaryDir dir;
    OneRunWork(dir.path());
    const QString file = dir.filePath(QStringLiteral("analysis.txt"));
    QByteArray junk;
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) junk += char(random() % 256);
    junk += ("\r\n" + good + "\r\n").toUtf8() + "\xC0\xFF конец"; // a result among them, no end
    WriteFile(file, junk);
    tLesson lesson2;
    lesson2.Open(Defined(), ReadSavedWork(dir.path()));
    ASSERT_EQ(lesson2.ResultCount(), 1);
    Analyse(lesson2, tAnalysisKind::Statistics, tFitModel::Line, 0, 1);
    const QByteArray added = ReadFile(file);
    EXPECT_TRUE(added.startsWith(junk)) << "appended, nothing before it written again";
    EXPECT_TRUE(added.endsWith(("\r\n" + lesson2.Results().Lines().last() + QStringLiteral("\r\n")).toUtf8()));
    lesson2.SetResultBox(0, QPointF(0.5, 0.5));
    tWorkFolder::FinishLaterWrites();
    const QByteArray moved = ReadFile(file);
    const QByteArray kept = lesson2.Results().Kept();
    EXPECT_TRUE(moved.endsWith(kept));
    EXPECT_EQ(moved.size() - kept.size(), AnalysisBytes(lesson2.Results().Lines(), {}).size());
    EXPECT_EQ(kept, junk.left(junk.indexOf((good + QStringLiteral("\r\n")).toUtf8())) +
                        junk.mid(junk.lastIndexOf("\xC0\xFF")) + "\r\n");
    lesson2.DeleteRun(0);
    EXPECT_EQ(lesson2.ResultCount(), 0);
    EXPECT_EQ(ReadFile(file), kept);
}

// Hundreds of results: the chart draws those of the runs shown while they are few, else the newest of the
// chosen run's; the list keeps every one.
TEST(Lesson, TheChartDrawsAFewResultsOfHundreds) {
    const struct {
        int first, second;  // results of run 1 and run 2
        bool secondShown;
        int chosen;         // the run chosen while looking
        int shown;          // results of the runs shown
        const char* onChart; // "first..last" indexes drawn
    } rows[] = {
        {10, 5, true, 1, 15, "0..14"},   {15, 15, true, 1, 30, "15..29"}, {15, 30, true, 1, 45, "25..44"},
        {15, 30, false, 1, 15, "0..14"}, {15, 30, true, 0, 45, "0..14"},  {20, 0, true, 0, 20, "0..19"},
        {30, 0, true, 1, 30, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.first << "+" << row.second << " chosen " << row.chosen);
        tLesson lesson;
        lesson.Open(Defined());
        for (int run = 0; run < 2; ++run) {
            lesson.BeginRun(run);
            std::vector<double> values(50, 20.0 + run);
            lesson.TakeRunValues(values, true);
            lesson.EndRun();
        }
        for (int run = 0; run < 2; ++run) {
            lesson.ChooseRun(run);
            for (int k = 0; k < (run == 0 ? row.first : row.second); ++k)
                Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 1);
        }
        lesson.ShowRun(1, row.secondShown);
        lesson.ChooseRun(row.chosen);
        int shown = 0;
        const std::vector<int> drawn = lesson.ResultsOnChart(&shown);
        EXPECT_EQ(shown, row.shown);
        EXPECT_EQ(drawn.empty() ? QString() : QStringLiteral("%1..%2").arg(drawn.front()).arg(drawn.back()),
                  QString::fromLatin1(row.onChart));
        EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));
        EXPECT_EQ(lesson.ResultCount(), row.first + row.second) << "every result stays";
    }
    // A region asked wider than the run is the run's: its report says 0…the last point, not the markers.
    tLesson lesson;
    lesson.Open(Defined());
    lesson.BeginRun(0);
    std::vector<double> values(50, 20.0);
    lesson.TakeRunValues(values, true);
    lesson.EndRun();
    const tAnalysisResult& wide = Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, -5, 600);
    EXPECT_EQ(wide.From, lesson.Run(0).Points->X(0));
    EXPECT_EQ(wide.To, lesson.Run(0).Points->X(49));
}

// A failure to write is said when writing begins to fail: once for one failure however many writes it
// takes, and again when it comes back after writes that succeeded (two runs once went unsaved without a word
// after a first failure had been said).
TEST(Lesson, AFailureAfterWritesThatSucceededIsSaidAgain) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    tLesson lesson;
    lesson.Open(Defined());
    int said = 0;
    QObject::connect(&lesson, &tLesson::workFailed, [&] { ++said; });
    const auto tick = [&](double value) {
        std::vector<double> values(10, value);
        lesson.TakeRunValues(values, true);
    };
    lesson.BeginRun(0);
    tick(20);
    tWorkFolder::SimulateDiskSpace(0);
    tick(21);
    tick(22);
    EXPECT_EQ(said, 1);
    tWorkFolder::SimulateDiskSpace(-1);
    tick(23);
    tWorkFolder::SimulateDiskSpace(0);
    tick(24);
    tick(25);
    EXPECT_EQ(said, 2) << "a new failure after writes that succeeded is said again";
    tWorkFolder::SimulateDiskSpace(-1);
    lesson.EndRun();
    tRunStore runs;
    ReadWorkFolder(lesson.Work()->Path(), runs);
    ASSERT_EQ(runs.Count(), 1);
    EXPECT_EQ(runs.Run(0).Points->Count(), 60) << "what waited is written once there is room";
    qunsetenv("XDG_DATA_HOME");
}

// A disk that fills at any byte of a lesson: the work stays one folder whose list, results and files agree,
// with no file half written beside them and no file left open.
TEST(Lesson, ADiskFullAtAnyPointLeavesTheWorkWhole) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    const auto openFiles = [](const QString& folder) {
        int open = 0;
        for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
            if (fd.symLinkTarget().startsWith(folder)) ++open;
        return open;
    };
    const auto values = [](int from, int count) {
        std::vector<double> v;
        for (int i = 0; i < count; ++i) v.push_back(20 + (from + i) % 7 * 0.25);
        return v;
    };
    int complete = 0;
    for (qint64 space = 0; space < 9000; space += 151) {
        SCOPED_TRACE(space);
        const QString root = home.filePath(QStringLiteral("zorbinka"));
        QDir(root).removeRecursively();
        tWorkFolder::SimulateDiskSpace(space);
        tLesson lesson;
        lesson.Open(Defined());
        for (int run = 0; run < 2; ++run) {
            lesson.BeginRun(run);
            for (int tick = 0; tick < 3; ++tick) {
                std::vector<double> v = values(tick * 40, 40);
                lesson.TakeRunValues(v, true);
            }
            lesson.EndRun();
            Analyse(lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 100);
        }
        lesson.RenameRun(0, QStringLiteral("Стакан"));
        lesson.ShowRun(1, false);
        try {
            lesson.DeleteRun(0);
        } catch (const Exception&) {
            // Said by the window; the run stays, here and on the disk.
        }
        lesson.SaveReport("{\\rtf1 отчёт}");
        tWorkFolder::SimulateDiskSpace(-1);

        const QStringList folders = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_LE(folders.size(), 1) << "never a second folder";
        if (folders.isEmpty()) continue;
        const QString path = root + u'/' + folders[0];
        EXPECT_EQ(openFiles(path), 0);
        QDirIterator all(path, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (all.hasNext()) EXPECT_FALSE(all.next().endsWith(QStringLiteral(".tmp")));
        tRunStore runs;
        const tOpenedWork opened = ReadWorkFolder(path, runs);
        EXPECT_TRUE(opened.Skipped.isEmpty()) << opened.Skipped.join(u'|').toStdString();
        EXPECT_TRUE(opened.Rebuilt.isEmpty()) << "every run file is listed";
        // What each kept run holds on the disk is what was measured, whole lines up to where the disk filled.
        for (int r = 0; r < runs.Count(); ++r) {
            const tRun& kept = runs.Run(r);
            int i = 0;
            while (i < lesson.RunCount() && lesson.Run(i).Number != kept.Number) ++i;
            ASSERT_LT(i, lesson.RunCount()) << "a run on the disk is a run of the lesson";
            const tPointSeries& measured = *lesson.Run(i).Points;
            ASSERT_LE(kept.Points->Count(), measured.Count());
            for (int p = 0; p < kept.Points->Count(); ++p) ASSERT_EQ(kept.Points->Y(p), measured.Y(p));
        }
        // Results name runs the list has.
        for (const QByteArray& raw : opened.AnalysisLines) {
            const QString line = QString::fromUtf8(WithoutTerminator(raw));
            const std::optional<tAnalysisResult> result = DecodeResult(line);
            ASSERT_TRUE(result) << line.toStdString();
            bool listed = false;
            for (int r = 0; r < runs.Count(); ++r) listed = listed || runs.Run(r).Number == result->Run;
            EXPECT_TRUE(listed) << line.toStdString();
        }
        if (runs.Count() == 1 && runs.Run(0).Points->Count() == 120 && lesson.RunCount() == 1) ++complete;
    }
    EXPECT_GT(complete, 0) << "the space at the end is enough for the whole lesson";
    qunsetenv("XDG_DATA_HOME");
}

// An analysis done off the window's thread: on a copy of the region's points, cancelled when asked, and kept
// only while its run is there.
TEST(Lesson, AnAnalysisOffTheWindowsThread) {
    tLesson lesson;
    lesson.Open(Defined());
    lesson.BeginRun(0);
    std::vector<double> values;
    for (int i = 0; i < 200000; ++i) values.push_back(20 + 3 * std::exp(-i * 1e-5) + (i % 7) * 0.01);
    lesson.TakeRunValues(values, true);
    lesson.EndRun();
    const auto job = [&] {
        return lesson.PrepareAnalysis(tAnalysisKind::Fit, tFitModel::ExpApproach, 50, 1550);
    };
    tAnalysisJob region = job();
    EXPECT_EQ(region.X.size(), 150003u) << "the region's points and one beyond each end";
    tAnalysisJob cancelled = job();
    int told = 0;
    cancelled.Run([&](int, int) { return ++told < 2; });
    EXPECT_FALSE(cancelled.Result.Ok);
    EXPECT_THROW(lesson.AddResult(cancelled), Exception);
    EXPECT_EQ(lesson.ResultCount(), 0);
    region.Run();
    ASSERT_TRUE(region.Result.Ok) << region.Result.Error.toStdString();
    EXPECT_NEAR(region.Result.Values[1], 1000, 1) << "τ in seconds";
    lesson.DeleteRun(0);
    EXPECT_THROW(lesson.AddResult(region), Exception) << "its run is gone";
    EXPECT_EQ(lesson.ResultCount(), 0);
}
