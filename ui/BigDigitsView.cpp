// SPDX-License-Identifier: GPL-3.0-or-later
// The big digits following the lesson and covering their window.
#include "ui/BigDigitsView.h"

#include "core/NumberFormat.h"
#include "lesson/Lesson.h"

#include <QAction>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QShortcut>

TBigDigitsView::TBigDigitsView(QWidget* window, tLesson& lesson, QAction* toggle)
    : TBigDigits(window), FLesson(lesson) {
    setObjectName(QStringLiteral("BigDigits"));
    hide();
    connect(toggle, &QAction::toggled, this, [this](bool on) {
        if (on)
            Cover();
        else
            hide();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, toggle,
            [toggle] { toggle->setChecked(false); });
    connect(&lesson, &tLesson::valueMeasured, this, [this](double value) {
        if (!isHidden()) SetValue(FormatFloat(FLesson.Experiment().FormatY, value));
    });
    connect(&lesson, &tLesson::sensorStateChanged, this, [this] {
        if (!FLesson.NewestValue()) SetValue(QString());
        ShowNote();
    });
    window->installEventFilter(this);
}

bool TBigDigitsView::eventFilter(QObject* watched, QEvent* event) {
    // They keep covering the window.
    if (event->type() == QEvent::Resize && !isHidden()) Cover();
    return TBigDigits::eventFilter(watched, event);
}

void TBigDigitsView::Cover() {
    // Over everything below the menu: the tool bar, the chart, the panels and the status bar.
    QWidget* window = parentWidget();
    const QMenuBar* menu =
        qobject_cast<QMainWindow*>(window) ? static_cast<QMainWindow*>(window)->menuBar() : nullptr;
    const int top = menu && !menu->isHidden() ? menu->sizeHint().height() : 0;
    setGeometry(0, top, window->width(), window->height() - top);
    SetCaption(FLesson.IsOpen() ? FLesson.Experiment().CaptionY : QString());
    // The sensor's newest value; without a sensor giving one, the chosen run's last.
    QString value;
    if (FLesson.NewestValue())
        value = FormatFloat(FLesson.Experiment().FormatY, *FLesson.NewestValue());
    else if (const int run = FLesson.Chosen(); FLesson.SensorState() != tLesson::tSensorState::Lost &&
                                               run >= 0 && FLesson.Run(run).Points->Count() > 0)
        value = FormatFloat(FLesson.Experiment().FormatY,
                            FLesson.Run(run).Points->Y(FLesson.Run(run).Points->Count() - 1));
    SetValue(value);
    ShowNote();
    show();
    raise();
    setFocus();
}

void TBigDigitsView::SetStatus(const QString& status) {
    FStatus = status;
    ShowNote();
}

void TBigDigitsView::ShowNote() {
    const bool lost = FLesson.IsOpen() && FLesson.SensorState() == tLesson::tSensorState::Lost;
    SetNote(!FStatus.isEmpty() || !lost
                ? FStatus
                : QStringLiteral("Датчик «%1» отключён").arg(FLesson.Experiment().SensorName));
}
