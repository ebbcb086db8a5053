// Posting of app messages to the application object.
#include "core/AppMessages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <memory>
#include <mutex>

namespace {

std::mutex WaitingLock;
std::unique_ptr<tAppMessage> Waiting;            // the quiet notice not delivered yet
QPointer<QAbstractEventDispatcher> DeliveringOn; // the main loop that delivers it when it wakes

std::unique_ptr<tAppMessage> TakeWaiting() {
    std::lock_guard<std::mutex> guard(WaitingLock);
    return std::move(Waiting);
}

void DeliverWaiting() {
    if (std::unique_ptr<tAppMessage> waiting = TakeWaiting())
        if (QCoreApplication* app = QCoreApplication::instance())
            QCoreApplication::sendEvent(app, waiting.get());
}

} // namespace

void PostAppMessage(int message, qintptr wParam, qintptr lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    // A quiet notice still waiting goes first: the hook sees the messages in the order they were posted.
    if (std::unique_ptr<tAppMessage> waiting = TakeWaiting())
        QCoreApplication::postEvent(app, waiting.release());
    QCoreApplication::postEvent(app, new tAppMessage(message, wParam, lParam));
}

void PostQuietAppMessage(int message, qintptr wParam, qintptr lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    std::lock_guard<std::mutex> guard(WaitingLock);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    if (!dispatcher) return;
    if (DeliveringOn != dispatcher) {
        // Connected once per main loop; the call happens on the main thread, where the loop wakes.
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, app, DeliverWaiting);
        DeliveringOn = dispatcher;
    }
    if (!Waiting) Waiting = std::make_unique<tAppMessage>(message, wParam, lParam);
}
