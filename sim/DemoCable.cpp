// The demo cable: two signals turned into unplugging and plugging the demo sensors on the main thread.
#include "sim/DemoCable.h"

#include "sim/SimWorld.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const char byte = signal == SIGUSR1 ? 0 : 1;
    [[maybe_unused]] const ssize_t put = ::write(gPipe[0], &byte, 1);
}

} // namespace

tDemoCable::tDemoCable(QObject* parent) : QObject(parent) {
    if (gPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) return;
    FNotifier = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(gPipe[1], &byte, 1) != 1) return;
        const bool plugged = byte != 0;
        tSimWorld::Instance().SetPlugged(plugged);
        emit deviceChange(0x0007, 0);
        emit deviceChange(plugged ? 0x8000 : 0x8004, 5);
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
}

tDemoCable::~tDemoCable() {
    signal(SIGUSR1, SIG_DFL);
    signal(SIGUSR2, SIG_DFL);
}
