// SPDX-License-Identifier: GPL-3.0-or-later
// The current value for the back of a classroom: its caption above, the number as large as the widget allows.
#pragma once

#include <QWidget>

class TBigDigits : public QWidget {
    Q_OBJECT
public:
    explicit TBigDigits(QWidget* parent = nullptr);
    void SetCaption(const QString& caption);
    void SetValue(const QString& value);
    // A line under the value (waiting for the trigger, the countdown).
    void SetNote(const QString& note);
    const QString& Value() const { return FValue; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString FCaption, FValue, FNote;
};
