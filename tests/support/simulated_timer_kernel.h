#pragma once
// A deterministic stand-in for the kernel timer, faithful enough to drive every branch of the
// measurement: a finest/coarsest range, requests that take effect only while held, other
// processes holding finer periods, a kernel that rounds requests coarser, the clock changing
// between samples, query failures, and Sleep waking on the first tick at least the asked time
// away plus a seeded random lateness that sometimes misses a tick.
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "support/simulated_timer_truth.h"
#include "timer/timer_kernel.h"

struct OtherProcessHold {
    double fromMs = 0;  // simulated time the other process starts holding the period
    double toMs = 1e18;
    uint32_t period = 0;
    uint32_t pid = 4312;  // as the energy report would name it
    const wchar_t* path = L"\\Device\\HarddiskVolume3\\Games\\game.exe";
};

struct SimulatedTimerConfig {
    uint32_t finest = 5000;
    uint32_t coarsest = 156250;
    uint32_t roundTo = 0;  // requests are granted rounded up to a multiple of this (0: exactly)
    std::vector<OtherProcessHold> holds;
    uint32_t flickerEvery = 0;     // every Nth query sees another process's brief change of the clock
    uint64_t failQueriesFrom = ~0ull;  // queries from this call number on fail
    bool failSet = false;
    uint64_t seed = 1;
    double lateMeanUs = 12;  // mean of the exponential wake-up lateness
    double lateFloorUs = 0;  // lateness every wake-up has at least (interrupt and dispatch path)
    // Mean lateness of a Sleep(1) that follows a sleep of 2 ms or more, when the core had time to
    // reach a deeper idle state (0: the same as lateMeanUs).
    double afterIdleLateMeanUs = 0;
    double stallChance = 0;  // chance of a long stall (deep C-state exit) on a wake-up
    double stallUs = 400;
    double callCostUs = 1;   // time every call into the kernel takes
    bool instant = false;    // Sleep takes no time at all (for measuring our own overhead)
    // Asked at every Sleep(1) with the period in force; true makes that wake-up miss one whole
    // extra tick, so a test can place exactly the late samples it needs.
    std::function<bool(uint32_t period)> missTick;
};

class SimulatedTimerKernel final : public TimerKernel {
public:
    explicit SimulatedTimerKernel(SimulatedTimerConfig config);

    int32_t SetResolution(uint32_t desired, bool set, uint32_t& current) override;
    int32_t QueryResolution(uint32_t& coarsest, uint32_t& finest, uint32_t& current) override;
    void Sleep(uint32_t milliseconds) override;
    int64_t Counter() override;
    int64_t CounterFrequency() override { return 10'000'000; }
    uint64_t TickCount64() override { return static_cast<uint64_t>(now_ / 10'000); }
    // The holds outstanding during the energy report's five seconds of tracing, which pass on the
    // simulated clock.
    std::optional<std::vector<TimerHolder>> OtherHolders() override;

    uint32_t OwnRequest() const { return own_; }
    uint64_t SetCalls() const { return setCalls_; }
    uint64_t ReleaseCalls() const { return releaseCalls_; }
    double NowMs() const { return static_cast<double>(now_) / 10'000; }
    double SleptMs() const { return static_cast<double>(slept_) / 10'000; }
    uint32_t CurrentPeriod() const;
    uint32_t Granted(uint32_t desired) const;  // the period a request for desired is given
    // Another process starts holding this period now, for the rest of the run.
    void HoldFromNow(uint32_t period) {
        OtherProcessHold hold;
        hold.fromMs = NowMs();
        hold.period = period;
        config_.holds.push_back(hold);
    }

    // What the model makes of a request for this period if it were measured forever with the
    // benchmark's two patterns, with nobody else holding the clock; missTick is not modelled.
    PeriodTruth Truth(uint32_t requested) const;

private:
    void Spend(double microseconds);
    double Uniform();

    SimulatedTimerConfig config_;
    std::mt19937_64 random_;
    int64_t now_ = 1'000'000;  // 100-ns units
    int64_t slept_ = 0;
    uint32_t own_ = 0;
    uint64_t queries_ = 0;
    uint64_t setCalls_ = 0;
    uint64_t releaseCalls_ = 0;
    uint32_t lastSleepMs_ = 0;
};

// Installs a kernel for the scope of a test and puts the real one back afterwards.
class ScopedTimerKernel {
public:
    explicit ScopedTimerKernel(TimerKernel* kernel) { SetTimerKernel(kernel); }
    ~ScopedTimerKernel() { SetTimerKernel(nullptr); }
};
