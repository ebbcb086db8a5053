// Posting of app messages to the application object.
#include "core/AppMessages.h"

#include <QCoreApplication>

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

} // namespace

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
    auto* posted = new tAppMessage(message, wParam, lParam);
    Handed(posted);
    QCoreApplication::postEvent(app, posted);
}
