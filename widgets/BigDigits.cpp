// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/BigDigits.h"

#include <QPainter>

namespace {

// The largest pixel size at which `text` fits `room`.
QFont Fitted(QFont font, const QString& text, const QSize& room) {
    int low = 6, high = std::max(7, room.height());
    while (low < high) {
        const int size = (low + high + 1) / 2;
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(text) <= room.width() && metrics.height() <= room.height())
            low = size;
        else
            high = size - 1;
    }
    font.setPixelSize(low);
    return font;
}

} // namespace

TBigDigits::TBigDigits(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
}

void TBigDigits::SetCaption(const QString& caption) {
    FCaption = caption;
    update();
}

void TBigDigits::SetValue(const QString& value) {
    if (value == FValue) return;
    FValue = value;
    update();
}

void TBigDigits::SetNote(const QString& note) {
    if (note == FNote) return;
    FNote = note;
    update();
}

void TBigDigits::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect all = rect().adjusted(width() / 40, height() / 40, -width() / 40, -height() / 40);
    // The caption on the top sixth, the note on the bottom tenth, the number in between.
    const int captionHeight = all.height() / 6;
    const int noteHeight = all.height() / 10;
    const QRect caption(all.left(), all.top(), all.width(), captionHeight);
    const QRect note(all.left(), all.bottom() - noteHeight, all.width(), noteHeight);
    const QRect number(all.left(), caption.bottom(), all.width(), note.top() - caption.bottom());
    QFont font = this->font();
    painter.setPen(QColor(60, 60, 60));
    painter.setFont(Fitted(font, FCaption, caption.size()));
    painter.drawText(caption, Qt::AlignCenter, FCaption);
    font.setBold(true);
    painter.setPen(Qt::black);
    // No value: a dash as large as a value's digits would be, not stretched over the whole width.
    const QString value = FValue.isEmpty() ? QStringLiteral("—") : FValue;
    painter.setFont(Fitted(font, FValue.isEmpty() ? QStringLiteral("00,0") : value, number.size()));
    painter.drawText(number, Qt::AlignCenter, value);
    if (!FNote.isEmpty()) {
        font.setBold(false);
        painter.setPen(QColor(180, 0, 0));
        painter.setFont(Fitted(font, FNote, note.size()));
        painter.drawText(note, Qt::AlignCenter, FNote);
    }
}
