// SPDX-License-Identifier: GPL-3.0-or-later
// The reading between runs: its stream begun and ended around the runs, polled four times a second.
#include "ui/SensorReading.h"

#include "core/UserFolders.h"
#include "device/Device.h"
#include "lesson/Lesson.h"

#include <QAction>
#include <QSettings>
#include <QTimer>
#include <QWidget>

namespace {

QString ViewFile() {
    return UserStateFolder() + QStringLiteral("/view.ini");
}

} // namespace

TSensorReading::TSensorReading(QWidget* window, tLesson& lesson, std::function<tDevice*()> device,
                               std::function<void(const QString&)> show)
    : QObject(window), FLesson(lesson), FDevice(std::move(device)), FShow(std::move(show)),
      FAction(new QAction(QStringLiteral("Показания &датчика"), window)), FTimer(new QTimer(this)) {
    FAction->setObjectName(QStringLiteral("acViewSensorReading"));
    FAction->setStatusTip(QStringLiteral("Показывать значение датчика и между измерениями"));
    FAction->setCheckable(true);
    FAction->setChecked(
        QSettings(ViewFile(), QSettings::IniFormat).value(QStringLiteral("SensorReading"), true).toBool());
    window->addAction(FAction);
    connect(FAction, &QAction::toggled, this, [this](bool on) {
        QSettings(ViewFile(), QSettings::IniFormat).setValue(QStringLiteral("SensorReading"), on);
        if (on) return Begin();
        End();
        FShow(QString());
    });
    // A reading is shown as it changes: a quarter of a second is quick enough for the eye, and costs little.
    FTimer->setInterval(250);
    connect(FTimer, &QTimer::timeout, this, &TSensorReading::Tick);
    // Between runs, with a sensor connected.
    connect(&lesson, &tLesson::collectingChanged, this, &TSensorReading::Begin);
    connect(&lesson, &tLesson::sensorStateChanged, this, &TSensorReading::Begin);
}

void TSensorReading::Begin() {
    // After whatever the change was part of (a sensor let go, a run's last tick).
    QTimer::singleShot(0, this, &TSensorReading::BeginNow);
}

void TSensorReading::BeginNow() {
    tDevice* device = FDevice();
    if (FActive || !device || !FAction->isChecked() || !FLesson.IsOpen() || !FLesson.Sensor().ShowsValue ||
        FLesson.Collecting() != tLesson::tCollecting::Idle ||
        FLesson.SensorState() != tLesson::tSensorState::Connected)
        return;
    for (auto& channel : FChannels) channel.clear();
    FChannel = 0;
    if (!device->StartMeasure(0)) return;
    FActive = true;
    FTimer->start();
}

void TSensorReading::End() {
    if (!FActive) return;
    FActive = false;
    FTimer->stop();
    if (tDevice* device = FDevice()) device->Stop();
}

bool TSensorReading::Lose() {
    if (!FActive) return false;
    FActive = false;
    FTimer->stop();
    // The stream's thread goes; nothing is sent to a sensor that is gone.
    if (tDevice* device = FDevice()) device->EndMeasureThread();
    FShow(QString());
    emit lost();
    return true;
}

void TSensorReading::Tick() {
    tDevice* device = FDevice();
    if (!FActive || !device) return;
    const int packets = device->GetPacketCount();
    std::vector<std::uint8_t> payload;
    for (int n = 0; n < packets; ++n) {
        tMeasurePacket packet;
        device->GetPacket(packet);
        payload.clear();
        if (!packet.Data || !ExtractPayload(packet.Data.get(), std::size_t(packet.Size), payload) ||
            !DecodeValueStream(payload.data(), payload.size(), FChannel, FChannels)) {
            Lose();
            return;
        }
    }
    for (std::size_t i = 1; i < FChannels.size(); ++i) FChannels[i].clear();
    const std::size_t before = FChannels[0].size();
    FLesson.TakeReading(FChannels[0]);
    if (FChannels[0].size() != before && FLesson.NewestValue())
        FShow(FLesson.ReadingText(*FLesson.NewestValue()));
}
