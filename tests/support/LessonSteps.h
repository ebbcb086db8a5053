// Steps of a lesson that tests and benchmarks take in one go: an analysis done at once and kept; values taken
// into the run measured with labels given to some of its points, as the point-label box gives them.
#pragma once

#include "lesson/Lesson.h"

#include <functional>
#include <vector>

// An analysis of the chosen run, done at once and kept.
inline const tAnalysisResult& Analyse(tLesson& lesson, tAnalysisKind kind, tFitModel model, double from,
                                      double to) {
    tAnalysisJob job = lesson.PrepareAnalysis(kind, model, from, to);
    job.Run();
    return lesson.AddResult(job);
}

// Takes `values` whole into the run measured (a run that records every point); point p of the run gets the
// label `label(p)` gives, when it gives one.
inline void TakeLabelled(tLesson& lesson, const std::vector<double>& values,
                         const std::function<QString(int point)>& label) {
    const std::size_t average = std::size_t(std::max(1, lesson.Experiment().Average));
    const int first = lesson.Run(lesson.Measured()).Points->Count();
    const std::size_t points = values.size() / average;
    std::size_t from = 0;
    std::vector<double> chunk;
    for (std::size_t p = 0; p <= points; ++p) {
        const QString text = p < points ? label(first + int(p)) : QString();
        if (p < points && text.isEmpty()) continue;
        chunk.assign(values.begin() + std::ptrdiff_t(from * average),
                     p < points ? values.begin() + std::ptrdiff_t(p * average) : values.end());
        lesson.TakeRunValues(chunk, true);
        from = p;
        if (p < points) {
            lesson.BeginLabel();
            lesson.EndLabel(text);
        }
    }
}
