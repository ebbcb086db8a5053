// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SpectrumWindow.h"

#include "analysis/Results.h"
#include "widgets/Chart.h"
#include "widgets/Icons.h"

#include <QAction>
#include <QPainter>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// A step of 1, 2 or 5 times a power of ten giving about `ticks` steps over `span`.
double NiceStep(double span, int ticks) {
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

} // namespace

TfmSpectrum::TfmSpectrum(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Спектр"));
    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);
    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    acPrint = tools->addAction(ToolIcon(QStringLiteral("print")), QStringLiteral("&Печать..."));
    acPrint->setShortcut(QKeySequence::Print);
    acPrint->setToolTip(QStringLiteral("Печать спектра"));
    acExport = tools->addAction(ToolIcon(QStringLiteral("save")), QStringLiteral("&Экспорт..."));
    acExport->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    acExport->setToolTip(QStringLiteral("Сохранить спектр в файл (BMP, PNG или PDF)"));
    connect(acPrint, &QAction::triggered, this, [this] {
        if (OnPrint) OnPrint();
    });
    connect(acExport, &QAction::triggered, this, [this] {
        if (OnExport) OnExport();
    });
    chSpectrum = new TChart(this);
    chSpectrum->AddSeries(QColor(0, 0, 200), false, 2.5);
    chSpectrum->OnAfterDraw = [this](QPainter& painter, const QRect& plotRect) {
        DrawPeak(painter, plotRect);
    };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(tools);
    layout->addWidget(chSpectrum, 1);
    // Its title bar and buttons stay on the screen, at any scale.
    QSize size(760, 480);
    if (const QScreen* screen = owner ? owner->screen() : this->screen()) {
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(QSize(room.width() * 9 / 10, room.height() * 8 / 10));
    }
    resize(size);
}

void TfmSpectrum::Show(const tSpectrum& spectrum, const QString& captionY, const QString& region,
                       const QString& peak) {
    FSpectrum = spectrum;
    FPeak = peak;
    setWindowTitle(QStringLiteral("Спектр: ") + region);
    tFastLine* line = chSpectrum->Series(0);
    line->Clear();
    for (std::size_t k = 0; k < spectrum.Frequency.size(); ++k)
        line->Add(spectrum.Frequency[k], spectrum.Amplitude[k]);
    // Up to four times the peak (the overtones), at most half the sample rate.
    const double nyquist = spectrum.Frequency.empty() ? 1 : std::max(spectrum.Frequency.back(), 1e-9);
    const double right = spectrum.Peak > 0 ? std::min(nyquist, 4 * spectrum.Peak) : nyquist;
    const double stepX = NiceStep(right, 8);
    const double top =
        spectrum.Amplitude.empty()
            ? 1
            : std::max(*std::max_element(spectrum.Amplitude.begin(), spectrum.Amplitude.end()), 1e-12);
    chSpectrum->SetBottomAxis(0, std::ceil(right / stepX) * stepX, stepX, QStringLiteral("f, Гц"));
    chSpectrum->SetLeftAxis(0, top * 1.15, NiceStep(top * 1.15, 5),
                            QStringLiteral("Амплитуда (") + captionY + u')');
    chSpectrum->replot();
    show();
    raise();
    activateWindow();
}

void TfmSpectrum::DrawPeak(QPainter& painter, const QRect& plotRect) const {
    if (!(FSpectrum.Peak > 0)) return;
    const double x = chSpectrum->XToPixel(FSpectrum.Peak);
    if (x < plotRect.left() || x > plotRect.right()) return;
    painter.save();
    painter.setPen(QPen(QColor(200, 0, 0), 1.5, Qt::DashLine));
    painter.drawLine(QPointF(x, plotRect.top()), QPointF(x, plotRect.bottom()));
    QFont font = chSpectrum->font();
    font.setBold(true);
    painter.setFont(font);
    const QString& text = FPeak;
    const QFontMetrics metrics(font);
    QRect box = metrics.boundingRect(text).adjusted(-4, -2, 4, 2);
    box.moveTopLeft(QPoint(int(x) + 6, plotRect.top() + 6));
    if (box.right() > plotRect.right()) box.moveRight(int(x) - 6);
    painter.fillRect(box, QColor(255, 255, 255, 230));
    painter.setPen(QColor(200, 0, 0));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}
