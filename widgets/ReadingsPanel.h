// SPDX-License-Identifier: GPL-3.0-or-later
// The readings in the tool bar as one item: the value label (a run's value, a marker's reading) and the
// sensor's reading between runs. Side by side while the tool bar has room for both at their size; else one
// over the other in a smaller font. Either way both stay in view: neither goes into the tool bar's menu of
// what does not fit.
#pragma once

#include <QFont>
#include <QWidget>
#include <vector>

class QAction;
class tValueLabel;

class tReadingsPanel : public QWidget {
public:
    // `font`: the labels' font side by side; one over the other they take a smaller one of the same family.
    explicit tReadingsPanel(const QFont& font, QWidget* parent = nullptr);

    // Takes the label (hidden until shown), after those added before.
    void Add(tValueLabel* label);
    // The tool bar's action that carries the panel: visible while any label is shown.
    void SetAction(QAction* action);
    void SetShown(tValueLabel* label, bool shown);
    bool Shown(const tValueLabel* label) const;
    bool Stacked() const { return FStacked; }

    // Side by side at the labels' own font; the least is one over the other at the smaller font.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct tEntry {
        tValueLabel* Label;
        bool Shown;
    };
    // The size of the shown labels side by side (`stacked` false) or one over the other at the given font.
    QSize Arranged(bool stacked) const;
    int Height() const;
    void Arrange();

    std::vector<tEntry> FEntries;
    QFont FWide, FNarrow;
    QAction* FAction = nullptr;
    bool FStacked = false;
    bool FArranging = false;
};
