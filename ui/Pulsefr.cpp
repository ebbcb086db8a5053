// The pulse frame: beat detection on the falling 70 % crossing of the last 5 seconds, rates on the second
// chart.
#include "ui/Pulsefr.h"

#include "app/Functions.h"
#include "experiment/Experiment.h"
#include "widgets/Chart.h"
#include "widgets/NumberFormat.h"

#include <QEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

TfrPulse::TfrPulse(QWidget* owner, bool twiceMarker) : TfrExperiment(owner, twiceMarker) {
    chPulse = new TChart;
    chPulse->AddSeries(QColor(255, 0, 0));
    chPulse->AddSeries(QColor(0, 0, 255));
    chPulse->SetLeftAxis(0, 120, 10, QStringLiteral("Частота"));
    slVert = new QSplitter(Qt::Vertical);
    slVert->setHandleWidth(3);
    slVert->setChildrenCollapsible(false);
    auto* layout = static_cast<QVBoxLayout*>(ChartArea()->layout());
    layout->removeWidget(chMain);
    slVert->addWidget(chMain);
    slVert->addWidget(chPulse);
    layout->insertWidget(0, slVert, 1);
    AttachMarkers(chPulse);
    // The two charts' time axes stand one above the other: their left margins are at least the room that five
    // digits and the axis title need, so that the narrower rate labels do not shift the lower axis.
    const int left =
        chMain->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 3 * chMain->fontMetrics().height();
    for (TChart* chart : {chMain, chPulse}) {
        QMargins margins = chart->axisRect()->minimumMargins();
        margins.setLeft(std::max(margins.left(), left));
        chart->axisRect()->setMinimumMargins(margins);
    }
    // The rate chart keeps the upper chart's time axis, also when the user pans or zooms after a run.
    connect(chMain->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), chPulse,
            [this](const QCPRange& range) {
                if (chPulse->BottomRange() == range) return;
                chPulse->SetBottomRange(range.lower, range.upper);
                chPulse->replot(QCustomPlot::rpQueuedReplot);
            });
    // The chart page sets the rate chart's height on its first two showings only.
    tsChart->installEventFilter(this);
}

bool TfrPulse::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tsChart && event->type() == QEvent::Show) ChartPageShown();
    return TfrExperiment::eventFilter(watched, event);
}

void TfrPulse::ChartPageShown() {
    if (FShowings >= 2) return;
    ++FShowings;
    const int pulse = int(tsChart->height() * 0.4);
    const int total = slVert->height() > 0 ? slVert->height() : tsChart->height();
    slVert->setSizes({std::max(1, total - pulse), pulse});
}

QString TfrPulse::GetMarkerText(const QString& formatX, const QString& formatY, TChart* chart) {
    return MarkerText(formatX, formatY, chart == chPulse ? chPulse : chMain);
}

QString TfrPulse::GetValueText(const QString& formatY) {
    QString text = TfrExperiment::GetValueText(formatY);
    tFastLine* rates = chPulse->Series(std::min(ActiveSeries, chPulse->SeriesCount() - 1));
    if (rates->Count() > 0)
        text += u'\t' + chPulse->LeftTitle() + u'=' + FormatFloat(formatY, rates->Y(rates->Count() - 1));
    return text;
}

int TfrPulse::BeginMeasurement(const tExperiment& experiment) {
    const int n = TfrExperiment::BeginMeasurement(experiment);
    chPulse->SetBottomAxis(experiment.MinX, experiment.MaxX, experiment.IncX, experiment.CaptionX);
    chPulse->SetLeftAxis(0, 120, 10, QStringLiteral("Частота"));
    BeginChart(chPulse);
    if (n < chPulse->SeriesCount()) chPulse->Series(n)->Clear();
    WindowMin = 10000;
    WindowMax = -10000;
    // Noise or a flat line is no pulse: a beat needs the curve to swing over a tenth of the chart's height.
    MinSwing = (experiment.MaxY - experiment.MinY) * 0.1;
    LastBeat = -1;
    Beat = -1;
    ScanFrom = 0;
    chPulse->Redraw();
    return n;
}

void TfrPulse::Redraw() {
    TfrExperiment::Redraw();
    chPulse->Redraw();
}

void TfrPulse::EndMeasurement() {
    TfrExperiment::EndMeasurement();
    chPulse->AllowPanZoom(true, true);
    chPulse->replot();
}

void TfrPulse::FollowNewest(bool autoSize) {
    TfrExperiment::FollowNewest(autoSize);
    tFastLine* line = chMain->Series(ActiveSeries);
    const int n = line->Count();
    if (n > 0 && line->X(n - 1) >= 5.3) {
        const double t = line->X(n - 1);
        WindowMin = 100000;
        WindowMax = -100000;
        for (int k = n - 1; k >= 0 && t - line->X(k) < 5.0; --k) {
            WindowMin = std::min(WindowMin, line->Y(k));
            WindowMax = std::max(WindowMax, line->Y(k));
        }
        // A beat is where the curve falls through 70 % of the last five seconds' swing.
        const double h = WindowMin + (WindowMax - WindowMin) * 0.7;
        if (ScanFrom < 2) ScanFrom = 2;
        if (WindowMax - WindowMin < MinSwing) {
            // No pulse in the window: no crossing counts, and the next beat starts afresh.
            LastBeat = -1;
            ScanFrom = n;
        }
        tFastLine* rates = chPulse->Series(std::min(ActiveSeries, chPulse->SeriesCount() - 1));
        for (int i = ScanFrom; i < n; ++i) {
            if (!(line->Y(i - 1) <= h && line->Y(i - 2) >= h)) continue;
            const double c = line->X(i - 1);
            if (LastBeat < 0) {
                LastBeat = c;
            } else if (c - LastBeat > 0.2) {
                Beat = c;
                rates->Add((Beat + LastBeat) * 0.5, RoundHalf049(60 / (Beat - LastBeat)), TakePointLabel());
                LastBeat = Beat;
            }
        }
        ScanFrom = n;
    }
    const QCPRange range = chMain->BottomRange();
    chPulse->SetBottomRange(range.lower, range.upper);
}
