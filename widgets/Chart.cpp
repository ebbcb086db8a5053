// The chart's set-up on QCustomPlot and its layers (grid and axes, the lines, an overlay for markers) on one
// opaque picture that new points are patched into.
#include "widgets/Chart.h"

#include "core/LocaleFormats.h"

#include <QApplication>
#include <cmath>
#include <cstring>
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

// What QCustomPlot keeps to itself: a layerable's drawing.
struct tLayerableDrawing : QCPLayerable {
    using QCPLayerable::applyDefaultAntialiasingHint;
    using QCPLayerable::clipRect;
    using QCPLayerable::draw;
};

// The chart's one picture, all layers on it: opaque, cleared to the chart's background and put on the window
// as a plain copy, with nothing painted under it and nothing blended.
class tPaintBuffer : public QCPAbstractPaintBuffer {
public:
    tPaintBuffer(const QSize& size, double ratio, const QColor& background)
        : QCPAbstractPaintBuffer(size, ratio), FBackground(background) {
        tPaintBuffer::reallocateBuffer();
    }
    QCPPainter* startPainting() override { return new QCPPainter(&FImage); }
    void draw(QCPPainter* painter) const override {
        if (painter && painter->isActive()) painter->drawImage(0, 0, FImage);
    }
    void clear(const QColor&) override { FImage.fill(FBackground); }
    // Moves the part `rect` (in the picture's own pixels) left by `dx` of them; what it uncovers keeps what
    // stood there, to be drawn again.
    void ShiftLeft(const QRect& rect, int dx) {
        const QRect part = rect & FImage.rect();
        if (dx <= 0 || dx >= part.width()) return;
        const qsizetype bytes = qsizetype(part.width() - dx) * 4;
        for (int y = part.top(); y <= part.bottom(); ++y) {
            uchar* line = FImage.scanLine(y) + qsizetype(part.left()) * 4;
            std::memmove(line, line + qsizetype(dx) * 4, size_t(bytes));
        }
    }

protected:
    void reallocateBuffer() override {
        setInvalidated();
        FImage = QImage(mSize * mDevicePixelRatio, QImage::Format_RGB32);
        FImage.setDevicePixelRatio(mDevicePixelRatio);
    }

private:
    QImage FImage;
    QColor FBackground;
};

} // namespace

TChart::TChart(QWidget* parent) : QCustomPlot(parent) {
    // The lowest layers' picture is cleared to white and covers the widget: nothing is painted under it, and
    // the plot needs no background of its own (pictures for pages and files are filled with the chart's).
    setBackground(Qt::white);
    setAttribute(Qt::WA_OpaquePaintEvent);
    legend->setVisible(false);
    xAxis2->setVisible(false);
    yAxis2->setVisible(false);
    for (QCPAxis* axis : {xAxis, yAxis}) {
        axis->setTicker(QSharedPointer<tSpacedTicker>::create(axis));
        axis->grid()->setPen(QPen(QColor(229, 233, 239), 1));
        axis->setBasePen(QPen(QColor(90, 90, 90), 1));
        axis->setTickPen(QPen(QColor(90, 90, 90), 1));
        axis->setSubTickPen(Qt::NoPen);
    }
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    // The lines go on a layer above the runs drawn behind them; QCustomPlot's own top layer "overlay" carries
    // the markers, the legend and the result boxes. Every layer is drawn onto the one picture.
    addLayer(QStringLiteral("lines"), layer(QStringLiteral("main")), QCustomPlot::limAbove);
    FLinesLayer = layer(QStringLiteral("lines"));
    for (int i = 0; i < layerCount(); ++i) layer(i)->setMode(QCPLayer::lmLogical);
    new tOverlay(this, this);
    SetUpBuffers();
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
    connect(this, &QCustomPlot::afterReplot, this, [this] {
        FDrawn = Drawn();
        FFixedDrawn = FixedOverlay();
    });
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
    // The picture shows the axes, the size, the pixel ratio and the markers of the last whole replot, whoever
    // asked for it (the wheel, a drag, a resize, «Показать всё», a click); new points are patched in only
    // while those stand, and the picture moves with the time axis only when nothing else changed.
    // Nothing is drawn for no one: a chart on a page not shown, or covered whole, is drawn when it is
    // painted.
    if (!isVisible() || visibleRegion().isEmpty()) {
        FStale = true;
        return;
    }
    const bool markers = FDrawn.Marker == Marker && FDrawn.SecondMarker == SecondMarker;
    if (markers && FDrawn.SameAxes(Drawn()) && PatchLines()) return;
    if (const int dx = markers ? ScrolledPixels() : 0; dx > 0 && ScrollLines(dx)) return;
    replot(QCustomPlot::rpImmediateRefresh);
}

int TChart::ScrolledPixels() const {
    const tDrawn now = Drawn();
    if (now.Values != FDrawn.Values || now.Size != FDrawn.Size || now.Ratio != FDrawn.Ratio ||
        std::abs(now.Keys.size() - FDrawn.Keys.size()) > 1e-9 * FDrawn.Keys.size())
        return 0;
    // In the window's pixels, whole ones of the screen's too: at a scale of 1.5 a move by one of the window's
    // pixels is no whole number of the screen's.
    const double moved = xAxis->coordToPixel(now.Keys.lower) - xAxis->coordToPixel(FDrawn.Keys.lower);
    const double whole = std::round(moved);
    const double device = whole * now.Ratio;
    if (whole < 1 || std::abs(moved - whole) > 0.01 || std::abs(device - std::round(device)) > 1e-6) return 0;
    return int(whole);
}

bool TChart::ScrollLines(int dx) {
    const QRect plot = PlotRect();
    if (dx >= plot.width() || mPaintBuffers.size() != 1) return false;
    auto* buffer = dynamic_cast<tPaintBuffer*>(mPaintBuffers.front().data());
    if (!buffer || buffer->invalidated()) return false;
    // A point's label near an edge is moved in to stay whole: it does not move with the data.
    const QCPRange before = FDrawn.Keys, after = xAxis->range();
    for (const tFastLine* line : FSeries)
        if (line->realVisibility() && line->LabelBetween(before.lower, after.upper)) return false;
    // The lines' pictures move too, and take their new points.
    QRegion lines;
    for (tFastLine* line : FSeries) {
        if (!line->realVisibility() || line->layer() != FLinesLayer) continue;
        const std::optional<QRect> part = line->DrawNewPoints(FDrawn.Ratio, true);
        if (!part) return false;
        lines |= *part;
    }
    // What stands still over the plot: where the moved picture put it, and where it stands now (a result box
    // placed clear of the curve may have moved).
    const QRegion now = FixedOverlay();
    const QRegion fixed = (FFixedDrawn.translated(-dx, 0) | now) & plot;
    const double ratio = FDrawn.Ratio;
    const QRect device(QPoint(int(std::lround(plot.left() * ratio)), int(std::lround(plot.top() * ratio))),
                       QPoint(int(std::lround((plot.right() + 1) * ratio)) - 1,
                              int(std::lround((plot.bottom() + 1) * ratio)) - 1));
    buffer->ShiftLeft(device, int(std::lround(dx * ratio)));
    // The part uncovered; the axes, whose ticks reach into the plot; the overlay's fixed parts.
    const QRect uncovered(QPoint(plot.right() + 1 - dx, plot.top()), plot.bottomRight());
    const QRegion parts = QRegion(uncovered) | AxisArea(*xAxis) | AxisArea(*yAxis) | fixed | (lines & plot);
    // The axes' ticks (and the grid's lines) for the range shown now.
    axisRect()->update(QCPLayoutElement::upPreparation);
    {
        std::unique_ptr<QCPPainter> painter(buffer->startPainting());
        if (!painter) return false;
        if (painter->isActive()) DrawParts(*painter, parts);
    }
    buffer->donePainting();
    FDrawn = Drawn();
    FFixedDrawn = now;
    // The window moves its own picture of the plot the same way (on the display's side, where it can) and
    // paints what was uncovered; the rest drawn again is painted where it stands.
    scroll(-dx, 0, plot);
    update(parts - uncovered);
    return true;
}

void TChart::SetUpBuffers() {
    // Every layer is drawn onto the one picture QCustomPlot asks for.
    mPaintBuffers = {QSharedPointer<QCPAbstractPaintBuffer>(
        new tPaintBuffer(viewport().size(), mBufferDevicePixelRatio, mBackgroundBrush.color()))};
}

QRect TChart::AxisArea(const QCPAxis& axis) const {
    const QRect plot = axis.axisRect()->rect();
    const QRect all = viewport();
    const int in = std::max(axis.tickLengthIn(), axis.subTickLengthIn()) + 2;
    switch (axis.axisType()) {
    case QCPAxis::atLeft:
        return QRect(all.topLeft(), QPoint(plot.left() + in, all.bottom()));
    case QCPAxis::atRight:
        return QRect(QPoint(plot.right() - in, all.top()), all.bottomRight());
    case QCPAxis::atTop:
        return QRect(all.topLeft(), QPoint(all.right(), plot.top() + in));
    case QCPAxis::atBottom:
        break;
    }
    return QRect(QPoint(all.left(), plot.bottom() - in), all.bottomRight());
}

void TChart::paintEvent(QPaintEvent* event) {
    // A new pixel ratio (the window moved to another screen) is QCustomPlot's to handle.
    if (!qFuzzyCompare(mBufferDevicePixelRatio, devicePixelRatioF()) || mPaintBuffers.isEmpty())
        return QCustomPlot::paintEvent(event);
    // Points that came while the chart could not be seen are drawn now (the replot asks for one more paint,
    // which finds nothing new).
    if (std::exchange(FStale, false)) replot(QCustomPlot::rpRefreshHint);
    QCPPainter painter(this);
    if (!painter.isActive()) return;
    for (const QSharedPointer<QCPAbstractPaintBuffer>& buffer : std::as_const(mPaintBuffers))
        buffer->draw(&painter);
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
    // Lines behind the others take no new points.
    QRect changed;
    for (tFastLine* line : FSeries) {
        if (!line->realVisibility() || line->layer() != FLinesLayer) continue;
        const std::optional<QRect> part = line->DrawNewPoints(bufferDevicePixelRatio());
        if (!part) return false;
        changed |= *part;
    }
    if (changed.isEmpty()) return true;
    if (mPaintBuffers.size() != 1) return false;
    const QSharedPointer<QCPAbstractPaintBuffer> buffer = mPaintBuffers.front();
    if (buffer->invalidated()) return false;
    // The changed part is drawn again, and the overlay's fixed parts where they stood and stand, when the new
    // points moved them (a result box placed clear of the curve).
    QRegion parts(changed);
    if (const QRegion now = FixedOverlay(); now != FFixedDrawn) {
        parts |= (FFixedDrawn | now) & PlotRect();
        FFixedDrawn = now;
    }
    std::unique_ptr<QCPPainter> painter(buffer->startPainting());
    if (!painter) return false;
    if (painter->isActive()) DrawParts(*painter, parts);
    painter.reset();
    buffer->donePainting();
    update(parts);
    return true;
}

void TChart::DrawParts(QCPPainter& painter, const QRegion& parts) {
    for (const QRect& part : parts) {
        painter.fillRect(part, mBackgroundBrush);
        for (int i = 0; i < layerCount(); ++i) {
            for (QCPLayerable* child : layer(i)->children()) {
                if (!child->realVisibility()) continue;
                // An axis draws at its side of the plot, its ticks reaching in a few pixels.
                const auto* axis = qobject_cast<const QCPAxis*>(child);
                if (axis && !part.intersects(AxisArea(*axis))) continue;
                const QRect clip = part & (child->*(&tLayerableDrawing::clipRect))().translated(0, -1);
                if (clip.isEmpty()) continue;
                painter.save();
                painter.setClipRect(clip);
                (child->*(&tLayerableDrawing::applyDefaultAntialiasingHint))(&painter);
                (child->*(&tLayerableDrawing::draw))(&painter);
                painter.restore();
            }
        }
    }
}
