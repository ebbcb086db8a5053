// Base of the program's worker threads: a terminate flag, a wait, a priority, started after construction.
#pragma once

#include <QString>
#include <atomic>
#include <thread>

class tThread {
public:
    enum class tPriority { Normal, Higher, Highest, TimeCritical };

    tThread();
    // A derived class must stop and wait for its thread in its own destructor; this one only makes sure
    // no thread outlives the object.
    virtual ~tThread();

    tThread(const tThread&) = delete;
    tThread& operator=(const tThread&) = delete;

    // Runs Execute on a new thread; call once, after the object is fully constructed.
    void Start();
    // Asks Execute to end; Execute polls Terminated().
    virtual void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    // Waits until Execute has returned.
    void WaitFor();
    bool Finished() const { return FFinished.load(); }
    bool Started() const { return FThread.joinable(); }

    // Raising above normal may be refused by the system for an ordinary user; the thread then runs at
    // normal priority.
    void SetPriority(tPriority priority) { FPriority = priority; }

    // The message of an error that escaped Execute, empty when none did.
    QString FatalMessage() const;

protected:
    virtual void Execute() = 0;
    // Called on the thread when an error escaped Execute (after it was logged): a thread whose failure
    // someone waits for says so here.
    virtual void Failed(const QString& message) { (void)message; }

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<tPriority> FPriority{tPriority::Normal};
    QString FFatalMessage;
};
