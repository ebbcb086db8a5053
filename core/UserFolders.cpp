// The user's own folders.
#include "core/UserFolders.h"

#include <QDir>

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
