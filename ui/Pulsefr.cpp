// The pulse frame: beat detection on the falling 70 % crossing of the last 5 seconds, rates on the second
// chart.
#include "ui/Pulsefr.h"

#include "core/NumberFormat.h"
#include "experiment/Experiment.h"
#include "runs/Runs.h"
#include "widgets/Chart.h"

#include <QEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The rate chart's left axis: the beat rate and its unit.
const QString kRateTitle = QStringLiteral("Частота, уд/мин");

} // namespace

TfrPulse::TfrPulse(QWidget* owner, bool twiceMarker) : TfrExperiment(owner, twiceMarker) {
    chPulse = new TChart;
    chPulse->AddSeries(QColor(255, 0, 0));
    chPulse->AddSeries(QColor(0, 0, 255));
    chPulse->SetLeftAxis(0, 120, 10, kRateTitle);
    slVert = new QSplitter(Qt::Vertical);
    slVert->setHandleWidth(3);
    slVert->setChildrenCollapsible(false);
    auto* layout = static_cast<QVBoxLayout*>(ChartArea()->layout());
    layout->removeWidget(chMain);
    slVert->addWidget(chMain);
    slVert->addWidget(chPulse);
    layout->insertWidget(0, slVert, 1);
    AttachMarkers(chPulse);
    chPulse->setFocusPolicy(Qt::ClickFocus);
    // The two charts' time axes stand one above the other: their left margins are at least the room that five
    // digits and the axis title need, so that the narrower rate labels do not shift the lower axis.
    const int left =
        chMain->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 3 * chMain->fontMetrics().height();
    for (TChart* chart : {chMain, chPulse}) {
        QMargins margins = chart->axisRect()->minimumMargins();
        margins.setLeft(std::max(margins.left(), left));
        chart->axisRect()->setMinimumMargins(margins);
    }
    // The rate chart keeps the upper chart's time axis, also when the user pans or zooms after a run: drawn
    // again once the event loop is back (its picture moved, when the axis moved on while following a run).
    connect(chMain->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), chPulse,
            [this](const QCPRange& range) {
                if (chPulse->BottomRange() == range) return;
                chPulse->SetBottomRange(range.lower, range.upper);
                QMetaObject::invokeMethod(chPulse, &TChart::Redraw, Qt::QueuedConnection);
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

void TfrPulse::SetAxes(const tExperiment& experiment) {
    TfrExperiment::SetAxes(experiment);
    chPulse->SetBottomAxis(experiment.MinX, experiment.MaxX, experiment.IncX, experiment.CaptionX);
    chPulse->SetLeftAxis(0, 120, 10, kRateTitle);
}

int TfrPulse::BeginMeasurement(const tExperiment& experiment) {
    const int n = TfrExperiment::BeginMeasurement(experiment);
    BeginChart(chPulse);
    if (n < chPulse->SeriesCount()) chPulse->Series(n)->Clear();
    chPulse->Redraw();
    return n;
}

std::shared_ptr<tPointSeries> TfrPulse::SeriesOf(TChart* chart, const tRun& run) const {
    return chart == chPulse ? run.Rates : run.Points;
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
    const QCPRange range = chMain->BottomRange();
    chPulse->SetBottomRange(range.lower, range.upper);
}
