// The live display: every 100 ms the queued packets are decoded and channel 0 is averaged into chart points.
#include "ui/Mainfm.h"

#include "core/AppMessages.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "ui/Experimentfr.h"
#include "widgets/Chart.h"

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <cmath>
#include <cstdio>

void TfmMain::DecodeValueStream(const std::vector<std::uint8_t>& payload) {
    if (!::DecodeValueStream(payload.data(), payload.size(), CurrentChannel, Channels))
        PostAppMessage(WM_SENSOR_LOST, 0, 0);
}

void TfmMain::ShowElapsed() {
    const std::int64_t tenths = (Counter() - MeasureStart) * 10 / std::max<std::int64_t>(1, PerfFrequency);
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d.%1d", int(tenths / 600), int(tenths % 600 / 10),
                  int(tenths % 10));
    StatusPanels[1]->setText(QString::fromLatin1(text));
}

void TfmMain::tmMeasureTimer() {
    // 1. The packets queued when the tick began; later ones wait for the next tick.
    const int packets = Device ? Device->GetPacketCount() : 0;
    std::vector<std::uint8_t> payload;
    for (int n = 0; n < packets && Device; ++n) {
        tMeasurePacket packet;
        Device->GetPacket(packet);
        payload.clear();
        if (!packet.Data || !ExtractPayload(packet.Data.get(), size_t(packet.Size), payload)) {
            // A broken packet ends the measurement without a word.
            RunAction(acExperimentStop);
            break;
        }
        DecodeValueStream(payload);
    }

    // 2. Points: blocks of Average values of channel 0, held back while the label box is open.
    std::vector<double>& values = Channels[0];
    std::size_t used = 0;
    if (Experiment && Frame && Experiment->Average > 0 && SeriesIndex < Frame->chMain->SeriesCount()) {
        const int average = Experiment->Average;
        tFastLine* line = Frame->chMain->Series(SeriesIndex);
        while (values.size() - used > std::size_t(average) && !acExperimentMarkPoint->isChecked()) {
            double sum = 0;
            for (int k = 0; k < average; ++k) sum += values[used + std::size_t(k)];
            const double y = sum / average;
            const double x = line->Count() * double(Experiment->Freq) * 0.000001 * average;
            line->Add(x, y, Frame->TakePointLabel());
            if (line->Count() == 1 && std::abs(Experiment->YOffset) > 0.000001) {
                const double w = Experiment->MaxY - Experiment->MinY;
                Frame->chMain->SetLeftRange(y - Experiment->YOffset * w, y + (1 - Experiment->YOffset) * w);
            }
            used += std::size_t(average);
            ShowElapsed();
        }
    }
    if (used > 0) values.erase(values.begin(), values.begin() + std::ptrdiff_t(used));
    ShowElapsed();

    // 4. The newest value in the tool bar and the axes following the newest point.
    if (Frame && SeriesIndex < Frame->chMain->SeriesCount() &&
        Frame->chMain->Series(SeriesIndex)->Count() > 0) {
        if (!HidesValueLabel(Experiment->SensorName)) {
            ShowValueLabel(true);
            lb->setText(Frame->GetValueText(Experiment->FormatY));
        }
        Frame->FollowNewest(Experiment->AutoSize);
    }
    if (Frame) Frame->Redraw();
}
