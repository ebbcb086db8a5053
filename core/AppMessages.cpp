// Posting of app messages to the application object.
#include "core/AppMessages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <memory>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// A message handed from its thread to the main thread: ordered for ThreadSanitizer too.
void Handed(tAppMessage* message) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(message);
#else
    (void)message;
#endif
}

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

void PrepareAppMessages() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    std::lock_guard<std::mutex> guard(WaitingLock);
    if (!dispatcher || DeliveringOn == dispatcher) return;
    // Connected on the main thread, once per main loop: the notice is delivered there when the loop wakes.
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, app, DeliverWaiting);
    DeliveringOn = dispatcher;
}

void ReceiveAppMessage(const QEvent* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<QEvent*>(event));
#else
    (void)event;
#endif
}

void PostAppMessage(int message, qintptr wParam, qintptr lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    // A quiet notice still waiting goes first: the hook sees the messages in the order they were posted.
    if (std::unique_ptr<tAppMessage> waiting = TakeWaiting()) {
        Handed(waiting.get());
        QCoreApplication::postEvent(app, waiting.release());
    }
    auto* posted = new tAppMessage(message, wParam, lParam);
    Handed(posted);
    QCoreApplication::postEvent(app, posted);
}

void PostQuietAppMessage(int message, qintptr wParam, qintptr lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    {
        std::lock_guard<std::mutex> guard(WaitingLock);
        if (DeliveringOn && DeliveringOn == QAbstractEventDispatcher::instance(app->thread())) {
            if (!Waiting) Waiting = std::make_unique<tAppMessage>(message, wParam, lParam);
            return;
        }
    }
    // Not made ready: a plain message, so that nothing is lost.
    PostAppMessage(message, wParam, lParam);
}
