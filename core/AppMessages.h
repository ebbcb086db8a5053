// Messages that worker threads and frames post to the application object; the main window's hook reads them.
#pragma once

#include <QEvent>
#include <QtGlobal>

enum tAppMessageId : int {
    WM_APP = 0x8000,
    WM_MEASURE_SEND_ERROR = WM_APP + 100,
    WM_MEASURE_RECV_ERROR = WM_APP + 101,
    WM_MEASURE_DATA = WM_APP + 102,
    WM_MARKER_MOVED = WM_APP + 103,
    WM_SENSOR_LOST = WM_APP + 1002,
};

// An event whose type is the message number, with the two message parameters.
class tAppMessage : public QEvent {
public:
    tAppMessage(int message, qintptr wParam, qintptr lParam)
        : QEvent(static_cast<QEvent::Type>(message)), WParam(wParam), LParam(lParam) {}
    int Message() const { return int(type()); }

    const qintptr WParam;
    const qintptr LParam;
};

// The hook that receives app messages calls this first with every event it sees: the message and what its
// thread did before posting it happen before the hook reads it (for ThreadSanitizer; nothing otherwise: the
// toolkit's queue already orders them, but with locks that sanitizer cannot see).
void ReceiveAppMessage(const QEvent* event);

// Queues the message for the application object; safe from any thread, never waits. Without an
// application object the message is dropped.
void PostAppMessage(int message, qintptr wParam = 0, qintptr lParam = 0);
