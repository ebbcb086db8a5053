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
    std::vector<TChart*> Charts() const override { return {chMain, chPulse}; }

    QSplitter* slVert = nullptr;
    TChart* chPulse = nullptr;

    double WindowMin = 0;
    double WindowMax = 0;
    double LastBeat = -1;
    double Beat = -1;
    double MinSwing = 0;
    int ScanFrom = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChartPageShown();
    int FShowings = 0;
};
