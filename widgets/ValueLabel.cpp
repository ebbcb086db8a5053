// The tool bar's value label.
#include "widgets/ValueLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

QSize tValueLabel::NaturalSize(const QString& text, const QFont& font) const {
    const QMargins margins = contentsMargins();
    const int extra = 2 * margin();
    const QSize around(margins.left() + margins.right() + extra + std::max(0, indent()),
                       margins.top() + margins.bottom() + extra);
    if (!text.contains(u'\n')) {
        // The label lays out its text in whole pixels, rounded up.
        const QFontMetricsF metrics(font);
        return QSize(int(std::ceil(metrics.horizontalAdvance(text))), int(std::ceil(metrics.height()))) +
               around;
    }
    const int flags = int(alignment() & ~(Qt::AlignVCenter | Qt::AlignHCenter));
    return QFontMetrics(font).boundingRect(QRect(0, 0, 2000, 2000), flags, text).size() + around;
}

QSize tValueLabel::NaturalSize(const QString& text) const {
    return NaturalSize(text, font());
}

QSize tValueLabel::FittedSize(const QFont& font) const {
    return NaturalSize(text(), font) + QSize(QFontMetrics(font).horizontalAdvance(u'0'), 0);
}

void tValueLabel::Fit(bool anew) {
    const QSize wanted = NaturalSize(text());
    if (anew || wanted.width() > maximumWidth() || wanted.width() < maximumWidth() * 2 / 3 ||
        wanted.height() != maximumHeight())
        setFixedSize(FittedSize(font()));
}

void tValueLabel::SetValue(const QString& text) {
    const QString shown = QString(text).replace(u'\t', QStringLiteral("     "));
    if (shown == QLabel::text()) return;
    setText(shown);
    Fit(false);
}

void tValueLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && !text().isEmpty()) Fit(true);
}
