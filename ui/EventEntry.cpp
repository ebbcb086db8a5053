// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping a point of a run of events: the action, its enabling and the box that asks for the value.
#include "ui/EventEntry.h"

#include "core/Exception.h"
#include "core/NumberFormat.h"
#include "core/Prompts.h"
#include "lesson/Lesson.h"
#include "ui/LessonTexts.h"
#include "widgets/Icons.h"

#include <QAction>
#include <QWidget>

TEventEntry::TEventEntry(QWidget* window, tLesson& lesson)
    : QObject(window), FWindow(window), FLesson(lesson),
      FAction(new QAction(ToolIcon(QStringLiteral("keep")), QStringLiteral("Сохранить &точку..."), window)) {
    FAction->setObjectName(QStringLiteral("acExperimentKeepPoint"));
    const QString hint = QStringLiteral(
        "Сохранить точку: среднее показание датчика за последнюю секунду при введённом значении");
    FAction->setToolTip(hint + QStringLiteral(" (Enter)"));
    FAction->setStatusTip(hint);
    FAction->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    window->addAction(FAction);
    connect(FAction, &QAction::triggered, this, [this] { RunCommand(FWindow, [this] { Keep(); }); });
    connect(&lesson, &tLesson::opened, this, &TEventEntry::Update);
    connect(&lesson, &tLesson::collectingChanged, this, &TEventEntry::Update);
    Update();
}

void TEventEntry::Update() {
    const bool events = FLesson.IsOpen() && FLesson.Experiment().Events;
    FAction->setVisible(events);
    FAction->setEnabled(events && FLesson.Measured() >= 0);
}

void TEventEntry::Keep() {
    if (!FAction->isEnabled()) return;
    // The reading is the one of the moment the point was asked for, whatever the time spent typing.
    const std::optional<double> reading = FLesson.EventReading();
    if (!reading) throw Exception(QStringLiteral("Датчик ещё не дал показаний: подождите секунду."));
    const std::optional<double> offered = FLesson.OfferedEntry();
    QString text = offered ? FormatFloat(FLesson.Experiment().FormatX, *offered) : QString();
    const tExperiment& e = FLesson.Experiment();
    QString prompt =
        ReadingText(FLesson.Experiment(), *reading) +
        QStringLiteral(". Введите %1:").arg(e.CaptionX.isEmpty() ? QStringLiteral("значение") : e.CaptionX);
    for (;;) {
        if (!Prompts().InputQuery(FWindow, QStringLiteral("Сохранить точку"), prompt, text)) return;
        QString reason;
        if (const std::optional<double> x = ParseTypedNumber(text, &reason)) {
            FLesson.KeepEvent(*x, *reading);
            return;
        }
        prompt = reason + QStringLiteral("\n") + prompt.section(u'\n', -1);
    }
}
