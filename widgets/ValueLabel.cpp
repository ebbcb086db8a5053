// The tool bar's value label.
#include "widgets/ValueLabel.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

QSize tValueLabel::NaturalSize(const QString& text) const {
    const QMargins margins = contentsMargins();
    const int extra = 2 * margin();
    const QSize around(margins.left() + margins.right() + extra + std::max(0, indent()),
                       margins.top() + margins.bottom() + extra);
    if (!text.contains(u'\n')) {
        // The label lays out its text in whole pixels, rounded up.
        const QFontMetricsF metrics(font());
        return QSize(int(std::ceil(metrics.horizontalAdvance(text))), int(std::ceil(metrics.height()))) + around;
    }
    const int flags = int(alignment() & ~(Qt::AlignVCenter | Qt::AlignHCenter));
    return fontMetrics().boundingRect(QRect(0, 0, 2000, 2000), flags, text).size() + around;
}

void tValueLabel::SetValue(const QString& text) {
    const QString shown = QString(text).replace(u'\t', QStringLiteral("     "));
    if (shown == QLabel::text()) return;
    setText(shown);
    const QSize wanted = NaturalSize(shown);
    if (wanted.width() > maximumWidth() || wanted.width() < maximumWidth() * 2 / 3 ||
        wanted.height() != maximumHeight())
        setFixedSize(wanted.width() + fontMetrics().horizontalAdvance(u'0'), wanted.height());
}
