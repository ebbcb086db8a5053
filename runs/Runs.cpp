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

int tRunStore::MaxPoints() const {
    int most = 0;
    for (const auto& run : FRuns) most = std::max(most, run->Points->Count());
    return most;
}
