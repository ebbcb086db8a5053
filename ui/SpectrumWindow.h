// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum of a region of a run: amplitude against frequency in a window of its own, the peak marked with
// its frequency; printed and exported as the main chart is.
#pragma once

#include "analysis/Spectrum.h"

#include <QDialog>
#include <functional>

class QAction;
class TChart;

class TfmSpectrum : public QDialog {
    Q_OBJECT
public:
    explicit TfmSpectrum(QWidget* owner);

    // Shows `spectrum` of the quantity `captionY`; `region` names where it was taken («опыт 1, t = 0…2 с»).
    // `peak`: how the peak is said («пик: 2,5 Гц»).
    void Show(const tSpectrum& spectrum, const QString& captionY, const QString& region, const QString& peak);

    TChart* Chart() const { return chSpectrum; }
    const tSpectrum& Spectrum() const { return FSpectrum; }
    QAction* acPrint = nullptr;
    QAction* acExport = nullptr;
    // What Печать and Экспорт do: the main window's own chart printing and export.
    std::function<void()> OnPrint, OnExport;

private:
    void DrawPeak(QPainter& painter, const QRect& plotRect) const;
    TChart* chSpectrum = nullptr;
    tSpectrum FSpectrum;
    QString FPeak;
};
