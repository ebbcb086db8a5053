// Signals turned into Qt signals through a socket pair, read on the main thread.
#include "platform/SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};
std::atomic<bool> gEnding{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int) {
    gEnding.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t put = ::write(gSignalPipe[0], &byte, 1);
}

} // namespace

bool SessionEnding() {
    return gEnding.load();
}

tSessionEnd::tSessionEnd(QObject* parent) : QObject(parent) {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { emit endQueried(); });
    }
    if (gSignalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    FNotifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[1], bytes, sizeof bytes);
        emit endQueried();
        emit endRequested();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

tSessionEnd::~tSessionEnd() {
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}
