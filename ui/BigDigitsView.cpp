// SPDX-License-Identifier: GPL-3.0-or-later
// The big digits following the lesson and covering their window.
#include "ui/BigDigitsView.h"

#include "lesson/Lesson.h"
#include "widgets/NumberFormat.h"

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
    if (const int run = FLesson.Chosen(); run >= 0 && FLesson.Run(run).Points->Count() > 0) {
        const tPointSeries& points = *FLesson.Run(run).Points;
        SetValue(FormatFloat(FLesson.Experiment().FormatY, points.Y(points.Count() - 1)));
    }
    show();
    raise();
    setFocus();
}
