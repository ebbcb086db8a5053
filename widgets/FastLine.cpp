// Drawing long lines by per-column envelopes from block summaries, and adding new points to a cached picture.
#include "widgets/FastLine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// The outline of a round pen of `radius` drawn along points whose x never decreases and whose steps are
// short (a few pixels at most): a disc at every point, and at points put along the longer steps so that the
// discs overlap, their union taken column by column (the points and the caps beyond both ends), as one simple
// polygon. It covers what the stroke covers, within the spacing of the points, at a fraction of the cost: the
// stroke of a thousand jagged segments shorter than the pen is wide joins each to the next, and its
// antialiased form fills thousands of overlapping pieces. False when the points do not qualify.
bool BandOutline(const QVector<QPointF>& path, double radius, QVector<QPointF>& outline) {
    const qsizetype n = path.size();
    if (n < 2 || !(radius > 0)) return false;
    // Longer steps are the few points of a slow sensor: their stroke is cheap.
    constexpr double kLongestStep = 8;
    const double spacing = radius / 2;
    QVector<QPointF> points;
    points.reserve(n);
    points.append(path.front());
    for (qsizetype k = 1; k < n; ++k) {
        const QPointF from = path[k - 1], to = path[k];
        const double step = to.x() - from.x();
        if (!(step >= 0 && step <= kLongestStep)) return false;
        const int parts = int(std::ceil(step / spacing));
        for (int j = 1; j < parts; ++j) points.append(from + (to - from) * (double(j) / parts));
        points.append(to);
    }
    const qsizetype m = points.size();
    constexpr int kCapSteps = 4;
    QVector<double> columns;
    columns.reserve(m + 2 * kCapSteps);
    for (int j = kCapSteps; j >= 1; --j) columns.append(points.front().x() - radius * j / kCapSteps);
    for (const QPointF& point : points) columns.append(point.x());
    for (int j = 1; j <= kCapSteps; ++j) columns.append(points.back().x() + radius * j / kCapSteps);
    outline.resize(2 * columns.size());
    qsizetype near = 0; // the first point within the pen's reach of the column
    for (qsizetype c = 0; c < columns.size(); ++c) {
        const double x = columns[c];
        while (near < m - 1 && points[near].x() < x - radius) ++near;
        double top = points[near].y();
        double bottom = top;
        for (qsizetype k = near; k < m && points[k].x() <= x + radius; ++k) {
            const double dx = points[k].x() - x;
            const double half = std::sqrt(std::max(0.0, radius * radius - dx * dx));
            top = std::min(top, points[k].y() - half);
            bottom = std::max(bottom, points[k].y() + half);
        }
        outline[c] = QPointF(x, top);
        outline[outline.size() - 1 - c] = QPointF(x, bottom);
    }
    return true;
}

} // namespace

tFastLine::tFastLine(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPAbstractPlottable(keyAxis, valueAxis) {}

tFastLine::~tFastLine() = default;

void tFastLine::Clear() {
    FSeries = std::make_shared<tPointSeries>();
    FCachePoints = 0;
    FCache = QImage();
}

void tFastLine::SetSeries(std::shared_ptr<tPointSeries> series) {
    FSeries = series ? std::move(series) : std::make_shared<tPointSeries>();
    FCachePoints = 0;
    FCache = QImage();
}

QCPRange tFastLine::getKeyRange(bool& found, QCP::SignDomain) const {
    found = Count() > 0;
    return found ? QCPRange(X(0), X(Count() - 1)) : QCPRange();
}

QCPRange tFastLine::getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const {
    found = Count() > 0;
    if (!found) return QCPRange();
    double low = 0;
    double high = 0;
    FSeries->MinMax(0, Count(), low, high);
    return QCPRange(low, high);
}

bool tFastLine::BuildPath(int from, int to, QVector<QPointF>& path, qreal ratio) const {
    path.clear();
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    // Columns of the target's own pixels: at a screen scale of 2 a window's pixel holds two, and a line
    // summarised by the window's pixels would be drawn in blocks twice as wide as the screen's pixels.
    const double fine = std::max(1.0, double(ratio));
    const int columns =
        std::max(1, int(std::abs(keys->coordToPixel(X(to)) - keys->coordToPixel(X(from))) * fine) + 1);
    if (FPlain || to - from + 1 <= 2 * columns) {
        path.reserve(to - from + 1);
        for (int i = from; i <= to; ++i)
            path.append(QPointF(keys->coordToPixel(X(i)), values->coordToPixel(Y(i))));
        return true;
    }
    // Dense points: per pixel column the span from the lowest to the highest value, stretched to the next
    // column's first value so that the columns join up.
    path.reserve(2 * columns + 4);
    int i = from;
    while (i <= to) {
        const double pixel = std::floor(keys->coordToPixel(X(i)) * fine) / fine;
        const double nextEdge = keys->pixelToCoord(pixel + 1 / fine);
        int end = std::min(to + 1, std::max(i + 1, UpperBound(std::nextafter(nextEdge, -INFINITY))));
        double low = 0;
        double high = 0;
        FSeries->MinMax(i, end, low, high);
        if (end <= to) {
            low = std::min(low, Y(end));
            high = std::max(high, Y(end));
        }
        const double a = values->coordToPixel(low);
        const double b = values->coordToPixel(high);
        path.append(QPointF(pixel + 0.5 / fine, std::min(a, b)));
        path.append(QPointF(pixel + 0.5 / fine, std::max(a, b)));
        i = end;
    }
    return false;
}

bool tFastLine::LabelBetween(double from, double to) const {
    const std::map<int, QString>& labels = FSeries->Labels();
    if (labels.empty()) return false;
    const auto first = labels.lower_bound(std::max(0, UpperBound(std::nextafter(from, -INFINITY))));
    return first != labels.end() && X(first->first) <= to;
}

void tFastLine::SetPointMarks(bool marks) {
    if (marks == FMarks) return;
    FMarks = marks;
    // The picture is made anew.
    FCache = QImage();
}

void tFastLine::DrawPath(QPainter& painter, const QVector<QPointF>& path, bool sparse, bool cached) const {
    const QPen pen = painter.pen();
    if (sparse) {
        // Antialiased wide strokes cost much more than plain ones: they are kept for lines of few segments.
        const bool antialiased = path.size() <= 1500;
        painter.setRenderHint(QPainter::Antialiasing, antialiased);
        // Points a few pixels apart or closer (a sound sensor's thousand a second): the area the round pen
        // covers, filled as one polygon, smoothed while it has few points. Printing keeps the stroke.
        QVector<QPointF> outline;
        if (cached && pen.widthF() > 2 && pen.capStyle() == Qt::RoundCap &&
            BandOutline(path, pen.widthF() / 2, outline)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(pen.brush());
            painter.drawPolygon(outline.constData(), int(outline.size()));
            painter.setPen(pen);
            return;
        }
        // Segments shorter than the pen is wide: their joins do not show, and cut corners cost a fraction of
        // round ones.
        if (path.size() > 2 && pen.widthF() > 1) {
            double length = 0;
            for (qsizetype k = 1; k < path.size(); ++k)
                length += std::abs(path[k].x() - path[k - 1].x()) + std::abs(path[k].y() - path[k - 1].y());
            if (length < pen.widthF() * double(path.size() - 1)) {
                QPen bevelled = pen;
                bevelled.setJoinStyle(Qt::BevelJoin);
                painter.setPen(bevelled);
            }
        }
        if (path.size() == 1)
            painter.drawPoint(path.front());
        else if (path.size() > 1)
            painter.drawPolyline(path.constData(), int(path.size()));
        if (FMarks) {
            // A dot twice the line's width, white inside, on each point.
            const double radius = std::max(3.0, pen.widthF() * 1.2);
            painter.setRenderHint(QPainter::Antialiasing, true);
            QPen ring = pen;
            ring.setWidthF(std::max(1.5, pen.widthF() * 0.6));
            painter.setPen(ring);
            painter.setBrush(Qt::white);
            for (const QPointF& point : path) painter.drawEllipse(point, radius, radius);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
        }
        return;
    }
    // A column of a wide line: a bar as wide as the pen from the lowest to the highest value.
    const double width = std::max(1.0, pen.widthF());
    const QBrush brush = pen.brush();
    for (qsizetype k = 0; k + 1 < path.size(); k += 2) {
        const QPointF& top = path[k];
        const QPointF& bottom = path[k + 1];
        painter.fillRect(
            QRectF(top.x() - width / 2, top.y() - width / 2, width, bottom.y() - top.y() + width), brush);
    }
}

void tFastLine::DrawLabels(QCPPainter* painter, int from, int to) const {
    const std::map<int, QString>& labels = FSeries->Labels();
    if (labels.empty()) return;
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    painter->setPen(QPen(QColor(60, 60, 60), 1));
    QFont font = painter->font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.9));
    painter->setFont(font);
    const QFontMetrics metrics(font);
    const QRectF area = keys->axisRect()->rect();
    for (auto it = labels.lower_bound(from); it != labels.end() && it->first <= to; ++it) {
        const QPointF point(keys->coordToPixel(X(it->first)), values->coordToPixel(Y(it->first)));
        // A mark: an 8-pixel arrow up from the point and the label in a white box above it.
        const QPointF tip(point.x(), point.y() - 4);
        const QPointF tail(point.x(), point.y() - 12);
        painter->drawLine(tail, tip);
        painter->drawLine(tip, tip + QPointF(-3, -3));
        painter->drawLine(tip, tip + QPointF(3, -3));
        QRectF box = metrics.boundingRect(it->second);
        box.adjust(-3, -1, 3, 1);
        box.moveCenter(QPointF(tail.x(), tail.y() - box.height() / 2));
        // A point near the left or right edge keeps its whole box inside the chart: the box moves in, the
        // arrow stays.
        box.moveLeft(std::max(box.left(), area.left() + 1.0));
        box.moveRight(std::min(box.right(), area.right() - 1.0));
        painter->fillRect(box, QColor(255, 255, 240));
        painter->drawRect(box);
        painter->drawText(box, Qt::AlignCenter, it->second);
    }
}

int tFastLine::ScrollPixels(qreal ratio) const {
    QCPAxis* keys = keyAxis();
    const QCPRange now = keys->range();
    if (now == FCacheKeys) return 0;
    if (std::abs(now.size() - FCacheKeys.size()) > 1e-9 * FCacheKeys.size()) return -1;
    const double exact = (keys->coordToPixel(now.lower) - keys->coordToPixel(FCacheKeys.lower)) * ratio;
    const double whole = std::round(exact);
    return whole >= 1 && std::abs(exact - whole) < 0.01 ? int(whole) : -1;
}

void tFastLine::ShiftCache(int pixels) {
    const int width = FCache.width();
    const qsizetype kept = qsizetype(width - pixels) * 4;
    for (int y = 0; y < FCache.height(); ++y) {
        uchar* line = FCache.scanLine(y);
        std::memmove(line, line + qsizetype(pixels) * 4, size_t(kept));
        std::memset(line + kept, 0, size_t(pixels) * 4);
    }
}

std::pair<int, int> tFastLine::Visible() const {
    const QCPRange range = keyAxis()->range();
    return {std::max(0, UpperBound(range.lower) - 1), std::min(Count() - 1, UpperBound(range.upper))};
}

QPen tFastLine::LinePen() const {
    QPen pen = mPen;
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

std::optional<QRect> tFastLine::UpdateCache(qreal ratio, tCacheUpdate update) {
    const int count = Count();
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    const QRect rect = clipRect();
    // Plain names, not a structured binding: the lambda below captures them (which older compilers refuse).
    const std::pair<int, int> visible = Visible();
    const int first = visible.first;
    const int last = visible.second;
    QVector<QPointF> path;
    const QPen pen = LinePen();
    const bool same = !FCache.isNull() && FCacheValues == values->range() && FCacheRect == rect &&
                      FCachePen == mPen && FCachePoints <= count && FCachePoints > 0 &&
                      FCache.devicePixelRatio() == ratio;
    const int shift = same ? ScrollPixels(ratio) : -1;
    if ((update == tCacheUpdate::NewPoints && shift != 0) || (update == tCacheUpdate::MovedOn && shift < 0))
        return std::nullopt;
    // Columns from `seam` on are drawn afresh: none while the axes stand still.
    double seam = rect.right() + 1;
    QRect changed;
    if (shift > 0 && shift < FCache.width()) {
        // The time axis moved on by whole pixels (the chart following the newest point): the picture moves
        // with it and only the uncovered strip on the right is drawn.
        ShiftCache(shift);
        seam -= shift / ratio;
        changed = QRect(QPoint(int(std::floor(seam)), rect.top()), rect.bottomRight());
    } else if (shift > 0) {
        if (update == tCacheUpdate::MovedOn) return std::nullopt;
        FCache = QImage(rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        FCache.setDevicePixelRatio(ratio);
        FCache.fill(Qt::transparent);
        FCachePoints = 0;
        changed = rect;
    } else if (shift != 0) {
        FCache = QImage(rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        FCache.setDevicePixelRatio(ratio);
        FCache.fill(Qt::transparent);
        FCachePoints = 0;
        changed = rect;
    }
    const auto drawOnCache = [&](int from, double left, double right) {
        if (last < from || right <= left) return;
        QPainter cache(&FCache);
        cache.translate(-rect.topLeft());
        cache.setPen(pen);
        cache.setClipRect(QRectF(left, rect.top(), right - left, rect.height()));
        const bool sparse = BuildPath(from, last, path, ratio);
        DrawPath(cache, path, sparse, true);
        // What changed: the path's extent and the pen's reach around it; with a new label, the whole chart (a
        // label's box may stand anywhere above its point, moved in from an edge).
        QRectF touched;
        for (const QPointF& point : path) touched |= QRectF(point, QSizeF(0.01, 0.01));
        const double reach = std::max(1.0, pen.widthF()) / 2 + 2;
        touched.adjust(-reach, -reach, reach, reach);
        const bool labelled = FSeries->Labels().lower_bound(from) != FSeries->Labels().end();
        changed |=
            labelled
                ? rect
                : touched.intersected(QRectF(left, rect.top(), right - left, rect.height())).toAlignedRect();
    };
    const double right = rect.right() + 1;
    if (seam < right) drawOnCache(std::max(first, UpperBound(keys->pixelToCoord(seam)) - 1), seam, right);
    // Only what is new since the cached picture is drawn: from the last point drawn on.
    if (count > FCachePoints)
        drawOnCache(std::max(first, FCachePoints > 0 ? FCachePoints - 1 : first), rect.left(), seam);
    FCacheKeys = keys->range();
    FCacheValues = values->range();
    FCacheRect = rect;
    FCachePen = mPen;
    FCachePoints = count;
    return changed;
}

std::optional<QRect> tFastLine::DrawNewPoints(qreal ratio, bool movedOn) {
    if (FPlain) return std::nullopt;
    // An empty line changes nothing, unless it was cleared after being drawn: then the layer is drawn whole.
    if (Count() == 0) return FShown ? std::nullopt : std::optional<QRect>(QRect());
    if (FCache.isNull()) return std::nullopt;
    return UpdateCache(ratio, movedOn ? tCacheUpdate::MovedOn : tCacheUpdate::NewPoints);
}

void tFastLine::DrawCached(QCPPainter* painter) {
    FShown = Count() > 0 && !FCache.isNull();
    if (!FShown) return;
    painter->save();
    applyDefaultAntialiasingHint(painter);
    painter->setClipRect(clipRect().translated(0, -1), Qt::IntersectClip);
    painter->drawImage(FCacheRect.topLeft(), FCache);
    const auto [first, last] = Visible();
    DrawLabels(painter, first, last);
    painter->restore();
}

void tFastLine::draw(QCPPainter* painter) {
    // Printing and exporting draw everything at the target's own resolution, and leave alone what the layer's
    // picture on the screen holds.
    const bool elsewhere = painter->modes().testFlag(QCPPainter::pmVectorized) ||
                           painter->modes().testFlag(QCPPainter::pmNoCaching);
    if (!elsewhere) FShown = false;
    if (Count() == 0) return;
    if (FPlain || elsewhere) {
        const auto [first, last] = Visible();
        painter->setPen(LinePen());
        QVector<QPointF> path;
        const bool sparse = BuildPath(first, last, path);
        DrawPath(*painter, path, sparse, false);
        DrawLabels(painter, first, last);
        return;
    }
    UpdateCache(painter->device() ? painter->device()->devicePixelRatioF() : 1.0, tCacheUpdate::Whole);
    DrawCached(painter);
}
