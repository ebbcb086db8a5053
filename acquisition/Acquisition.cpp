// SPDX-License-Identifier: GPL-3.0-or-later
// The pump from the measuring thread's queue through the value stream's decoder into the lesson.
#include "acquisition/Acquisition.h"

#include "core/AppMessages.h"
#include "device/Device.h"
#include "lesson/Lesson.h"
#include "measure/ValueStream.h"

#include <QTimer>

tAcquisition::tAcquisition(tLesson& lesson, QObject* parent)
    : QObject(parent), FLesson(lesson), FReadingTimer(new QTimer(this)) {
    // A reading is shown as it changes: a quarter of a second is quick enough for the eye, and costs little.
    FReadingTimer->setInterval(250);
    connect(FReadingTimer, &QTimer::timeout, this, [this] { Pump(); });
}

tAcquisition::~tAcquisition() {
    // No thread outlives the acquisition: the device ends its own.
    FReadingTimer->stop();
}

void tAcquisition::Attach(std::unique_ptr<tDevice> device) {
    Release();
    FDevice = std::move(device);
    FTaken = 0;
}

void tAcquisition::Release() {
    FReadingTimer->stop();
    FStream = tStream::None;
    // The device ends its thread and closes its link: a sensor that is gone is sent nothing.
    FDevice.reset();
}

void tAcquisition::Clear() {
    // The storage goes too: a long run's values are not kept for the next.
    for (std::vector<double>& channel : FChannels) std::vector<double>().swap(channel);
    FChannel = 0;
}

void tAcquisition::BeginRun() {
    Clear();
    FStream = tStream::Run;
    if (FDevice) FDevice->StartMeasure(0);
}

bool tAcquisition::Pump(bool last) {
    if (!FDevice || FStream == tStream::None) return true;
    // The packets queued when the pump began; later ones wait for the next.
    const int packets = FDevice->GetPacketCount();
    bool whole = true;
    bool lost = false;
    for (int n = 0; n < packets; ++n) {
        tMeasurePacket packet;
        FDevice->GetPacket(packet);
        FPayload.clear();
        if (!packet.Data || !ExtractPayload(packet.Data.get(), std::size_t(packet.Size), FPayload)) {
            whole = false;
            break;
        }
        if (!DecodeValueStream(FPayload.data(), FPayload.size(), FChannel, FChannels)) {
            lost = true;
            // The window stops the run and says so when it gets to the notice; the values before it count.
            if (FStream == tStream::Run) PostAppMessage(WM_SENSOR_LOST, 0, 0);
        }
    }
    // Only channel 0 is drawn: the others are not kept.
    for (std::size_t i = 1; i < FChannels.size(); ++i) FChannels[i].clear();
    std::vector<double>& values = FChannels[0];
    const std::size_t before = values.size();
    if (FStream == tStream::Reading) {
        // A reading that cannot be read is never shown: the sensor is taken as lost.
        if (!whole || lost) return LoseReading(), false;
        FLesson.TakeReadingValues(values);
    } else {
        // A broken packet ends the run: the values before it are its last.
        FLesson.TakeRunValues(values, last || !whole);
    }
    FTaken += std::int64_t(before - values.size());
    return whole;
}

void tAcquisition::EndRun(bool drain) {
    if (FStream != tStream::Run) return;
    if (FDevice && drain) {
        // What the sensor sent up to the stop or the loss is taken before the thread goes.
        FDevice->EndMeasureThread();
        Pump(true);
    }
    FStream = tStream::None;
    if (FDevice) FDevice->Stop();
}

bool tAcquisition::BeginReading() {
    if (!FDevice || FStream != tStream::None) return false;
    Clear();
    if (!FDevice->StartMeasure(0)) return false;
    FStream = tStream::Reading;
    FReadingTimer->start();
    return true;
}

void tAcquisition::EndReading() {
    if (FStream != tStream::Reading) return;
    FStream = tStream::None;
    FReadingTimer->stop();
    if (FDevice) FDevice->Stop();
}

bool tAcquisition::LoseReading() {
    if (FStream != tStream::Reading) return false;
    FStream = tStream::None;
    FReadingTimer->stop();
    // The stream's thread goes; nothing is sent to a sensor that is gone.
    if (FDevice) FDevice->EndMeasureThread();
    emit readingLost();
    return true;
}
