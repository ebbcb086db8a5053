// The live display: every 100 ms the acquisition hands the sensor's values to the lesson, which makes points
// of them; the chart, the table and the tool bar follow the lesson; the tick shows the elapsed time and stops
// a run that has recorded its duration.
#include "ui/Mainfm.h"

#include "acquisition/Acquisition.h"
#include "device/Device.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "ui/BigDigitsView.h"
#include "ui/Experimentfr.h"
#include "ui/LessonTexts.h"
#include "ui/SensorReading.h"
#include "widgets/StatusPanel.h"
#include "widgets/ValueLabel.h"

#include <QTimer>
#include <cstdio>

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
        if (FLesson->Recording().CountdownOver(Now())) return Guarded([this] { Start(); });
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
    // The values queued when the tick began go to the lesson; the views follow it. A broken packet ends the
    // measurement without a word.
    if (!FAcquisition->Pump(last) && !last) RunAction(acExperimentStop);
    // Last, the elapsed time and the clock: the window paints everything the tick changed at once.
    ShowTime();
    ShowElapsed(true);
    // A run of a set duration stops by itself, and is shown whole.
    if (!last && FLesson->RunComplete()) {
        RunAction(acExperimentStop);
        if (Frame && Experiment) Frame->ShowAll(*Experiment);
    }
}

void TfmMain::ShowNewestValue() {
    const std::optional<double> newest = FLesson->NewestValue();
    // A value of a run (live while waiting or between events) in the value label; between runs the sensor's
    // reading has a label of its own, and a marker's reading stays.
    if (!newest || FLesson->Collecting() == tLesson::tCollecting::Idle) {
        if (FLabelShows == tLabelShows::Value && (!newest || FReading->Active())) {
            ShowValueLabel(false);
            FLabelShows = tLabelShows::Nothing;
        }
        return;
    }
    if (!FLesson->Sensor().ShowsValue || !Frame || !Experiment) return;
    const int run = FLesson->Measured();
    const bool points = run >= 0 && FLesson->Run(run).Points->Count() > 0;
    ShowLabelText(points && !Experiment->Events ? Frame->GetValueText(Experiment->FormatY)
                                                : ReadingText(*Experiment, *newest));
    ShowValueLabel(true);
    FLabelShows = tLabelShows::Value;
    const tLesson::tCollecting collecting = FLesson->Collecting();
    if (collecting == tLesson::tCollecting::Waiting ||
        (collecting == tLesson::tCollecting::Recording && FLesson->Collection().Duration > 0))
        ShowCollectionStatus();
}

double TfmMain::Now() const {
    return double(ElapsedCounter()) / double(std::max<std::int64_t>(1, PerfFrequency));
}

void TfmMain::ShowCollectionStatus() {
    // The countdown, the wait for the trigger, the time left or how runs are collected (big digits too).
    const QString text = CollectionStatus(*FLesson, Now());
    StatusPanels[0]->setText(text);
    BigDigits->SetStatus(text);
    if (Frame) Frame->SetNotice(text);
}
