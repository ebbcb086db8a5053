// Collects the app messages that threads post to the application object.
#pragma once

#include "core/AppMessages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <utility>
#include <vector>

class tMessageCollector : public QObject {
public:
    tMessageCollector() { qApp->installEventFilter(this); }
    ~tMessageCollector() override { qApp->removeEventFilter(this); }

    // (message, first parameter) in the order they arrived.
    std::vector<std::pair<int, qintptr>> Messages;

    int Count(int message, qintptr wParam = -1) {
        QCoreApplication::processEvents();
        int n = 0;
        for (const auto& [m, w] : Messages)
            if (m == message && (wParam < 0 || w == wParam)) ++n;
        return n;
    }

    bool eventFilter(QObject*, QEvent* event) override {
        ReceiveAppMessage(event);
        if (auto* message = dynamic_cast<tAppMessage*>(event)) {
            Messages.emplace_back(message->Message(), message->WParam);
            return true;
        }
        return false;
    }
};

// Runs the event loop until `done` holds or `ms` real milliseconds passed.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
