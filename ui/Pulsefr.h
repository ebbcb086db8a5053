// TfrPulse: the experiment frame of the pulse sensor: a second chart with the beat rate derived from the
// curve.
#pragma once

#include "ui/Experimentfr.h"

class QSplitter;

class TfrPulse : public TfrExperiment {
    Q_OBJECT
public:
    TfrPulse(QWidget* owner, bool twiceMarker);

    QString GetMarkerText(const QString& formatX, const QString& formatY, TChart* chart) override;
    QString GetValueText(const QString& formatY) override;
    int BeginMeasurement(const tExperiment& experiment) override;
    void EndMeasurement() override;
    void FollowNewest(bool autoSize) override;
    void Redraw() override;
    void SetAxes(const tExperiment& experiment) override;
    std::vector<TChart*> Charts() const override { return {chMain, chPulse}; }

    QSplitter* slVert = nullptr;
    TChart* chPulse = nullptr;

protected:
    // The rate chart draws each run's beat rate, which the lesson derives from the wave as it comes.
    std::shared_ptr<tPointSeries> SeriesOf(TChart* chart, const tRun& run) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChartPageShown();
    int FShowings = 0;
};
