// The tool bar's value label: a new value every second or faster, shown without laying out the tool bar
// again.
#pragma once

#include <QLabel>

class tValueLabel : public QLabel {
public:
    using QLabel::QLabel;

    // Shows the text (a tab as five spaces: a label draws a tab as nothing). The label keeps a fixed size
    // while the text fits, so that a new value neither lays out the tool bar again nor makes it jump; it is
    // sized anew when the text outgrows it or shrinks well below it (a marker's text replaced by a value).
    void SetValue(const QString& text);

    // The size a label without a frame wants for the text. A label's own size hint never goes below its
    // fixed size, so it cannot tell when the text has shrunk; and for one line this is much cheaper.
    QSize NaturalSize(const QString& text) const;
    // The size the label takes for its text at `font`: its natural size and a digit more, so that the next
    // value usually fits.
    QSize FittedSize(const QFont& font) const;

protected:
    // A new font: the label fits itself to it at once.
    void changeEvent(QEvent* event) override;

private:
    QSize NaturalSize(const QString& text, const QFont& font) const;
    void Fit(bool anew);
};
