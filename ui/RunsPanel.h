// SPDX-License-Identifier: GPL-3.0-or-later
// The runs panel beside the chart: the lesson's runs with their colours, a check box to show or hide each,
// its name (renamed in place), length and points as they come; the run chosen there is the one markers and
// analysis work on. Deleting asks first.
#pragma once

#include <QDockWidget>
#include <functional>

class QAction;
class QTreeWidget;
class tLesson;

class TRunsPanel : public QDockWidget {
    Q_OBJECT
public:
    TRunsPanel(QWidget* parent, tLesson& lesson);

    QTreeWidget* Tree() const { return tvRuns; }
    QAction* acDelete = nullptr;

private:
    // Lists the runs anew.
    void Fill();
    // A run's length and points.
    void ShowLength(int run);
    // What the user did, once the tree is done with the item.
    void Later(const std::function<void()>& command);

    tLesson& FLesson;
    QTreeWidget* tvRuns = nullptr;
    bool FFilling = false;
};
