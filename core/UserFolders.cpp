// The user's state folder.
#include "core/UserFolders.h"

#include <QDir>

QString UserStateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME means nothing reliable: the default is taken instead.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/zorbinka");
}
