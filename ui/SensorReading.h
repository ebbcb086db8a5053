// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor's reading between runs: while a sensor that shows its value is connected and nothing is
// recorded, the acquisition reads it and the lesson keeps its newest value, shown here in a label of its own
// in the tool bar (beside the value label, which keeps a marker's reading) and in Крупные цифры; nothing of
// it is recorded. The stream is ended before a run begins, so Пуск and Стоп send what they always send; a
// sensor lost meanwhile is noticed at once.
#pragma once

#include <QObject>

class QAction;
class QWidget;
class tAcquisition;
class tLesson;
class tReadingsPanel;
class tValueLabel;

class TSensorReading : public QObject {
    Q_OBJECT
public:
    TSensorReading(QWidget* window, tLesson& lesson, tAcquisition& acquisition);
    // Вид → Показания датчика: on unless the user turned it off (kept per user).
    QAction* Action() const { return FAction; }
    // The label that shows the reading, and the panel of readings that shows the label.
    tValueLabel* Label() const { return FLabel; }
    void ShowIn(tReadingsPanel* panel) { FPanel = panel; }
    bool Active() const;
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
    // The label brought up to the lesson's newest value: shown while the sensor is read and gives one.
    void Show();

    tLesson& FLesson;
    tAcquisition& FAcquisition;
    QAction* FAction;
    tValueLabel* FLabel;
    tReadingsPanel* FPanel = nullptr;
};
