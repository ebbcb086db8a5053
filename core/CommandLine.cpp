// Switch lookup on the command line and the executable's path.
#include "core/CommandLine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <optional>

namespace {

QMutex gMutex;
std::optional<QStringList> gArguments;
std::optional<QString> gExecutablePath;

} // namespace

void SetCommandLine(const QStringList& arguments) {
    QMutexLocker locker(&gMutex);
    gArguments = arguments;
}

bool FindCmdLineSwitch(const QString& name) {
    QStringList arguments;
    {
        QMutexLocker locker(&gMutex);
        arguments = gArguments ? *gArguments : QCoreApplication::arguments();
    }
    // The first argument is the program itself.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString word = arguments[i];
        if (word.startsWith(QStringLiteral("--")))
            word.remove(0, 2);
        else if (word.startsWith(u'-') || word.startsWith(u'/'))
            word.remove(0, 1);
        if (word.compare(name, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

QString ExecutablePath() {
    QMutexLocker locker(&gMutex);
    return gExecutablePath ? *gExecutablePath : QCoreApplication::applicationFilePath();
}

void SetExecutablePath(const QString& path) {
    QMutexLocker locker(&gMutex);
    gExecutablePath = path;
}

QString ChangeFileExt(const QString& path, const QString& extension) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot > slash) return path.left(dot) + extension;
    return path + extension;
}
