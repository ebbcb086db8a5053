// SPDX-License-Identifier: GPL-3.0-or-later
// The Анализ menu: a command for every kind of analysis and every fit model, from their tables, the
// experiment's own fit first. Each analyses the lesson's chosen run over the frame's region; the lesson keeps
// the result. В отчёт adds the newest result to the report's table; Спектр also opens a window of its own.
#pragma once

#include "analysis/Fit.h"

#include <QMenu>
#include <functional>

class tLesson;
class tPageOutput;
class TfmSpectrum;
class TfrExperiment;
struct tAnalysisResult;
enum class tAnalysisKind;
struct tSpectrum;

class TAnalysisMenu : public QMenu {
    Q_OBJECT
public:
    // `frame` gives the frame shown (none: nothing to analyse).
    TAnalysisMenu(QWidget* window, tLesson& lesson, std::function<TfrExperiment*()> frame,
                  tPageOutput& output);

    // The spectrum window, made the first time a spectrum is shown.
    TfmSpectrum* Spectrum() const { return fmSpectrum; }

private:
    QAction* Command(const QString& name, const QString& caption, const QString& hint,
                     const std::function<void()>& command);
    void Analyse(tAnalysisKind kind, tFitModel model = tFitModel::Line);
    void ResultToReport();
    void ShowSpectrum(const tAnalysisResult& result, const tSpectrum& spectrum);

    tLesson& FLesson;
    std::function<TfrExperiment*()> FFrame;
    tPageOutput& FOutput;
    QMenu* mnFit = nullptr;
    std::vector<std::pair<tFitModel, QAction*>> FFits;
    TfmSpectrum* fmSpectrum = nullptr;
};
