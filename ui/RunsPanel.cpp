// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunsPanel.h"

#include "runs/Runs.h"

#include <QAction>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

TRunsPanel::TRunsPanel(QWidget* parent) : QDockWidget(QStringLiteral("Опыты"), parent) {
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
        // The list is filled anew after each of these: they run once the tree is done with the item.
        if (shown != item->data(0, Qt::UserRole).toBool()) {
            item->setData(0, Qt::UserRole, shown);
            QMetaObject::invokeMethod(
                this,
                [this, run, shown] {
                    if (OnShown) OnShown(run, shown);
                },
                Qt::QueuedConnection);
        } else if (const QString name = item->text(0).trimmed();
                   name != item->data(0, Qt::UserRole + 1).toString()) {
            QMetaObject::invokeMethod(
                this,
                [this, run, name] {
                    if (OnRenamed) OnRenamed(run, name);
                },
                Qt::QueuedConnection);
        }
    });
    connect(tvRuns, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (FFilling || !item) return;
        const int run = tvRuns->indexOfTopLevelItem(item);
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                if (OnChosen) OnChosen(run);
            },
            Qt::QueuedConnection);
    });
    connect(acDelete, &QAction::triggered, this, [this] {
        if (QTreeWidgetItem* item = tvRuns->currentItem(); item && OnDelete)
            OnDelete(tvRuns->indexOfTopLevelItem(item));
    });
}

void TRunsPanel::Fill(const tRunStore& runs, const std::function<QColor(int)>& colourOf) {
    FFilling = true;
    tvRuns->clear();
    const QLocale locale;
    for (int i = 0; i < runs.Count(); ++i) {
        const tRun& run = runs.Run(i);
        auto* item = new QTreeWidgetItem(tvRuns);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        item->setText(0, runs.Name(i));
        item->setData(0, Qt::UserRole, run.Shown);
        item->setData(0, Qt::UserRole + 1, runs.Name(i));
        item->setCheckState(0, run.Shown ? Qt::Checked : Qt::Unchecked);
        QPixmap swatch(16, 16);
        swatch.fill(Qt::transparent);
        {
            QPainter painter(&swatch);
            painter.fillRect(QRect(1, 5, 14, 6), colourOf(i));
        }
        item->setIcon(0, QIcon(swatch));
        const int points = run.Points->Count();
        const double length = points > 1 ? run.Points->X(points - 1) - run.Points->X(0) : 0;
        item->setText(1, locale.toString(length, 'f', length < 10 ? 2 : 1) + QStringLiteral(" с"));
        item->setText(2, locale.toString(points));
        item->setToolTip(0, run.Start.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    }
    if (const int chosen = runs.Chosen(); chosen >= 0) tvRuns->setCurrentItem(tvRuns->topLevelItem(chosen));
    acDelete->setEnabled(runs.Count() > 0);
    FFilling = false;
}
