// Fuzz target: experiment.txt in any bytes gives a definition the chart can use (a sampling period, a block
// size and axes that are not empty) or a clear error, never a crash.
#include "core/Exception.h"
#include "experiment/Experiment.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tExperiment experiment;
    experiment.SetDefaults();
    try {
        experiment.ReadText(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const Exception&) {
        return 0;
    }
    if (experiment.Freq <= 0 || experiment.Average <= 0 || !(experiment.MinX < experiment.MaxX) ||
        !(experiment.MinY < experiment.MaxY) || !(experiment.IncX > 0) || !(experiment.IncY > 0) ||
        experiment.SeriesCount < 1 || experiment.SeriesCount > 2)
        std::abort();
    return 0;
}
