// Fuzz target: work.txt in any bytes, run keys and all, beside two run files: the work opens with what is
// sound or says why it cannot, and the next run never takes the name of a file that is there.
#include "core/Exception.h"
#include "runs/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.path();
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(path + u'/' + QString::fromLatin1(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    };
    write("run-01.csv", "\xEF\xBB\xBFt, c;T;Метка\r\n0;20,5;\r\n0,1;21;\r\n");
    write("run-02.csv", "\xEF\xBB\xBFt, c;T;Метка\r\n0;1;\r\n");
    write("work.txt", QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    tRunStore runs;
    tOpenedWork opened;
    try {
        opened = ReadWorkFolder(path, runs);
    } catch (const Exception&) {
        return 0;
    }
    tWorkFolder next(path, opened.RunFiles, opened.ListLines);
    auto run = std::make_shared<tRun>();
    try {
        next.BeginRun(run);
        next.EndRun();
    } catch (const Exception&) {
        return 0;
    }
    if (run->Number <= 2) std::abort();
    QFile kept(path + QStringLiteral("/run-01.csv"));
    kept.open(QIODevice::ReadOnly);
    if (!kept.readAll().endsWith("0,1;21;\r\n")) std::abort();
    return 0;
}
