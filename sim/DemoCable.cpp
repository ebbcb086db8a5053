// The demo cable: two signals turned into unplugging and plugging the demo sensors on the main thread.
#include "sim/DemoCable.h"

#include "platform/SignalNotifier.h"
#include "sim/SimWorld.h"

#include <csignal>

tDemoCable::tDemoCable(QObject* parent) : QObject(parent) {
    auto* notifier = new tSignalNotifier({SIGUSR1, SIGUSR2}, this);
    connect(notifier, &tSignalNotifier::received, this, [this](int signalNumber) {
        const bool plugged = signalNumber == SIGUSR2;
        tSimWorld::Instance().SetPlugged(plugged);
        emit deviceChange(0x0007, 0);
        emit deviceChange(plugged ? 0x8000 : 0x8004, 5);
    });
}
