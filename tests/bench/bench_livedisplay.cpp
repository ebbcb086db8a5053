// One tick of the live display with one second of a 921600-baud stream queued and 10^6 points already on the
// line: the acquisition's payload walk, decoding, averaging into points, the chart following the lesson, its
// repaint and its paint onto the window (blend and flush); with the time axis standing still or moving on at
// nearly every tick; and the memory per point held.
#include "acquisition/Acquisition.h"
#include "core/CommandLine.h"
#include "device/PacketSource.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "measure/ValueStream.h"
#include "platform/CommApi.h"
#include "sim/SimWorld.h"
#include "support/RecordingPrompts.h"
#include "ui/Experimentfr.h"
#include "ui/Experimentsfm.h"
#include "ui/Mainfm.h"
#include "widgets/Chart.h"

#include "QtBenchmarkMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include "support/LessonSteps.h"
#include <benchmark/benchmark.h>
#include <cmath>
#include <deque>

namespace {

// Ten rate-mode packets of 9676 bytes: one second of the line, values on channel 0.
std::vector<std::vector<std::uint8_t>> OneSecondOfStream(int& values) {
    std::vector<std::vector<std::uint8_t>> packets;
    values = 0;
    for (int p = 0; p < 10; ++p) {
        std::vector<std::uint8_t> packet(9676, kDataEnd);
        packet[0] = kPacketStart;
        packet[1] = std::uint8_t(p);
        packet[2] = kDataStart;
        std::vector<std::uint8_t> data;
        while (data.size() < 9676 - 4 - 8) {
            EncodeValue(20 + 5 * std::sin(values * 0.001), 2, data);
            ++values;
        }
        std::copy(data.begin(), data.end(), packet.begin() + 3);
        packet.back() = kPacketEnd;
        packets.push_back(std::move(packet));
    }
    return packets;
}

// The measuring thread's queue, filled by the benchmark: a second of the line before each tick.
std::deque<tMeasurePacket> gQueued;

class tQueuedSource : public tPacketSource {
public:
    int GetPacketCount() override { return int(gQueued.size()); }
    void GetPacket(tMeasurePacket& packet) override {
        packet = std::move(gQueued.front());
        gQueued.pop_front();
    }
    void EndAndWait() override {}
};

// A packet of the line holding `count` values of `signal` from value `from` on, in the sensor's framing.
template <class tSignal> tMeasurePacket Packet(int from, int count, tSignal signal) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < count; ++i) EncodeValue(signal(from + i), 2, data);
    tMeasurePacket packet{std::make_unique<std::uint8_t[]>(data.size() + 8), int(data.size() + 8)};
    std::fill(packet.Data.get(), packet.Data.get() + packet.Size, std::uint8_t(kDataEnd));
    packet.Data[0] = kPacketStart;
    packet.Data[1] = std::uint8_t(from);
    packet.Data[2] = kDataStart;
    std::copy(data.begin(), data.end(), packet.Data.get() + 3);
    packet.Data[packet.Size - 1] = kPacketEnd;
    return packet;
}

// The program's window on a catalogue of the one experiment `text` describes, its sensor a demo one whose
// stream is the benchmark's queue, the run begun as Пуск begins it: the lesson keeps it, the table reads it,
// its file is written at every tick.
class tLiveWindow {
public:
    tLiveWindow(const QString& text, QSize size) {
        SetExecutablePath(FDir.filePath(QStringLiteral("zorbinka")));
        QFile cfg(FDir.filePath(QStringLiteral("zorbinka.cfg")));
        cfg.open(QIODevice::WriteOnly);
        cfg.write("UseFTDI=0\r\nUseCDC=1\r\nUseHID=0\r\nTimeout=0\r\n");
        cfg.close();
        QDir().mkpath(FDir.filePath(QStringLiteral("data/g/e")));
        QFile experiment(FDir.filePath(QStringLiteral("data/g/e/experiment.txt")));
        experiment.open(QIODevice::WriteOnly);
        experiment.write(text.toUtf8());
        experiment.close();
        qputenv("XDG_DATA_HOME", FDir.filePath(QStringLiteral("home")).toLocal8Bit());
        // Boxes answered by their defaults, the chooser's first experiment taken.
        FPrompts.OnDialog = [](QDialog& dialog) {
            auto& chooser = static_cast<TfmExperiments&>(dialog);
            chooser.Tree()->topLevelItem(0)->setExpanded(true);
            chooser.Tree()->setCurrentItem(chooser.Tree()->topLevelItem(0)->child(0));
            return int(QDialog::Accepted);
        };
        tSimWorld::Instance().Clear();
        tSimSensorConfig sensor;
        sensor.Name = "T101";
        tSimWorld::Instance().AddComSensor(
            QStringLiteral("/dev/ttyACM0"),
            std::make_shared<tSimSensor>(sensor, std::make_shared<tVirtualClock>(1000)));
        SetComApi(&SimComApi());
        SetComPortLister([] { return tSimWorld::Instance().ComPaths(); });
        SetPacketSourceMaker([](const tStreamStart&) -> std::unique_ptr<tPacketSource> {
            return std::make_unique<tQueuedSource>();
        });
        FWindow = std::make_unique<TfmMain>();
        FWindow->resize(size);
        FWindow->show();
        FWindow->RunAction(FWindow->acExperimentChoose);
        FWindow->Acquisition().EndReading();
        FWindow->RunAction(FWindow->acExperimentStart);
    }
    ~tLiveWindow() {
        FWindow->RunAction(FWindow->acExperimentStop);
        FWindow.reset();
        SetComApi(nullptr);
        SetComPortLister(nullptr);
        tSimWorld::Instance().Clear();
    }
    TfmMain& Window() { return *FWindow; }

private:
    QTemporaryDir FDir;
    tRecordingPrompts FPrompts;
    std::unique_ptr<TfmMain> FWindow;
};

void BM_Tick(benchmark::State& state) {
    const int existing = int(state.range(0));
    const bool scrolling = state.range(2) != 0;
    // Moving on: every value a point (as the sound sensor's run), a window of 2.5 s that holds some 58 000 of
    // them just before the newest point; each tick's 1.4 s of points moves it on by half.
    const int average = scrolling ? 1 : 10;
    const double minX = scrolling ? existing * 43 * 1e-6 * average - 1 : 0;
    tLiveWindow live(QStringLiteral("SensorName=T101\r\nFreq=43\r\nAverage=%1\r\nMinY=10\r\nMaxY=30\r\n"
                                    "MinX=%2\r\nMaxX=%3\r\nIncX=%4\r\n")
                         .arg(average)
                         .arg(minX, 0, 'f', 6)
                         .arg(scrolling ? minX + 2.5 : 3000, 0, 'f', 6)
                         .arg(scrolling ? 0.5 : 300),
                     QSize(1280, 800));
    TfmMain& window = live.Window();
    tLesson& lesson = window.Lesson();
    if (state.range(1)) window.Frame->ShowPage(TfrExperiment::tPage::Table);
    std::vector<double> before;
    for (int i = 0; i < existing * average; ++i) before.push_back(20 + std::sin(i / average * 0.01));
    lesson.TakeRunValues(before, true);
    const tPointSeries& points = *lesson.Run(lesson.Measured()).Points;
    int values = 0;
    const auto packets = OneSecondOfStream(values);
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& packet : packets) {
            tMeasurePacket queued{std::make_unique<std::uint8_t[]>(packet.size()), int(packet.size())};
            std::copy(packet.begin(), packet.end(), queued.Data.get());
            gQueued.push_back(std::move(queued));
        }
        state.ResumeTiming();
        window.tmMeasureTimer();
        // The repaint the tick asked for, onto the window.
        QCoreApplication::processEvents();
    }
    state.counters["values_per_tick"] = values;
    state.counters["points"] = points.Count();
    // The chart's line, the table and the runs panel read the same store: these are all the bytes a point
    // costs.
    state.counters["store_bytes_per_point"] = double(points.BytesHeld()) / points.Count();
    state.counters["table_shown"] = double(state.range(1));
    state.counters["scrolling"] = double(scrolling);
}
BENCHMARK(BM_Tick)
    ->Args({0, 0, 0})
    ->Args({1000000, 0, 0})
    ->Args({1000000, 1, 0})
    ->Args({1000000, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(60);

// The sound sensor's run as the program shows it maximised at 1920×1080: a 1 kHz signal, 100 values a tick,
// two seconds across the chart, which moves on by half every ten ticks; with `behind`, a first run of 20 s
// drawn behind the measured one. The mean over 100 ticks is what the live run costs the window each tenth of
// a second (no pixels sent to a display here).
void BM_LiveFork(benchmark::State& state) {
    const bool behind = state.range(0) != 0;
    tLiveWindow live(QStringLiteral("SensorName=T101\r\nFreq=1000\r\nAverage=1\r\nMinX=0\r\nMaxX=2\r\n"
                                    "IncX=0.2\r\nMinY=-1\r\nMaxY=1\r\nIncY=0.2\r\n"),
                     QSize(1920, 1040));
    TfmMain& window = live.Window();
    const auto fork = [](int n) {
        const double t = n * 0.001;
        return 0.8 * std::exp(-std::fmod(t, 6) / 2.5) * std::sin(2 * 3.14159265358979 * 2.5 * t);
    };
    if (behind) {
        for (int n = 0; n < 20000; n += 100) {
            gQueued.push_back(Packet(n, 100, fork));
            window.tmMeasureTimer();
        }
        window.RunAction(window.acExperimentStop);
        window.RunAction(window.acExperimentStart);
    }
    QCoreApplication::processEvents();
    int next = 0;
    for (auto _ : state) {
        for (int tick = 0; tick < 100; ++tick, next += 100) {
            gQueued.push_back(Packet(next, 100, fork));
            window.tmMeasureTimer();
            // The repaint the tick asked for, onto the window.
            QCoreApplication::processEvents();
        }
    }
    // Ticks a second of the window's time: a hundredth of the time shown is a tick's.
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_LiveFork)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// A run with `n` statistics results on the chart (none dragged anywhere): a tick of the next run measured
// beside it, the chart following it and repainting (its result boxes placed among the curves), and a resize.
void BM_TickWithResults(benchmark::State& state) {
    tLiveWindow live(QStringLiteral("SensorName=T101\r\nFreq=1000\r\nAverage=1\r\nMinX=0\r\nMaxX=20\r\n"
                                    "IncX=2\r\nMinY=-1\r\nMaxY=1\r\nIncY=0.2\r\n"),
                     QSize(1920, 1040));
    TfmMain& window = live.Window();
    const auto wave = [](int n) { return 0.8 * std::sin(n * 0.002); };
    for (int n = 0; n < 10000; n += 100) {
        gQueued.push_back(Packet(n, 100, wave));
        window.tmMeasureTimer();
    }
    window.RunAction(window.acExperimentStop);
    for (int i = 0; i < state.range(0); ++i)
        Analyse(window.Lesson(), tAnalysisKind::Statistics, tFitModel::Line, i % 9, i % 9 + 1);
    QElapsedTimer resize;
    resize.start();
    window.resize(1600, 900);
    QCoreApplication::processEvents();
    window.resize(1920, 1040);
    QCoreApplication::processEvents();
    state.counters["resize_ms"] = double(resize.elapsed()) / 2;
    window.RunAction(window.acExperimentStart);
    QCoreApplication::processEvents();
    int next = 0;
    for (auto _ : state) {
        gQueued.push_back(Packet(next, 100, wave));
        next += 100;
        window.tmMeasureTimer();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_TickWithResults)->Arg(0)->Arg(30)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
