// SPDX-License-Identifier: GPL-3.0-or-later
// The runs panel: a tree of the lesson's runs, kept up as they are measured, and its commands on them.
#include "ui/RunsPanel.h"

#include "core/Prompts.h"
#include "lesson/Lesson.h"
#include "ui/LessonTexts.h"

#include <QAction>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

TRunsPanel::TRunsPanel(QWidget* parent, tLesson& lesson)
    : QDockWidget(QStringLiteral("Опыты"), parent), FLesson(lesson) {
    setObjectName(QStringLiteral("RunsPanel"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* tools = new QToolBar(body);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    acDelete = tools->addAction(QStringLiteral("Удалить опыт..."));
    acDelete->setToolTip(
        QStringLiteral("Удалить выбранный опыт (его файл переносится в папку deleted работы)"));
    tvRuns = new QTreeWidget(body);
    tvRuns->setColumnCount(3);
    tvRuns->setHeaderLabels({QStringLiteral("Опыт"), QStringLiteral("Время"), QStringLiteral("Точек")});
    tvRuns->header()->setStretchLastSection(false);
    tvRuns->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tvRuns->setRootIsDecorated(false);
    tvRuns->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::SelectedClicked);
    tvRuns->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tvRuns->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tvRuns->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    // Wide enough for a name beside its length and points.
    tvRuns->setMinimumWidth(tvRuns->fontMetrics().averageCharWidth() * 46);
    layout->addWidget(tools);
    layout->addWidget(tvRuns, 1);
    setWidget(body);

    connect(tvRuns, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (FFilling || column != 0) return;
        const int run = tvRuns->indexOfTopLevelItem(item);
        const bool shown = item->checkState(0) == Qt::Checked;
        if (shown != item->data(0, Qt::UserRole).toBool()) {
            item->setData(0, Qt::UserRole, shown);
            Later([this, run, shown] { FLesson.ShowRun(run, shown); });
        } else if (const QString name = item->text(0).trimmed();
                   name != item->data(0, Qt::UserRole + 1).toString()) {
            Later([this, run, name] { FLesson.RenameRun(run, name); });
        }
    });
    connect(tvRuns, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (FFilling || !item) return;
        const int run = tvRuns->indexOfTopLevelItem(item);
        Later([this, run] { FLesson.ChooseRun(run); });
    });
    connect(acDelete, &QAction::triggered, this, [this] {
        QTreeWidgetItem* item = tvRuns->currentItem();
        if (!item) return;
        const int run = tvRuns->indexOfTopLevelItem(item);
        RunCommand(this, [this, run] {
            if (Prompts().MessageBox(
                    this,
                    QStringLiteral("Удалить опыт «%1»?\r\nЕго файл будет перенесён в папку deleted работы.")
                        .arg(FLesson.RunName(run)),
                    QStringLiteral("Удаление опыта"), tBoxIcon::Warning, bbYes | bbNo, bbNo) == bbYes)
                FLesson.DeleteRun(run);
        });
    });
    // The list follows the lesson; a run measured shows its length and points as they grow.
    const auto fill = [this] { Fill(); };
    connect(&lesson, &tLesson::opened, this, fill);
    connect(&lesson, &tLesson::runStarted, this, fill);
    connect(&lesson, &tLesson::runChanged, this, fill);
    connect(&lesson, &tLesson::runChosen, this, fill);
    connect(&lesson, &tLesson::runRemoved, this, fill);
    connect(&lesson, &tLesson::pointsChanged, this, fill);
    connect(&lesson, &tLesson::runEnded, this, [this](int id) { ShowLength(FLesson.RunIndex(id)); });
    connect(&lesson, &tLesson::pointsAppended, this, [this](int id) {
        if (!isHidden()) ShowLength(FLesson.RunIndex(id));
    });
    connect(toggleViewAction(), &QAction::toggled, this, [this](bool on) {
        if (on) Fill();
    });
}

void TRunsPanel::Later(const std::function<void()>& command) {
    // The list is filled anew after each command: it runs once the tree is done with the item.
    QMetaObject::invokeMethod(
        this, [this, command] { RunCommand(this, command); }, Qt::QueuedConnection);
}

void TRunsPanel::ShowLength(int run) {
    QTreeWidgetItem* item = run >= 0 ? tvRuns->topLevelItem(run) : nullptr;
    if (!item || run >= FLesson.RunCount()) return;
    const tRun& r = FLesson.Run(run);
    const tPointSeries& points = *r.Points;
    const int count = points.Count();
    const QLocale locale;
    if (r.Period == 0) {
        // Points typed, or kept at typed values: where they stand, in the unit after the caption's comma.
        const QString unit = r.CaptionX.section(u',', 1).trimmed();
        item->setText(1, count == 0 ? QString()
                                    : locale.toString(points.X(0), 'g', 6) + QStringLiteral("…") +
                                          locale.toString(points.X(count - 1), 'g', 6) +
                                          (unit.isEmpty() ? QString() : u' ' + unit));
    } else {
        const double length = count > 1 ? points.X(count - 1) - points.X(0) : 0;
        item->setText(1, locale.toString(length, 'f', length < 10 ? 2 : 1) + QStringLiteral(" с"));
    }
    item->setText(2, locale.toString(count));
}

void TRunsPanel::Fill() {
    FFilling = true;
    tvRuns->clear();
    for (int i = 0; i < FLesson.RunCount(); ++i) {
        const tRun& run = FLesson.Run(i);
        auto* item = new QTreeWidgetItem(tvRuns);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        item->setText(0, FLesson.RunName(i));
        item->setData(0, Qt::UserRole, run.Shown);
        item->setData(0, Qt::UserRole + 1, FLesson.RunName(i));
        item->setCheckState(0, run.Shown ? Qt::Checked : Qt::Unchecked);
        QPixmap swatch(16, 16);
        swatch.fill(Qt::transparent);
        {
            QPainter painter(&swatch);
            painter.fillRect(QRect(1, 5, 14, 6), RunColour(FLesson, i));
        }
        item->setIcon(0, QIcon(swatch));
        item->setToolTip(0, run.Start.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
        ShowLength(i);
    }
    if (const int chosen = FLesson.Chosen(); chosen >= 0)
        tvRuns->setCurrentItem(tvRuns->topLevelItem(chosen));
    acDelete->setEnabled(FLesson.RunCount() > 0);
    FFilling = false;
}
