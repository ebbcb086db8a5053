// TfrExperiment: the panel of an open experiment: the chart with markers and point labels, description,
// report.
#pragma once

#include "analysis/Results.h"

#include <QEvent>
#include <QFontMetrics>
#include <QRect>
#include <QTabWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QImage;
class QLabel;
class QTabWidget;
class TChart;
class tFastLine;
class QTextDocument;
class TRichEdit;
class TTablePage;
class tExperiment;
class tRunStore;

class TfrExperiment : public QWidget {
    Q_OBJECT
public:
    TfrExperiment(QWidget* owner, bool twiceMarker);

    // The five operations the main window drives, in their order.
    virtual QString GetMarkerText(const QString& formatX, const QString& formatY, TChart* chart);
    virtual QString GetValueText(const QString& formatY);
    virtual int BeginMeasurement(const tExperiment& experiment);
    virtual void EndMeasurement();
    virtual void FollowNewest(bool autoSize);

    // The point-label box; the label goes to the next point added.
    void AskPointLabel();
    QString TakePointLabel();
    // The index of the point of `line` nearest to v by X; on equal distance the lower index.
    static int NearestPoint(const tFastLine& line, double v);

    // The runs drawn: the newest run of each of the experiment's lines on that line, as measured; every other
    // shown run on a line of its own behind them, lighter; the chosen run's line active (markers start anew
    // when it changes). A legend names the runs when more than one is drawn.
    void ShowRuns(const tRunStore& runs);
    // The colour run i is drawn in (after ShowRuns).
    QColor RunColour(int run) const;
    // For every line of the main chart, the run it draws (-1: none).
    std::vector<int> LineRuns;
    // The names the legend shows, with their colours.
    std::vector<std::pair<QString, QColor>> Legend;

    // Set-up for an experiment: lines beyond `seriesCount` removed, the chart hidden without a sensor, the
    // description and report loaded or their fallbacks shown, the chart page current.
    // `description`: the description already read for the chooser, taken instead of reading the file again.
    void SetUp(const tExperiment& experiment, const QTextDocument* description = nullptr);
    // The charts' axes as the experiment sets them.
    virtual void SetAxes(const tExperiment& experiment);
    // Draws the charts again after new points (only the new points when the axes stayed).
    virtual void Redraw();
    // «Показать всё»: the experiment's axes again, widened to the whole of every run drawn.
    void ShowAll(const tExperiment& experiment);

    // The charts of the chart page, top to bottom, as they are printed and exported.
    virtual std::vector<TChart*> Charts() const { return {chMain}; }
    // The chart page as the screen shows it: the charts one above the other.
    QImage ChartImage() const;
    // «Копировать график» (Ctrl+C on the chart page): the chart page's picture to the clipboard, for a
    // document.
    QAction* acCopyChart = nullptr;
    // The pages, in their order; the commands of the File menu act on the current one.
    enum class tPage { Chart, Table, Description, Report };
    tPage CurrentPage() const { return tPage(pcMain->currentIndex()); }
    void ShowPage(tPage page);

    QTabWidget* pcMain = nullptr;
    QWidget* tsChart = nullptr;
    QWidget* tsTable = nullptr;
    TTablePage* tvTable = nullptr;
    QWidget* tsDescr = nullptr;
    QWidget* tsReport = nullptr;
    QLabel* lbNoSensor = nullptr;
    TChart* chMain = nullptr;
    TRichEdit* reDescr = nullptr;
    TRichEdit* reReport = nullptr;

    // The analysis results shown on the main chart: boxes, and fitted curves dashed over their regions.
    std::vector<tAnalysisResult> Results;
    // The region swept with Shift and the mouse (x from, to); analysis takes it before the markers. A click
    // without Shift, a new run or another experiment forgets it.
    std::optional<std::pair<double, double>> Region;
    // The line whose values an analysis of `kind` takes over the region, and its quantity when that is not
    // the main chart's («Частота, уд/мин»); the active line of the main chart unless a frame has a better
    // one.
    virtual const tFastLine* AnalysedLine(tAnalysisKind kind, QString& quantity) const;
    // The quantity a result is of: its own, else the main chart's.
    QString QuantityOf(const tAnalysisResult& result) const;
    // A box was moved or closed on the chart.
    std::function<void()> OnResultsChanged;
    // Where the boxes stand in `plotRect` for text in `font` on `device`, in the results' order, none
    // covering another.
    std::vector<QRect> ResultBoxes(TChart* chart, const QRect& plotRect, const QFont& font,
                                   QPaintDevice* device) const;
    // The same on the screen.
    std::vector<QRect> ScreenResultBoxes() const;
    // The boxes' text: the chart's own font, smaller; its measures on the screen.
    static QFont ResultFont(QFont base);
    QFontMetrics ScreenResultMetrics() const;
    // The close mark in the corner of a box on the screen.
    static QRect CloseMark(const QRect& box, const QFontMetrics& metrics);

    QString PointLabel;
    bool MeasureRunning = false;
    bool TwiceMarker = false;
    int ActiveSeries = 0;

protected:
    // The chart area of the chart page; the pulse frame puts a second chart below it.
    QWidget* ChartArea() const { return FChartArea; }
    // Marker placement and drawing on a chart of this frame.
    void AttachMarkers(TChart* chart);
    QString MarkerText(const QString& formatX, const QString& formatY, TChart* chart) const;
    void BeginChart(TChart* chart);
    static void LoadOrFallback(TRichEdit* edit, const QString& fileName, const QString& fallback);

private:
    void PlaceMarker(TChart* chart, Qt::MouseButton button, const QPoint& position, bool ctrl);
    void DrawMarkers(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    void DrawResults(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    // Boxes dragged and closed with the mouse; a region swept with Shift.
    bool GrabResult(QEvent::Type type, const QPoint& position, Qt::KeyboardModifiers modifiers);
    void DrawRegion(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    void DrawLegend(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    int FBaseLines = 1;
    int FMeasuredLine = -1;
    int FDragged = -1;
    bool FSweeping = false;
    double FSweepFrom = 0;
    QPoint FDragOffset;

    QWidget* FChartArea = nullptr;
};
