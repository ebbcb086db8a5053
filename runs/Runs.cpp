// The run store.
#include "runs/Runs.h"

#include <algorithm>

void tRunStore::Clear() {
    FRuns.clear();
    if (OnRunsChanged) OnRunsChanged();
}

void tRunStore::Add(std::shared_ptr<tRun> run) {
    FRuns.push_back(std::move(run));
    if (OnRunsChanged) OnRunsChanged();
}

void tRunStore::Add(std::vector<std::shared_ptr<tRun>> runs) {
    for (auto& run : runs) FRuns.push_back(std::move(run));
    if (OnRunsChanged) OnRunsChanged();
}

void tRunStore::RemoveLast() {
    if (FRuns.empty()) return;
    FRuns.pop_back();
    if (OnRunsChanged) OnRunsChanged();
}

int tRunStore::MaxPoints() const {
    int most = 0;
    for (const auto& run : FRuns) most = std::max(most, run->Points->Count());
    return most;
}

double PointTime(std::int64_t index, int freq, int average) {
    return double(index * std::int64_t(freq) * std::int64_t(average)) / 1e6;
}

int TimeDecimals(std::int64_t period) {
    if (period <= 0) return 0;
    int decimals = 6;
    while (decimals > 0 && period % 10 == 0) {
        period /= 10;
        --decimals;
    }
    return decimals;
}
