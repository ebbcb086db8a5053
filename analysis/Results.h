// What one analysis of a region of a run found, as the chart's result box shows it, the report's table row
// takes it and the work folder keeps it (analysis.txt, one result per line).
#pragma once

#include "analysis/Fit.h"

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
    QPointF Box{0.02, 0.02}; // the box's top left corner in fractions of the plotting area
    QString Quantity; // what was analysed («Частота, уд/мин») when not the chart's own quantity
    bool Ok = false;
    QString Error;
};

// Analyses the points of a run (x ascending) between From and To (inclusive; in either order). A slope is
// taken at `from`; a spectrum needs points evenly spaced in time.
tAnalysisResult Analyse(tAnalysisKind kind, tFitModel model, std::span<const double> x,
                        std::span<const double> y, double from, double to);

// "value ± error" with the digits the error allows: the error to two significant digits, the value to the
// same place; a power of ten apart for very large or small numbers. The user's decimal separator.
QString FormatWithError(double value, double error);
// A value to `digits` significant digits without the zeros that would end it, the user's decimal separator.
QString FormatSignificant(double value, int digits = 4);

// The box's lines: a title, then the formula and the numbers, each parameter with its standard error. The
// captions name the axes ("t, с", "T, °C"); their units follow the comma.
QStringList ResultLines(const tAnalysisResult& result, const QString& captionX, const QString& captionY);
// The region as the report names it: "t = 12,5…80 с".
QString RegionText(const tAnalysisResult& result, const QString& captionX);

// One line of analysis.txt, numbers written the C way; a line that is not a result gives nothing.
QString EncodeResult(const tAnalysisResult& result);
std::optional<tAnalysisResult> DecodeResult(const QString& line);
