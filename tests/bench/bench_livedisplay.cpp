// One tick of the live display with one second of a 921600-baud stream queued and 10^6 points already on the
// line: payload walk, decoding, averaging into points, following, the chart's repaint and its paint onto the
// window (blend and flush); with the time axis standing still or moving on at nearly every tick; and the
// memory per point held.
#include "core/CommandLine.h"
#include "experiment/Experiment.h"
#include "experiment/Experimentsfm.h"
#include "measure/ValueStream.h"
#include "runs/WorkFolder.h"
#include "ui/Experimentfr.h"
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

void BM_Tick(benchmark::State& state) {
    QTemporaryDir dir;
    SetExecutablePath(dir.filePath(QStringLiteral("zorbinka")));
    QFile cfg(dir.filePath(QStringLiteral("zorbinka.cfg")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write("UseFTDI=0\r\nUseCDC=0\r\nUseHID=0\r\n");
    cfg.close();
    QDir().mkpath(dir.filePath(QStringLiteral("data/g/e")));
    QFile experiment(dir.filePath(QStringLiteral("data/g/e/experiment.txt")));
    experiment.open(QIODevice::WriteOnly);
    experiment.write("SensorName=NO\r\n");
    experiment.close();

    TfmMain window;
    window.resize(1280, 800);
    window.show();
    window.ShowChooser = [](TfmExperiments& chooser) {
        chooser.Tree()->topLevelItem(0)->setExpanded(true);
        chooser.Tree()->setCurrentItem(chooser.Tree()->topLevelItem(0)->child(0));
        return int(QDialog::Accepted);
    };
    window.RunAction(window.acExperimentChoose);
    tExperiment& e = *window.Experiment;
    e.SensorName = QStringLiteral("T101");
    e.Freq = 43;
    e.Average = 10;
    e.MinY = 10;
    e.MaxY = 30;
    const int existing = int(state.range(0));
    const bool scrolling = state.range(2) != 0;
    // Moving on: every value a point (as the sound sensor's run), a window of 2.5 s that holds some 58 000 of
    // them just before the newest point; each tick's 1.4 s of points moves it on by half.
    if (scrolling) e.Average = 1;
    e.MinX = scrolling ? existing * e.Freq * 1e-6 * e.Average - 1 : 0;
    e.MaxX = scrolling ? e.MinX + 2.5 : 3000;
    e.IncX = scrolling ? 0.5 : 300;
    window.Frame->chMain->show();
    window.SeriesIndex = window.Frame->BeginMeasurement(e);
    tFastLine* line = window.Frame->chMain->Series(window.SeriesIndex);
    // The run as Пуск makes it: in the store the table reads, written to a work folder at every tick.
    auto run = std::make_shared<tRun>();
    run->CaptionX = e.CaptionX;
    run->CaptionY = e.CaptionY;
    run->Points = line->Series();
    window.Runs.Add(run);
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());
    window.Work = tWorkFolder::Create(QStringLiteral("bench"), dir.filePath(QStringLiteral("data/g/e/")));
    window.Work->BeginRun(run);
    if (state.range(1)) window.Frame->ShowPage(TfrExperiment::tPage::Table);
    for (int i = 0; i < existing; ++i) line->Add(i * e.Freq * 1e-6 * e.Average, 20 + std::sin(i * 0.01));
    window.Runs.PointsAdded();
    window.Work->AppendPoints();
    int values = 0;
    const auto packets = OneSecondOfStream(values);
    std::vector<std::uint8_t> payload;
    for (auto _ : state) {
        for (const auto& packet : packets) {
            payload.clear();
            ExtractPayload(packet.data(), packet.size(), payload);
            window.DecodeValueStream(payload);
        }
        window.tmMeasureTimer();
        // The repaint the tick asked for, onto the window.
        QCoreApplication::processEvents();
    }
    state.counters["values_per_tick"] = values;
    state.counters["points"] = line->Count();
    // The chart's line and the table read the same store: these are all the bytes a point costs.
    state.counters["store_bytes_per_point"] = double(line->BytesHeld()) / line->Count();
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

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks(argc, argv);
}
