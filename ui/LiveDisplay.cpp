// The live display: every 100 ms the queued packets are decoded and channel 0 goes to the lesson, which makes
// points of it; the chart follows the newest point; the status bar says how the run is collected.
#include "ui/Mainfm.h"

#include "core/AppMessages.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "ui/BigDigitsView.h"
#include "ui/Experimentfr.h"
#include "widgets/Chart.h"
#include "widgets/NumberFormat.h"
#include "widgets/StatusPanel.h"

#include <QTimer>
#include <cmath>
#include <cstdio>

void TfmMain::DecodeValueStream(const std::vector<std::uint8_t>& payload) {
    if (!::DecodeValueStream(payload.data(), payload.size(), CurrentChannel, Channels))
        PostAppMessage(WM_SENSOR_LOST, 0, 0);
}

void TfmMain::ShowElapsed(bool paintNow) {
    const std::int64_t tenths =
        (ElapsedCounter() - MeasureStart) * 10 / std::max<std::int64_t>(1, PerfFrequency);
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d.%1d", int(tenths / 600), int(tenths % 600 / 10),
                  int(tenths % 10));
    StatusPanels[1]->SetText(
        QString::fromLatin1(text), // painted at once with all the tick changed: one wake less
        paintNow ? tStatusPanel::tPaint::Now : tStatusPanel::tPaint::Held);
}

void TfmMain::tmMeasureTimer() {
    if (FBusy) return ShowTime();
    if (FLesson->Collecting() == tLesson::tCollecting::Countdown) {
        ShowTime();
        if (FLesson->CountdownOver(Now())) return Guarded([this] { Start(); });
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

    // 2. Points: the lesson takes blocks of Average values of channel 0 (during a run a complete block waits
    // for one more value; the last tick takes it, so a run keeps every value it got). The chart goes on while
    // the label box is open.
    const int run = FLesson->Measured();
    const int before = run >= 0 ? FLesson->Run(run).Points->Count() : 0;
    const std::size_t waiting = Channels[0].size();
    if (Frame && Experiment)
        FLesson->TakeValues(Channels[0], last, [this] { return Frame->TakePointLabel(); });
    const bool taken = Channels[0].size() != waiting;
    const int now = run >= 0 ? FLesson->Run(run).Points->Count() : 0;
    // Only the first point of a line moves the left axis, when the experiment places it.
    if (before == 0 && now > 0 && std::abs(Experiment->YOffset) > 0.000001) {
        const auto [low, high] = Experiment->PlacedRange(FLesson->Run(run).Points->Y(0));
        Frame->chMain->SetLeftRange(low, high);
    }

    // 4. The newest value in the tool bar (live while waiting or between events) and the axes following it.
    if (taken && FLesson->Sensor().ShowsValue) {
        ShowValueLabel(true);
        ShowLabelText(now > 0 && !Experiment->Events
                          ? Frame->GetValueText(Experiment->FormatY)
                          : FLesson->ReadingText(FLesson->NewestValue().value_or(0)));
    }
    if (now > before) Frame->FollowNewest(Experiment->AutoSize);
    const tLesson::tCollecting collecting = FLesson->Collecting();
    if ((taken || last) &&
        (collecting == tLesson::tCollecting::Waiting ||
         (collecting == tLesson::tCollecting::Recording && FLesson->Collection().Duration > 0)))
        ShowCollectionStatus();
    // A tick without a new point leaves the chart's pixels as they are.
    if (Frame && (now > before || last)) Frame->Redraw();
    // Last, the elapsed time and the clock: the window paints everything the tick changed at once.
    ShowTime();
    ShowElapsed(true);
    // A run of a set duration stops by itself, and is shown whole.
    if (!last && FLesson->RunComplete()) {
        RunAction(acExperimentStop);
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
    }
}

double TfmMain::Now() const {
    return double(ElapsedCounter()) / double(std::max<std::int64_t>(1, PerfFrequency));
}

void TfmMain::ShowCollectionStatus() {
    // The countdown, the wait for the trigger, the time left or how runs are collected (big digits too).
    const QString text = FLesson->IsOpen() ? FLesson->CollectionStatus(Now()) : QString();
    StatusPanels[0]->setText(text);
    if (!BigDigits->isHidden()) BigDigits->SetNote(text);
    if (Frame) Frame->SetNotice(text);
}
