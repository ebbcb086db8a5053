// A manual-reset event: set once, it wakes every wait until it is reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class tEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            FSet = true;
        }
        FChanged.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> guard(FMutex);
        FSet = false;
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> guard(FMutex);
        return FSet;
    }
    // True when the event was set within `timeout`.
    bool Wait(std::chrono::milliseconds timeout) const {
        std::unique_lock<std::mutex> lock(FMutex);
        return FChanged.wait_for(lock, timeout, [this] { return FSet; });
    }

private:
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FSet = false;
};
