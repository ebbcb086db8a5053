// The live display: every 100 ms the queued packets are decoded and channel 0 is averaged into chart points.
#include "ui/Mainfm.h"

#include "core/AppMessages.h"
#include "core/Exception.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "runs/WorkFolder.h"
#include "ui/Experimentfr.h"
#include "widgets/Chart.h"
#include "widgets/NumberFormat.h"
#include "widgets/StatusPanel.h"

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <cmath>
#include <cstdio>

void TfmMain::DecodeValueStream(const std::vector<std::uint8_t>& payload) {
    if (!::DecodeValueStream(payload.data(), payload.size(), CurrentChannel, Channels))
        PostAppMessage(WM_SENSOR_LOST, 0, 0);
}

void TfmMain::ShowElapsed(bool paintNow) {
    const std::int64_t tenths = (Counter() - MeasureStart) * 10 / std::max<std::int64_t>(1, PerfFrequency);
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d.%1d", int(tenths / 600), int(tenths % 600 / 10),
                  int(tenths % 10));
    StatusPanels[1]->SetText(QString::fromLatin1(text),
                             paintNow ? tStatusPanel::tPaint::Now : tStatusPanel::tPaint::Held);
}

void TfmMain::tmMeasureTimer() {
    if (FBusy) return;
    if (FCountingDown) {
        if (Counter() >= FCountdownEnd) return Guarded([this] { Start(); });
        return ShowCollectionStatus();
    }
    Tick(false);
}

void TfmMain::Tick(bool last) {
    FInTick = true;
    struct tTickEnd {
        bool& Flag;
        ~tTickEnd() { Flag = false; }
    } tickEnd{FInTick};

    // 1. The packets queued when the tick began; later ones wait for the next tick. The last tick of a run
    // comes after the thread has ended and takes everything it left.
    const int packets = Device ? Device->GetPacketCount() : 0;
    std::vector<std::uint8_t> payload;
    for (int n = 0; n < packets && Device; ++n) {
        tMeasurePacket packet;
        Device->GetPacket(packet);
        payload.clear();
        if (!packet.Data || !ExtractPayload(packet.Data.get(), size_t(packet.Size), payload)) {
            // A broken packet ends the measurement without a word.
            if (!last) RunAction(acExperimentStop);
            break;
        }
        DecodeValueStream(payload);
    }

    // 2. Points: blocks of Average values of channel 0. During a run a complete block waits for one more
    // value; the last tick draws it, so a run keeps every value it got. The chart goes on while the label box
    // is open.
    std::vector<double>& values = Channels[0];
    std::size_t used = 0;
    double live = 0;
    if (Experiment && Frame && Experiment->Average > 0 && SeriesIndex < Frame->chMain->SeriesCount()) {
        const std::size_t average = std::size_t(Experiment->Average);
        const std::size_t keep = last ? 0 : 1;
        tFastLine* line = Frame->chMain->Series(SeriesIndex);
        while (values.size() - used >= average + keep) {
            double sum = 0;
            for (std::size_t k = 0; k < average; ++k) sum += values[used + k];
            const double y = sum / double(average);
            // What the run records of the point: all of it, unless a trigger or a duration decides.
            const double t = PointTime(FSamples++, Experiment->Freq, Experiment->Average);
            FCollected.clear();
            if (FCollector)
                FCollector->Feed(t, y, FCollected);
            else
                FCollected.push_back({t, y});
            for (const tCollectedPoint& point : FCollected) {
                line->Add(point.X, point.Y, Frame->TakePointLabel());
                if (line->Count() == 1 && std::abs(Experiment->YOffset) > 0.000001) {
                    const double w = Experiment->MaxY - Experiment->MinY;
                    Frame->chMain->SetLeftRange(point.Y - Experiment->YOffset * w,
                                                point.Y + (1 - Experiment->YOffset) * w);
                }
            }
            live = y;
            used += average;
            ShowElapsed(false);
        }
    }
    if (used > 0) {
        values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
        // The new points go to the disk at every tick (but while the label box is open: the label may still
        // go to one of them), and to the table.
        if (Work && FMarkAt < 0) {
            try {
                Work->AppendPoints();
            } catch (const Exception& e) {
                WorkFailed(e.Message());
            }
        }
        Runs.PointsAdded();
    }

    // 4. The newest value in the tool bar and the axes following the newest point; both change only with a
    // new point.
    if (used > 0 && Frame && SeriesIndex < Frame->chMain->SeriesCount() &&
        Frame->chMain->Series(SeriesIndex)->Count() > 0) {
        if (!HidesValueLabel(Experiment->SensorName)) {
            ShowValueLabel(true);
            ShowLabelText(Frame->GetValueText(Experiment->FormatY));
        }
        Frame->FollowNewest(Experiment->AutoSize);
    } else if (used > 0 && Frame && !HidesValueLabel(Experiment->SensorName)) {
        // Waiting for the trigger: the values are shown live, nothing is recorded yet.
        ShowValueLabel(true);
        ShowLabelText(Frame->chMain->LeftTitle() + QStringLiteral(" = ") +
                      FormatFloat(Experiment->FormatY, live));
    }
    if (used > 0) ShowLiveValue(live);
    if (FCollector && (used > 0 || last)) ShowCollectionStatus();
    // A tick without a new point leaves the chart's pixels as they are.
    if (Frame && (used > 0 || last)) Frame->Redraw();
    // Last, the elapsed time and the clock: the window paints everything the tick changed at once.
    ShowTime();
    ShowElapsed(true);
    // A run of a set duration stops by itself, and is shown whole.
    if (!last && FCollector && FCollector->Phase() == tCollector::tPhase::Done) {
        RunAction(acExperimentStop);
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
    }
}
