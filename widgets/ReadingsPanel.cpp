// The tool bar's readings: side by side, or one over the other when the tool bar is short of room.
#include "widgets/ReadingsPanel.h"

#include "widgets/ValueLabel.h"

#include <QAction>
#include <QEvent>
#include <QFontMetrics>
#include <algorithm>

namespace {

// The font one over the other: 12/17 of the labels' own, and smaller still until two lines fit `height` (none
// given: as it is), 8 pixels at least.
QFont Narrowed(const QFont& wide, int height) {
    QFont narrow = wide;
    if (wide.pixelSize() <= 0) {
        narrow.setPointSizeF(wide.pointSizeF() * 12 / 17);
        return narrow;
    }
    int size = std::max(8, wide.pixelSize() * 12 / 17);
    for (; size > 8; --size) {
        narrow.setPixelSize(size);
        if (height <= 0 || 2 * QFontMetrics(narrow).height() <= height) break;
    }
    narrow.setPixelSize(size);
    return narrow;
}

} // namespace

tReadingsPanel::tReadingsPanel(const QFont& font, QWidget* parent)
    : QWidget(parent), FWide(font), FNarrow(Narrowed(font, 0)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void tReadingsPanel::Add(tValueLabel* label) {
    label->setParent(this);
    label->setFont(FStacked ? FNarrow : FWide);
    label->hide();
    FEntries.push_back({label, false});
}

void tReadingsPanel::SetAction(QAction* action) {
    FAction = action;
    FAction->setVisible(
        std::any_of(FEntries.begin(), FEntries.end(), [](const tEntry& e) { return e.Shown; }));
}

void tReadingsPanel::SetShown(tValueLabel* label, bool shown) {
    bool any = false, changed = false;
    for (tEntry& entry : FEntries) {
        if (entry.Label == label && entry.Shown != shown) {
            entry.Shown = shown;
            changed = true;
        }
        any |= entry.Shown;
    }
    if (!changed) return;
    label->setVisible(shown);
    updateGeometry();
    Arrange();
    if (FAction) FAction->setVisible(any);
}

bool tReadingsPanel::Shown(const tValueLabel* label) const {
    for (const tEntry& entry : FEntries)
        if (entry.Label == label) return entry.Shown;
    return false;
}

int tReadingsPanel::Height() const {
    return std::max(QFontMetrics(FWide).height(), 2 * QFontMetrics(FNarrow).height());
}

QSize tReadingsPanel::Arranged(bool stacked) const {
    const QFont& font = stacked ? FNarrow : FWide;
    int width = 0;
    for (const tEntry& entry : FEntries) {
        if (!entry.Shown) continue;
        // A label at this font keeps the size it has while its text fits; else the size it would take.
        const int own =
            entry.Label->font() == font ? entry.Label->maximumWidth() : entry.Label->FittedSize(font).width();
        width = stacked ? std::max(width, own) : width + own;
    }
    return QSize(width, Height());
}

QSize tReadingsPanel::sizeHint() const {
    return Arranged(false);
}

QSize tReadingsPanel::minimumSizeHint() const {
    return Arranged(true);
}

void tReadingsPanel::Arrange() {
    if (FArranging) return;
    FArranging = true;
    const bool stacked = width() < Arranged(false).width();
    // One over the other, two lines of the largest smaller font that fits the height the tool bar gives.
    const QFont narrow = Narrowed(FWide, height());
    if (stacked != FStacked || (stacked && narrow != FNarrow)) {
        // Each label fits itself to its new font.
        FStacked = stacked;
        FNarrow = narrow;
        for (const tEntry& entry : FEntries) entry.Label->setFont(stacked ? FNarrow : FWide);
    }
    int shown = 0;
    for (const tEntry& entry : FEntries) shown += entry.Shown;
    int x = 0;
    int y = stacked ? (height() - shown * QFontMetrics(FNarrow).height()) / 2 : 0;
    for (const tEntry& entry : FEntries) {
        if (!entry.Shown) continue;
        const QSize size = entry.Label->maximumSize();
        if (stacked) {
            entry.Label->setGeometry(0, y, std::min(size.width(), width()), size.height());
            y += size.height();
        } else {
            entry.Label->setGeometry(x, (height() - size.height()) / 2, size.width(), size.height());
            x += size.width();
        }
    }
    FArranging = false;
}

bool tReadingsPanel::event(QEvent* event) {
    // A label sized anew for its text: the tool bar is told, and the labels placed again.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        Arrange();
        return true;
    }
    return QWidget::event(event);
}

void tReadingsPanel::resizeEvent(QResizeEvent*) {
    Arrange();
}
