// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson's words and colours.
#include "ui/LessonTexts.h"

#include "core/NumberFormat.h"
#include "lesson/Lesson.h"

#include <QLocale>
#include <cmath>

namespace {

QString Seconds(double s) {
    return QLocale().toString(std::ceil(s * 10 - 1e-9) / 10, 'f', 1);
}

} // namespace

QColor RunColour(int number) {
    static const QColor colours[] = {QColor(255, 0, 0),   QColor(0, 0, 255),   QColor(0, 150, 0),
                                     QColor(230, 120, 0), QColor(140, 0, 170), QColor(0, 150, 150),
                                     QColor(140, 80, 20), QColor(220, 0, 150), QColor(110, 110, 0),
                                     QColor(90, 90, 90)};
    return colours[std::size_t(std::max(1, number) - 1) % std::size(colours)];
}

QColor RunColour(const tLesson& lesson, int i) {
    return RunColour(lesson.Runs().Number(i));
}

QString ReadingText(const tExperiment& experiment, double value) {
    return experiment.CaptionY + QStringLiteral(" = ") + FormatFloat(experiment.FormatY, value);
}

QString CollectionStatus(const tLesson& lesson, double now) {
    if (!lesson.IsOpen()) return QString();
    const tRecording& recording = lesson.Recording();
    const tCollection& collection = lesson.Collection();
    const tExperiment& e = lesson.Experiment();
    switch (lesson.Collecting()) {
    case tLesson::tCollecting::Countdown:
        return QStringLiteral("Пуск через %1 с").arg(Seconds(recording.CountdownLeft(now)));
    case tLesson::tCollecting::Waiting:
        return QStringLiteral("Ожидание запуска: когда «%1» %2 %3%4. «Стоп» отменяет ожидание.")
            .arg(e.CaptionY,
                 collection.TriggerRising ? QStringLiteral("поднимется выше")
                                          : QStringLiteral("опустится ниже"),
                 QLocale().toString(collection.TriggerLevel, 'g', 6),
                 lesson.NewestValue()
                     ? QStringLiteral(" (сейчас %1)").arg(FormatFloat(e.FormatY, *lesson.NewestValue()))
                     : QString());
    case tLesson::tCollecting::Recording:
        if (recording.Remaining() >= 0)
            return QStringLiteral("До конца опыта %1 с").arg(Seconds(recording.Remaining()));
        return QString();
    case tLesson::tCollecting::Idle:
        break;
    }
    const QString described = DescribeCollection(collection);
    return described.isEmpty() ? QString() : QStringLiteral("Параметры сбора: ") + described;
}
