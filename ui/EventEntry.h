// SPDX-License-Identifier: GPL-3.0-or-later
// «Сохранить точку» of an experiment of events: while its run records, the mean of the last second of the
// sensor's readings is kept at the value the user types, the last one its step on offered.
#pragma once

#include <QObject>

class QAction;
class QWidget;
class tLesson;

class TEventEntry : public QObject {
    Q_OBJECT
public:
    TEventEntry(QWidget* window, tLesson& lesson);
    // Shown for an experiment of events only, enabled while its run records (Enter).
    QAction* Action() const { return FAction; }
    // Asks for the value and keeps the point; a value that is no number is asked again with the reason.
    void Keep();

private:
    void Update();

    QWidget* FWindow;
    tLesson& FLesson;
    QAction* FAction;
};
