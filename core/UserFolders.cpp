// The user's own folders.
#include "core/UserFolders.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/TextCodec.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace {

// A relative XDG path means nothing reliable: the default is taken instead.
QString XdgFolder(const char* variable, const char* fallback) {
    QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QLatin1String(fallback);
    return base + QStringLiteral("/zorbinka");
}

} // namespace

QString UserStateFolder() {
    return XdgFolder("XDG_STATE_HOME", "/.local/state");
}

QString UserConfigFolder() {
    return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

QString UserCatalogueFolder() {
    return XdgFolder("XDG_DATA_HOME", "/.local/share") + QStringLiteral("/data/");
}

QString SetAsideUnusable(const QString& fileName, qint64 maxSize) {
    const QFileInfo entry(fileName);
    if (!entry.exists() && !entry.isSymLink()) return {};
    QString reason;
    if (entry.isSymLink() && !entry.exists()) {
        reason = QStringLiteral("ссылка никуда не ведёт");
    } else {
        try {
            // The same look as at a catalogue's file: a FIFO, a device or a folder is refused at once.
            ::close(OpenRegularFile(fileName, maxSize));
        } catch (const Exception& e) {
            reason = e.Message();
        }
    }
    if (reason.isEmpty()) return {};
    const QString aside = fileName + QStringLiteral(".unusable");
    if (entry.isDir() && !entry.isSymLink()) QDir(aside).removeRecursively();
    if (std::rename(fileName.toLocal8Bit().constData(), aside.toLocal8Bit().constData()) != 0)
        reason += QStringLiteral(" (не отложен)");
    WriteLog(QStringLiteral("Файл состояния \"%1\" не прочитан и отложен как \"%2\": %3")
                 .arg(fileName, aside, reason));
    return reason;
}

QString UserStateFile(const QString& name) {
    const QString file = UserStateFolder() + u'/' + name;
    // Not even moved aside (a folder that cannot be written): nothing is read, nothing kept.
    if (!SetAsideUnusable(file).isEmpty() && !QFileInfo(file).isFile()) return QStringLiteral("/dev/null");
    return file;
}
