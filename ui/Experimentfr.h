// TfrExperiment: the panel of an open experiment: the chart with markers and point labels, description,
// report. With a lesson it draws the lesson's runs and results and keeps nothing of them itself.
#pragma once

#include <QEvent>
#include <QFontMetrics>
#include <QPointF>
#include <QRect>
#include <QTabWidget>
#include <QWidget>
#include <memory>
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
class tLesson;
class tPointSeries;
struct tRun;
enum class tAnalysisKind;

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

    // The point-label box: the label typed, none when it was cancelled.
    std::optional<QString> AskPointLabel();
    // The index of the point of `line` nearest to v by X; on equal distance the lower index.
    static int NearestPoint(const tFastLine& line, double v);

    // The lesson whose runs and results the frame draws (none: the lines show what is added to them). The
    // newest run of each of the experiment's lines is drawn on that line, as measured; every other shown run
    // on a line of its own behind them; each in the run's own colour, the chosen run's line active (markers
    // start anew when it changes). A legend names the runs when more than one is drawn. A run's new points
    // are drawn as the lesson announces them, the chart following the newest; nothing the lesson removed
    // stays on the chart.
    void SetLesson(tLesson* lesson);
    tLesson* Lesson() const { return FLesson; }
    // The names the legend shows, with their colours.
    const std::vector<std::pair<QString, QColor>>& Legend() const { return FLegend; }
    // The collection's notice, shown large over the chart on the screen while the lesson counts down to Пуск
    // or waits for the trigger.
    void SetNotice(const QString& text);
    const QString& Notice() const { return FNotice; }

    // Set-up for an experiment: lines beyond `seriesCount` removed, the chart hidden without a sensor, the
    // description and report loaded or their fallbacks shown, the chart page current.
    // `description`: the description already read for the chooser, taken instead of reading the file again.
    void SetUp(const tExperiment& experiment, const QTextDocument* description = nullptr);
    // The charts' axes as the experiment sets them.
    virtual void SetAxes(const tExperiment& experiment);
    // Draws the charts again after new points (only the new points when the axes stayed).
    virtual void Redraw();
    // «Показать всё»: the experiment's axes again, widened to the whole of every run shown.
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

    // The region swept with Shift and the mouse (x from, to); analysis takes it before the markers. A click
    // without Shift, a new run or another experiment forgets it.
    std::optional<std::pair<double, double>> Region;
    // Where an analysis of the chosen run is taken: the region swept, else between the two markers, else the
    // part of the chart shown; at the marker for a kind taken at a point (raises when there is no marker).
    std::pair<double, double> AnalysisRegion(tAnalysisKind kind) const;

    // The result boxes drawn in `plotRect` on `device`: the lesson's result each shows and where, none
    // covering another while there is room. Their text is in `font`, made smaller (to a floor) when the boxes
    // would not stand apart otherwise: `font` gives the size to begin with and takes the one used.
    struct tResultBox {
        int Result;
        QRect Rect;
    };
    std::vector<tResultBox> ResultBoxes(TChart* chart, const QRect& plotRect, QFont& font,
                                        QPaintDevice* device) const;
    // The same on the screen, and their font there. They stay where they were placed while the chart's plot,
    // the boxes' texts and the places asked of them stay the same (the curves drawn meanwhile move no box).
    std::vector<tResultBox> ScreenResultBoxes(QFont* font = nullptr) const;
    // The same as ResultBoxes on the screen, placed anew.
    std::vector<tResultBox> PlacedResultBoxes(QFont* font = nullptr) const;
    // The lines of result i's box: its run named when more than one run is shown.
    QStringList ResultText(int i) const;
    // The boxes' text: the chart's own font, smaller; its measures on the screen.
    static QFont ResultFont(QFont base);
    // The pixels of the lines drawn on `chart`, which result boxes keep clear of where they can.
    static std::vector<QPoint> CurvePixels(const TChart* chart);
    QFontMetrics ScreenResultMetrics() const;
    // The close mark in the corner of a box on the screen.
    static QRect CloseMark(const QRect& box, const QFontMetrics& metrics);

    bool MeasureRunning = false;
    bool TwiceMarker = false;
    int ActiveSeries = 0;

protected:
    // The chart area of the chart page; the pulse frame puts a second chart below it.
    QWidget* ChartArea() const { return FChartArea; }
    // What `chart` draws of a run: the main chart its points; the pulse frame's rate chart its beat rate.
    virtual std::shared_ptr<tPointSeries> SeriesOf(TChart* chart, const tRun& run) const;
    // Marker placement and drawing on a chart of this frame.
    void AttachMarkers(TChart* chart);
    // What the overlay of `chart` draws that stands still when its time axis moves on: the legend, the result
    // boxes, the notice.
    QRegion FixedOverlay(TChart* chart) const;
    QString MarkerText(const QString& formatX, const QString& formatY, TChart* chart) const;
    void BeginChart(TChart* chart);
    static void LoadOrFallback(TRichEdit* edit, const QString& fileName, const QString& fallback);

private:
    // The lines drawn anew from the lesson's runs.
    void ShowRuns();
    // Points [from, to) came to the run `id`: the first of a line may place the left axis; the time axis
    // follows the newest; only what they changed is drawn.
    void PointsAppended(int id, int from);
    void PlaceMarker(TChart* chart, Qt::MouseButton button, const QPoint& position, bool ctrl);
    void DrawMarkers(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    void DrawResults(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    // Boxes dragged and closed with the mouse; a region swept with Shift.
    bool GrabResult(QEvent::Type type, const QPoint& position, Qt::KeyboardModifiers modifiers);
    void DrawRegion(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    // The legend's box, where it is drawn (empty without a legend).
    QRect LegendBox(const QRect& plotRect, const QFont& font, QPaintDevice* device) const;
    // Where the chart says that it draws only some of the results, at the plot's foot, and what it says
    // (empty when it draws them all).
    QRect ResultsNoteBox(const QRect& plotRect, const QFont& font, QPaintDevice* device, QString* text) const;
    void DrawLegend(QPainter& painter, const QRect& plotRect) const;
    void DrawNotice(TChart* chart, QPainter& painter, const QRect& plotRect) const;
    int FBaseLines = 1;
    int FMeasuredLine = -1;
    tLesson* FLesson = nullptr;
    // For every line of the charts, the run it draws (-1: none).
    std::vector<int> FLineRuns;
    std::vector<std::pair<QString, QColor>> FLegend;
    QString FNotice;
    // The screen's result boxes as last placed, and what they were placed for.
    struct tBoxPlacement {
        QString Key;
        QFont Font;
        std::vector<tResultBox> Boxes;
    };
    mutable std::optional<tBoxPlacement> FPlacement;
    // A box being dragged: its result and where it stands meanwhile.
    int FDragged = -1;
    QPointF FDragBox;
    bool FSweeping = false;
    double FSweepFrom = 0;
    QPoint FDragOffset;

    QWidget* FChartArea = nullptr;
};
