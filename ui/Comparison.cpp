// SPDX-License-Identifier: GPL-3.0-or-later
// Runs compared: the runs panel wired to the run store, the chart, the table and the work folder.
#include "ui/Mainfm.h"

#include "core/Exception.h"
#include "core/Prompts.h"
#include "ui/Experimentfr.h"
#include "ui/RunsPanel.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"

#include <QAction>
#include <QTreeWidget>

void TfmMain::CreateRunActions() {
    dkRuns = new TRunsPanel(this);
    addDockWidget(Qt::RightDockWidgetArea, dkRuns);
    dkRuns->hide();
    acViewRuns = dkRuns->toggleViewAction();
    acViewRuns->setText(QStringLiteral("&Опыты"));
    acViewRuns->setStatusTip(QStringLiteral("Показать/спрятать список опытов работы"));
    connect(acViewRuns, &QAction::triggered, this, [this](bool on) {
        if (on) RunsChanged();
    });
    dkRuns->OnChosen = [this](int run) { Guarded([this, run] { ChooseRun(run); }); };
    dkRuns->OnShown = [this](int run, bool shown) { Guarded([this, run, shown] { ShowRun(run, shown); }); };
    dkRuns->OnRenamed = [this](int run, const QString& name) {
        Guarded([this, run, name] { RenameRun(run, name); });
    };
    dkRuns->OnDelete = [this](int run) { Guarded([this, run] { DeleteRun(run); }); };
}

void TfmMain::RunsChanged() {
    if (Frame) {
        Frame->tvTable->Model()->Reset();
        Frame->ShowRuns(Runs);
    }
    if (dkRuns && !dkRuns->isHidden())
        dkRuns->Fill(Runs, [this](int run) { return Frame ? Frame->RunColour(run) : QColor(Qt::gray); });
}

void TfmMain::SaveRunViews() {
    if (!Work) return;
    try {
        Work->SaveRunViews(Runs);
    } catch (const Exception& e) {
        WorkFailed(e.Message());
    }
}

void TfmMain::ChooseRun(int run) {
    if (run < 0 || run >= Runs.Count() || run == Runs.Chosen()) return;
    // While a run is measured, markers and labels stay on it.
    if (tmMeasure->isActive()) return RunsChanged();
    Runs.Choose(run);
    RunsChanged();
    SaveRunViews();
}

void TfmMain::ShowRun(int run, bool shown) {
    if (run < 0 || run >= Runs.Count()) return;
    Runs.Shared(run)->Shown = shown;
    Runs.Changed();
    SaveRunViews();
}

void TfmMain::RenameRun(int run, const QString& name) {
    if (run < 0 || run >= Runs.Count()) return;
    // An empty name gives the run its own «Опыт N» back.
    Runs.Shared(run)->Name =
        name.trimmed() == QStringLiteral("Опыт %1").arg(Runs.Run(run).Number) ? QString() : name.trimmed();
    Runs.Changed();
    SaveRunViews();
}

void TfmMain::DeleteRun(int run) {
    if (run < 0 || run >= Runs.Count()) return;
    if (tmMeasure->isActive() && Runs.Shared(run) == FMeasured)
        throw Exception(QStringLiteral("Опыт ещё идёт: остановите его, чтобы удалить."));
    const QString name = Runs.Name(run);
    if (Prompts().MessageBox(
            this,
            QStringLiteral("Удалить опыт «%1»?\r\nЕго файл будет перенесён в папку deleted работы.")
                .arg(name),
            QStringLiteral("Удаление опыта"), tBoxIcon::Warning, bbYes | bbNo, bbNo) != bbYes)
        return;
    if (Work && Runs.Run(run).Number > 0) Work->DeleteRun(Runs.Run(run).Number);
    Runs.Remove(run);
    SaveRunViews();
}
