// The run store.
#include "runs/Runs.h"

#include <algorithm>

void tRunStore::Clear() {
    FRuns.clear();
    FChosen = -1;
    FLastId = 0;
}

void tRunStore::Add(std::shared_ptr<tRun> run) {
    // A run read back from its file goes by its file's number; one kept nowhere by a number above every
    // file's.
    FLastId = std::max(FLastId + 1, run->Number);
    run->Id = FLastId;
    FRuns.push_back(std::move(run));
}

void tRunStore::Add(std::vector<std::shared_ptr<tRun>> runs) {
    for (auto& run : runs) Add(std::move(run));
}

int tRunStore::IndexOf(int id) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (FRuns[size_t(i)]->Id == id) return i;
    return -1;
}

int tRunStore::Number(int i) const {
    const tRun& run = Run(i);
    return run.Number > 0 ? run.Number : run.Id;
}

void tRunStore::Remove(int i) {
    if (i < 0 || i >= Count()) return;
    FRuns.erase(FRuns.begin() + i);
    if (FChosen == i)
        FChosen = -1;
    else if (FChosen > i)
        --FChosen;
}

QString tRunStore::Name(int i) const {
    const tRun& run = Run(i);
    if (!run.Name.isEmpty()) return run.Name;
    return QStringLiteral("Опыт %1").arg(Number(i));
}

int tRunStore::Chosen() const {
    return FChosen >= 0 && FChosen < Count() ? FChosen : Count() - 1;
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
