// TfrPulse: the experiment frame of the pulse sensor: a second chart with the beat rate derived from the
// curve.
#pragma once

#include "analysis/BeatRate.h"
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
    // Statistics of a pulse run are the beat rate's: its mean and spread.
    const tFastLine* AnalysedLine(tAnalysisKind kind, QString& quantity) const override;

    QSplitter* slVert = nullptr;
    TChart* chPulse = nullptr;

    // The beats found in the active line so far.
    tBeatDetector Beats;

    // A run read back from disk: the rate chart's lines made again from the wave on the chart's lines,
    // scanned `pointsPerTick` points at a time as the live display did.
    void RebuildRates(const tExperiment& experiment, int pointsPerTick);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChartPageShown();
    int FShowings = 0;
};
