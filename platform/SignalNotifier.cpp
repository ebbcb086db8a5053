// Signal handlers that only do what is safe in a handler: note the signal and write one byte.
#include "platform/SignalNotifier.h"

#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals = 65;
std::atomic<int> gPipes[kSignals];
std::atomic<bool> gReceived[kSignals];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "used from a signal handler");

void OnSignal(int signalNumber) {
    if (signalNumber <= 0 || signalNumber >= kSignals) return;
    gReceived[signalNumber].store(true);
    const int fd = gPipes[signalNumber].load();
    const char byte = char(signalNumber);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t put = ::write(fd, &byte, 1);
}

} // namespace

tSignalNotifier::tSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), FSignals(signalNumbers) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, FPipe) != 0) return;
    FNotifier = new QSocketNotifier(FPipe[1], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        const ssize_t got = ::read(FPipe[1], bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; ++i) emit received(int(bytes[i]));
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : FSignals) {
        if (number <= 0 || number >= kSignals) continue;
        gPipes[number].store(FPipe[0]);
        sigaction(number, &action, nullptr);
    }
}

tSignalNotifier::~tSignalNotifier() {
    for (const int number : FSignals) {
        if (number <= 0 || number >= kSignals) continue;
        signal(number, SIG_DFL);
        gPipes[number].store(-1);
    }
    delete FNotifier;
    for (const int fd : FPipe)
        if (fd >= 0) ::close(fd);
}

bool tSignalNotifier::Received(int signalNumber) {
    return signalNumber > 0 && signalNumber < kSignals && gReceived[signalNumber].load();
}
