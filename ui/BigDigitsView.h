// SPDX-License-Identifier: GPL-3.0-or-later
// Крупные цифры: the lesson's current value over the whole of a window below its menu, for the back of a
// classroom; Esc returns. A sensor gone shows no number, and says so.
#pragma once

#include "widgets/BigDigits.h"

class QAction;
class tLesson;

class TBigDigitsView : public TBigDigits {
    Q_OBJECT
public:
    // Covers `window` while `toggle` is checked; Esc unchecks it.
    TBigDigitsView(QWidget* window, tLesson& lesson, QAction* toggle);
    // What the status bar says of the collection (the countdown, the wait for the trigger), under the value.
    void SetStatus(const QString& status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Cover();
    // The note under the value: the collection's status, else that the sensor is gone.
    void ShowNote();
    tLesson& FLesson;
    QString FStatus;
};
