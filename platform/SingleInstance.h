// One running copy per user: a lock file marks the running copy, a local socket lets a second copy bring it
// forward.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class tSingleInstance : public QObject {
    Q_OBJECT
public:
    // Files live in `directory`; by default ZORBINKA_RUNTIME_DIR, else the user's runtime folder.
    explicit tSingleInstance(const QString& directory = DefaultDirectory(), QObject* parent = nullptr);
    ~tSingleInstance() override;

    // Takes the lock without waiting. True when this copy is now the running one (also when the lock of a
    // copy that died was left behind); false when another live copy holds it. Raises Exception (messages 903
    // and 1002 with the system's reason) when the lock cannot be created at all.
    bool TryTake();

    // Starts listening for a second copy; each request emits activateRequested.
    void Listen();

    // A second copy asks the running one to come forward, and to open the work folder `openPath` when one is
    // given; false when none answered.
    bool ActivateRunningCopy(int timeoutMs = 2000, const QString& openPath = QString());

    // Stops listening and releases the lock.
    void Release();

    QString LockPath() const;
    QString ServerName() const;

    static QString DefaultDirectory();

signals:
    void activateRequested();
    void openRequested(const QString& path);

private:
    QString FDirectory;
    std::unique_ptr<QLockFile> FLock;
    std::unique_ptr<QLocalServer> FServer;
};

// The fixed name that marks the program's running copy.
extern const char kInstanceName[];
