// The analysis of a region: fits against certified reference results and signals of known truth, statistics
// of hard-to-sum data, slope and area, the spectrum's peak, and bad input.
#include "analysis/Calculus.h"
#include "analysis/Fit.h"
#include "analysis/Results.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"
#include "support/QtPrint.h"

#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

namespace {

using tValues = std::vector<double>;

// The certified data sets of the reference collection for linear and nonlinear least squares.
const tValues kNorrisX = {0.2, 337.4, 118.2, 884.6, 10.1,  226.5, 666.3, 996.3, 448.6, 777.0, 558.2, 0.4,
                          0.6, 775.5, 666.9, 338.0, 447.5, 11.6,  556.0, 228.1, 995.8, 887.6, 120.2, 0.3,
                          0.3, 556.8, 339.1, 887.2, 999.0, 779.0, 11.1,  118.3, 229.2, 669.1, 448.9, 0.5};
const tValues kNorrisY = {0.1, 338.8, 118.1, 888.0, 9.2,   228.1, 668.5, 998.5, 449.1, 778.9, 559.2, 0.3,
                          0.1, 778.1, 668.8, 339.3, 448.9, 10.8,  557.7, 228.3, 998.0, 888.8, 119.6, 0.3,
                          0.6, 557.6, 339.3, 888.0, 998.5, 778.9, 10.2,  117.6, 228.9, 668.4, 449.2, 0.2};

tValues PontiusX() {
    tValues x;
    for (int round = 0; round < 2; ++round)
        for (int i = 1; i <= 20; ++i) x.push_back(150000.0 * i);
    return x;
}
const tValues kPontiusY = {.11019,  .21956,  .32949,  .43899,  .54803,  .65694,  .76562,  .87487,
                           .98292,  1.09146, 1.20001, 1.30822, 1.41599, 1.52399, 1.63194, 1.73947,
                           1.84646, 1.95392, 2.06128, 2.16844, .11052,  .22018,  .32939,  .43886,
                           .54798,  .65739,  .76596,  .87474,  .98300,  1.09150, 1.20004, 1.30818,
                           1.41613, 1.52408, 1.63159, 1.73965, 1.84696, 1.95445, 2.06177, 2.16829};
const tValues kMisraX = {77.6,  114.9, 141.1, 190.8, 239.9, 289.0, 332.8,
                         378.4, 434.8, 477.3, 536.8, 593.1, 689.1, 760.0};
const tValues kMisraY = {10.07, 14.73, 17.94, 23.93, 29.61, 35.18, 40.02,
                         44.82, 50.76, 55.05, 61.01, 66.40, 75.47, 81.78};
const tValues kBoxBodX = {1, 2, 3, 5, 7, 10};
const tValues kBoxBodY = {109, 149, 149, 191, 213, 224};
const tValues kDanWoodX = {1.309, 1.471, 1.490, 1.565, 1.611, 1.680};
const tValues kDanWoodY = {2.138, 3.421, 3.597, 4.340, 4.882, 5.660};

// The certified rate b2 of y = b1·(1 − e^(−b2·x)) as this program's time constant τ = 1/b2, its standard
// error carried over (the linearised error of 1/b2).
double Tau(double b2) {
    return 1 / b2;
}
double TauError(double b2, double error) {
    return error / (b2 * b2);
}

// Signals of known truth, with a fixed seed.
struct tSignal {
    tValues X, Y;
};
tSignal Noisy(double from, double step, int count, double noise, double (*f)(double)) {
    std::mt19937 random(20261208);
    std::normal_distribution<double> normal(0, noise);
    tSignal s;
    for (int i = 0; i < count; ++i) {
        const double x = from + step * i;
        s.X.push_back(x);
        s.Y.push_back(f(x) + normal(random));
    }
    return s;
}
double Cooling(double t) {
    return 22 + 60 * std::exp(-t / 300);
}
double Fork(double t) {
    return 0.8 * std::sin(2 * std::numbers::pi * 440 * t + 1.0) + 0.1;
}
double Swing(double t) {
    return 0.2 * std::sin(2 * std::numbers::pi * 2.5 * t);
}
double Rise(double t) {
    return 5 * (1 - std::exp(-t / 200));
}
double Growth(double t) {
    return 2 * std::pow(t, 1.5);
}
double Ramp(double t) {
    return 0.5 * t + 20;
}

// Relative agreement to `digits` significant digits.
::testing::AssertionResult Agrees(double got, double want, int digits) {
    const double error = std::fabs(got - want) / std::max(std::fabs(want), 1e-300);
    if (error <= std::pow(10.0, -digits)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got << " against " << want << " (relative error " << error << ")";
}

} // namespace

// Certified values to seven significant digits; signals of known truth within three standard errors.
TEST(Analysis, FitsMeetCertifiedValuesAndKnownTruth) {
    const tSignal cooling = Noisy(0, 1, 1201, 0.05, Cooling);
    const tSignal coolingLate = Noisy(600, 1, 1201, 0.05, Cooling); // a region far from x = 0
    const tSignal fork = Noisy(0, 0.001, 1000, 0.1, Fork);
    const tSignal forkLate = Noisy(3.0, 0.001, 1000, 0.1, Fork);
    // Long regions: started on a sample, finished over every point.
    const tSignal coolingLong = Noisy(0, 0.005, 200000, 0.05, Cooling);
    const tSignal forkLong = Noisy(0, 0.001, 200000, 0.1, Fork);
    const tSignal swingLong = Noisy(0, 0.001, 500000, 0.01, Swing);
    const tSignal riseLong = Noisy(0.001, 0.002, 200000, 0.05, Rise);
    const tSignal growthLong = Noisy(0.001, 0.001, 200000, 0.05, Growth);
    const tSignal rampLong = Noisy(0, 0.001, 200000, 0.05, Ramp);
    const struct {
        const char* name;
        tFitModel model;
        tValues x, y;
        tValues params, errors; // certified, or the truth (errors then empty)
        double residualSD;      // certified, or 0
        double rSquared;        // certified, or 0
    } rows[] = {
        {"Norris",
         tFitModel::Line,
         kNorrisX,
         kNorrisY,
         {1.00211681802045, -0.262323073774029},
         {0.429796848199937E-03, 0.232818234301152},
         0.884796396144373,
         0.999993745883712},
        {"Pontius",
         tFitModel::Parabola,
         PontiusX(),
         kPontiusY,
         {-0.316081871345029E-14, 0.732059160401003E-06, 0.673565789473684E-03},
         {0.486652849992036E-16, 0.157817399981659E-09, 0.107938612033077E-03},
         0.205177424076185E-03,
         0.999999900178537},
        {"Misra1a",
         tFitModel::RiseToLimit,
         kMisraX,
         kMisraY,
         {2.3894212918E+02, Tau(5.5015643181E-04)},
         {2.7070075241E+00, TauError(5.5015643181E-04, 7.2668688436E-06)},
         1.0187876330E-01,
         0},
        {"BoxBOD",
         tFitModel::RiseToLimit,
         kBoxBodX,
         kBoxBodY,
         {2.1380940889E+02, Tau(5.4723748542E-01)},
         {1.2354515176E+01, TauError(5.4723748542E-01, 1.0455993237E-01)},
         1.7088072423E+01,
         0},
        {"DanWood",
         tFitModel::Power,
         kDanWoodX,
         kDanWoodY,
         {7.6886226176E-01, 3.8604055871E+00},
         {1.8281973860E-02, 5.1726610913E-02},
         3.2853114039E-02,
         0},
        {"cooling", tFitModel::ExpApproach, cooling.X, cooling.Y, {60, 300, 22}, {}, 0, 0},
        {"cooling late", tFitModel::ExpApproach, coolingLate.X, coolingLate.Y, {60, 300, 22}, {}, 0, 0},
        {"fork", tFitModel::Sine, fork.X, fork.Y, {0.8, 440, 1.0, 0.1}, {}, 0, 0},
        {"fork late", tFitModel::Sine, forkLate.X, forkLate.Y, {0.8, 440, 1.0, 0.1}, {}, 0, 0},
        {"cooling, long", tFitModel::ExpApproach, coolingLong.X, coolingLong.Y, {60, 300, 22}, {}, 0, 0},
        {"fork, long", tFitModel::Sine, forkLong.X, forkLong.Y, {0.8, 440, 1.0, 0.1}, {}, 0, 0},
        {"slow swing, long", tFitModel::Sine, swingLong.X, swingLong.Y, {0.2, 2.5, 0, 0}, {}, 0, 0},
        {"rise, long", tFitModel::RiseToLimit, riseLong.X, riseLong.Y, {5, 200}, {}, 0, 0},
        {"growth, long", tFitModel::Power, growthLong.X, growthLong.Y, {2, 1.5}, {}, 0, 0},
        {"ramp, long", tFitModel::Line, rampLong.X, rampLong.Y, {0.5, 20}, {}, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const tFit fit = FitCurve(row.model, row.x, row.y);
        ASSERT_TRUE(fit.Ok) << fit.Error.toStdString();
        ASSERT_EQ(fit.Params.size(), row.params.size());
        ASSERT_EQ(fit.StdErrors.size(), row.params.size());
        for (std::size_t i = 0; i < row.params.size(); ++i) {
            SCOPED_TRACE(i);
            if (!row.errors.empty()) {
                EXPECT_TRUE(Agrees(fit.Params[i], row.params[i], 7));
                EXPECT_TRUE(Agrees(fit.StdErrors[i], row.errors[i], 7));
            } else {
                EXPECT_GT(fit.StdErrors[i], 0);
                EXPECT_LT(std::fabs(fit.Params[i] - row.params[i]), 3 * fit.StdErrors[i])
                    << fit.Params[i] << " ± " << fit.StdErrors[i];
            }
        }
        if (row.residualSD > 0) {
            EXPECT_TRUE(Agrees(fit.ResidualSD, row.residualSD, 7));
        }
        if (row.rSquared > 0) {
            EXPECT_TRUE(Agrees(fit.RSquared, row.rSquared, 7));
        }
        // The fitted curve through the data.
        double worst = 0;
        for (std::size_t i = 0; i < row.x.size(); ++i)
            worst = std::max(worst, std::fabs(FitValue(row.model, fit.Params, row.x[i]) - row.y[i]));
        EXPECT_LT(worst, 6 * fit.ResidualSD);
    }
}

// Perfect data give their parameters exactly, at any length and any magnitude; a curve that explains nothing
// of the points is refused with the reason, never shown as a result.
TEST(Analysis, AFitExplainsThePointsOrSaysNo) {
    const auto perfect = [](std::size_t n, double scale) {
        tSignal s;
        for (std::size_t i = 0; i < n; ++i) {
            s.X.push_back(1e-3 * double(i));
            s.Y.push_back(scale * 0.2 * std::sin(2 * std::numbers::pi * 2.5 * 1e-3 * double(i)));
        }
        return s;
    };
    const struct {
        const char* name;
        std::size_t n;
        double scale;
    } rows[] = {{"2·10⁴", 20000, 1}, {"10⁷", 10000000, 1}, {"at 10³⁰⁰", 20000, 1e300},
                {"at 10⁻³⁰⁰", 20000, 1e-300}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const tSignal s = perfect(row.n, row.scale);
        const tFit fit = FitCurve(tFitModel::Sine, s.X, s.Y);
        ASSERT_TRUE(fit.Ok) << fit.Error.toStdString();
        EXPECT_NEAR(fit.Params[0] / row.scale, 0.2, 1e-9);
        EXPECT_NEAR(fit.Params[1], 2.5, 1e-9);
        EXPECT_NEAR(std::remainder(fit.Params[2], 2 * std::numbers::pi), 0, 1e-6);
        EXPECT_NEAR(fit.Params[3] / row.scale, 0, 1e-9);
        EXPECT_GT(fit.RSquared, 1 - 1e-12);
    }
    // Lines that are no exponential approach nor sine: a fit that explains nothing is refused.
    tSignal noise;
    std::mt19937 random(3);
    std::normal_distribution<double> normal(0, 1);
    for (int i = 0; i < 2000; ++i) {
        noise.X.push_back(i * 0.01);
        noise.Y.push_back(normal(random));
    }
    tSignal trace = noise;
    for (std::size_t i = 0; i < trace.Y.size(); ++i) trace.Y[i] += 0.3 * std::exp(-trace.X[i] / 3);
    for (const tFitModel model : {tFitModel::ExpApproach, tFitModel::Sine, tFitModel::RiseToLimit}) {
        SCOPED_TRACE(FitModelKey(model).toStdString());
        const tFit traced = FitCurve(model, trace.X, trace.Y);
        EXPECT_FALSE(traced.Ok) << "R² = " << traced.RSquared;
        const tFit fit = FitCurve(model, noise.X, noise.Y);
        EXPECT_FALSE(fit.Ok && fit.RSquared < 0.19) << "R² = " << fit.RSquared;
        if (!fit.Ok) {
            EXPECT_FALSE(fit.Error.isEmpty());
        }
    }
    // A line through noise is the honest answer that there is no trend: kept.
    EXPECT_TRUE(FitCurve(tFitModel::Line, noise.X, noise.Y).Ok);
}

// Bad input is said, never thrown or hung on.
TEST(Analysis, BadInputIsSaid) {
    const tValues line = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        tFitModel model;
        tValues x, y;
        const char* error; // the start of the reason, or "" for any
    } rows[] = {
        {tFitModel::Line, {1, 2}, {1, 2}, "Слишком мало точек: для этой кривой нужно не меньше 3."},
        {tFitModel::Sine, {1, 2, 3, 4}, {1, 2, 1, 2}, "Слишком мало точек"},
        {tFitModel::Line, {1, 2, 3}, {1, NAN, 2}, "Среди значений есть нечисловые."},
        {tFitModel::Parabola, {1, INFINITY, 3, 4}, {1, 2, 2, 3}, "Среди значений есть нечисловые."},
        {tFitModel::Line, {2, 2, 2, 2}, {1, 2, 3, 4}, "У всех точек одно и то же значение x"},
        {tFitModel::Power, {-1, 1, 2, 3}, {1, 1, 8, 27}, "Степенная зависимость подбирается только"},
        {tFitModel::Line, {1, 2, 3}, {1, 2}, "Разное число значений x и y."},
        {tFitModel::Sine, line, line, ""},
        {tFitModel::ExpApproach, line, tValues(8, 5.0), ""},
        {tFitModel::RiseToLimit, line, {0, 0, 0, 0, 0, 0, 0, 0}, ""},
        // An answer beyond the largest double: refused, not R² = 0 with errors of 0 (the values alone, at
        // 10³⁰⁰, are fitted).
        {tFitModel::Line,
         {1e-10, 2e-10, 3e-10, 4e-10},
         {1e300, -1e300, 2e300, 0},
         "Числа в выбранной области слишком велики"},
        {tFitModel::Parabola,
         {1e-10, 2e-10, 3e-10, 4e-10},
         {1e300, -1e300, 2e300, 0},
         "Числа в выбранной области слишком велики"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(FitModelKey(row.model).toStdString() + " " + row.error);
        const tFit fit = FitCurve(row.model, row.x, row.y);
        EXPECT_FALSE(fit.Ok);
        EXPECT_FALSE(fit.Error.isEmpty());
        EXPECT_TRUE(fit.Error.startsWith(QString::fromUtf8(row.error))) << fit.Error.toStdString();
    }
}

// Statistics of the reference collection's hardest univariate sets; slope, area and the spectrum's peak.
TEST(Analysis, StatisticsSlopeAreaAndSpectrum) {
    const auto numAcc = [](double first, double low, double high) {
        tValues v{first};
        for (int i = 0; i < 500; ++i) {
            v.push_back(low);
            v.push_back(high);
        }
        return v;
    };
    const struct {
        const char* name;
        tValues values;
        double mean, sd;
    } sets[] = {
        {"NumAcc1", {10000001, 10000003, 10000002}, 10000002, 1},
        {"NumAcc2", numAcc(1.2, 1.1, 1.3), 1.2, 0.1},
        {"NumAcc3", numAcc(1000000.2, 1000000.1, 1000000.3), 1000000.2, 0.1},
        {"NumAcc4", numAcc(10000000.2, 10000000.1, 10000000.3), 10000000.2, 0.1},
        // Of any size: the spread is kept where its squares would overflow or underflow.
        {"near 1e300", {1e300, 3e300}, 2e300, std::sqrt(2.0) * 1e300},
        {"near 1e-300", {1e-300, 3e-300}, 2e-300, std::sqrt(2.0) * 1e-300},
        {"the largest cancel", {0, 1e308, -1e308, 1}, 0.25, 1e308 * std::sqrt(2.0 / 3)},
    };
    for (const auto& set : sets) {
        SCOPED_TRACE(set.name);
        const tStatistics s = Describe(set.values);
        EXPECT_EQ(s.Count, set.values.size());
        EXPECT_TRUE(Agrees(s.Mean, set.mean, 9));
        EXPECT_TRUE(Agrees(s.StdDev, set.sd, 8));
    }
    const tStatistics few = Describe(tValues{3, NAN, 1});
    EXPECT_EQ(few.Count, 2u);
    EXPECT_EQ(few.Min, 1);
    EXPECT_EQ(few.Max, 3);
    EXPECT_EQ(Describe(tValues{}).Count, 0u);
    // A spread beyond the largest double is said, not shown.
    const tValues extreme{1.7e308, -1.7e308};
    const tAnalysisResult tooLarge =
        Analyse(tAnalysisKind::Statistics, tFitModel::Line, tValues{1, 2}, extreme, 0, 3);
    EXPECT_FALSE(tooLarge.Ok);
    EXPECT_TRUE(tooLarge.Error.startsWith(QStringLiteral("Числа в выбранной области слишком велики")));

    // y = x² on 0…10: slope 2·x, area x³/3; a straight noisy rise keeps its slope.
    tValues x, y;
    for (int i = 0; i <= 1000; ++i) {
        x.push_back(i * 0.01);
        y.push_back(x.back() * x.back());
    }
    EXPECT_NEAR(SlopeAt(x, y, 5.0), 10.0, 1e-9);
    EXPECT_NEAR(Area(x, y, 2.0, 5.005), (std::pow(5.005, 3) - 8) / 3, 1e-4);
    EXPECT_NEAR(Area(x, y, 5.0, 2.0), -39.0, 1e-3);
    EXPECT_TRUE(std::isnan(SlopeAt(x, y, 11)));
    EXPECT_TRUE(std::isnan(Area(x, y, -1, 2)));
    const tSignal rise = Noisy(0, 1, 2000, 0.5, [](double t) { return 0.25 * t + 3; });
    EXPECT_NEAR(SlopeAt(rise.X, rise.Y, 1000), 0.25, 0.01);

    // A peak between the bins is found between them.
    for (const double frequency : {123.4, 440.0, 61.77}) {
        SCOPED_TRACE(frequency);
        tValues s;
        for (int i = 0; i < 1000; ++i) s.push_back(std::sin(2 * std::numbers::pi * frequency * i / 1000.0));
        const tSpectrum spectrum = AmplitudeSpectrum(s, 1000);
        EXPECT_NEAR(spectrum.Peak, frequency, 0.05);
        EXPECT_NEAR(spectrum.PeakAmplitude, 1.0, 0.2);
        EXPECT_NEAR(spectrum.Frequency.back(), 500, 1e-9);
    }
    EXPECT_EQ(DominantFrequency(tValues{1, 2, 3}, 1000), 0);
    EXPECT_EQ(DominantFrequency(tValues(100, 1.0), 1000), 0) << "no oscillation";
}

// A result as the box and the report show it, and as analysis.txt keeps it.
TEST(Analysis, ResultsAreShownWithTheirDigitsAndKept) {
    const QString point = QLocale().decimalPoint();
    const auto local = [&](const char* text) { return QString::fromUtf8(text).replace(u'.', point); };
    const struct {
        double value, error;
        const char* shown;
    } numbers[] = {
        {300.234, 2.1537, "300.2 ± 2.2"},
        {60.123, 0.3456, "60.12 ± 0.35"},
        {1817.63, 23.9, "1818 ± 24"},
        {2332.4, 82218, "2000 ± 82000"},
        {0.000673565789, 0.000107938612, "0.00067 ± 0.00011"},
        {-3.16081871345029E-15, 4.86652849992036E-17, "(-3.161 ± 0.049)·10⁻¹⁵"},
        {440.0012, 0, "440.001"},
        {2.5, NAN, "2.5"},
    };
    for (const auto& row : numbers) EXPECT_EQ(FormatWithError(row.value, row.error), local(row.shown));

    // Every value carries its unit, taken from the axes' captions; a quantity without a unit leaves no stray
    // sign; a number's sign is the minus of the formulas; a spectrum's peak has the digits its region allows.
    const struct {
        tAnalysisKind kind;
        tFitModel model;
        std::vector<double> values;
        double from, to;
        const char* captionY;
        const char* lines; // from the third line of a fit, the second of the rest
        const char* captionX = "t, с";
    } boxes[] = {
        {tAnalysisKind::Statistics,
         tFitModel::Line,
         {5, 22, 0.5, 21.5, 23},
         0,
         10,
         "T, °C",
         "точек: 5|среднее: 22.00 ± 0.22 °C|ст. отклонение: 0.5 °C|мин.: 21.5 °C, макс.: 23 °C|Δ = 1.5 °C"},
        // An axis named by its unit: days counted.
        {tAnalysisKind::Slope, tFitModel::Line, {8.15, 5, 40}, 5, 5, "Длина, мм", "наклон: 8.15 мм/сут", "Сутки"},
        {tAnalysisKind::Fit,
         tFitModel::Line,
         {0.25, -3, 0.01, 0.1, 0.1, 0.9},
         0,
         10,
         "T, °C",
         "a = 0.250 ± 0.010 °C/с|b = −3.00 ± 0.10 °C"},
        {tAnalysisKind::Fit,
         tFitModel::Line,
         {-0.25, 3, 0.01, 0.1, 0.1, 0.9},
         0,
         10,
         "Сигнал",
         "a = −0.250 ± 0.010 с⁻¹|b = 3.00 ± 0.10"},
        {tAnalysisKind::Fit,
         tFitModel::Parabola,
         {1, 2, 3, 0.1, 0.1, 0.1, 0.1, 0.9},
         0,
         10,
         "x, м",
         "a = 1.00 ± 0.10 м/с²|b = 2.00 ± 0.10 м/с|c = 3.00 ± 0.10 м"},
        {tAnalysisKind::Fit,
         tFitModel::RiseToLimit,
         {4.5, 3, 0.1, 0.1, 0.1, 0.9},
         0,
         10,
         "U, В",
         "a = 4.50 ± 0.10 В|τ = 3.00 ± 0.10 с (половина за 2.079 ± 0.069 с)"},
        {tAnalysisKind::Fit,
         tFitModel::Sine,
         {0.2, 2.5, -1, 0, 0.01, 0.01, 0.1, 0.01, 0.1, 0.9},
         0,
         3,
         "Сигнал",
         "A = 0.200 ± 0.010|f = 2.500 ± 0.010 Гц|φ = −1.00 ± 0.10 рад|c = 0.000 ± 0.010"},
        {tAnalysisKind::Area, tFitModel::Line, {-12.5}, 0, 10, "Сигнал", "−12.5 с"},
        {tAnalysisKind::Area, tFitModel::Line, {12.5}, 0, 10, "T, °C", "12.5 °C·с"},
        {tAnalysisKind::Slope, tFitModel::Line, {-0.5, 2, 1}, 2, 2, "Сигнал", "наклон: −0.5 с⁻¹"},
        {tAnalysisKind::Spectrum, tFitModel::Line, {2.50241, 0.4}, 0, 3, "Сигнал", "пик: 2.5 Гц"},
        {tAnalysisKind::Spectrum, tFitModel::Line, {2.50241, 0.4}, 0, 30, "Сигнал", "пик: 2.50 Гц"},
        {tAnalysisKind::Spectrum, tFitModel::Line, {2.50241, 0.4}, 0, 0.8, "Сигнал", "пик: 3 Гц"},
        {tAnalysisKind::Fit,
         tFitModel::Parabola,
         {1, 2, 3, 0.1, 0.1, 0.1, 0.1, 0.9},
         0,
         10,
         "Сигнал",
         "a = 1.00 ± 0.10 с⁻²|b = 2.00 ± 0.10 с⁻¹|c = 3.00 ± 0.10"},
    };
    for (const auto& box : boxes) {
        tAnalysisResult r;
        r.Kind = box.kind;
        r.Model = box.model;
        r.Values = box.values;
        r.From = box.from;
        r.To = box.to;
        r.Ok = true;
        const QStringList lines =
            ResultLines(r, QString::fromUtf8(box.captionX), QString::fromUtf8(box.captionY));
        const int first = box.kind == tAnalysisKind::Fit ? 2 : 1;
        QStringList shown = lines.mid(first);
        if (box.kind == tAnalysisKind::Fit) shown.removeLast(); // R²
        EXPECT_EQ(shown.join(u'|'), local(box.lines));
    }

    // The cooling fitted over the region 100…700 s: its lines, its half-life, and the region's points only.
    tValues x, y;
    for (int i = 0; i <= 1200; ++i) {
        x.push_back(i);
        y.push_back(i < 100 ? 95.0 : Cooling(i));
    }
    const tAnalysisResult fit = Analyse(tAnalysisKind::Fit, tFitModel::ExpApproach, x, y, 700, 100);
    ASSERT_TRUE(fit.Ok) << fit.Error.toStdString();
    EXPECT_EQ(fit.From, 100);
    EXPECT_EQ(fit.To, 700);
    const QStringList lines = ResultLines(fit, QStringLiteral("t, с"), QStringLiteral("T, °C"));
    ASSERT_EQ(lines.size(), 6) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Экспонента к пределу"));
    EXPECT_EQ(lines[1], QStringLiteral("y = c + a·e^(−x/τ)"));
    EXPECT_TRUE(lines[3].startsWith(local("τ = 300.0"))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(local("(половина за 207.9"))) << lines[3].toStdString();
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("R² = 1"))) << lines[5].toStdString();
    EXPECT_EQ(RegionText(fit, QStringLiteral("t, с")), QStringLiteral("t = 100…700 с"));
    EXPECT_EQ(RegionText(fit, QStringLiteral("Сутки")), QStringLiteral("Сутки = 100…700 сут"));
    EXPECT_EQ(RegionText(fit, QStringLiteral("Номер")), QStringLiteral("Номер = 100…700"));
    const tAnalysisResult stats = Analyse(tAnalysisKind::Statistics, tFitModel::Line, x, y, 10.5, 20);
    EXPECT_EQ(stats.Values[0], 10) << "the points 11…20";
    EXPECT_EQ(stats.Values[1], 95);
    const tAnalysisResult none = Analyse(tAnalysisKind::Statistics, tFitModel::Line, x, y, 2000, 3000);
    EXPECT_FALSE(none.Ok);
    EXPECT_EQ(ResultLines(none, {}, {}),
              QStringList{QStringLiteral("В выбранной области слишком мало точек.")});
    EXPECT_EQ(Analyse(tAnalysisKind::Spectrum, tFitModel::Line, x, y, 200, 700).Error,
              QStringLiteral("В выбранной области не видно колебаний."));

    // Kept and read back whole; a damaged line is no result.
    tAnalysisResult kept = fit;
    kept.Run = 2;
    QPointF box;
    const std::optional<tAnalysisResult> back = DecodeResult(EncodeResult(kept, QPointF(0.61, 0.125)), &box);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Kind, tAnalysisKind::Fit);
    EXPECT_EQ(back->Model, tFitModel::ExpApproach);
    EXPECT_EQ(back->Run, 2);
    EXPECT_EQ(box, QPointF(0.61, 0.125));
    // A box the chart placed is written as such and placed anew; so is one written with no place.
    ASSERT_TRUE(DecodeResult(EncodeResult(kept), &box));
    EXPECT_EQ(box, QPointF(-1, -1));
    EXPECT_TRUE(EncodeResult(kept).contains(QStringLiteral(";-1;-1;")));
    EXPECT_EQ(back->Values, kept.Values) << "every digit";
    EXPECT_EQ(ResultLines(*back, QStringLiteral("t, с"), QStringLiteral("T, °C")), lines);
    // A result of another quantity than the chart's keeps its name.
    tAnalysisResult rate = stats;
    rate.Quantity = QStringLiteral("Частота; уд/мин");
    ASSERT_TRUE(DecodeResult(EncodeResult(rate)));
    EXPECT_EQ(DecodeResult(EncodeResult(rate))->Quantity, QStringLiteral("Частота, уд/мин"));
    EXPECT_EQ(DecodeResult(EncodeResult(stats))->Quantity, QString());
    const QString good = EncodeResult(kept);
    for (const QString& bad :
         {QString(), QStringLiteral("junk"),
          QString(good).replace(QStringLiteral("Fit;"), QStringLiteral("Fits;")), good.left(good.size() - 4),
          QString(good).replace(u' ', QStringLiteral(" x ")),
          QString(good).replace(QStringLiteral("ExpApproach"), QStringLiteral("Line")),
          // Values no result of its kind can have.
          QStringLiteral("Statistics;Line;1;0;1;-1;-1;nan 1 1 0 2"),
          QStringLiteral("Statistics;Line;1;0;1;-1;-1;1e300 1 1 0 2"),
          QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 -1 0 2"),
          QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 1 2 0"),
          QStringLiteral("Statistics;Line;1;0;1;-1;-1;2.5 1 1 0 2"),
          QStringLiteral("Spectrum;Line;1;0;1;-1;-1;-5 1"), QStringLiteral("Spectrum;Line;1;0;1;-1;-1;inf 1"),
          QStringLiteral("Area;Line;1;0;1;-1;-1;nan"), QStringLiteral("Area;Line;1;nan;1;-1;-1;2"),
          QStringLiteral("Fit;Line;1;0;1;-1;-1;1 2 -0.1 0.1 0.5 0.9"),
          QStringLiteral("Fit;Line;1;0;1;-1;-1;1 2 0.1 0.1 0.5 1.5")})
        EXPECT_FALSE(DecodeResult(bad)) << bad.toStdString();
    EXPECT_TRUE(DecodeResult(QStringLiteral("Statistics;Line;1;0;1;-1;-1;3 1 1 0 2")));
    EXPECT_TRUE(DecodeResult(QStringLiteral("Fit;Line;1;0;1;-1;-1;1 2 0.1 0.1 0.5 -3")));
}
