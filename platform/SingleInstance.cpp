// Lock file and local socket of the single running copy.
#include "platform/SingleInstance.h"

#include "core/Exception.h"
#include "core/Strings.h"

#include <QDir>
#include <QLocalSocket>
#include <cerrno>
#include <unistd.h>

const char kInstanceName[] = "{52F34C3B-7E4A-4587-A0FE-98F3FEA865D0}";

namespace {

const QByteArray kActivate = QByteArrayLiteral("ACTIVATE\n");

} // namespace

tSingleInstance::tSingleInstance(const QString& directory, QObject* parent)
    : QObject(parent), FDirectory(directory) {}

tSingleInstance::~tSingleInstance() {
    Release();
}

QString tSingleInstance::DefaultDirectory() {
    const QString forced = qEnvironmentVariable("ZORBINKA_RUNTIME_DIR");
    if (!forced.isEmpty()) return forced;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath();
}

QString tSingleInstance::LockPath() const {
    return FDirectory +
           QStringLiteral("/zorbinka-%1-%2.lock").arg(QString::fromLatin1(kInstanceName)).arg(getuid());
}

QString tSingleInstance::ServerName() const {
    return FDirectory +
           QStringLiteral("/zorbinka-%1-%2.sock").arg(QString::fromLatin1(kInstanceName)).arg(getuid());
}

bool tSingleInstance::TryTake() {
    FLock = std::make_unique<QLockFile>(LockPath());
    // Only a dead owner makes the lock stale, never its age: a copy may run for weeks.
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0)) return true;
    if (FLock->error() == QLockFile::LockFailedError) {
        FLock.reset();
        return false;
    }
    const int error = FLock->error() == QLockFile::PermissionError || errno == 0 ? EACCES : errno;
    FLock.reset();
    throw Exception(LoadStr(sSystemError) + LoadStr(sCannotCreateMutex) + SystemErrorText(error));
}

void tSingleInstance::Listen() {
    FServer = std::make_unique<QLocalServer>();
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left by a copy that died is nobody's.
    QLocalServer::removeServer(ServerName());
    if (!FServer->listen(ServerName())) return;
    connect(FServer.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = FServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // Requests are lines: "ACTIVATE", then "OPEN " and a path in UTF-8 when one is to be opened. They
            // are acted on after the socket is done with: opening a work may ask a question, whose event loop
            // sees the second copy hang up and the socket deleted.
            const auto read = [this, socket] {
                QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
                for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n')) {
                    const QByteArray line = buffer.left(end + 1);
                    buffer.remove(0, end + 1);
                    if (line == kActivate)
                        QMetaObject::invokeMethod(this, &tSingleInstance::activateRequested,
                                                  Qt::QueuedConnection);
                    if (line.startsWith("OPEN ")) {
                        const QString path = QString::fromUtf8(line.mid(5).chopped(1));
                        QMetaObject::invokeMethod(
                            this, [this, path] { emit openRequested(path); }, Qt::QueuedConnection);
                    }
                }
                socket->setProperty("buffer", buffer);
            };
            connect(socket, &QLocalSocket::readyRead, this, read);
            if (socket->bytesAvailable() > 0) read();
        }
    });
}

bool tSingleInstance::ActivateRunningCopy(int timeoutMs, const QString& openPath) {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kActivate);
    if (!openPath.isEmpty()) socket.write("OPEN " + openPath.toUtf8().replace('\n', ' ') + '\n');
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return sent;
}

void tSingleInstance::Release() {
    if (FServer) {
        FServer->close();
        FServer.reset();
    }
    if (FLock) {
        FLock->unlock();
        FLock.reset();
    }
}
