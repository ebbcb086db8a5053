// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor's reading between runs: while a sensor is connected and nothing is recorded, its values stream
// and the newest is shown (the tool bar, Крупные цифры) through the lesson, nothing of it recorded. The
// stream is ended before a run begins, so Пуск and Стоп send what they always send; a sensor lost meanwhile
// is noticed at once.
#pragma once

#include "measure/ValueStream.h"

#include <QObject>
#include <functional>

class QAction;
class QTimer;
class QWidget;
class tDevice;
class tLesson;

class TSensorReading : public QObject {
    Q_OBJECT
public:
    // `device` gives the sensor connected (null when none); `show` shows a reading's text, empty: none.
    TSensorReading(QWidget* window, tLesson& lesson, std::function<tDevice*()> device,
                   std::function<void(const QString&)> show);
    // Вид → Показания датчика: on unless the user turned it off (kept per user).
    QAction* Action() const { return FAction; }
    bool Active() const { return FActive; }
    // Begins the reading when the event loop is back, if by then a sensor that shows its value is connected,
    // nothing is measured and the reading is on.
    void Begin();
    // Ends the stream at once, the sensor stopped as Стоп stops it.
    void End();
    // The measuring thread said the sensor stopped answering: while reading, the sensor is lost. False when
    // nothing was being read.
    bool Lose();

signals:
    void lost();

private:
    void BeginNow();
    void Tick();

    tLesson& FLesson;
    std::function<tDevice*()> FDevice;
    std::function<void(const QString&)> FShow;
    QAction* FAction;
    QTimer* FTimer;
    bool FActive = false;
    tChannels FChannels;
    int FChannel = 0;
};
