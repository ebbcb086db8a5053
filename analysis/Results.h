// What one analysis of a region of a run found, as the chart's result box shows it, the report's table row
// takes it and the work folder keeps it (analysis.txt, one result per line).
#pragma once

#include "analysis/Fit.h"
#include "analysis/Spectrum.h"

#include <QPointF>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>
#include <vector>

enum class tAnalysisKind { Statistics, Slope, Area, Fit, Spectrum };

struct tAnalysisResult {
    tAnalysisKind Kind = tAnalysisKind::Statistics;
    tFitModel Model = tFitModel::Line; // of a fit
    int Run = 0;                       // the run's number in its work (1, 2, …)
    double From = 0, To = 0;           // the region; a slope is taken at From
    // Statistics: count, mean, standard deviation, min, max. Slope: slope, x, y. Area: area. Fit: the
    // parameters, their standard errors, the residual SD, R². Spectrum: peak frequency, its amplitude.
    std::vector<double> Values;
    QString Quantity; // what was analysed («Частота, уд/мин») when not the chart's own quantity
    bool Ok = false;
    QString Error;
};

// What an analysis is given besides the points: where it tells how far it got, where a spectrum goes whole.
struct tAnalysisContext {
    const tFitProgress& Progress;
    tSpectrum* Spectrum;
};

// One kind of analysis: how the Анализ menu names it, what it finds in the points and how its result reads.
// A new kind is a row of the table AnalysisKinds() gives.
struct tAnalysisKindInfo {
    tAnalysisKind Kind;
    const char* Key;     // its word in analysis.txt
    const char* Caption; // in the menu
    const char* Hint;
    bool AtPoint;       // taken at the marker's point (From), not over a region
    std::size_t Values; // the values a result holds; 0: those of its fit model
    // Fills the result's Values and Ok from all points (`x`, `y`) and the region's (`rx`, `ry`).
    void (*Compute)(tAnalysisResult& result, std::span<const double> x, std::span<const double> y,
                    std::span<const double> rx, std::span<const double> ry, const tAnalysisContext& context);
    // Why a result could not be found, when the region holds points enough.
    const char* Failure;
    // Whether the values (as many as it holds) can be a result of this kind: finite, a spread not below zero…
    bool (*Sound)(const tAnalysisResult& result);
    // The box's lines, its title first, for the axes' captions ("t, с": a unit after the comma).
    QStringList (*Lines)(const tAnalysisResult& result, const QString& captionX, const QString& captionY);
};
std::span<const tAnalysisKindInfo> AnalysisKinds();
const tAnalysisKindInfo& KindInfo(tAnalysisKind kind);

// Analyses the points of a run (x ascending) between From and To (inclusive; in either order). A slope is
// taken at `from`; a spectrum needs points evenly spaced in time.
// A long fit tells `progress` how far it got (false cancels); a spectrum is also handed over whole in
// `spectrum`.
tAnalysisResult Analyse(tAnalysisKind kind, tFitModel model, std::span<const double> x,
                        std::span<const double> y, double from, double to, const tFitProgress& progress = {},
                        tSpectrum* spectrum = nullptr);

// "value ± error" with the digits the error allows: the error to two significant digits, the value to the
// same place; a power of ten apart for very large or small numbers. The user's decimal separator.
QString FormatWithError(double value, double error);
// A value to `digits` significant digits without the zeros that would end it, the user's decimal separator.
QString FormatSignificant(double value, int digits = 4);

// The box's lines: a title, then the formula and the numbers, each parameter with its standard error. The
// captions name the axes ("t, с", "T, °C"); their units follow the comma.
// A spectrum's peak as its box and its window say it («пик: 2,5 Гц»), with the digits the region's length
// allows.
QString PeakText(const tAnalysisResult& r);
QStringList ResultLines(const tAnalysisResult& result, const QString& captionX, const QString& captionY);
// The region as the report names it: "t = 12,5…80 с".
QString RegionText(const tAnalysisResult& result, const QString& captionX);

// One line of analysis.txt, numbers written the C way, with where its box stands (its top left corner in
// fractions of the plotting area; negative: where the chart places it); a line that is not a result gives
// nothing.
QString EncodeResult(const tAnalysisResult& result, QPointF box = QPointF(-1, -1));
std::optional<tAnalysisResult> DecodeResult(const QString& line, QPointF* box = nullptr);
