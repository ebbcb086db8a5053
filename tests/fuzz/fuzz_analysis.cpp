// Fuzz target: a line of analysis.txt in any bytes is a result that can be one of its kind, or none; a result
// reads as its box lines without a crash and is written back to the same values.
#include "analysis/Results.h"
#include "core/TextCodec.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = DecodeTextFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QString& line : SplitTextLines(text)) {
        QPointF box;
        const std::optional<tAnalysisResult> result = DecodeResult(line.trimmed(), &box);
        if (!result) continue;
        if (!KindInfo(result->Kind).Sound(*result) || !std::isfinite(result->From)) std::abort();
        (void)ResultLines(*result, QStringLiteral("t, с"), QStringLiteral("T, °C"));
        (void)RegionText(*result, QStringLiteral("t, с"));
        const std::optional<tAnalysisResult> back = DecodeResult(EncodeResult(*result, box));
        if (!back || back->Values != result->Values || back->Run != result->Run) std::abort();
    }
    return 0;
}
