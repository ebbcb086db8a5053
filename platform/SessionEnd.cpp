// The session's end: the session manager's commit request, and SIGTERM/SIGHUP read on the main thread.
#include "platform/SessionEnd.h"

#include "platform/SignalNotifier.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <csignal>

bool SessionEnding() {
    return tSignalNotifier::Received(SIGTERM) || tSignalNotifier::Received(SIGHUP);
}

tSessionEnd::tSessionEnd(QObject* parent) : QObject(parent) {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { emit endQueried(); });
    }
    auto* notifier = new tSignalNotifier({SIGTERM, SIGHUP}, this);
    connect(notifier, &tSignalNotifier::received, this, [this] {
        emit endQueried();
        emit endRequested();
    });
}

tSessionEnd::~tSessionEnd() = default;
