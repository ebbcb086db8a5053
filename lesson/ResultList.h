// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis results of a work: each result with where its box stands, in the order found, the runs named
// by their numbers; the lines of analysis.txt that are no result this program knows, kept as they came; and
// an analysis to be done off the window's thread.
#pragma once

#include "analysis/Results.h"

#include <QPointF>
#include <QStringList>
#include <vector>

class tExperiment;
struct tRun;

// An analysis of a run, to be done off the window's thread: the points it needs, copied, and what it found.
struct tAnalysisJob {
    std::vector<double> X, Y;
    tAnalysisResult Result; // the kind, model, region, run and quantity asked for; then what was found
    tSpectrum Spectrum;     // of a spectrum: all of it, for its window
    // Seconds added to every x before a fit (the fit shift); the region and the result stay in the chart's x.
    double Shift = 0;
    // Runs the analysis (on any thread); `progress` cancels it with false.
    void Run(const tFitProgress& progress = {});
};
// The analysis of `kind` of run `run` of an experiment `experiment` (its number `number`) over the region
// [from, to]: the points it needs copied, the region's and one beyond each end (a slope's neighbours), all of
// them for a kind taken at a point. A pulse run's statistics are of its beat rate; a fit's x are shifted by
// FitShift.
tAnalysisJob PrepareAnalysis(const tRun& run, int number, const tExperiment& experiment, tAnalysisKind kind,
                             tFitModel model, double from, double to);
// Where a fit takes the points of an averaged run: each at the middle of the block of values it is the mean
// of, this many seconds after the chart's x (k·Freq·Average); 0 without averaging. A fitted curve is drawn at
// the chart's x through the model at x + the shift.
double FitShift(const tExperiment& experiment);

class tResultList {
public:
    void Clear();
    // The lines of analysis.txt (bytes, each with its end): each result with its box; the lines that are none,
    // kept byte for byte to be written back.
    void Load(const QList<QByteArray>& lines);
    int Count() const { return int(FResults.size()); }
    const tAnalysisResult& Result(int i) const { return FResults[std::size_t(i)].Value; }
    // Where the box stands in fractions of the plotting area; negative: where the chart places it.
    QPointF Box(int i) const { return FResults[std::size_t(i)].Box; }
    void SetBox(int i, QPointF box) { FResults[std::size_t(i)].Box = box; }
    void Add(const tAnalysisResult& result) { FResults.push_back({result, QPointF(-1, -1)}); }
    void Remove(int i) { FResults.erase(FResults.begin() + i); }
    // Every result goes; the lines that are none stay.
    void RemoveAll() { FResults.clear(); }
    // The results of the run numbered `number`, as lines, taken out of `kept` (a copy of these results
    // without them); true when there were any.
    bool Without(int number, QStringList& gone, tResultList& kept) const;
    // The results as analysis.txt holds them, a line each.
    QStringList Lines() const;
    // The lines that are no result (damaged, or of a newer program), as they came: each ends in its own end.
    const QByteArray& Kept() const { return FUnknown; }

private:
    struct tEntry {
        tAnalysisResult Value;
        QPointF Box{-1, -1};
    };
    std::vector<tEntry> FResults;
    QByteArray FUnknown;
};
