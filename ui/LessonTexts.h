// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says of a lesson in words and colours: a run's colour, a reading as the tool bar shows it,
// and how the collection of a run stands.
#pragma once

#include <QColor>
#include <QString>

class tExperiment;
class tLesson;

// The colour of the run that goes by `number` (its file's number, else its id): kept for good, the first red
// and the second blue as the experiment's two lines, then others.
QColor RunColour(int number);
// The colour of the lesson's run i.
QColor RunColour(const tLesson& lesson, int i);
// "T, °C = 21,5": a reading of the experiment's sensor as the tool bar shows it.
QString ReadingText(const tExperiment& experiment, double value);
// What the status bar says of the collection at `now` (seconds on the lesson's clock): the countdown, the
// wait for the trigger, the time left, or the settings between runs; empty when there is nothing to say.
QString CollectionStatus(const tLesson& lesson, double now);
