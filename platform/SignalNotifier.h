// Process signals delivered on the main thread: the handler only writes the signal's number into a socket
// pair, which a socket notifier reads in the event loop.
#pragma once

#include <QObject>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

class tSignalNotifier : public QObject {
    Q_OBJECT
public:
    tSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    // The signals go back to their default action.
    ~tSignalNotifier() override;

    // Whether the signal has come since the program started; safe to ask from any thread.
    static bool Received(int signalNumber);

signals:
    void received(int signalNumber);

private:
    std::vector<int> FSignals;
    int FPipe[2] = {-1, -1};
    QSocketNotifier* FNotifier = nullptr;
};
