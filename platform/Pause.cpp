#include "platform/Pause.h"

#include "platform/SessionEnd.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {

std::mutex gHookLock;
std::function<bool(int)> gHook;

} // namespace

void SetPauseHook(std::function<bool(int milliseconds)> hook) {
    std::lock_guard<std::mutex> guard(gHookLock);
    gHook = std::move(hook);
}

bool Pause(int milliseconds, bool endsWithSession) {
    std::function<bool(int)> hook;
    {
        std::lock_guard<std::mutex> guard(gHookLock);
        hook = gHook;
    }
    if (hook) return hook(milliseconds);
    if (!endsWithSession) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
    using tClock = std::chrono::steady_clock;
    const auto end = tClock::now() + std::chrono::milliseconds(milliseconds);
    while (!SessionEnding()) {
        const auto left = end - tClock::now();
        if (left <= tClock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<tClock::duration>(left, std::chrono::milliseconds(50)));
    }
    return false;
}
