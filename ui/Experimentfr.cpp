// The experiment frame: pages, the chart's lines and axes, markers and their text, following the newest
// point.
#include "ui/Experimentfr.h"

#include <QTextDocument>

#include "core/AppMessages.h"
#include "core/NumberFormat.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "experiment/Experiment.h"
#include "experiment/Sensors.h"
#include "lesson/Lesson.h"
#include "runs/Runs.h"
#include "ui/LessonTexts.h"
#include "ui/TablePage.h"
#include "widgets/BoxPlacement.h"
#include "widgets/Chart.h"
#include "widgets/RichEdit.h"

#include "core/Exception.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QWidget* Page(QTabWidget* tabs, const QString& title, QWidget* content) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    if (content) layout->addWidget(content);
    tabs->addTab(page, title);
    return page;
}

} // namespace

TfrExperiment::TfrExperiment(QWidget* owner, bool twiceMarker) : QWidget(owner), TwiceMarker(twiceMarker) {
    pcMain = new QTabWidget(this);
    pcMain->setTabPosition(QTabWidget::South);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pcMain);

    FChartArea = new QWidget;
    auto* chartLayout = new QVBoxLayout(FChartArea);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(0);
    chMain = new TChart;
    chMain->AddSeries(QColor(255, 0, 0));
    chMain->AddSeries(QColor(0, 0, 255));
    FBaseLines = chMain->SeriesCount();
    // Where the values go instead: the table page, one click away.
    lbNoSensor = new QLabel(QStringLiteral("Эксперимент проводится без датчика.<br>Введите измерения на "
                                           "странице <a href=\"table\">«Таблица»</a>: график появится по "
                                           "первым точкам."));
    lbNoSensor->setObjectName(QStringLiteral("lbNoSensor"));
    lbNoSensor->setTextFormat(Qt::RichText);
    lbNoSensor->setWordWrap(true);
    lbNoSensor->setAlignment(Qt::AlignCenter);
    connect(lbNoSensor, &QLabel::linkActivated, this, [this] { ShowPage(tPage::Table); });
    QFont big = lbNoSensor->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    lbNoSensor->setFont(big);
    lbNoSensor->hide();
    chartLayout->addWidget(chMain, 1);
    chartLayout->addWidget(lbNoSensor, 1);
    tsChart = Page(pcMain, QStringLiteral("&График"), FChartArea);
    tvTable = new TTablePage;
    tsTable = Page(pcMain, QStringLiteral("&Таблица"), tvTable);
    reDescr = new TRichEdit;
    reDescr->setReadOnly(true);
    tsDescr = Page(pcMain, QStringLiteral("&Описание"), reDescr);
    reReport = new TRichEdit;
    tsReport = Page(pcMain, QStringLiteral("О&тчет"), reReport);
    AttachMarkers(chMain);
    acCopyChart = new QAction(QStringLiteral("&Копировать график"), this);
    acCopyChart->setShortcut(QKeySequence::Copy);
    acCopyChart->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    acCopyChart->setToolTip(QStringLiteral("Копировать график в буфер обмена"));
    acCopyChart->setStatusTip(acCopyChart->toolTip());
    connect(acCopyChart, &QAction::triggered, this,
            [this] { QApplication::clipboard()->setImage(ChartImage()); });
    tsChart->addAction(acCopyChart);
    // A click on the chart gives it the keys, so Ctrl+C copies it.
    chMain->setFocusPolicy(Qt::ClickFocus);
}

QImage TfrExperiment::ChartImage() const {
    std::vector<QImage> parts;
    int width = 0;
    int height = 0;
    for (TChart* chart : Charts()) {
        parts.push_back(chart->RenderImage());
        width = std::max(width, parts.back().width());
        height += parts.back().height();
    }
    QImage image(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    int top = 0;
    for (const QImage& part : parts) {
        painter.drawImage(0, top, part);
        top += part.height();
    }
    return image;
}

void TfrExperiment::AttachMarkers(TChart* chart) {
    if (chart == chMain)
        chart->OnMouseGrab = [this](QEvent::Type type, const QPoint& position,
                                    Qt::KeyboardModifiers modifiers) {
            return GrabResult(type, position, modifiers);
        };
    chart->OnFixedOverlay = [this, chart] { return FixedOverlay(chart); };
    chart->OnMouseUp = [this, chart](Qt::MouseButton button, const QPoint& position, bool ctrl) {
        PlaceMarker(chart, button, position, ctrl);
    };
    chart->OnAfterDraw = [this, chart](QPainter& painter, const QRect& plotRect) {
        if (chart == chMain) {
            DrawRegion(chart, painter, plotRect);
            DrawLegend(painter, plotRect);
            DrawResults(chart, painter, plotRect);
            DrawNotice(chart, painter, plotRect);
        }
        DrawMarkers(chart, painter, plotRect);
    };
}

QRegion TfrExperiment::FixedOverlay(TChart* chart) const {
    if (chart != chMain) return QRegion();
    const QRect plot = chart->PlotRect();
    // The notice's trace runs from the right edge whatever the time: all of the plot.
    if (!FNotice.isEmpty()) return plot;
    // With the pixels their frames' pens and smoothing reach.
    QRegion fixed;
    if (const QRect legend = LegendBox(plot, ResultFont(chart->font()), chart); !legend.isEmpty())
        fixed |= legend.adjusted(-2, -2, 2, 2);
    if (FLesson && FLesson->ResultCount() > 0) {
        QFont font;
        for (const tResultBox& box : ScreenResultBoxes(&font)) fixed |= box.Rect.adjusted(-2, -2, 2, 2);
        if (const QRect note = ResultsNoteBox(plot, font, chart, nullptr); !note.isEmpty())
            fixed |= note.adjusted(-2, -2, 2, 2);
    }
    return fixed;
}

void TfrExperiment::PlaceMarker(TChart* chart, Qt::MouseButton button, const QPoint& position, bool ctrl) {
    if (button != Qt::LeftButton || MeasureRunning) return;
    Region.reset();
    const bool second = TwiceMarker && ctrl;
    int& marker = second ? chart->SecondMarker : chart->Marker;
    tFastLine* line = ActiveSeries < chart->SeriesCount() ? chart->Series(ActiveSeries) : nullptr;
    // The chart has no depth: the 3-D offsets are zero.
    if (chart->PlotRect().contains(position) && line && line->Count() > 0) {
        marker = NearestPoint(*line, chart->PixelToX(position.x()));
    } else {
        marker = -1;
    }
    chart->replot();
    PostAppMessage(WM_MARKER_MOVED, reinterpret_cast<qintptr>(chart), 0);
}

int TfrExperiment::NearestPoint(const tFastLine& line, double v) {
    // X values ascend, so the nearest point is a neighbour of v; on equal distance the lower index wins.
    const int upper = line.UpperBound(v);
    int best = std::clamp(upper, 0, line.Count() - 1);
    for (int i = std::max(0, upper - 2); i <= std::min(line.Count() - 1, upper + 1); ++i) {
        const double d = (line.X(i) - v) * (line.X(i) - v);
        const double bestD = (line.X(best) - v) * (line.X(best) - v);
        if (d < bestD || (d == bestD && i < best)) best = i;
    }
    // Equal X values further left are as near: the lowest index among them wins.
    while (best > 0 && line.X(best - 1) == line.X(best)) --best;
    return best;
}

void TfrExperiment::DrawMarkers(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (MeasureRunning || ActiveSeries >= chart->SeriesCount()) return;
    tFastLine* line = chart->Series(ActiveSeries);
    const int count = line->Count();
    const auto draw = [&](int index, const QColor& color) {
        const double x = line->X(index);
        if (x < chart->BottomRange().lower || x > chart->BottomRange().upper) return;
        const int width = std::max(1, int(line->pen().widthF()));
        const int pixel = int(std::lround(chart->XToPixel(x)));
        painter.fillRect(QRect(pixel - width / 2, plotRect.top(), width, plotRect.height()), color);
    };
    if (TwiceMarker && chart->SecondMarker >= 0 && chart->SecondMarker < count)
        draw(chart->SecondMarker, QColor(0, 255, 0));
    if (chart->Marker >= 0 && chart->Marker < count) draw(chart->Marker, QColor(255, 255, 0));
}

QStringList TfrExperiment::ResultText(int i) const {
    const tAnalysisResult& r = FLesson->Result(i);
    QStringList lines = ResultLines(r, chMain->BottomTitle(), FLesson->QuantityOf(r));
    // With runs side by side a box says whose it is.
    int shown = 0;
    for (int k = 0; k < FLesson->RunCount(); ++k) shown += FLesson->Run(k).Shown;
    const int run = FLesson->ResultRun(i);
    if (shown > 1 && run >= 0 && !lines.isEmpty()) lines[0] += QStringLiteral(" — ") + FLesson->RunName(run);
    return lines;
}

void TfrExperiment::DrawResults(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (!FLesson || FLesson->ResultCount() == 0 || plotRect.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Within whatever part of the chart is being drawn (a patch of new points draws only there).
    painter.setClipRect(plotRect, Qt::IntersectClip);
    const auto colour = [&](int i) {
        const int run = FLesson->ResultRun(i);
        return (run >= 0 ? RunColour(*FLesson, run) : QColor(Qt::red)).darker(160);
    };
    for (const int i : FLesson->ResultsOnChart()) {
        const tAnalysisResult& r = FLesson->Result(i);
        painter.setPen(QPen(colour(i), 2.5, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        if (r.Kind == tAnalysisKind::Fit && r.Ok) {
            // A fitted curve, dashed in its run's colour, over its region.
            const std::vector<double> params(r.Values.begin(), r.Values.begin() + FitParamCount(r.Model));
            QPainterPath path;
            constexpr int kSteps = 400;
            // Cut where it leaves a band a plot's height above and below the plot: a curve that shoots off
            // (a power near 0) would else put coordinates of 10⁸ and more on the page, which readers cannot
            // draw.
            const double low = plotRect.top() - plotRect.height(),
                         high = plotRect.bottom() + plotRect.height();
            const auto inside = [&](const QPointF& p) { return p.y() >= low && p.y() <= high; };
            const auto cut = [&](const QPointF& a, const QPointF& b) {
                const double edge = (a.y() < low || b.y() < low) ? low : high;
                const double t = (edge - a.y()) / (b.y() - a.y());
                return QPointF(a.x() + t * (b.x() - a.x()), edge);
            };
            bool open = false;
            QPointF before;
            bool after = false; // a point came before this one
            for (int k = 0; k <= kSteps; ++k) {
                const double x = r.From + (r.To - r.From) * k / kSteps;
                const double y = FitValue(r.Model, params, x + FLesson->FitShift());
                const QPointF at(chart->XToPixel(x), chart->yAxis->coordToPixel(y));
                if (!std::isfinite(y) || !std::isfinite(at.y())) {
                    open = false;
                    after = false;
                    continue;
                }
                if (inside(at)) {
                    if (open)
                        path.lineTo(at);
                    else if (after && !inside(before))
                        path.moveTo(cut(before, at)), path.lineTo(at);
                    else
                        path.moveTo(at);
                    open = true;
                } else if (open) {
                    path.lineTo(cut(before, at));
                    open = false;
                }
                before = at;
                after = true;
            }
            painter.drawPath(path);
        } else if (r.Kind == tAnalysisKind::Slope && r.Ok && r.Values.size() >= 3) {
            // A tangent: a dashed segment through its point, a fifth of the axis long.
            const double half = chart->BottomRange().size() / 10;
            const auto at = [&](double x) {
                return QPointF(chart->XToPixel(x),
                               chart->yAxis->coordToPixel(r.Values[2] + r.Values[0] * (x - r.Values[1])));
            };
            painter.drawLine(at(r.Values[1] - half), at(r.Values[1] + half));
        }
    }
    // The boxes, each where it stands, inside the plotting area.
    QFont font = ResultFont(painter.font());
    // On the screen the boxes stand where they were placed; on paper they are placed for the page.
    const bool screen = plotRect == chMain->PlotRect() && painter.font() == chMain->font() &&
                        painter.device()->logicalDpiX() == chMain->logicalDpiX();
    const std::vector<tResultBox> boxes =
        screen ? ScreenResultBoxes(&font) : ResultBoxes(chart, plotRect, font, painter.device());
    const QFontMetrics metrics(font, painter.device());
    const int pad = metrics.height() / 3;
    // Not every result is drawn: the chart says which are, at the plot's foot.
    QString note;
    if (const QRect noteBox = ResultsNoteBox(plotRect, font, painter.device(), &note); !noteBox.isEmpty()) {
        painter.setFont(font);
        painter.setPen(QPen(QColor(90, 90, 90), 1));
        painter.setBrush(QColor(255, 255, 255, 230));
        painter.drawRect(noteBox);
        painter.drawText(noteBox, Qt::AlignCenter, note);
    }
    for (const auto& [result, box] : boxes) {
        const QStringList lines = ResultText(result);
        painter.setPen(QPen(QColor(90, 90, 90), 1));
        painter.setBrush(QColor(255, 255, 240));
        painter.drawRect(box);
        painter.setPen(Qt::black);
        int y = box.top() + pad + metrics.ascent();
        for (int k = 0; k < lines.size(); ++k) {
            QFont lineFont = font;
            lineFont.setBold(k == 0);
            painter.setFont(lineFont);
            painter.drawText(box.left() + pad, y, lines[k]);
            y += metrics.lineSpacing();
        }
        // On the screen only: the mark that closes the box.
        if (!chart->OffScreen()) {
            const QRect mark = CloseMark(box, metrics);
            painter.setPen(QPen(QColor(120, 120, 120), 1.5));
            painter.drawLine(mark.topLeft() + QPoint(3, 3), mark.bottomRight() - QPoint(3, 3));
            painter.drawLine(mark.topRight() + QPoint(-3, 3), mark.bottomLeft() + QPoint(3, -3));
        }
    }
    painter.restore();
}

std::vector<TfrExperiment::tResultBox> TfrExperiment::ResultBoxes(TChart* chart, const QRect& plotRect,
                                                                  QFont& font, QPaintDevice* device) const {
    std::vector<tResultBox> boxes;
    if (!FLesson || plotRect.isEmpty()) return boxes;
    std::vector<QStringList> texts;
    std::vector<std::optional<QPoint>> wanted;
    for (const int i : FLesson->ResultsOnChart()) {
        texts.push_back(ResultText(i));
        const QPointF box = i == FDragged ? FDragBox : FLesson->ResultBox(i);
        if (box.x() >= 0 && box.y() >= 0)
            wanted.emplace_back(plotRect.topLeft() + QPoint(qRound(box.x() * plotRect.width()),
                                                            qRound(box.y() * plotRect.height())));
        else
            wanted.emplace_back();
        boxes.push_back({i, QRect()});
    }
    // The boxes keep clear of the legend.
    std::vector<QRect> taken;
    if (const QRect legend = LegendBox(plotRect, ResultFont(chart->font()), device); !legend.isEmpty())
        taken.push_back(legend);
    if (const QRect note = ResultsNoteBox(plotRect, font, device, nullptr); !note.isEmpty())
        taken.push_back(note);
    const std::vector<QPoint> curve = CurvePixels(chart);
    // The text as large as lets every box stand apart (a small chart on paper), down to six points. Boxes
    // whose area at six points exceeds the plot's never stand apart: they are placed once, at six points.
    std::vector<QRect> placed;
    const auto sizesAt = [&](const QFont& at, int* pad) {
        const QFontMetrics metrics(at, device);
        QFont boldFont = at;
        boldFont.setBold(true);
        const QFontMetrics bold(boldFont, device);
        *pad = metrics.height() / 3;
        std::vector<QSize> sizes;
        for (const QStringList& lines : texts) {
            // The bold title with the close mark beside it, and the lines below.
            int width = lines.isEmpty() ? 0 : bold.horizontalAdvance(lines[0]) + *pad + metrics.height();
            for (int k = 1; k < lines.size(); ++k)
                width = std::max(width, metrics.horizontalAdvance(lines[k]));
            sizes.emplace_back(width + 3 * *pad, int(lines.size()) * metrics.lineSpacing() + 2 * *pad);
        }
        return sizes;
    };
    double largest = font.pointSizeF();
    {
        QFont smallest = font;
        smallest.setPointSizeF(6);
        int pad = 0;
        std::int64_t total = 0;
        for (const QSize& size : sizesAt(smallest, &pad)) total += std::int64_t(size.width()) * size.height();
        if (total > std::int64_t(plotRect.width()) * plotRect.height()) largest = 6;
    }
    for (double points = largest; points >= 6 - 1e-9; points -= 0.5) {
        font.setPointSizeF(points);
        int pad = 0;
        const std::vector<QSize> sizes = sizesAt(font, &pad);
        bool apart = true;
        placed = PlaceBoxes(plotRect, sizes, wanted, taken, std::max(2, pad / 2), &apart, curve);
        if (apart) break;
    }
    for (std::size_t k = 0; k < boxes.size(); ++k) boxes[k].Rect = placed[k];
    return boxes;
}

std::vector<QPoint> TfrExperiment::CurvePixels(const TChart* chart) {
    // Each drawn line's points in view, a few thousand at most, and points along the steps between them.
    std::vector<QPoint> pixels;
    const QCPRange range = chart->BottomRange();
    for (int s = 0; s < chart->SeriesCount(); ++s) {
        const tFastLine* line = chart->Series(s);
        if (!line->realVisibility() || line->Count() == 0) continue;
        const int first = std::max(0, line->UpperBound(range.lower) - 1);
        const int last = std::min(line->Count() - 1, line->UpperBound(range.upper));
        const int step = std::max(1, (last - first) / 4000);
        QPointF previous;
        for (int i = first; i <= last; i += step) {
            const QPointF at(chart->XToPixel(line->X(i)), chart->yAxis->coordToPixel(line->Y(i)));
            if (i > first) {
                const int between = std::min(40, int(QLineF(previous, at).length() / 6));
                for (int k = 1; k < between; ++k)
                    pixels.push_back((previous + (at - previous) * k / between).toPoint());
            }
            pixels.push_back(at.toPoint());
            previous = at;
        }
    }
    return pixels;
}

QFont TfrExperiment::ResultFont(QFont base) {
    base.setPointSizeF(9);
    return base;
}

QFontMetrics TfrExperiment::ScreenResultMetrics() const {
    QFont font;
    ScreenResultBoxes(&font);
    return QFontMetrics(font, chMain);
}

std::vector<TfrExperiment::tResultBox> TfrExperiment::PlacedResultBoxes(QFont* font) const {
    QFont chosen = ResultFont(chMain->font());
    std::vector<tResultBox> boxes = ResultBoxes(chMain, chMain->PlotRect(), chosen, chMain);
    if (font) *font = chosen;
    return boxes;
}

std::vector<TfrExperiment::tResultBox> TfrExperiment::ScreenResultBoxes(QFont* font) const {
    // What the placing depends on but the curves: the plot, the font, the legend, and each box's text and the
    // place asked of it.
    const QRect plot = chMain->PlotRect();
    const QFont base = ResultFont(chMain->font());
    const QRect legend = LegendBox(plot, base, chMain);
    const QRect note = ResultsNoteBox(plot, base, chMain, nullptr);
    QString key = QStringLiteral("%1 %2 %3 %4|%5 %6 %7 %8|")
                      .arg(plot.x())
                      .arg(plot.y())
                      .arg(plot.width())
                      .arg(plot.height())
                      .arg(legend.x())
                      .arg(legend.y())
                      .arg(legend.width())
                      .arg(legend.height()) +
                  base.toString() + QStringLiteral("|%1 %2").arg(note.width()).arg(note.height());
    for (const int i : FLesson ? FLesson->ResultsOnChart() : std::vector<int>()) {
        const QPointF box = i == FDragged ? FDragBox : FLesson->ResultBox(i);
        key += QStringLiteral("|%1 %2 %3 ").arg(i).arg(box.x(), 0, 'g', 17).arg(box.y(), 0, 'g', 17) +
               ResultText(i).join(u'\n');
    }
    if (!FPlacement || FPlacement->Key != key) {
        QFont chosen;
        std::vector<tResultBox> boxes = PlacedResultBoxes(&chosen);
        FPlacement = tBoxPlacement{key, chosen, std::move(boxes)};
    }
    if (font) *font = FPlacement->Font;
    return FPlacement->Boxes;
}

QRect TfrExperiment::CloseMark(const QRect& box, const QFontMetrics& metrics) {
    const int side = metrics.height();
    return QRect(box.right() - side - 1, box.top() + 2, side, side);
}

bool TfrExperiment::GrabResult(QEvent::Type type, const QPoint& position, Qt::KeyboardModifiers modifiers) {
    if (MeasureRunning) return false;
    // Shift and a drag sweep a region of the chart for analysis.
    if (type == QEvent::MouseButtonPress && (modifiers & Qt::ShiftModifier) &&
        chMain->PlotRect().contains(position)) {
        FSweeping = true;
        FSweepFrom = chMain->PixelToX(position.x());
        Region.reset();
        chMain->replot();
        return true;
    }
    if (FSweeping) {
        const QRect plot = chMain->PlotRect();
        const int at = std::clamp(position.x(), plot.left(), plot.right());
        const double to = chMain->PixelToX(at);
        Region = std::minmax(FSweepFrom, to);
        if (type == QEvent::MouseButtonRelease) {
            FSweeping = false;
            // A click with Shift, not a sweep, leaves no region.
            if (std::abs(chMain->XToPixel(FSweepFrom) - at) < QApplication::startDragDistance())
                Region.reset();
        }
        chMain->replot();
        return true;
    }
    if (!FLesson || FLesson->ResultCount() == 0) return false;
    const QRect plotRect = chMain->PlotRect();
    if (type == QEvent::MouseButtonPress) {
        const std::vector<tResultBox> boxes = ScreenResultBoxes();
        // The box drawn last is on top.
        for (auto box = boxes.rbegin(); box != boxes.rend(); ++box) {
            if (!box->Rect.contains(position)) continue;
            if (CloseMark(box->Rect, ScreenResultMetrics()).contains(position)) {
                FDragged = -1;
                FLesson->RemoveResult(box->Result);
                return true;
            }
            FDragged = box->Result;
            FDragOffset = position - box->Rect.topLeft();
            FDragBox = QPointF(double(box->Rect.left() - plotRect.left()) / plotRect.width(),
                               double(box->Rect.top() - plotRect.top()) / plotRect.height());
            return true;
        }
        return false;
    }
    if (FDragged < 0 || FDragged >= FLesson->ResultCount() || plotRect.isEmpty()) return false;
    const QPoint topLeft = position - FDragOffset - plotRect.topLeft();
    FDragBox = QPointF(std::clamp(double(topLeft.x()) / plotRect.width(), 0.0, 1.0),
                       std::clamp(double(topLeft.y()) / plotRect.height(), 0.0, 1.0));
    chMain->replot();
    if (type == QEvent::MouseButtonRelease) {
        // Where the user put it is kept with the result.
        const int dragged = std::exchange(FDragged, -1);
        FLesson->SetResultBox(dragged, FDragBox);
    }
    return true;
}

void TfrExperiment::DrawRegion(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (!Region || chart->OffScreen()) return;
    const double left = std::max<double>(plotRect.left(), chart->XToPixel(Region->first));
    const double right = std::min<double>(plotRect.right(), chart->XToPixel(Region->second));
    if (right <= left) return;
    painter.save();
    painter.setPen(QPen(QColor(40, 90, 200, 160), 1, Qt::DashLine));
    painter.setBrush(QColor(40, 90, 200, 40));
    painter.drawRect(QRectF(left, plotRect.top(), right - left, plotRect.height()));
    painter.restore();
}

std::shared_ptr<tPointSeries> TfrExperiment::SeriesOf(TChart*, const tRun& run) const {
    return run.Points;
}

void TfrExperiment::SetLesson(tLesson* lesson) {
    FLesson = lesson;
    tvTable->SetLesson(lesson);
    if (!lesson) return;
    const auto runs = [this] { ShowRuns(); };
    const auto results = [this] { chMain->replot(); };
    connect(lesson, &tLesson::opened, this, runs);
    connect(lesson, &tLesson::runStarted, this, runs);
    connect(lesson, &tLesson::runChanged, this, runs);
    connect(lesson, &tLesson::runChosen, this, runs);
    connect(lesson, &tLesson::runRemoved, this, runs);
    connect(lesson, &tLesson::pointsChanged, this, runs);
    connect(lesson, &tLesson::pointsAppended, this, [this](int id, int from) { PointsAppended(id, from); });
    connect(lesson, &tLesson::resultAdded, this, results);
    connect(lesson, &tLesson::resultRemoved, this, results);
    // The notice goes when the countdown or the wait ends (the trigger, Стоп).
    connect(lesson, &tLesson::collectingChanged, this, [this] { SetNotice(FNotice); });
    connect(lesson, &tLesson::resultsChanged, this, results);
    ShowRuns();
}

void TfrExperiment::ShowRuns() {
    const std::vector<TChart*> charts = Charts();
    for (TChart* chart : charts)
        while (chart->SeriesCount() > FBaseLines) chart->RemoveLastSeries();
    FLineRuns.assign(std::size_t(FBaseLines), -1);
    FLegend.clear();
    if (!FLesson) return;
    const tLesson& lesson = *FLesson;
    // Without a sensor the chart shows once points were typed into the table.
    if (!lesson.Sensor().Connects) {
        chMain->setVisible(lesson.RunCount() > 0);
        lbNoSensor->setVisible(lesson.RunCount() == 0);
    }
    const auto lineOf = [&](int i) { return std::clamp(lesson.Run(i).Line, 0, FBaseLines - 1); };
    for (int i = 0; i < lesson.RunCount(); ++i) FLineRuns[std::size_t(lineOf(i))] = i;
    // The newest run of each line on that line, as it was measured.
    for (int line = 0; line < FBaseLines; ++line) {
        const int run = FLineRuns[std::size_t(line)];
        for (TChart* chart : charts) {
            tFastLine* drawn = chart->Series(line);
            // A line without a run draws nothing: a run deleted, another experiment's, leaves no curve.
            const std::shared_ptr<tPointSeries> series =
                run >= 0 ? SeriesOf(chart, lesson.Run(run)) : std::shared_ptr<tPointSeries>();
            if (drawn->Series() != series && (run >= 0 || drawn->Count() > 0)) drawn->SetSeries(series);
            drawn->SetPointMarks(run >= 0 && lesson.Run(run).Period == 0);
            QPen pen = drawn->pen();
            pen.setColor(run >= 0 ? RunColour(lesson, run) : RunColour(line + 1));
            drawn->setPen(pen);
            drawn->setVisible(run < 0 || lesson.Run(run).Shown);
        }
    }
    // Every other shown run behind them, thinner.
    for (int i = 0; i < lesson.RunCount(); ++i) {
        if (FLineRuns[std::size_t(lineOf(i))] == i || !lesson.Run(i).Shown) continue;
        for (TChart* chart : charts) {
            const int line = chart->AddSeries(RunColour(lesson, i), true, 3);
            chart->Series(line)->SetSeries(SeriesOf(chart, lesson.Run(i)));
            chart->Series(line)->SetPointMarks(lesson.Run(i).Period == 0);
        }
        FLineRuns.push_back(i);
    }
    // The legend in the runs' order.
    for (int i = 0; i < lesson.RunCount(); ++i)
        if (lesson.Run(i).Shown && std::find(FLineRuns.begin(), FLineRuns.end(), i) != FLineRuns.end())
            FLegend.emplace_back(lesson.RunName(i), RunColour(lesson, i));
    if (FLegend.size() < 2) FLegend.clear();
    // The chosen run's line is the active one.
    const int chosen = lesson.Chosen();
    const auto found = std::find(FLineRuns.begin(), FLineRuns.end(), chosen);
    const int active =
        chosen >= 0 && found != FLineRuns.end() ? int(found - FLineRuns.begin()) : ActiveSeries;
    if (active != ActiveSeries && !MeasureRunning)
        for (TChart* chart : charts) chart->Marker = chart->SecondMarker = -1;
    ActiveSeries = std::min(active, chMain->SeriesCount() - 1);
    for (TChart* chart : charts) chart->replot();
}

void TfrExperiment::PointsAppended(int id, int from) {
    const int run = FLesson->RunIndex(id);
    if (run < 0 || std::find(FLineRuns.begin(), FLineRuns.end(), run) == FLineRuns.end()) return;
    const tExperiment& e = FLesson->Experiment();
    // Only the first point of a line moves the left axis, when the experiment places it.
    if (from == 0 && std::abs(e.YOffset) > 0.000001) {
        const auto [low, high] = e.PlacedRange(FLesson->Run(run).Points->Y(0));
        chMain->SetLeftRange(low, high);
    }
    FollowNewest(e.AutoSize);
    Redraw();
}

std::pair<double, double> TfrExperiment::AnalysisRegion(tAnalysisKind kind) const {
    const TChart* chart = chMain;
    const tFastLine* line = ActiveSeries < chart->SeriesCount() ? chart->Series(ActiveSeries) : nullptr;
    const auto markerX = [&](int index) {
        return line && index >= 0 && index < line->Count() ? line->X(index) : NAN;
    };
    if (KindInfo(kind).AtPoint) {
        if (!std::isfinite(markerX(chart->Marker)))
            throw Exception(
                QStringLiteral("Поставьте маркер на точку кривой (щелчок по графику): касательная "
                               "проводится в точке маркера."));
        return {markerX(chart->Marker), markerX(chart->Marker)};
    }
    if (Region) return *Region;
    if (std::isfinite(markerX(chart->Marker)) && std::isfinite(markerX(chart->SecondMarker)))
        return {markerX(chart->Marker), markerX(chart->SecondMarker)};
    return {chart->BottomRange().lower, chart->BottomRange().upper};
}

QRect TfrExperiment::LegendBox(const QRect& plotRect, const QFont& font, QPaintDevice* device) const {
    if (FLegend.empty()) return QRect();
    const QFontMetrics metrics(font, device);
    const int pad = metrics.height() / 3;
    int width = 0;
    for (const auto& [name, colour] : FLegend) width = std::max(width, metrics.horizontalAdvance(name));
    return QRect(plotRect.left() + pad * 2, plotRect.top() + pad * 2, width + metrics.height() * 2 + 3 * pad,
                 int(FLegend.size()) * metrics.lineSpacing() + 2 * pad);
}

QRect TfrExperiment::ResultsNoteBox(const QRect& plotRect, const QFont& font, QPaintDevice* device,
                                    QString* text) const {
    int shown = 0;
    const std::size_t drawn = FLesson ? FLesson->ResultsOnChart(&shown).size() : 0;
    if (int(drawn) >= shown) return QRect();
    const QString note = QStringLiteral("Результаты на графике: %1 из %2 (опыт %3)")
                             .arg(drawn)
                             .arg(shown)
                             .arg(FLesson->RunNumber(FLesson->Chosen()));
    if (text) *text = note;
    const QFontMetrics metrics(font, device);
    const int pad = metrics.height() / 3;
    const QSize size(metrics.horizontalAdvance(note) + 2 * pad, metrics.height() + pad);
    return QRect(QPoint(plotRect.left() + pad * 2, plotRect.bottom() - pad * 2 - size.height()), size);
}

void TfrExperiment::DrawLegend(QPainter& painter, const QRect& plotRect) const {
    if (FLegend.empty()) return;
    painter.save();
    const QFont font = ResultFont(painter.font());
    painter.setFont(font);
    const QFontMetrics metrics(font, painter.device());
    const int pad = metrics.height() / 3;
    const int swatch = metrics.height() * 2;
    const QRect box = LegendBox(plotRect, font, painter.device());
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    int y = box.top() + pad;
    for (const auto& [name, colour] : FLegend) {
        const int middle = y + metrics.lineSpacing() / 2;
        painter.setPen(QPen(colour, std::max(2, metrics.height() / 5)));
        painter.drawLine(box.left() + pad, middle, box.left() + pad + swatch, middle);
        painter.setPen(Qt::black);
        painter.drawText(box.left() + 2 * pad + swatch, y + metrics.ascent(), name);
        y += metrics.lineSpacing();
    }
    painter.restore();
}

void TfrExperiment::SetNotice(const QString& text) {
    // Only the countdown and the wait for the trigger: a run's time left stays in the status bar.
    const tLesson::tCollecting collecting = FLesson ? FLesson->Collecting() : tLesson::tCollecting::Idle;
    const bool shown =
        collecting == tLesson::tCollecting::Countdown || collecting == tLesson::tCollecting::Waiting;
    // While shown it is drawn again with every new value (the live signal under it moves on).
    if (!shown && FNotice.isEmpty()) return;
    FNotice = shown ? text : QString();
    chMain->replot();
}

void TfrExperiment::DrawNotice(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (FNotice.isEmpty() || chart->OffScreen()) return;
    painter.save();
    // While waiting for the trigger the signal is drawn live in grey, its newest point at the right end of
    // the time axis: nothing of it is recorded yet.
    const std::deque<double>& waiting = FLesson->Recording().Waiting();
    if (waiting.size() > 1) {
        const double period = double(FLesson->Experiment().Period()) / 1e6;
        const double right = chart->BottomRange().upper;
        const double last = double(waiting.size() - 1);
        QPolygonF trace;
        trace.reserve(qsizetype(waiting.size()));
        for (std::size_t k = 0; k < waiting.size(); ++k)
            trace << QPointF(chart->XToPixel(right - (last - double(k)) * period),
                             chart->yAxis->coordToPixel(waiting[k]));
        painter.save();
        painter.setClipRect(plotRect, Qt::IntersectClip);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(150, 150, 150), 2));
        painter.drawPolyline(trace);
        painter.restore();
    }
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSizeF(
        std::max(12.0, plotRect.height() / 30.0 * 72 / std::max(1, painter.device()->logicalDpiY())));
    painter.setFont(font);
    const QFontMetrics metrics(font, painter.device());
    const int pad = metrics.height() / 2;
    // Centred across the plot, a third of the way down, in lines no wider than the plot.
    const QRect room(plotRect.left() + pad, plotRect.top(), plotRect.width() - 2 * pad, plotRect.height());
    QRect text = metrics.boundingRect(room, Qt::AlignHCenter | Qt::TextWordWrap, FNotice);
    text.moveCenter(QPoint(plotRect.center().x(), plotRect.top() + plotRect.height() / 3));
    const QRect box = text.adjusted(-pad, -pad / 2, pad, pad / 2) & plotRect;
    painter.setPen(QPen(QColor(120, 120, 120), 1));
    painter.setBrush(QColor(255, 255, 240, 235));
    painter.drawRoundedRect(box, pad / 2.0, pad / 2.0);
    painter.setPen(QColor(40, 40, 40));
    painter.drawText(text, Qt::AlignHCenter | Qt::TextWordWrap, FNotice);
    painter.restore();
}

QString TfrExperiment::MarkerText(const QString& formatX, const QString& formatY, TChart* chart) const {
    if (ActiveSeries >= chart->SeriesCount()) return QString();
    tFastLine* line = chart->Series(ActiveSeries);
    const int count = line->Count();
    if (chart->Marker < 0 || chart->Marker >= count) return QString();
    const double x = line->X(chart->Marker);
    const double y = line->Y(chart->Marker);
    QString text = chart->LeftTitle() + u'=' + FormatFloat(formatY, y) + u'\t' + chart->BottomTitle() + u'=' +
                   FormatFloat(formatX, x);
    if (TwiceMarker && chart->SecondMarker >= 0 && chart->SecondMarker < count) {
        text += QStringLiteral("\td") + chart->BottomTitle() + u'=' +
                FormatFloat(formatX, x - line->X(chart->SecondMarker));
        // The difference of the values too, as every data-logging program shows it.
        text += QStringLiteral("\td") + chart->LeftTitle() + u'=' +
                FormatFloat(formatY, y - line->Y(chart->SecondMarker));
    }
    return text;
}

QString TfrExperiment::GetMarkerText(const QString& formatX, const QString& formatY, TChart*) {
    return MarkerText(formatX, formatY, chMain);
}

QString TfrExperiment::GetValueText(const QString& formatY) {
    tFastLine* line = chMain->Series(ActiveSeries);
    return chMain->LeftTitle() + QStringLiteral(" = ") + FormatFloat(formatY, line->Y(line->Count() - 1));
}

void TfrExperiment::BeginChart(TChart* chart) {
    chart->AllowPanZoom(false, false);
    Region.reset();
    chart->Marker = -1;
    chart->SecondMarker = -1;
}

int TfrExperiment::BeginMeasurement(const tExperiment& experiment) {
    SetAxes(experiment);
    BeginChart(chMain);
    int chosen = -1;
    for (int i = 0; i < FBaseLines && chosen < 0; ++i)
        if (chMain->Series(i)->Count() == 0) chosen = i;
    // With every line filled, measurements alternate between the lines.
    if (chosen < 0)
        chosen = FMeasuredLine > 0 || (FMeasuredLine < 0 && ActiveSeries != 0) ? 0 : FBaseLines - 1;
    FMeasuredLine = chosen;
    chMain->Series(chosen)->Clear();
    ActiveSeries = chosen;
    MeasureRunning = true;
    chMain->Redraw();
    return chosen;
}

void TfrExperiment::EndMeasurement() {
    chMain->AllowPanZoom(true, true);
    MeasureRunning = false;
    chMain->replot();
}

void TfrExperiment::FollowNewest(bool autoSize) {
    tFastLine* line = chMain->Series(ActiveSeries);
    if (line->Count() == 0) return;
    const double x = line->X(line->Count() - 1);
    const QCPRange range = chMain->BottomRange();
    // Half the axis, rounded to whole pixels so that the line's picture can move instead of being redrawn.
    const int pixels = chMain->axisRect()->width();
    const double half = (range.upper - range.lower) * (pixels > 1 ? double(pixels / 2) / pixels : 0.5);
    if (x > range.upper) {
        if (autoSize)
            chMain->SetBottomRange(range.lower, range.upper + half);
        else
            chMain->SetBottomRange(range.lower + half, range.upper + half);
    }
}

void TfrExperiment::SetAxes(const tExperiment& experiment) {
    chMain->SetBottomAxis(experiment.MinX, experiment.MaxX, experiment.IncX, experiment.CaptionX);
    chMain->SetLeftAxis(experiment.MinY, experiment.MaxY, experiment.IncY, experiment.CaptionY);
}

void TfrExperiment::Redraw() {
    chMain->Redraw();
}

std::optional<QString> TfrExperiment::AskPointLabel() {
    QString text;
    if (!Prompts().InputQuery(this, LoadStr(sCaptionInput), QStringLiteral("Введите метку точки:"), text))
        return std::nullopt;
    return text;
}

void TfrExperiment::ShowAll(const tExperiment& experiment) {
    double minX = experiment.MinX;
    double maxX = experiment.MaxX;
    double minY = experiment.MinY;
    double maxY = experiment.MaxY;
    for (int i = 0; i < chMain->SeriesCount(); ++i) {
        const tFastLine* line = chMain->Series(i);
        if (line->Count() == 0 || !line->visible()) continue;
        minX = std::min(minX, line->X(0));
        maxX = std::max(maxX, line->X(line->Count() - 1));
        double low = 0;
        double high = 0;
        line->Series()->MinMax(0, line->Count(), low, high);
        minY = std::min(minY, low);
        maxY = std::max(maxY, high);
    }
    chMain->SetBottomRange(minX, maxX);
    chMain->SetLeftRange(minY, maxY);
    for (TChart* chart : Charts()) {
        if (chart != chMain) chart->SetBottomRange(minX, maxX);
        chart->replot();
    }
}

void TfrExperiment::ShowPage(tPage page) {
    pcMain->setCurrentIndex(int(page));
}

void TfrExperiment::LoadOrFallback(TRichEdit* edit, const QString& fileName, const QString& fallback) {
    try {
        edit->LoadFromFile(fileName);
    } catch (...) {
        // Unreadable, too large, or more than the memory holds: the fallback text is shown instead.
        edit->ShowPlaceholder(fallback);
    }
}

void TfrExperiment::SetUp(const tExperiment& experiment, const QTextDocument* description) {
    Region.reset();
    while (chMain->SeriesCount() > std::max(1, experiment.SeriesCount)) chMain->RemoveLastSeries();
    FBaseLines = chMain->SeriesCount();
    FMeasuredLine = -1;
    FLineRuns.assign(std::size_t(FBaseLines), -1);
    FLegend.clear();
    const bool noSensor = !DescribeSensor(experiment.SensorName).Connects;
    chMain->setVisible(!noSensor);
    lbNoSensor->setVisible(noSensor);
    SetAxes(experiment);
    // The description and report tabs stay visible: the report is written on its page, and export, print and
    // pictures act on the page shown (tab index 1 the description, 2 the report).
    if (description) {
        QTextDocument* copy = description->clone(reDescr);
        reDescr->setDocument(copy);
    } else {
        LoadOrFallback(reDescr, experiment.Path + QStringLiteral("descr.rtf"), LoadStr(sNoDescription));
    }
    LoadOrFallback(reReport, experiment.Path + QStringLiteral("report.rtf"), LoadStr(sNoReportTemplate));
    pcMain->setCurrentIndex(0);
    ActiveSeries = 0;
}
