// The chart's set-up on QCustomPlot and its layers: grid and axes, the lines, an overlay for markers.
#include "widgets/Chart.h"

#include "core/LocaleFormats.h"

#include <QApplication>
#include <cmath>
#include <memory>

namespace {

// Calls the chart's after-draw hook on the top layer.
class tOverlay : public QCPLayerable {
public:
    tOverlay(QCustomPlot* plot, TChart* chart)
        : QCPLayerable(plot, QStringLiteral("overlay")), FChart(chart) {}

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override { painter->setAntialiasing(false); }
    void draw(QCPPainter* painter) override {
        if (FChart->OnAfterDraw) FChart->OnAfterDraw(*painter, FChart->PlotRect());
    }

private:
    TChart* FChart;
};

// A fixed step that grows to 2, 5, 10, 20… times itself where its labels would crowd each other: on a short
// chart, on paper, or zoomed out. Where they fit, the step is the experiment's own.
class tSpacedTicker : public QCPAxisTickerFixed {
public:
    explicit tSpacedTicker(const QCPAxis* axis) : FAxis(axis) {}

    // Ticks are chosen before the layout, for the axis length it is expected to give; false when the layout
    // gave another (the first layout, a page).
    bool FitsLayout() const { return std::abs(Along(FAxis->axisRect()->size()) - FChosenFor) < 0.5; }

protected:
    double getTickStep(const QCPRange& range) override {
        const double step = tickStep();
        const double length = AxisLength();
        FChosenFor = length;
        if (!(step > 0) || !(range.size() > 0) || length < 1) return step;
        const double needed = LabelRoom(range, step);
        const double pixelsPerStep = step * length / range.size();
        for (double power = 1; power < 1e15; power *= 10)
            for (const double factor : {1.0, 2.0, 5.0})
                if (pixelsPerStep * factor * power >= needed) return step * factor * power;
        return range.size();
    }

private:
    // A size's extent along the axis: its width on a level axis, its height on an upright one.
    double Along(const QSize& size) const {
        return FAxis->orientation() == Qt::Horizontal ? size.width() : size.height();
    }
    // Pixels along the axis once the chart is laid out in its present viewport (the screen, or a page while
    // it prints): the axis rectangle keeps the margins of its last layout.
    double AxisLength() const {
        const QCPAxisRect* rect = FAxis->axisRect();
        return Along(FAxis->parentPlot()->viewport().size()) -
               (Along(rect->outerRect().size()) - Along(rect->size()));
    }
    // The room one label takes along the axis, with a gap: its height on an upright axis, the widest end
    // label's width on a level one.
    double LabelRoom(const QCPRange& range, double step) {
        const QFontMetricsF metrics(FAxis->tickLabelFont());
        if (FAxis->orientation() == Qt::Vertical) return metrics.height() + 4;
        const QLocale locale = FAxis->parentPlot()->locale();
        const QChar format = FAxis->numberFormat().isEmpty() ? u'g' : FAxis->numberFormat().at(0);
        double widest = 0;
        for (const double end : {range.lower, range.upper}) {
            const QString label =
                getTickLabel(std::round(end / step) * step, locale, format, FAxis->numberPrecision());
            widest = std::max(widest, metrics.horizontalAdvance(label));
        }
        return widest + 2 * metrics.averageCharWidth();
    }

    const QCPAxis* FAxis;
    double FChosenFor = -1;
};

// The paint buffer a layer draws into (QCustomPlot keeps it to itself).
struct tLayerBuffer : QCPLayer {
    using QCPLayer::mPaintBuffer;
};

} // namespace

TChart::TChart(QWidget* parent) : QCustomPlot(parent) {
    setBackground(Qt::white);
    axisRect()->setBackground(Qt::white);
    legend->setVisible(false);
    xAxis2->setVisible(false);
    yAxis2->setVisible(false);
    for (QCPAxis* axis : {xAxis, yAxis}) {
        axis->setTicker(QSharedPointer<tSpacedTicker>::create(axis));
        axis->grid()->setPen(QPen(QColor(215, 220, 228), 1, Qt::DotLine));
        axis->setBasePen(QPen(QColor(90, 90, 90), 1));
        axis->setTickPen(QPen(QColor(90, 90, 90), 1));
        axis->setSubTickPen(Qt::NoPen);
    }
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    // The lines have a layer of their own, so that new points need not repaint the axes.
    addLayer(QStringLiteral("lines"), layer(QStringLiteral("main")), QCustomPlot::limAbove);
    FLinesLayer = layer(QStringLiteral("lines"));
    FLinesLayer->setMode(QCPLayer::lmBuffered);
    // QCustomPlot's own top layer "overlay" carries the markers (see Redraw).
    new tOverlay(this, this);
    ApplyLocale();
    // A click places a marker; a drag that pans the chart does not.
    connect(this, &QCustomPlot::mousePress, this,
            [this](QMouseEvent* event) { FPressedAt = event->position().toPoint(); });
    connect(this, &QCustomPlot::mouseRelease, this, [this](QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        if ((at - FPressedAt).manhattanLength() >= QApplication::startDragDistance()) return;
        if (OnMouseUp) OnMouseUp(event->button(), at, event->modifiers() & Qt::ControlModifier);
    });
    AllowPanZoom(true, true);
    connect(this, &QCustomPlot::afterReplot, this, [this] { FDrawn = Drawn(); });
}

void TChart::updateLayout() {
    QCustomPlot::updateLayout();
    for (const QCPAxis* axis : {xAxis, yAxis}) {
        const auto ticker = axis->ticker().dynamicCast<tSpacedTicker>();
        if (ticker && !ticker->FitsLayout()) {
            QCustomPlot::updateLayout();
            return;
        }
    }
}

void TChart::ApplyLocale() {
    // Axis labels use the system's decimal separator.
    QLocale locale = SystemDecimalSeparator() == u',' ? QLocale(QLocale::Russian) : QLocale(QLocale::C);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    setLocale(locale);
}

int TChart::AddSeries(const QColor& color, bool behind, double width) {
    auto* line = new tFastLine(xAxis, yAxis);
    // Lines behind the others go on the layer below theirs: drawn again only when the whole chart is.
    line->setLayer(behind ? layer(QStringLiteral("main")) : FLinesLayer);
    line->setPen(QPen(color, width));
    FSeries.push_back(line);
    return int(FSeries.size()) - 1;
}

void TChart::RemoveLastSeries() {
    if (FSeries.empty()) return;
    removePlottable(FSeries.back());
    FSeries.pop_back();
}

void TChart::SetBottomAxis(double min, double max, double step, const QString& title) {
    xAxis->setRange(min, max);
    qSharedPointerCast<QCPAxisTickerFixed>(xAxis->ticker())->setTickStep(step > 0 ? step : (max - min) / 10);
    xAxis->setLabel(title);
}

void TChart::SetLeftAxis(double min, double max, double step, const QString& title) {
    yAxis->setRange(min, max);
    qSharedPointerCast<QCPAxisTickerFixed>(yAxis->ticker())->setTickStep(step > 0 ? step : (max - min) / 10);
    yAxis->setLabel(title);
}

void TChart::SetBottomRange(double min, double max) {
    xAxis->setRange(min, max);
}

void TChart::SetLeftRange(double min, double max) {
    yAxis->setRange(min, max);
}

QRect TChart::PlotRect() const {
    return axisRect()->rect();
}

void TChart::AllowPanZoom(bool horizontal, bool zoom) {
    setInteraction(QCP::iRangeDrag, true);
    setInteraction(QCP::iRangeZoom, zoom);
    axisRect()->setRangeDrag(horizontal ? Qt::Horizontal | Qt::Vertical : Qt::Vertical);
    axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
}

void TChart::Redraw() {
    // The markers' layer has a picture of its own only while a marker stands (markers then move without the
    // lines being drawn again); without markers it shares the axes' picture, and every paint of the window
    // puts one full-size picture less together.
    QCPLayer* overlay = layer(QStringLiteral("overlay"));
    const QCPLayer::LayerMode mode =
        Marker >= 0 || SecondMarker >= 0 ? QCPLayer::lmBuffered : QCPLayer::lmLogical;
    const bool sameMode = overlay->mode() == mode;
    if (!sameMode) overlay->setMode(mode);
    // The layers' pictures show the axes, the size, the pixel ratio and the markers of the last whole replot,
    // whoever asked for it (the wheel, a drag, a resize, «Показать всё», a click); new points are patched in
    // only while those stand. Markers on a picture of their own are drawn again by themselves; markers drawn
    // into the axes' picture go with a whole replot.
    const tDrawn now = Drawn();
    const bool markersStill = mode == QCPLayer::lmBuffered ||
                              (FDrawn.Marker == now.Marker && FDrawn.SecondMarker == now.SecondMarker);
    if (sameMode && markersStill && FDrawn.SameAxes(now)) {
        if (!PatchLines()) FLinesLayer->replot();
        // The markers' layer is empty unless a marker stands: nothing to clear and blend then.
        if (mode == QCPLayer::lmBuffered) {
            overlay->replot();
            FDrawn.Marker = now.Marker;
            FDrawn.SecondMarker = now.SecondMarker;
        }
    } else {
        replot(QCustomPlot::rpImmediateRefresh);
    }
}

TChart::tDrawn TChart::Drawn() const {
    return {xAxis->range(), yAxis->range(), size(), bufferDevicePixelRatio(), Marker, SecondMarker};
}

QImage TChart::RenderImage() {
    FOffScreen = true;
    const QImage image = toPixmap(width(), height()).toImage();
    FOffScreen = false;
    return image;
}

void TChart::PaintOn(QCPPainter& painter, int width, int height) {
    FOffScreen = true;
    toPainter(&painter, width, height);
    FOffScreen = false;
    updateLayout();
}

void TChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnMouseGrab &&
        OnMouseGrab(event->type(), event->position().toPoint(), event->modifiers())) {
        FGrabbed = true;
        event->accept();
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
    if (FGrabbed) {
        if (OnMouseGrab) OnMouseGrab(event->type(), event->position().toPoint(), event->modifiers());
        event->accept();
        return;
    }
    QCustomPlot::mouseMoveEvent(event);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
    if (FGrabbed) {
        FGrabbed = false;
        if (OnMouseGrab) OnMouseGrab(event->type(), event->position().toPoint(), event->modifiers());
        event->accept();
        return;
    }
    QCustomPlot::mouseReleaseEvent(event);
}

bool TChart::PatchLines() {
    // Lines behind the others are on a layer of their own and take no new points.
    const auto patched = [this](tFastLine* line) {
        return line->realVisibility() && line->layer() == FLinesLayer;
    };
    QRect changed;
    for (tFastLine* line : FSeries) {
        if (!patched(line)) continue;
        const std::optional<QRect> part = line->DrawNewPoints(bufferDevicePixelRatio());
        if (!part) return false;
        changed |= *part;
    }
    if (changed.isEmpty()) return true;
    const QSharedPointer<QCPAbstractPaintBuffer> buffer =
        (FLinesLayer->*(&tLayerBuffer::mPaintBuffer)).toStrongRef();
    if (!buffer || buffer->invalidated()) return false;
    std::unique_ptr<QCPPainter> painter(buffer->startPainting());
    if (!painter) return false;
    if (painter->isActive()) {
        painter->setClipRect(changed);
        painter->setCompositionMode(QPainter::CompositionMode_Source);
        painter->fillRect(changed, Qt::transparent);
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (tFastLine* line : FSeries)
            if (patched(line)) line->DrawCached(painter.get());
    }
    painter.reset();
    buffer->donePainting();
    update(changed);
    return true;
}
