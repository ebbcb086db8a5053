// Time of the demo sensors: the real clock for the DEMO switch, a virtual one that tests advance at no cost.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

class tSimClock {
public:
    virtual ~tSimClock() = default;
    virtual std::int64_t NowUs() = 0;
    // Returns once the clock shows at least `us`.
    virtual void SleepUntilUs(std::int64_t us) = 0;
};

class tRealClock : public tSimClock {
public:
    std::int64_t NowUs() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                     FStart)
            .count();
    }
    void SleepUntilUs(std::int64_t us) override {
        const std::int64_t now = NowUs();
        if (us > now) std::this_thread::sleep_for(std::chrono::microseconds(us - now));
    }

private:
    const std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

// Waiting costs nothing: the clock jumps to the time waited for. With a speed-up the jump also takes that
// fraction of real time, so a sensor read by a slow consumer cannot run ahead without bound.
class tVirtualClock : public tSimClock {
public:
    explicit tVirtualClock(double speedUp = 0) : FSpeedUp(speedUp) {}
    std::int64_t NowUs() override { return FNow.load(); }
    void SleepUntilUs(std::int64_t us) override {
        std::int64_t now = FNow.load();
        while (us > now && !FNow.compare_exchange_weak(now, us)) {
        }
        if (FSpeedUp > 0 && us > now)
            std::this_thread::sleep_for(std::chrono::microseconds(std::int64_t(double(us - now) / FSpeedUp)));
    }
    void Advance(std::int64_t us) { FNow.fetch_add(us); }

private:
    const double FSpeedUp;
    std::atomic<std::int64_t> FNow{0};
};
