// The experiment frame: pages, the chart's lines and axes, markers and their text, following the newest
// point.
#include "ui/Experimentfr.h"

#include <QTextDocument>

#include "core/AppMessages.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "experiment/Experiment.h"
#include "runs/Runs.h"
#include "ui/TablePage.h"
#include "widgets/Chart.h"
#include "widgets/NumberFormat.h"
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
    lbNoSensor = new QLabel(QStringLiteral("Эксперимент проводится без датчика."));
    lbNoSensor->setAlignment(Qt::AlignCenter);
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
    chart->OnMouseUp = [this, chart](Qt::MouseButton button, const QPoint& position, bool ctrl) {
        PlaceMarker(chart, button, position, ctrl);
    };
    chart->OnAfterDraw = [this, chart](QPainter& painter, const QRect& plotRect) {
        if (chart == chMain) {
            DrawRegion(chart, painter, plotRect);
            DrawLegend(chart, painter, plotRect);
            DrawResults(chart, painter, plotRect);
        }
        DrawMarkers(chart, painter, plotRect);
    };
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

void TfrExperiment::DrawResults(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (Results.empty() || plotRect.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setClipRect(plotRect);
    const QColor lineColour =
        ActiveSeries < chart->SeriesCount() ? chart->Series(ActiveSeries)->pen().color() : QColor(Qt::red);
    // A fitted curve, dashed in the line's colour, over its region.
    for (const tAnalysisResult& r : Results) {
        if (r.Kind != tAnalysisKind::Fit || !r.Ok) continue;
        const std::vector<double> params(r.Values.begin(), r.Values.begin() + FitParamCount(r.Model));
        QPainterPath path;
        constexpr int kSteps = 400;
        bool open = false;
        for (int i = 0; i <= kSteps; ++i) {
            const double x = r.From + (r.To - r.From) * i / kSteps;
            const double y = FitValue(r.Model, params, x);
            if (!std::isfinite(y)) {
                open = false;
                continue;
            }
            const QPointF at(chart->XToPixel(x), chart->yAxis->coordToPixel(y));
            if (open)
                path.lineTo(at);
            else
                path.moveTo(at);
            open = true;
        }
        QPen pen(lineColour.darker(160), 2.5, Qt::DashLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    // A tangent: a dashed segment through its point, a fifth of the axis long.
    for (const tAnalysisResult& r : Results) {
        if (r.Kind != tAnalysisKind::Slope || !r.Ok || r.Values.size() < 3) continue;
        const double half = chart->BottomRange().size() / 10;
        const auto at = [&](double x) {
            return QPointF(chart->XToPixel(x),
                           chart->yAxis->coordToPixel(r.Values[2] + r.Values[0] * (x - r.Values[1])));
        };
        painter.setPen(QPen(lineColour.darker(160), 2.5, Qt::DashLine));
        painter.drawLine(at(r.Values[1] - half), at(r.Values[1] + half));
    }
    // The boxes, each where it was put, kept inside the plotting area.
    const QFont font = ResultFont(painter.font());
    const QFontMetrics metrics(font, painter.device());
    const std::vector<QRect> boxes = ResultBoxes(chart, plotRect, font, painter.device());
    for (std::size_t k = 0; k < Results.size(); ++k) {
        const QStringList lines = ResultLines(Results[k], chart->BottomTitle(), QuantityOf(Results[k]));
        const QRect& box = boxes[k];
        const int pad = metrics.height() / 3;
        painter.setPen(QPen(QColor(90, 90, 90), 1));
        painter.setBrush(QColor(255, 255, 240, 235));
        painter.drawRect(box);
        painter.setPen(Qt::black);
        int y = box.top() + pad + metrics.ascent();
        for (int i = 0; i < lines.size(); ++i) {
            QFont lineFont = font;
            lineFont.setBold(i == 0);
            painter.setFont(lineFont);
            painter.drawText(box.left() + pad, y, lines[i]);
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

std::vector<QRect> TfrExperiment::ResultBoxes(TChart* chart, const QRect& plotRect, const QFont& font,
                                              QPaintDevice* device) const {
    const QFontMetrics metrics(font, device);
    QFont boldFont = font;
    boldFont.setBold(true);
    const QFontMetrics bold(boldFont, device);
    std::vector<QRect> drawn;
    for (const tAnalysisResult& r : Results) {
        const QStringList lines = ResultLines(r, chart->BottomTitle(), QuantityOf(r));
        const int pad = metrics.height() / 3;
        // The bold title with the close mark beside it, and the lines below.
        int width = lines.isEmpty() ? 0 : bold.horizontalAdvance(lines[0]) + pad + metrics.height();
        for (int i = 1; i < lines.size(); ++i) width = std::max(width, metrics.horizontalAdvance(lines[i]));
        QRect box(0, 0, width + 3 * pad, int(lines.size()) * metrics.lineSpacing() + 2 * pad);
        box.moveTopLeft(plotRect.topLeft() +
                        QPoint(int(r.Box.x() * plotRect.width()), int(r.Box.y() * plotRect.height())));
        if (box.right() > plotRect.right()) box.moveRight(plotRect.right() - 2);
        if (box.bottom() > plotRect.bottom()) box.moveBottom(plotRect.bottom() - 2);
        box.moveLeft(std::max(box.left(), plotRect.left() + 2));
        box.moveTop(std::max(box.top(), plotRect.top() + 2));
        // Below the boxes drawn before it that it would cover.
        for (bool moved = true; moved;) {
            moved = false;
            for (const QRect& other : drawn)
                if (box.intersects(other)) {
                    box.moveTop(other.bottom() + 4);
                    moved = true;
                }
        }
        drawn.push_back(box);
    }
    return drawn;
}

QFont TfrExperiment::ResultFont(QFont base) {
    base.setPointSizeF(9);
    return base;
}

QFontMetrics TfrExperiment::ScreenResultMetrics() const {
    return QFontMetrics(ResultFont(chMain->font()), chMain);
}

std::vector<QRect> TfrExperiment::ScreenResultBoxes() const {
    return ResultBoxes(chMain, chMain->PlotRect(), ResultFont(chMain->font()), chMain);
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
    if (Results.empty()) return false;
    const QFontMetrics metrics = ScreenResultMetrics();
    const QRect plotRect = chMain->PlotRect();
    if (type == QEvent::MouseButtonPress) {
        const std::vector<QRect> boxes = ScreenResultBoxes();
        // The box drawn last is on top.
        for (int k = int(boxes.size()) - 1; k >= 0; --k) {
            if (!boxes[std::size_t(k)].contains(position)) continue;
            if (CloseMark(boxes[std::size_t(k)], metrics).contains(position)) {
                Results.erase(Results.begin() + k);
                chMain->replot();
                if (OnResultsChanged) OnResultsChanged();
                FDragged = -1;
                return true;
            }
            FDragged = k;
            FDragOffset = position - boxes[std::size_t(k)].topLeft();
            return true;
        }
        return false;
    }
    if (FDragged < 0 || FDragged >= int(Results.size()) || plotRect.isEmpty()) return false;
    const QPoint topLeft = position - FDragOffset - plotRect.topLeft();
    Results[std::size_t(FDragged)].Box =
        QPointF(std::clamp(double(topLeft.x()) / plotRect.width(), 0.0, 1.0),
                std::clamp(double(topLeft.y()) / plotRect.height(), 0.0, 1.0));
    chMain->replot();
    if (type == QEvent::MouseButtonRelease) {
        FDragged = -1;
        if (OnResultsChanged) OnResultsChanged();
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

namespace {

// The colours of runs drawn behind the newest, by their numbers; none is the experiment's own red or blue.
QColor BehindColour(int number) {
    static const QColor colours[] = {QColor(0, 150, 0),   QColor(230, 120, 0), QColor(140, 0, 170),
                                     QColor(0, 150, 150), QColor(140, 80, 20), QColor(220, 0, 150),
                                     QColor(110, 110, 0), QColor(90, 90, 90)};
    return colours[std::size_t(std::max(0, number)) % std::size(colours)];
}

} // namespace

void TfrExperiment::ShowRuns(const tRunStore& runs) {
    while (chMain->SeriesCount() > FBaseLines) chMain->RemoveLastSeries();
    LineRuns.assign(std::size_t(FBaseLines), -1);
    const auto lineOf = [&](int i) { return std::clamp(runs.Run(i).Line, 0, FBaseLines - 1); };
    for (int i = 0; i < runs.Count(); ++i) LineRuns[std::size_t(lineOf(i))] = i;
    for (int line = 0; line < FBaseLines; ++line) {
        tFastLine* drawn = chMain->Series(line);
        const int run = LineRuns[std::size_t(line)];
        if (run >= 0 && drawn->Series() != runs.Run(run).Points) drawn->SetSeries(runs.Run(run).Points);
        drawn->setVisible(run < 0 || runs.Run(run).Shown);
    }
    for (int i = 0; i < runs.Count(); ++i) {
        const tRun& run = runs.Run(i);
        if (LineRuns[std::size_t(lineOf(i))] == i || !run.Shown) continue;
        const QColor colour = BehindColour(run.Number > 0 ? run.Number - 1 : i);
        const int line = chMain->AddSeries(colour, true, 3);
        chMain->Series(line)->SetSeries(run.Points);
        LineRuns.push_back(i);
    }
    // The legend in the runs' order.
    Legend.clear();
    for (int i = 0; i < runs.Count(); ++i) {
        const auto line = std::find(LineRuns.begin(), LineRuns.end(), i);
        if (line != LineRuns.end() && chMain->Series(int(line - LineRuns.begin()))->visible())
            Legend.emplace_back(runs.Name(i), chMain->Series(int(line - LineRuns.begin()))->pen().color());
    }
    if (Legend.size() < 2) Legend.clear();
    // The chosen run's line is the active one.
    const int chosen = runs.Chosen();
    const auto found = std::find(LineRuns.begin(), LineRuns.end(), chosen);
    const int active = chosen >= 0 && found != LineRuns.end() ? int(found - LineRuns.begin()) : ActiveSeries;
    if (active != ActiveSeries && !MeasureRunning) {
        chMain->Marker = -1;
        chMain->SecondMarker = -1;
    }
    ActiveSeries = std::min(active, chMain->SeriesCount() - 1);
    chMain->replot();
}

const tFastLine* TfrExperiment::AnalysedLine(tAnalysisKind, QString& quantity) const {
    quantity.clear();
    return chMain->Series(std::min(ActiveSeries, chMain->SeriesCount() - 1));
}

QString TfrExperiment::QuantityOf(const tAnalysisResult& result) const {
    return result.Quantity.isEmpty() ? chMain->LeftTitle() : result.Quantity;
}

QColor TfrExperiment::RunColour(int run) const {
    const auto found = std::find(LineRuns.begin(), LineRuns.end(), run);
    return found == LineRuns.end() ? QColor(Qt::gray)
                                   : chMain->Series(int(found - LineRuns.begin()))->pen().color();
}

void TfrExperiment::DrawLegend(TChart* chart, QPainter& painter, const QRect& plotRect) const {
    if (Legend.empty()) return;
    painter.save();
    QFont font = ResultFont(painter.font());
    painter.setFont(font);
    const QFontMetrics metrics(font, painter.device());
    const int pad = metrics.height() / 3;
    const int swatch = metrics.height() * 2;
    int width = 0;
    for (const auto& [name, colour] : Legend) width = std::max(width, metrics.horizontalAdvance(name));
    const QRect box(plotRect.left() + pad * 2, plotRect.top() + pad * 2, width + swatch + 3 * pad,
                    int(Legend.size()) * metrics.lineSpacing() + 2 * pad);
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    int y = box.top() + pad;
    for (const auto& [name, colour] : Legend) {
        const int middle = y + metrics.lineSpacing() / 2;
        painter.setPen(QPen(colour, std::max(2, metrics.height() / 5)));
        painter.drawLine(box.left() + pad, middle, box.left() + pad + swatch, middle);
        painter.setPen(Qt::black);
        painter.drawText(box.left() + 2 * pad + swatch, y + metrics.ascent(), name);
        y += metrics.lineSpacing();
    }
    painter.restore();
    (void)chart;
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
    PointLabel.clear();
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

void TfrExperiment::AskPointLabel() {
    QString text;
    if (Prompts().InputQuery(this, LoadStr(sCaptionInput), QStringLiteral("Введите метку точки:"), text))
        PointLabel = text;
}

void TfrExperiment::ShowAll(const tExperiment& experiment) {
    double minX = experiment.MinX;
    double maxX = experiment.MaxX;
    double minY = experiment.MinY;
    double maxY = experiment.MaxY;
    for (int i = 0; i < chMain->SeriesCount(); ++i) {
        const tFastLine* line = chMain->Series(i);
        if (line->Count() == 0) continue;
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

QString TfrExperiment::TakePointLabel() {
    QString label = PointLabel;
    PointLabel.clear();
    return label;
}

void TfrExperiment::LoadOrFallback(TRichEdit* edit, const QString& fileName, const QString& fallback) {
    try {
        edit->LoadFromFile(fileName);
    } catch (...) {
        // Unreadable, too large, or more than the memory holds: the fallback text is shown instead.
        edit->clear();
        edit->SetParagraphAlignment(Qt::AlignHCenter);
        edit->SetBold(true);
        for (int i = 0; i < 3; ++i) edit->AddLine(QStringLiteral(" "));
        edit->AddLine(fallback);
    }
}

void TfrExperiment::SetUp(const tExperiment& experiment, const QTextDocument* description) {
    Region.reset();
    while (chMain->SeriesCount() > std::max(1, experiment.SeriesCount)) chMain->RemoveLastSeries();
    FBaseLines = chMain->SeriesCount();
    FMeasuredLine = -1;
    LineRuns.assign(std::size_t(FBaseLines), -1);
    Legend.clear();
    const bool noSensor = IsNoSensor(experiment.SensorName);
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
