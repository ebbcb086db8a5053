// SPDX-License-Identifier: GPL-3.0-or-later
// The reading between runs: when it is begun and ended around the runs, and its label.
#include "ui/SensorReading.h"

#include "acquisition/Acquisition.h"
#include "core/UserFolders.h"
#include "lesson/Lesson.h"
#include "ui/LessonTexts.h"
#include "widgets/ReadingsPanel.h"
#include "widgets/ValueLabel.h"

#include <QAction>
#include <QSettings>
#include <QTimer>
#include <QWidget>

namespace {

QString ViewFile() {
    return UserStateFile(QStringLiteral("view.ini"));
}

} // namespace

TSensorReading::TSensorReading(QWidget* window, tLesson& lesson, tAcquisition& acquisition)
    : QObject(window), FLesson(lesson), FAcquisition(acquisition),
      FAction(new QAction(QStringLiteral("Показания &датчика"), window)), FLabel(new tValueLabel) {
    FAction->setObjectName(QStringLiteral("acViewSensorReading"));
    FAction->setStatusTip(QStringLiteral("Показывать значение датчика и между измерениями"));
    FAction->setCheckable(true);
    FAction->setChecked(
        QSettings(ViewFile(), QSettings::IniFormat).value(QStringLiteral("SensorReading"), true).toBool());
    window->addAction(FAction);
    FLabel->setObjectName(QStringLiteral("lbReading"));
    FLabel->setToolTip(QStringLiteral("Показание датчика между измерениями"));
    FLabel->setStyleSheet(QStringLiteral("color: #1d5a8c"));
    connect(FAction, &QAction::toggled, this, [this](bool on) {
        QSettings(ViewFile(), QSettings::IniFormat).setValue(QStringLiteral("SensorReading"), on);
        if (on) return Begin();
        End();
    });
    // Between runs, with a sensor connected.
    connect(&lesson, &tLesson::collectingChanged, this, &TSensorReading::Begin);
    connect(&lesson, &tLesson::sensorStateChanged, this, &TSensorReading::Begin);
    connect(&lesson, &tLesson::valueMeasured, this, &TSensorReading::Show);
    connect(&lesson, &tLesson::sensorStateChanged, this, &TSensorReading::Show);
    connect(&lesson, &tLesson::collectingChanged, this, &TSensorReading::Show);
    connect(&acquisition, &tAcquisition::readingLost, this, [this] {
        Show();
        emit lost();
    });
}

bool TSensorReading::Active() const {
    return FAcquisition.Reading();
}

void TSensorReading::Begin() {
    // After whatever the change was part of (a sensor let go, a run's last tick).
    QTimer::singleShot(0, this, &TSensorReading::BeginNow);
}

void TSensorReading::BeginNow() {
    if (!FAction->isChecked() || !FLesson.IsOpen() || !FLesson.Sensor().ShowsValue ||
        FLesson.Collecting() != tLesson::tCollecting::Idle ||
        FLesson.SensorState() != tLesson::tSensorState::Connected)
        return;
    FAcquisition.BeginReading();
}

void TSensorReading::End() {
    FAcquisition.EndReading();
    Show();
}

bool TSensorReading::Lose() {
    return FAcquisition.LoseReading();
}

void TSensorReading::Show() {
    const std::optional<double> newest = FLesson.NewestValue();
    const bool shown = FAcquisition.Reading() && newest && FLesson.Collecting() == tLesson::tCollecting::Idle;
    if (shown) FLabel->SetValue(QStringLiteral("Датчик: ") + ReadingText(FLesson.Experiment(), *newest));
    if (FPanel) FPanel->SetShown(FLabel, shown);
}
