// A status-bar panel whose text changes often.
#include "widgets/StatusPanel.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

tStatusPanel::tStatusPanel(bool centred, QWidget* parent) : QFrame(parent), FCentred(centred) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    // The panel paints its own background, so that the status bar under it is not painted with it.
    setAutoFillBackground(true);
}

const tStatusPanel::tGlyph& tStatusPanel::Glyph(QChar c) const {
    auto found = FGlyphs.find(c.unicode());
    if (found == FGlyphs.end()) {
        tGlyph glyph;
        glyph.Text = QStaticText(QString(c));
        glyph.Text.setTextFormat(Qt::PlainText);
        glyph.Text.prepare(QTransform(), font());
        glyph.Advance = QFontMetricsF(font()).horizontalAdvance(c);
        found = FGlyphs.insert(c.unicode(), glyph);
    }
    return *found;
}

double tStatusPanel::TextLeft(const QString& text) const {
    double width = 0;
    for (const QChar c : text) width += Glyph(c).Advance;
    const QRect area = contentsRect();
    return area.x() + (area.width() - width) / 2;
}

double tStatusPanel::TextTop() const {
    if (FLineHeight < 0) FLineHeight = QFontMetricsF(font()).height();
    const QRect area = contentsRect();
    return area.y() + std::floor((area.height() - FLineHeight) / 2);
}

QRect tStatusPanel::Changed(const QString& from, const QString& to) const {
    const QRect area = contentsRect();
    if (!FCentred || from.size() != to.size()) return area;
    // Same length, and each character as wide as the one it replaces: only those that differ.
    double left = TextLeft(to);
    QRect changed;
    for (int i = 0; i < to.size(); ++i) {
        const double advance = Glyph(to[i]).Advance;
        if (from[i] != to[i]) {
            if (Glyph(from[i]).Advance != advance) return area;
            changed |= QRect(int(std::floor(left)) - 1, area.y(),
                             int(std::ceil(left + advance)) - int(std::floor(left)) + 2, area.height());
        }
        left += advance;
    }
    return changed & area;
}

void tStatusPanel::SetText(const QString& text, tPaint paint) {
    if (text != FText) {
        FHeld |= Changed(FText, text);
        FText = text;
        FWholeReady = false;
        // A screen reader reads the text as the panel's name.
        if (QAccessible::isActive()) setAccessibleName(FText);
    }
    if (paint == tPaint::Held || FHeld.isEmpty()) return;
    if (paint == tPaint::Now)
        repaint(FHeld);
    else
        update(FHeld);
    FHeld = QRect();
}

QSize tStatusPanel::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(FText) + metrics.horizontalAdvance(u'x') + 2 * frameWidth(),
                 metrics.height() + 2 * frameWidth());
}

QSize tStatusPanel::minimumSizeHint() const {
    // A long hint never widens the window: it is cut instead.
    return QSize(2 * frameWidth(), sizeHint().height());
}

void tStatusPanel::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!contentsRect().contains(event->rect())) drawFrame(&painter);
    painter.setPen(palette().color(foregroundRole()));
    const double top = TextTop();
    if (FCentred) {
        // Only the characters in the repainted part are drawn (usually the tenths of a second alone).
        const QRect repainted = event->rect();
        double x = TextLeft(FText);
        for (const QChar c : FText) {
            const tGlyph& glyph = Glyph(c);
            if (x + glyph.Advance + 1 >= repainted.left() && x - 1 <= repainted.right())
                painter.drawStaticText(QPointF(x, top), glyph.Text);
            x += glyph.Advance;
        }
        return;
    }
    const QRect area = contentsRect();
    const int indent = fontMetrics().horizontalAdvance(u'x') / 2;
    if (!FWholeReady) {
        FWhole = QStaticText(fontMetrics().elidedText(FText, Qt::ElideRight, area.width() - 2 * indent));
        FWhole.setTextFormat(Qt::PlainText);
        FWhole.prepare(QTransform(), font());
        FWholeReady = true;
    }
    painter.drawStaticText(QPointF(area.x() + indent, top), FWhole);
}

void tStatusPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        FGlyphs.clear();
        FLineHeight = -1;
        FWholeReady = false;
        updateGeometry();
    }
    QFrame::changeEvent(event);
}

void tStatusPanel::resizeEvent(QResizeEvent* event) {
    FWholeReady = false;
    QFrame::resizeEvent(event);
}
