// Number patterns, the experiment frame (lines, markers, labels, following) and the pulse frame's beat rates.
#include "core/Functions.h"
#include "core/LocaleFormats.h"
#include "core/NumberFormat.h"
#include "experiment/Experiment.h"
#include "support/MessageCollector.h"
#include "support/PaintSpy.h"
#include "support/QtPrint.h"
#include "support/RecordingPrompts.h"
#include "ui/Pulsefr.h"
#include "widgets/BoxPlacement.h"
#include "widgets/Chart.h"
#include "widgets/ReadingsPanel.h"
#include "widgets/StatusPanel.h"
#include "widgets/ValueLabel.h"

#include "widgets/QrCode.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolBar>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <tuple>

TEST(NumberFormat, PatternsOnBothSeparators) {
    const struct {
        const char* pattern;
        double value;
        const char* point;
        const char* comma;
    } rows[] = {
        {"0.00", 12.4, "12.40", "12,40"},
        {"0.0", 21.5, "21.5", "21,5"},
        {"0.0", 21.54, "21.5", "21,5"},
        {"0.0", 21.55, "21.6", "21,6"},
        {"#0.#", 3.0, "3", "3"},
        {"#0.#", 3.25, "3.3", "3,3"},
        {"#.##", 0.5, ".5", ",5"},
        {"0", 2.5, "3", "3"},
        {"0", -2.5, "-3", "-3"},
        {"000", 7, "007", "007"},
        {"0.000", -0.0004, "0.000", "0,000"},
        {"0.0;(0.0)", -1.25, "(1.3)", "(1,3)"},
        {"0.0;-0.0;ноль", 0, "ноль", "ноль"},
        {"0.00E+00", 12345, "1.23E+04", "1,23E+04"},
        {"0.0E-0", 0.00012, "1.2E-4", "1,2E-4"},
        {"\"T=\"0.0\" °C\"", 20, "T=20.0 °C", "T=20,0 °C"},
        {"", 3.1, "3.1", "3,1"},
        {"", 1.0 / 3, "0.333333333333333", "0,333333333333333"},
        {"", 1e20, "1E20", "1E20"},
        {"", -2.5e-7, "-2.5E-7", "-2,5E-7"},
        {"", 100, "100", "100"},
    };
    for (const char16_t separator : {u'.', u','}) {
        SetSystemDecimalSeparator(QChar(separator));
        for (const auto& row : rows)
            EXPECT_EQ(FormatFloat(QString::fromUtf8(row.pattern), row.value),
                      QString::fromUtf8(separator == u'.' ? row.point : row.comma))
                << row.pattern << " " << row.value;
    }
    SetSystemDecimalSeparator(u'.');
    EXPECT_EQ(
        FormatFloat(QStringLiteral("#,##0.0"), 1234567.891).remove(QChar(0xA0)).remove(u',').remove(u' '),
        QStringLiteral("1234567.9"));
    ResetSystemDecimalSeparator();
}

// Rows as spreadsheets copy them: every dialect read, every cell checked, the reason names the row.
TEST(NumberFormat, PastedRowsAreReadOrRefusedWithTheRow) {
    const struct {
        const char* text;
        const char* rows;   // "x:y x:y", or nullptr: refused
        const char* reason; // the start of the reason when refused
    } rows[] = {
        {"1\t2\n3,5\t-4\n", "1:2 3.5:-4", ""},
        {"t, с\tT, °C\r\n0\t21,5\r\n", "0:21.5", ""},
        {"0;1\r\n\r\n2;3;;\r\n", "0:1 2:3", ""},
        {"0 1\n2   3\n", "0:1 2:3", ""},
        {"0.5\t1e3\n", "0.5:1000", ""},
        {"1\t2\nx\ty\n", nullptr, "Строка 2: «x» — не число"},
        {"1\t2\t3\n", nullptr, "Строка 1: нужны два числа"},
        {"1\n", nullptr, "Строка 1: нужны два числа"},
        {"1\tinf\n", nullptr, "Строка 1: «inf» — не число"},
        {"", nullptr, "В буфере обмена нет строк с числами."},
        {"x\ty\n", nullptr, "В буфере обмена нет строк с числами."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        QString reason;
        const auto read = ParsePastedRows(QString::fromUtf8(row.text), &reason);
        if (!row.rows) {
            EXPECT_FALSE(read);
            EXPECT_TRUE(reason.startsWith(QString::fromUtf8(row.reason))) << reason.toStdString();
            continue;
        }
        ASSERT_TRUE(read) << reason.toStdString();
        QStringList got;
        for (const auto& [x, y] : *read) got << QString::number(x) + u':' + QString::number(y);
        EXPECT_EQ(got.join(u' '), QString::fromUtf8(row.rows));
    }
}

namespace {

tExperiment MakeExperiment(const QString& sensor = QStringLiteral("T101")) {
    tExperiment e;
    e.SetDefaults();
    e.SensorName = sensor;
    e.MinX = 0;
    e.MaxX = 10;
    e.IncX = 1;
    e.CaptionX = QStringLiteral("t");
    e.CaptionY = QStringLiteral("T");
    e.SeriesCount = 2;
    return e;
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemDecimalSeparator(u'.');
        frame.resize(800, 600);
        frame.chMain->resize(800, 500);
        frame.chMain->replot();
    }
    void TearDown() override { ResetSystemDecimalSeparator(); }
    void Click(TChart* chart, double x, bool ctrl = false, Qt::MouseButton button = Qt::LeftButton) {
        chart->OnMouseUp(button, QPoint(int(std::lround(chart->XToPixel(x))), chart->PlotRect().center().y()),
                         ctrl);
    }
    TfrExperiment frame{nullptr, true};
};

} // namespace

TEST_F(FrameTest, FourRunsAlternateBetweenTwoLines) {
    const tExperiment e = MakeExperiment();
    std::vector<int> chosen;
    for (int run = 0; run < 4; ++run) {
        chosen.push_back(frame.BeginMeasurement(e));
        frame.chMain->Series(chosen.back())->Add(0, 1);
        frame.EndMeasurement();
    }
    EXPECT_EQ(chosen, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(frame.chMain->Series(0)->Count(), 1) << "the third run cleared line 0";
}

TEST_F(FrameTest, FollowNewestGrowsOrScrolls) {
    const tExperiment e = MakeExperiment();
    for (const bool autoSize : {true, false}) {
        frame.BeginMeasurement(e);
        frame.chMain->Series(frame.ActiveSeries)->Add(9.5, 1);
        frame.FollowNewest(autoSize);
        EXPECT_EQ(frame.chMain->BottomRange(), QCPRange(0, 10));
        frame.chMain->Series(frame.ActiveSeries)->Add(10.5, 1);
        frame.FollowNewest(autoSize);
        // Half the axis to the nearest whole pixel.
        const double pixel = 10.0 / frame.chMain->axisRect()->width();
        EXPECT_NEAR(frame.chMain->BottomRange().lower, autoSize ? 0 : 5, pixel);
        EXPECT_NEAR(frame.chMain->BottomRange().upper, 15, pixel);
        frame.EndMeasurement();
    }
}

TEST_F(FrameTest, MarkersTheirPlacesAndTexts) {
    const tExperiment e = MakeExperiment();
    frame.BeginMeasurement(e);
    tFastLine* line = frame.chMain->Series(0);
    line->Add(1, 20);
    line->Add(3, 21);
    line->Add(5, 22);
    line->Add(9.3, 19.7);
    line->Add(12.4, 21.5);
    // While measuring nothing is placed.
    Click(frame.chMain, 3);
    EXPECT_EQ(frame.chMain->Marker, -1);
    frame.EndMeasurement();

    tMessageCollector messages;
    Click(frame.chMain, 2.99);
    EXPECT_EQ(frame.chMain->Marker, 1);
    EXPECT_EQ(TfrExperiment::NearestPoint(*line, 4.0), 1)
        << "3 and 5 are as far from 4: the lower index wins";
    EXPECT_EQ(TfrExperiment::NearestPoint(*line, 4.01), 2);
    EXPECT_EQ(TfrExperiment::NearestPoint(*line, -100), 0);
    EXPECT_EQ(TfrExperiment::NearestPoint(*line, 100), 4);
    tFastLine* same = frame.chMain->Series(1);
    for (const double x : {1.0, 2.0, 2.0, 2.0, 3.0}) same->Add(x, 0);
    EXPECT_EQ(TfrExperiment::NearestPoint(*same, 2.1), 1) << "equal X values: the lowest index";
    same->Clear();
    Click(frame.chMain, 5.0);
    EXPECT_EQ(frame.chMain->Marker, 2);
    ASSERT_EQ(messages.Count(WM_MARKER_MOVED), 2);
    EXPECT_EQ(messages.Messages.back().second, reinterpret_cast<qintptr>(frame.chMain));

    frame.chMain->SetBottomRange(0, 20);
    Click(frame.chMain, 12.4);
    Click(frame.chMain, 9.3, true);
    EXPECT_EQ(frame.GetMarkerText(QStringLiteral("0.00"), QStringLiteral("0.0"), nullptr),
              QStringLiteral("T=21.5\tt=12.40\tdt=3.10\tdT=1.8"));
    // Scrolled out of view: not drawn, but its text is still given.
    frame.chMain->SetBottomRange(0, 10);
    EXPECT_EQ(frame.GetMarkerText(QStringLiteral("0.00"), QStringLiteral("0.0"), nullptr).left(6),
              QStringLiteral("T=21.5"));

    // Outside the plotting rectangle: no marker, no text.
    frame.chMain->OnMouseUp(Qt::LeftButton, QPoint(2, 2), false);
    EXPECT_EQ(frame.chMain->Marker, -1);
    EXPECT_TRUE(frame.GetMarkerText(QString(), QString(), nullptr).isEmpty());
    // Other buttons do nothing.
    Click(frame.chMain, 5, false, Qt::RightButton);
    EXPECT_EQ(frame.chMain->Marker, -1);
    // Only a click places the marker: a drag that pans the chart does not.
    const QPoint at(int(std::lround(frame.chMain->XToPixel(5))), frame.chMain->PlotRect().center().y());
    for (const int drag : {60, 0}) {
        QMouseEvent press(QEvent::MouseButtonPress, at, frame.chMain->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame.chMain, &press);
        const QPoint end = at + QPoint(drag, 0);
        QMouseEvent release(QEvent::MouseButtonRelease, end, frame.chMain->mapToGlobal(end), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(frame.chMain, &release);
        EXPECT_EQ(frame.chMain->Marker, drag ? -1 : 2) << drag;
    }

    TfrExperiment single(nullptr, false);
    single.resize(800, 600);
    single.chMain->resize(800, 500);
    single.chMain->replot();
    single.chMain->Series(0)->Add(1, 5);
    Click(single.chMain, 1, true);
    EXPECT_EQ(single.chMain->Marker, 0) << "Ctrl without TwiceMarker places the primary marker";
    EXPECT_EQ(single.chMain->SecondMarker, -1);
}

TEST_F(FrameTest, MarkersAreDrawnYellowOverLime) {
    frame.chMain->SetBottomAxis(0, 10, 1, QStringLiteral("t"));
    frame.chMain->Series(0)->Add(2, 50);
    frame.chMain->Series(0)->Add(6, 50);
    frame.chMain->Marker = 0;
    frame.chMain->SecondMarker = 1;
    const QImage image = frame.chMain->RenderImage();
    const QRect plot = frame.chMain->PlotRect();
    const int y = plot.top() + 5;
    EXPECT_EQ(image.pixelColor(int(std::lround(frame.chMain->XToPixel(2))), y), QColor(255, 255, 0));
    EXPECT_EQ(image.pixelColor(int(std::lround(frame.chMain->XToPixel(6))), y), QColor(0, 255, 0));
    frame.MeasureRunning = true;
    const QImage measuring = frame.chMain->RenderImage();
    frame.chMain->Marker = frame.chMain->SecondMarker = -1;
    const QImage none = frame.chMain->RenderImage();
    for (const double x : {2, 6}) {
        const QPoint at(int(std::lround(frame.chMain->XToPixel(x))), y);
        EXPECT_EQ(measuring.pixelColor(at), none.pixelColor(at)) << "no marker while measuring, at " << x;
    }
}

TEST_F(FrameTest, PointLabels) {
    tRecordingPrompts prompts;
    prompts.TextAnswers = {QStringLiteral("кипение"), QStringLiteral("\x1b")};
    EXPECT_EQ(frame.AskPointLabel(), QStringLiteral("кипение"));
    ASSERT_EQ(prompts.Boxes.size(), 1);
    EXPECT_EQ(prompts.Boxes[0].Caption, QStringLiteral("Ввод данных"));
    EXPECT_EQ(prompts.Boxes[0].Text, QStringLiteral("Введите метку точки:"));
    EXPECT_FALSE(frame.AskPointLabel()) << "cancelled";
}

// The pulse chart's and the rate chart's time axes stand one above the other although their value labels
// differ in width (1024 and 120).
TEST(PulseFrame, TimeAxesAligned) {
    TfrPulse pulse(nullptr, false);
    pulse.resize(1000, 700);
    tExperiment e = MakeExperiment(QStringLiteral("M401"));
    e.MinY = 0;
    e.MaxY = 1024;
    e.IncY = 128;
    pulse.BeginMeasurement(e);
    pulse.show();
    pulse.chMain->replot();
    pulse.chPulse->replot();
    EXPECT_EQ(pulse.chMain->axisRect()->left(), pulse.chPulse->axisRect()->left());
    EXPECT_EQ(pulse.chMain->axisRect()->width(), pulse.chPulse->axisRect()->width());
}

namespace {

// Pixels of the red line (solid, not a smoothed edge) in a reference picture and in another one, and how many
// pixels differ for real: one picture has the line where the other has the white back wall.
std::tuple<int, int, int> CompareLines(const QImage& reference, const QImage& other) {
    const auto line = [](const QColor& c) { return c.red() > 200 && c.green() < 60; };
    const auto wall = [](const QColor& c) { return c.green() > 200 && c.red() > 200; };
    int inReference = 0;
    int inOther = 0;
    int different = 0;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const QColor r = reference.pixelColor(x, y);
            const QColor o = other.pixelColor(x, y);
            inReference += line(r);
            inOther += line(o);
            different += (line(r) && wall(o)) || (line(o) && wall(r));
        }
    return {inReference, inOther, different};
}

} // namespace

// A long line drawn from column envelopes, and a close-packed one filled as the area its pen covers, look
// like every point stroked.
TEST(Chart, EnvelopeDrawingLooksLikeEveryPointDrawn) {
    const struct {
        int count;
        double step, noise;
    } rows[] = {{200000, 0.005, 0.3}, {2000, 0.5, 0.04}, {2000, 0.5, 0.3}, {1400, 0.7, 0.01}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        TChart fast;
        TChart plain;
        for (TChart* chart : {&fast, &plain}) {
            chart->resize(1280, 700);
            chart->AddSeries(QColor(255, 0, 0));
            chart->SetBottomAxis(0, 1000, 100, QStringLiteral("t"));
            chart->SetLeftAxis(-2, 2, 0.5, QStringLiteral("y"));
            for (int i = 0; i < row.count; ++i) {
                const double t = i * row.step;
                chart->Series(0)->Add(t, std::sin(t / 10) + row.noise * std::sin(i * 12.9898));
            }
        }
        plain.Series(0)->SetPlainDrawing(true);
        const QImage a = fast.RenderImage().convertToFormat(QImage::Format_RGB32);
        const QImage b = plain.RenderImage().convertToFormat(QImage::Format_RGB32);
        if (qEnvironmentVariableIsSet("ZORBINKA_SAVE_RENDERS")) {
            a.save(QStringLiteral("/tmp/render-fast-%1.png").arg(row.count));
            b.save(QStringLiteral("/tmp/render-plain-%1.png").arg(row.count));
        }
        ASSERT_EQ(a.size(), b.size());
        const auto [red, redFast, different] = CompareLines(b, a);
        EXPECT_GT(red, 5000);
        EXPECT_LT(different, red / 25) << "differences only at the edges of the stroke";
        EXPECT_LT(std::abs(red - redFast), red / 25) << "the same area is painted";
        if (row.count > 100000) {
            EXPECT_LE(fast.Series(0)->BytesHeld(), std::size_t(row.count) * 20);
        }
    }
}

// A point's label stands in a box above it; a point at the chart's left or right edge keeps its whole box
// inside the chart (as wide as the same label's box in the middle), the box moved in.
TEST(Chart, APointLabelNearAnEdgeIsShownWhole) {
    const auto boxOf = [](double x) {
        TChart chart;
        chart.resize(600, 400);
        chart.AddSeries(QColor(255, 0, 0));
        chart.SetBottomAxis(0, 10, 1, QStringLiteral("t"));
        chart.SetLeftAxis(0, 10, 1, QStringLiteral("y"));
        chart.Series(0)->Add(x, 5, QStringLiteral("закипает"));
        const QImage image = chart.RenderImage().convertToFormat(QImage::Format_RGB32);
        QRect box; // the box's light fill
        for (int y = 0; y < image.height(); ++y)
            for (int px = 0; px < image.width(); ++px)
                if (image.pixel(px, y) == qRgb(255, 255, 240)) box |= QRect(px, y, 1, 1);
        return std::pair{box, chart.PlotRect()};
    };
    const QRect middle = boxOf(5).first;
    ASSERT_GT(middle.width(), 20);
    for (const double x : {0.0, 0.1, 9.9, 10.0}) {
        SCOPED_TRACE(x);
        const auto [box, plot] = boxOf(x);
        EXPECT_EQ(box.size(), middle.size()) << "cut";
        EXPECT_TRUE(plot.contains(box));
        EXPECT_EQ(box.top(), middle.top());
    }
}

// Tick labels never crowd each other: the experiment's step where its labels fit, else the least of 2, 5, 10…
// times it that fits; drawn at a size other than the widget's (a page) as well as on the screen. The labels
// of an upright axis are counted as separate runs of ink in the picture.
TEST(Chart, LabelsNeverCrowd) {
    const struct {
        bool upright;
        double max, step;
        QSize widget, drawn; // drawn empty: on the screen at the widget's size
        double expectedStep; // 0: anything that fits
    } rows[] = {
        {true, 120, 10, {1280, 290}, {}, 10},        // the pulse rate on the screen
        {true, 120, 10, {1280, 290}, {720, 130}, 0}, // … on paper
        {true, 120, 10, {1280, 110}, {}, 0},         // a short window
        {true, 1024, 128, {1280, 385}, {720, 210}, 128},
        {false, 300, 30, {1280, 700}, {}, 30},
        {false, 3000, 30, {1280, 700}, {}, 0}, // zoomed out
        {false, 300, 30, {1280, 700}, {300, 200}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.max << " on " << row.widget.height() << " drawn "
                                        << row.drawn.width() << "x" << row.drawn.height());
        TChart chart;
        chart.resize(row.widget);
        chart.SetBottomAxis(0, row.upright ? 30 : row.max, row.upright ? 5 : row.step,
                            QStringLiteral("t, c"));
        chart.SetLeftAxis(0, row.upright ? row.max : 100, row.upright ? row.step : 10, QStringLiteral("y"));
        // The ticks as the picture was drawn with them.
        QCPAxis* axis = row.upright ? chart.yAxis : chart.xAxis;
        QVector<double> ticks;
        double pixels = 0;
        int axisX = 0;
        chart.OnAfterDraw = [&](QPainter&, const QRect&) {
            ticks = axis->tickVector();
            if (ticks.size() > 1)
                pixels = std::abs(axis->coordToPixel(ticks[1]) - axis->coordToPixel(ticks[0]));
            axisX = int(std::lround(chart.xAxis->coordToPixel(0)));
        };
        QImage image = chart.RenderImage();
        if (!row.drawn.isEmpty()) {
            image = QImage(row.drawn, QImage::Format_RGB32);
            image.fill(Qt::white);
            QCPPainter painter(&image);
            chart.PaintOn(painter, row.drawn.width(), row.drawn.height());
            // The screen's layout is back, for the clicks and the wheel.
            EXPECT_EQ(chart.axisRect()->outerRect(), chart.viewport());
        }
        ASSERT_GE(ticks.size(), 2);
        const double step = ticks[1] - ticks[0];
        const QFontMetricsF metrics(axis->tickLabelFont());
        const double room =
            row.upright ? metrics.height() : metrics.horizontalAdvance(QString::number(row.max));
        EXPECT_GT(pixels, room) << "labels " << step << " apart crowd";
        if (row.expectedStep > 0) {
            EXPECT_DOUBLE_EQ(step, row.expectedStep);
        }
        const double factor = step / row.step;
        EXPECT_NEAR(factor, std::round(factor), 1e-9);
        if (factor > 1) {
            EXPECT_LT(pixels, 2.6 * (room + 2 * metrics.averageCharWidth())) << "no sparser than needed";
        }
        if (!row.upright) continue;
        // Separate labels: runs of rows with dark pixels left of the axis, one run per visible tick.
        int runs = 0;
        bool inRun = false;
        for (int y = 0; y < image.height() - 1; ++y) {
            bool ink = false;
            for (int x = axisX / 2; x < axisX - 6 && !ink; ++x) ink = qGray(image.pixel(x, y)) < 128;
            runs += ink && !inRun;
            inRun = ink;
        }
        int visible = 0;
        for (double tick : ticks) visible += tick >= 0 && tick <= row.max;
        EXPECT_EQ(runs, visible);
    }
}

// A line that follows its newest point has its picture moved by whole pixels at every step (that it looks as
// the line drawn whole is the redraw test's); a tick with a new point paints a narrow strip of the window,
// one without paints nothing, and a cleared line leaves the window: sparse points and dense ones.
TEST(Chart, AFollowingLinePaintsOnlyWhatChanged) {
    for (const double step : {0.5, 0.002}) {
        SCOPED_TRACE(step);
        TChart moving;
        moving.resize(1001, 500);
        moving.AddSeries(QColor(255, 0, 0));
        moving.SetBottomAxis(0, 100, 10, QStringLiteral("t"));
        moving.SetLeftAxis(-2, 2, 0.5, QStringLiteral("y"));
        moving.show();
        QApplication::processEvents();
        const auto value = [](double t) { return std::sin(t / 3) + 0.5 * std::sin(t * 7.3); };
        double t = 0;
        for (int tick = 0; tick < 43; ++tick) {
            for (const double end = t + 7; t < end; t += step) moving.Series(0)->Add(t, value(t));
            const QCPRange range = moving.BottomRange();
            const int pixels = moving.axisRect()->width();
            const double half = range.size() * (pixels / 2) / pixels;
            if (t > range.upper) moving.SetBottomRange(range.lower + half, range.upper + half);
            moving.Redraw();
        }
        // Two more ticks that leave the axes standing: only the new points' part of the layer is drawn.
        for (int tick = 0; tick < 2; ++tick) {
            for (const double end = t + 2; t < end; t += step) moving.Series(0)->Add(t, value(t));
            ASSERT_LT(t, moving.BottomRange().upper);
            moving.Redraw();
        }
        // A tick with a new point paints a narrow strip of the window; one without paints nothing.
        tPaintSpy spy;
        moving.installEventFilter(&spy);
        QRegion& painted = spy.Painted;
        // The window paints when it runs the update it posted itself: the events posted so far are run.
        const auto settle = [] {
            for (int round = 0; round < 3; ++round) {
                QCoreApplication::sendPostedEvents();
                QApplication::processEvents();
            }
        };
        settle();
        for (const bool point : {true, false}) {
            painted = QRegion();
            if (point) moving.Series(0)->Add(t, value(t));
            moving.Redraw();
            settle();
            EXPECT_EQ(painted.isEmpty(), !point);
            EXPECT_LT(painted.boundingRect().width(), 40);
        }
        // A cleared line leaves the window.
        moving.Series(0)->Clear();
        moving.Redraw();
        settle();
        const QImage cleared = moving.grab().toImage();
        EXPECT_EQ(std::get<0>(CompareLines(cleared, cleared)), 0) << "no red left";
    }
}

// A wide line keeps the fineness of the screen's own pixels, also where points are denser than the pixels (a
// sound sensor) and at scale 2 (QT_SCALE_FACTOR=2, as CTest runs it a second time): along a steep curve its
// upper edge moves at almost every column of the screen's pixels, not in blocks two pixels wide.
TEST(Chart, TheLineIsAsFineAsTheScreen) {
    for (const double step : {0.01, 0.001}) {
        SCOPED_TRACE(step);
        TChart chart;
        chart.resize(800, 400);
        chart.AddSeries(QColor(255, 0, 0));
        chart.SetBottomAxis(0, 3, 0.5, QStringLiteral("t"));
        chart.SetLeftAxis(-1, 1, 0.25, QStringLiteral("y"));
        for (int i = 0; i * step < 3; ++i)
            chart.Series(0)->Add(i * step, 0.8 * std::sin(2 * M_PI * 2.5 * i * step));
        chart.show();
        chart.replot();
        const QImage image = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto red = [&](int x, int y) {
            const QColor c = image.pixelColor(x, y);
            return c.red() > 200 && c.green() < 100;
        };
        int columns = 0;
        int moves = 0;
        int previous = -1;
        for (int x = 0; x < image.width(); ++x) {
            int top = -1;
            for (int y = 0; y < image.height() && top < 0; ++y)
                if (red(x, y)) top = y;
            if (top >= 0 && previous >= 0) {
                ++columns;
                moves += top != previous;
            }
            previous = top;
        }
        EXPECT_GT(columns, image.width() / 2);
        EXPECT_GT(moves, columns * 6 / 10) << "the edge moves with the screen's pixels";
    }
}

// The elapsed-time panel repaints only the characters that changed, and what the window then shows is the
// new text drawn whole; it draws its text where a label would.
TEST(StatusPanel, RepaintsWhatChangedAndLooksLikeALabel) {
    QWidget window;
    auto* panel = new tStatusPanel(true, &window);
    panel->setGeometry(10, 10, 120, 24);
    window.resize(140, 44);
    window.show();
    QApplication::processEvents();
    const double digit = panel->fontMetrics().horizontalAdvance(u'0');
    const struct {
        const char* from;
        const char* to;
        int changed; // characters from the first changed one to the last; -1: the whole panel
    } rows[] = {
        {"00:06.1", "00:06.2", 1},   {"00:09.9", "00:10.0", 4}, {"09:59.9", "10:00.0", 7},
        {"99:59.9", "100:00.0", -1}, {"", "00:00.0", -1},       {"00:00.0", "", -1},
        {"12:00:00", "12:00:01", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        panel->setText(QString::fromLatin1(row.from));
        QApplication::processEvents();
        QImage shown = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        tPaintSpy spy;
        panel->installEventFilter(&spy);
        panel->setText(QString::fromLatin1(row.to));
        QApplication::processEvents();
        panel->removeEventFilter(&spy);
        const QRect repainted = spy.Painted.boundingRect();
        if (row.changed < 0)
            EXPECT_EQ(repainted, panel->contentsRect());
        else
            EXPECT_LE(repainted.width(), int(std::ceil(row.changed * digit)) + 3);
        // The screen after the partial repaint is the new text drawn whole.
        panel->render(&shown, repainted.topLeft(), spy.Painted);
        EXPECT_TRUE(shown == panel->grab().toImage().convertToFormat(QImage::Format_RGB32))
            << "stale pixels outside the repainted part";
    }

    // The same ink as a label's, within a pixel, centred and left-aligned.
    const auto ink = [](QWidget& w) {
        const QImage image = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QRect box;
        for (int y = 3; y < image.height() - 3; ++y)
            for (int x = 3; x < image.width() - 3; ++x)
                if (qGray(image.pixel(x, y)) < 128) box |= QRect(x, y, 1, 1);
        return box;
    };
    for (const bool centred : {true, false}) {
        SCOPED_TRACE(centred);
        tStatusPanel mine(centred);
        QLabel label;
        label.setFrameShape(QFrame::StyledPanel);
        label.setFrameShadow(QFrame::Sunken);
        if (centred) label.setAlignment(Qt::AlignCenter);
        for (QWidget* w : {static_cast<QWidget*>(&mine), static_cast<QWidget*>(&label)}) w->resize(200, 24);
        mine.setText(QStringLiteral("18:23:40"));
        label.setText(QStringLiteral("18:23:40"));
        const QRect a = ink(mine), b = ink(label);
        ASSERT_FALSE(b.isEmpty());
        for (const int d :
             {a.left() - b.left(), a.right() - b.right(), a.top() - b.top(), a.bottom() - b.bottom()})
            EXPECT_LE(std::abs(d), 1)
                << a.x() << "," << a.y() << " " << a.width() << "x" << a.height() << " vs " << b.x() << ","
                << b.y() << " " << b.width() << "x" << b.height();
    }
}

// The value label shows every text whole, at the size a fresh label wants for it; it keeps its size while a
// new value fits (no new layout of the tool bar) and is sized anew when the text outgrows it or shrinks well
// below it, or has another number of lines.
TEST(ValueLabel, ShowsEveryTextWholeAndKeepsItsSizeWhileItFits) {
    tValueLabel label;
    label.setContentsMargins(12, 0, 0, 0);
    const struct {
        const char* text;
        bool kept;         // the size stays as it was
        int pixelSize = 0; // a new font first
    } rows[] = {
        {"T, °C = 24,2", false},
        {"T, °C = 24,3", true},
        {"T, °C = 24,255", false}, // two digits more than it was sized for
        {"T, °C = 11124,355", false},
        {"T, °C = 11124,355", true},
        {"U = 2", false}, // well below
        {"U = 3", true},
        {"U, В = 2\tЧастота, уд/мин=70", false},
        {"U, В = 2\tЧастота, уд/мин=71", true},
        {"Метка\nвторая строка", false},
        {"Метка 2\nвторая строка", true},
        {"U, В = 3", false},
        {"U, В = 4", true, 40}, // fitted to the new font at once
        {"U, В = 5", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        if (row.pixelSize) {
            QFont font = label.font();
            font.setPixelSize(row.pixelSize);
            label.setFont(font);
        }
        const QSize before = label.maximumSize();
        const QString text = QString::fromUtf8(row.text);
        label.SetValue(text);
        const QString shown = QString(text).replace(u'\t', QStringLiteral("     "));
        EXPECT_EQ(label.text(), shown);
        QLabel fresh(shown);
        fresh.setFont(label.font());
        fresh.setContentsMargins(label.contentsMargins());
        const QSize wanted = fresh.sizeHint();
        EXPECT_EQ(label.NaturalSize(shown), wanted);
        EXPECT_GE(label.maximumWidth(), wanted.width()) << "cut";
        EXPECT_LE(label.maximumWidth() * 2 / 3, wanted.width()) << "far too wide";
        EXPECT_EQ(label.maximumHeight(), wanted.height());
        EXPECT_EQ(label.maximumSize() == before, row.kept);
    }
}

// The readings in a tool bar short of room: a marker's reading and the sensor's stay in view, whole, one over
// the other when side by side they would not fit, and side by side again when the room comes back.
TEST(ReadingsPanel, BothReadingsStayInViewWholeWhateverTheToolBarsRoom) {
    QFont bold(QStringLiteral("DejaVu Sans"));
    bold.setPixelSize(17);
    bold.setBold(true);
    QWidget window;
    auto* bar = new QToolBar(&window);
    // As the window's: a row 34 pixels high of buttons 31 by 30.
    bar->setFixedHeight(34);
    for (int i = 0; i < 12; ++i)
        bar->widgetForAction(bar->addAction(QStringLiteral("К%1").arg(i)))->setFixedSize(31, 30);
    auto* panel = new tReadingsPanel(bold);
    auto* marker = new tValueLabel;
    auto* reading = new tValueLabel;
    for (tValueLabel* label : {marker, reading}) {
        label->setContentsMargins(12, 0, 0, 0);
        panel->Add(label);
    }
    QAction* carrier = bar->addWidget(panel);
    panel->SetAction(carrier);
    EXPECT_FALSE(carrier->isVisible()) << "nothing to show";
    window.show();
    const struct {
        int width;
        const char* marker; // nullptr: not shown
        const char* reading;
        bool stacked;
    } rows[] = {
        {1400, "T, °C=69,1\tt, c=4", "Датчик: T, °C = 23,6", false},
        {700, "T, °C=69,1\tt, c=4", "Датчик: T, °C = 23,6", true},
        {700, nullptr, "Датчик: T, °C = 23,6", false},
        {700, "T, °C=69,1\tt, c=4", nullptr, false},
        {640, "T, °C=69,1\tt, c=4", "Датчик: T, °C = 23,6", true},
        {640, "T, °C=71,25\tt, c=12", "Датчик: T, °C = 123,6", true},
        {1400, "T, °C=71,25\tt, c=12", "Датчик: T, °C = 123,6", false},
        {1400, "T1=69,1  t1=4  T2=48,2  t2=91  ΔT=−20,9  Δt=87", "Датчик: T, °C = 23,6", false},
        {900, "T1=69,1  t1=4  T2=48,2  t2=91  ΔT=−20,9  Δt=87", "Датчик: T, °C = 23,6", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << " " << (row.marker ? row.marker : "-"));
        bar->setFixedWidth(row.width);
        for (auto [label, text] : {std::pair{marker, row.marker}, std::pair{reading, row.reading}}) {
            if (text) label->SetValue(QString::fromUtf8(text));
            panel->SetShown(label, text != nullptr);
        }
        for (int i = 0; i < 4; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            bar->layout()->activate();
        }
        EXPECT_TRUE(carrier->isVisible());
        ASSERT_TRUE(panel->isVisible()) << "the panel went into the tool bar's menu";
        EXPECT_EQ(panel->Stacked(), row.stacked);
        const QRect inBar(panel->mapTo(bar, QPoint(0, 0)), panel->size());
        EXPECT_TRUE(bar->rect().contains(inBar)) << "cut by the tool bar";
        QRect taken;
        for (auto [label, text] : {std::pair{marker, row.marker}, std::pair{reading, row.reading}}) {
            EXPECT_EQ(label->isVisible(), text != nullptr);
            if (!text) continue;
            EXPECT_TRUE(panel->rect().contains(label->geometry())) << text;
            EXPECT_GE(label->width(), label->NaturalSize(label->text()).width()) << "cut: " << text;
            if (row.stacked)
                EXPECT_TRUE(label->font().pixelSize() >= 10 && label->font().pixelSize() <= 12);
            else
                EXPECT_EQ(label->font().pixelSize(), 17);
            EXPECT_FALSE(taken.intersects(label->geometry())) << "one over the other's text";
            taken |= label->geometry();
        }
    }
}

// Boxes on a chart: inside the area, none over another or over what is taken, the first at the top right and
// the next below it, then a column to the left; one put somewhere stays there when that is free, else goes to
// the free place nearest to it; with no room left a box stays inside the area all the same.
TEST(BoxPlacement, BoxesStandApartInsideTheArea) {
    const QRect area(10, 20, 400, 300);
    const QRect legend(14, 24, 80, 40);
    const struct {
        std::vector<QSize> sizes;
        std::vector<std::optional<QPoint>> wanted;
        std::vector<QRect> expected; // empty: only apart and inside
        bool room;
    } rows[] = {
        {{{100, 50}, {100, 50}, {120, 40}},
         {},
         {{308, 22, 100, 50}, {308, 74, 100, 50}, {288, 126, 120, 40}},
         true},
        {std::vector<QSize>(7, QSize(100, 90)), {}, {}, true},
        {{{100, 50}, {100, 50}},
         {QPoint(50, 200), QPoint(60, 210)},
         {{50, 200, 100, 50}, {60, 252, 100, 50}},
         true},
        {{{100, 50}}, {QPoint(20, 30)}, {{20, 66, 100, 50}}, true},
        {{{100, 50}}, {QPoint(390, 300)}, {{308, 268, 100, 50}}, true},
        {std::vector<QSize>(20, QSize(150, 120)), {}, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sizes.size());
        const std::vector<QRect> boxes = PlaceBoxes(area, row.sizes, row.wanted, {legend}, 2);
        ASSERT_EQ(boxes.size(), row.sizes.size());
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_TRUE(area.contains(boxes[i])) << i;
            if (i < row.expected.size()) {
                EXPECT_EQ(boxes[i], row.expected[i]) << i;
            }
            if (!row.room) continue;
            EXPECT_FALSE(boxes[i].intersects(legend)) << i;
            for (std::size_t k = 0; k < i; ++k) EXPECT_FALSE(boxes[i].intersects(boxes[k])) << i << " " << k;
        }
    }
    // Boxes without a place of their own keep clear of the curve where they can: off a line along the top,
    // still in the rightmost column; over a curve that covers everything, apart and inside all the same.
    std::vector<QPoint> top, everywhere;
    for (int x = area.left(); x <= area.right(); x += 2) {
        top.emplace_back(x, 40);
        for (int y = area.top(); y <= area.bottom(); y += 4) everywhere.emplace_back(x, y);
    }
    const std::vector<QSize> two{{100, 50}, {100, 50}};
    const std::vector<QRect> clear = PlaceBoxes(area, two, {}, {}, 2, nullptr, top);
    for (const QRect& box : clear) {
        EXPECT_EQ(std::count_if(top.begin(), top.end(), [&](const QPoint& p) { return box.contains(p); }), 0);
        EXPECT_EQ(box.right(), area.right() - 2);
    }
    bool apart = false;
    const std::vector<QRect> covered = PlaceBoxes(area, two, {}, {}, 2, &apart, everywhere);
    EXPECT_TRUE(apart && area.contains(covered[0]) && area.contains(covered[1]) &&
                !covered[0].intersects(covered[1]));
}

namespace {

// Every place on the grid tried against every box placed, as boxes were first placed: the placing that takes the
// best place first must choose the same.
std::vector<QRect> ExhaustivePlaceBoxes(const QRect& area, const std::vector<QSize>& sizes,
                                        const std::vector<std::optional<QPoint>>& wanted,
                                        const std::vector<QRect>& taken, int gap, bool* apart,
                                        const std::vector<QPoint>& curve) {
    *apart = true;
    std::vector<QRect> placed = taken, boxes;
    const QRect room = area.adjusted(gap, gap, -gap, -gap);
    const auto inside = [&](QRect box) {
        if (box.right() > room.right()) box.moveRight(room.right());
        if (box.bottom() > room.bottom()) box.moveBottom(room.bottom());
        box.moveLeft(std::max(box.left(), room.left()));
        box.moveTop(std::max(box.top(), room.top()));
        return box;
    };
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const QSize size = sizes[i].boundedTo(room.size().expandedTo(QSize(1, 1)));
        const std::optional<QPoint> want = i < wanted.size() ? wanted[i] : std::nullopt;
        const QPoint target = want ? inside(QRect(*want, size)).topLeft()
                                   : QPoint(room.right() + 1 - size.width(), room.top());
        std::vector<int> xs{target.x(), room.left(), room.right() + 1 - size.width()};
        std::vector<int> ys{target.y(), room.top(), room.bottom() + 1 - size.height()};
        if (!want && !curve.empty())
            for (int k = 1; k < 8; ++k) {
                xs.push_back(room.left() + (room.width() - size.width()) * k / 8);
                ys.push_back(room.top() + (room.height() - size.height()) * k / 8);
            }
        for (const QRect& p : placed) {
            xs.push_back(p.left() - gap - size.width());
            xs.push_back(p.right() + 1 + gap);
            ys.push_back(p.top());
            ys.push_back(p.top() - gap - size.height());
            ys.push_back(p.bottom() + 1 + gap);
        }
        std::optional<QRect> best;
        std::int64_t bestScore = std::numeric_limits<std::int64_t>::max();
        for (const int x : xs)
            for (const int y : ys) {
                const QRect box(QPoint(x, y), size);
                const QRect spaced = box.adjusted(-gap, -gap, gap, gap);
                if (!room.contains(box) ||
                    std::any_of(placed.begin(), placed.end(), [&](const QRect& p) { return spaced.intersects(p); }))
                    continue;
                const std::int64_t dx = x - target.x(), dy = y - target.y();
                // The curve's points counted in cells of 8 × 8 pixels of the area, as the placing counts them.
                const int columns = area.width() / 8 + 2, rows = area.height() / 8 + 2;
                const auto cell = [&](int v, int origin, int high) { return std::clamp((v - origin) / 8, 0, high); };
                const int c0 = cell(box.left(), area.left(), columns), c1 = cell(box.right() + 8, area.left(), columns);
                const int r0 = cell(box.top(), area.top(), rows), r1 = cell(box.bottom() + 8, area.top(), rows);
                const std::int64_t covered = std::count_if(curve.begin(), curve.end(), [&](const QPoint& p) {
                    const int c = (p.x() - area.left()) / 8, r = (p.y() - area.top()) / 8;
                    return p.x() >= area.left() && p.y() >= area.top() && c < columns && r < rows && c >= c0 &&
                           c < c1 && r >= r0 && r < r1;
                });
                const std::int64_t score = want ? dx * dx + dy * dy
                                                : (covered << 40) + std::int64_t(room.right() - x) * (1 << 20) +
                                                      (y - room.top());
                if (score < bestScore) bestScore = score, best = box;
            }
        if (!best) *apart = false;
        boxes.push_back(best ? *best : inside(QRect(target, size)));
        placed.push_back(boxes.back());
    }
    return boxes;
}

} // namespace

// Random charts of boxes (alike and unlike in size, wanted places or none, a legend, a curve or none, from a few
// boxes to more than the area holds): placed as the exhaustive search places them, apart or not alike.
TEST(BoxPlacement, TheFastPlacingChoosesAsTheExhaustiveSearch) {
    std::mt19937 random(20261209);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const QRect area(uniform(0, 40), uniform(0, 40), uniform(150, 700), uniform(120, 500));
        const int count = uniform(1, round % 10 == 0 ? 60 : 20);
        std::vector<QSize> sizes;
        std::vector<std::optional<QPoint>> wanted;
        const QSize alike(uniform(40, 160), uniform(20, 80));
        for (int i = 0; i < count; ++i) {
            sizes.push_back(uniform(0, 2) ? alike : QSize(uniform(10, 200), uniform(10, 120)));
            if (uniform(0, 2) == 0)
                wanted.emplace_back(QPoint(uniform(area.left() - 20, area.right()), uniform(area.top() - 20, area.bottom())));
            else
                wanted.emplace_back();
        }
        std::vector<QRect> taken;
        if (uniform(0, 1)) taken.emplace_back(area.right() - 120, area.top() + 2, 118, uniform(20, 90));
        std::vector<QPoint> curve;
        if (uniform(0, 1))
            for (int x = area.left(); x <= area.right(); x += 3)
                curve.emplace_back(x, area.top() + int((std::sin(x / 40.0) + 1) / 2 * (area.height() - 1)));
        const int gap = uniform(0, 6);
        bool fastApart = false, slowApart = false;
        const std::vector<QRect> fast = PlaceBoxes(area, sizes, wanted, taken, gap, &fastApart, curve);
        const std::vector<QRect> slow = ExhaustivePlaceBoxes(area, sizes, wanted, taken, gap, &slowApart, curve);
        ASSERT_EQ(fast, slow);
        ASSERT_EQ(fastApart, slowApart);
    }
}

// The class page's address as a QR code reads back as it was given (read by zbarimg, as a phone reads it).
TEST(QrCode, AnAddressReadsBackFromItsPicture) {
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        GTEST_SKIP() << "zbarimg missing";
    QTemporaryDir dir;
    for (const QString& text : {QStringLiteral("http://192.168.1.10:18884/#code=K7M2QX"),
                                QStringLiteral("http://[fe80::1]:40001/#code=ABCDEF")}) {
        const QImage image = QrCodeImage(text, 4);
        ASSERT_FALSE(image.isNull());
        ASSERT_TRUE(image.save(dir.filePath(QStringLiteral("qr.png"))));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                               dir.filePath(QStringLiteral("qr.png"))});
        ASSERT_TRUE(zbar.waitForFinished(20000));
        EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), text);
    }
}
