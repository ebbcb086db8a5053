// Notice that the user's session ends: the session manager's commit request, or SIGTERM/SIGHUP at log-off and
// shut-down.
#pragma once

#include <QObject>

// True once SIGTERM or SIGHUP came: long waits (the searches' pause) end early, so the window can close.
bool SessionEnding();

class tSessionEnd : public QObject {
    Q_OBJECT
public:
    explicit tSessionEnd(QObject* parent = nullptr);
    ~tSessionEnd() override;

signals:
    // The session asks whether the program may end; nothing must be asked of the user from now on.
    void endQueried();
    // The session ends now: the program closes without questions.
    void endRequested();
};
