// Fuzz target: the .cfg reader and its typed keys must take any bytes (any encoding, any line ends) without
// crashing, and a value read back must be the one stored.
#include "core/Settings.h"
#include "core/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tSettings settings(true);
    settings.SetLines(
        SplitTextLines(DecodeTextFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)))));
    for (const char* key : {"UseFTDI", "UseCDC", "UseHID", "Timeout", "HID_VID", "FixWine", "Latency"}) {
        (void)settings.GetInt(QString::fromLatin1(key), 1);
        (void)settings.GetBool(QString::fromLatin1(key), true);
    }
    for (int i = 0; i < settings.GetCount(); ++i) {
        const QString name = settings.GetNameByIndex(i);
        if (name.isEmpty()) continue;
        settings.SetSettingByName(name, QStringLiteral("7"));
        if (settings.GetInt(name, 0) != 7) std::abort();
    }
    return 0;
}
