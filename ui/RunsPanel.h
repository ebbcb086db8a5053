// SPDX-License-Identifier: GPL-3.0-or-later
// The runs panel beside the chart: the runs of the work with their colours, a check box to show or hide each,
// its name (renamed in place), length and points; the run chosen there is the one markers and analysis work
// on.
#pragma once

#include <QDockWidget>
#include <functional>

class QAction;
class QTreeWidget;
class tRunStore;

class TRunsPanel : public QDockWidget {
    Q_OBJECT
public:
    explicit TRunsPanel(QWidget* parent);

    // Lists the runs anew; colourOf(i) is the colour run i is drawn in.
    void Fill(const tRunStore& runs, const std::function<QColor(int)>& colourOf);
    QTreeWidget* Tree() const { return tvRuns; }
    QAction* acDelete = nullptr;

    // What the user did: a run shown or hidden, renamed, chosen, to be deleted.
    std::function<void(int run, bool shown)> OnShown;
    std::function<void(int run, const QString& name)> OnRenamed;
    std::function<void(int run)> OnChosen;
    std::function<void(int run)> OnDelete;

private:
    QTreeWidget* tvRuns = nullptr;
    bool FFilling = false;
};
