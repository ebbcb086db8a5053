// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement under control: Параметры сбора (duration, a countdown, a trigger), kept per experiment for the
// user and in the work folder; the big digits of the current value.
#include "ui/Mainfm.h"

#include "core/Exception.h"
#include "core/Settings.h"
#include "core/UserFolders.h"
#include "experiment/Experiment.h"
#include "ui/CollectionDialog.h"
#include "ui/Experimentfr.h"
#include "widgets/BigDigits.h"
#include "widgets/Chart.h"
#include "widgets/Icons.h"
#include "widgets/NumberFormat.h"
#include "widgets/StatusPanel.h"

#include <QAction>
#include <QLocale>
#include <QMenuBar>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

namespace {

QString StateFile() {
    return UserStateFolder() + QStringLiteral("/collection.ini");
}

QString Seconds(double s) {
    return QLocale().toString(std::ceil(s * 10 - 1e-9) / 10, 'f', 1);
}

} // namespace

void TfmMain::CreateCollectionActions() {
    acExperimentCollection =
        new QAction(ToolIcon(QStringLiteral("collection")), QStringLiteral("Параметры &сбора..."), this);
    acExperimentCollection->setStatusTip(
        QStringLiteral("Длительность опыта, задержка пуска и запуск по уровню сигнала"));
    acExperimentCollection->setToolTip(acExperimentCollection->statusTip());
    connect(acExperimentCollection, &QAction::triggered, this,
            [this] { Guarded([this] { CollectionCommand(); }); });
    acViewBigDigits = new QAction(QStringLiteral("&Крупные цифры"), this);
    acViewBigDigits->setStatusTip(
        QStringLiteral("Текущее значение крупными цифрами на всё окно (Esc — вернуться)"));
    acViewBigDigits->setShortcut(QKeySequence(Qt::Key_F11));
    acViewBigDigits->setCheckable(true);
    connect(acViewBigDigits, &QAction::toggled, this, [this](bool on) { ShowBigDigits(on); });
    for (QAction* action : {acExperimentCollection, acViewBigDigits}) addAction(action);
    BigDigits = new TBigDigits(this);
    BigDigits->hide();
    auto* back = new QShortcut(QKeySequence(Qt::Key_Escape), BigDigits);
    connect(back, &QShortcut::activated, this, [this] { acViewBigDigits->setChecked(false); });
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
    if (Frame && Frame->ActiveSeries < Frame->chMain->SeriesCount()) {
        const tFastLine* line = Frame->chMain->Series(Frame->ActiveSeries);
        if (line->Count() > 0 && Experiment)
            BigDigits->SetValue(FormatFloat(Experiment->FormatY, line->Y(line->Count() - 1)));
    }
    BigDigits->show();
    BigDigits->raise();
    BigDigits->setFocus();
}

void TfmMain::ShowLiveValue(double y) {
    FLiveValue = y;
    if (!Experiment) return;
    const QString value = FormatFloat(Experiment->FormatY, y);
    if (BigDigits && !BigDigits->isHidden()) BigDigits->SetValue(value);
}

void TfmMain::LoadCollection() {
    Collection = Experiment ? Experiment->Collection : tCollection{};
    if (!Experiment) return;
    const QSettings state(StateFile(), QSettings::IniFormat);
    const QStringList lines = state.value(QStringLiteral("Experiments/") + Experiment->Path).toStringList();
    if (lines.isEmpty()) return;
    tSettings own(false);
    own.SetLines(lines);
    Collection = ReadCollection(own, Collection);
}

void TfmMain::SaveCollection() {
    if (!Experiment) return;
    QSettings state(StateFile(), QSettings::IniFormat);
    state.setValue(QStringLiteral("Experiments/") + Experiment->Path, CollectionLines(Collection));
    if (Work) {
        try {
            Work->SetListKeys(QStringLiteral("Collection."), CollectionLines(Collection));
        } catch (const Exception& e) {
            WorkFailed(e.Message());
        }
    }
}

void TfmMain::CollectionCommand() {
    if (!Experiment) return;
    TfmCollection dialog(this, Experiment->CaptionY);
    dialog.Set(Collection);
    const int answer = ShowCollectionDialog ? ShowCollectionDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted) return;
    Collection = dialog.Get();
    SaveCollection();
    ShowCollectionStatus();
}

void TfmMain::ShowCollectionStatus() {
    QString text;
    if (FCountingDown) {
        const double left =
            double(FCountdownEnd - Counter()) / double(std::max<std::int64_t>(1, PerfFrequency));
        text = QStringLiteral("Пуск через %1 с").arg(Seconds(std::max(0.0, left)));
    } else if (tmMeasure->isActive() && FCollector) {
        if (FCollector->Phase() == tCollector::tPhase::Waiting)
            text = QStringLiteral("Ожидание запуска: когда «%1» %2 %3%4. «Стоп» отменяет ожидание.")
                       .arg(Experiment ? Experiment->CaptionY : QString(),
                            Collection.TriggerRising ? QStringLiteral("поднимется выше")
                                                     : QStringLiteral("опустится ниже"),
                            QLocale().toString(Collection.TriggerLevel, 'g', 6),
                            FLiveValue && Experiment ? QStringLiteral(" (сейчас %1)")
                                                           .arg(FormatFloat(Experiment->FormatY, *FLiveValue))
                                                     : QString());
        else if (FCollector->Remaining() >= 0)
            text = QStringLiteral("До конца опыта %1 с").arg(Seconds(FCollector->Remaining()));
    } else if (!tmMeasure->isActive()) {
        const QString described = DescribeCollection(Collection);
        if (!described.isEmpty()) text = QStringLiteral("Параметры сбора: ") + described;
    }
    StatusPanels[0]->setText(text);
    if (BigDigits && !BigDigits->isHidden()) BigDigits->SetNote(text);
}
