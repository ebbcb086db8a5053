// Posting of app messages to the application object.
#include "core/AppMessages.h"

#include <QCoreApplication>

void PostAppMessage(int message, qintptr wParam, qintptr lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QCoreApplication::postEvent(app, new tAppMessage(message, wParam, lParam));
}
