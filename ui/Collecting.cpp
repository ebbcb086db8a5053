// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows of the lesson itself: Параметры сбора and its word in the status bar, the big digits
// of the current value, a work folder that cannot be written.
#include "ui/Mainfm.h"

#include "core/Prompts.h"
#include "experiment/Experiment.h"
#include "lesson/Lesson.h"
#include "platform/Clock.h"
#include "ui/CollectionDialog.h"
#include "widgets/BigDigits.h"
#include "widgets/NumberFormat.h"
#include "widgets/StatusPanel.h"

#include <QAction>
#include <QMenuBar>
#include <QTimer>

void TfmMain::FollowLesson() {
    connect(FLesson, &tLesson::collectingChanged, this, [this] { ShowCollectionStatus(); });
    connect(FLesson, &tLesson::valueMeasured, this, [this](double value) {
        if (!BigDigits->isHidden()) BigDigits->SetValue(FormatFloat(FLesson->Experiment().FormatY, value));
    });
    connect(FLesson, &tLesson::workFailed, this, [this](const QString& reason) {
        ShowWarningBox(this,
                       QStringLiteral("Измерения и отчёт этого эксперимента не сохраняются на диск.\r\n") +
                           reason);
    });
}

double TfmMain::Now() const {
    return double(ElapsedCounter()) / double(std::max<std::int64_t>(1, PerfFrequency));
}

void TfmMain::CollectionCommand() {
    if (!Experiment) return;
    TfmCollection dialog(this, Experiment->CaptionY);
    dialog.Set(FLesson->Collection());
    if (Prompts().Exec(dialog) == QDialog::Accepted) FLesson->SetCollection(dialog.Get());
}

void TfmMain::ShowCollectionStatus() {
    const QString text = FLesson->IsOpen() ? FLesson->CollectionStatus(Now()) : QString();
    StatusPanels[0]->setText(text);
    if (!BigDigits->isHidden()) BigDigits->SetNote(text);
}

void TfmMain::ShowBigDigits(bool on) {
    if (!on) {
        BigDigits->hide();
        return;
    }
    // Over everything below the menu: the tool bar, the chart, the panels and the status bar.
    const int top = menuBar()->isHidden() ? 0 : menuBar()->sizeHint().height();
    BigDigits->setGeometry(0, top, width(), height() - top);
    BigDigits->SetCaption(Experiment ? Experiment->CaptionY : QString());
    const int run = FLesson->Chosen();
    if (run >= 0 && FLesson->Run(run).Points->Count() > 0) {
        const tPointSeries& points = *FLesson->Run(run).Points;
        BigDigits->SetValue(FormatFloat(FLesson->Experiment().FormatY, points.Y(points.Count() - 1)));
    }
    BigDigits->show();
    BigDigits->raise();
    BigDigits->setFocus();
}
