// Fuzz target: the RTF reader must return whatever it could read, never crash or hang, and its result must
// write out again.
#include "widgets/RtfReader.h"
#include "widgets/RtfWriter.h"

#include <QGuiApplication>
#include <QTextDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "fuzz_rtf";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
    QTextDocument document;
    ReadRtf(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), document);
    (void)WriteRtf(document);
    return 0;
}
