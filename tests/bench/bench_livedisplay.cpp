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

void BM_Tick(benchmark::State& state) {
    const int existing = int(state.range(0));
    const bool scrolling = state.range(2) != 0;
    // Moving on: every value a point (as the sound sensor's run), a window of 2.5 s that holds some 58 000 of
    // them just before the newest point; each tick's 1.4 s of points moves it on by half.
    const int average = scrolling ? 1 : 10;
    const double minX = scrolling ? existing * 43 * 1e-6 * average - 1 : 0;
    QTemporaryDir dir;
    SetExecutablePath(dir.filePath(QStringLiteral("zorbinka")));
    QFile cfg(dir.filePath(QStringLiteral("zorbinka.cfg")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write("UseFTDI=0\r\nUseCDC=1\r\nUseHID=0\r\nTimeout=0\r\n");
    cfg.close();
    QDir().mkpath(dir.filePath(QStringLiteral("data/g/e")));
    QFile experiment(dir.filePath(QStringLiteral("data/g/e/experiment.txt")));
    experiment.open(QIODevice::WriteOnly);
    experiment.write(
        QStringLiteral("SensorName=T101\r\nFreq=43\r\nAverage=%1\r\nMinY=10\r\nMaxY=30\r\nMinX=%2\r\n"
                       "MaxX=%3\r\nIncX=%4\r\n")
            .arg(average)
            .arg(minX, 0, 'f', 6)
            .arg(scrolling ? minX + 2.5 : 3000, 0, 'f', 6)
            .arg(scrolling ? 0.5 : 300)
            .toUtf8());
    experiment.close();
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());

    // Boxes answered by their defaults, the chooser's first experiment taken.
    tRecordingPrompts prompts;
    prompts.OnDialog = [](QDialog& dialog) {
        auto& chooser = static_cast<TfmExperiments&>(dialog);
        chooser.Tree()->topLevelItem(0)->setExpanded(true);
        chooser.Tree()->setCurrentItem(chooser.Tree()->topLevelItem(0)->child(0));
        return int(QDialog::Accepted);
    };
    // The sensor a demo one, its stream the benchmark's queue.
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
    TfmMain window;
    window.resize(1280, 800);
    window.show();
    window.RunAction(window.acExperimentChoose);
    // The run as Пуск makes it: the lesson keeps it, the table reads it, its file is written at every tick.
    tLesson& lesson = window.Lesson();
    window.Acquisition().EndReading();
    window.RunAction(window.acExperimentStart);
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
    window.RunAction(window.acExperimentStop);
    SetComApi(nullptr);
    SetComPortLister(nullptr);
    tSimWorld::Instance().Clear();
}
BENCHMARK(BM_Tick)
    ->Args({0, 0, 0})
    ->Args({1000000, 0, 0})
    ->Args({1000000, 1, 0})
    ->Args({1000000, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(60);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
