// The user's state folder.
#include "core/UserFolders.h"

#include <QDir>

QString UserStateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // The specification says a relative path is to be ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/zorbinka");
}
