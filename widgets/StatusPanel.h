// A sunken status-bar panel with one line of text, cheap to change ten times a second: its glyphs are laid
// out once and kept, and a new text repaints only what differs.
#pragma once

#include <QFrame>
#include <QHash>
#include <QStaticText>
#include <QString>

class tStatusPanel : public QFrame {
public:
    // A centred panel lays out its text character by character (digits and separators: the elapsed time,
    // the clock), so that a new time reuses the glyphs and repaints only the characters that changed. A
    // panel that is not centred shows any text from the left, cut with "…" when it does not fit.
    explicit tStatusPanel(bool centred, QWidget* parent = nullptr);

    QString text() const { return FText; }
    // How a new text reaches the screen: with the window's next paint (Later), not before a later change
    // that asks for it (Held: the text is replaced again before anyone could see it), or at once together
    // with everything the window has to paint (Now: no paint request goes through the event queue).
    enum class tPaint { Later, Held, Now };
    void SetText(const QString& text, tPaint paint);
    void setText(const QString& text) { SetText(text, tPaint::Later); }
    void clear() { setText(QString()); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct tGlyph {
        QStaticText Text;
        double Advance = 0;
    };
    const tGlyph& Glyph(QChar c) const;
    // Where a centred text starts.
    double TextLeft(const QString& text) const;
    double TextTop() const;
    // The part of the panel to repaint when `from` becomes `to`.
    QRect Changed(const QString& from, const QString& to) const;

    const bool FCentred;
    QString FText;
    mutable QHash<char16_t, tGlyph> FGlyphs;
    mutable double FLineHeight = -1;
    mutable QStaticText FWhole;
    mutable bool FWholeReady = false;
    QRect FHeld;
};
