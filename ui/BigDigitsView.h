// SPDX-License-Identifier: GPL-3.0-or-later
// Крупные цифры: the lesson's current value over the whole of a window below its menu, for the back of a
// classroom; Esc returns.
#pragma once

#include "widgets/BigDigits.h"

class QAction;
class tLesson;

class TBigDigitsView : public TBigDigits {
    Q_OBJECT
public:
    // Covers `window` while `toggle` is checked; Esc unchecks it.
    TBigDigitsView(QWidget* window, tLesson& lesson, QAction* toggle);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Cover();
    tLesson& FLesson;
};
