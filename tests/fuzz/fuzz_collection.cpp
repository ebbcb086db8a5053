// Fuzz target: collection.ini in any bytes gives each experiment's way of collecting within its ranges, and
// that is written and read back the same.
#include "core/Settings.h"
#include "runs/Collection.h"

#include <QSettings>
#include <QTemporaryDir>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool InRange(const tCollection& c) {
    return c.Duration >= 0 && c.Duration <= 24 * 3600 && c.StartDelay >= 0 && c.StartDelay <= 3600 &&
           c.PreTrigger >= 0 && c.PreTrigger <= kMaxPreTrigger && std::isfinite(c.TriggerLevel);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("collection.ini"));
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const QSettings state(file, QSettings::IniFormat);
    for (const QString& key : state.allKeys()) {
        tSettings own(false);
        own.SetLines(state.value(key).toStringList());
        const tCollection c = ReadCollection(own);
        if (!InRange(c)) std::abort();
        tSettings back(false);
        back.SetLines(CollectionLines(c));
        const tCollection again = ReadCollection(back);
        if (!InRange(again) || again.Trigger != c.Trigger || again.TriggerRising != c.TriggerRising ||
            std::abs(again.Duration - c.Duration) > 1e-9 * std::max(1.0, c.Duration))
            std::abort();
    }
    return 0;
}
