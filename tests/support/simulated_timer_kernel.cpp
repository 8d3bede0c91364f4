#include "support/simulated_timer_kernel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int32_t kStatusUnsuccessful = static_cast<int32_t>(0xC0000001);
}

SimulatedTimerKernel::SimulatedTimerKernel(SimulatedTimerConfig config)
    : config_(std::move(config)), random_(config_.seed) {}

double SimulatedTimerKernel::Uniform() { return static_cast<double>(random_() >> 11) * 0x1.0p-53; }

void SimulatedTimerKernel::Spend(double microseconds) {
    if (!config_.instant) now_ += static_cast<int64_t>(microseconds * 10);
}

uint32_t SimulatedTimerKernel::Granted(uint32_t desired) const {
    uint32_t granted = std::clamp(desired, config_.finest, config_.coarsest);
    if (config_.roundTo != 0) granted = (granted + config_.roundTo - 1) / config_.roundTo * config_.roundTo;
    return granted;
}

uint32_t SimulatedTimerKernel::CurrentPeriod() const {
    // The kernel runs at the finest period anyone holds.
    uint32_t period = config_.coarsest;
    if (own_ != 0) period = std::min(period, own_);
    const double nowMs = static_cast<double>(now_) / 10'000;
    for (const OtherProcessHold& hold : config_.holds) {
        if (nowMs >= hold.fromMs && nowMs < hold.toMs) period = std::min(period, hold.period);
    }
    return period;
}

int32_t SimulatedTimerKernel::SetResolution(uint32_t desired, bool set, uint32_t& current) {
    Spend(config_.callCostUs);
    if (!set) {
        ++releaseCalls_;
        own_ = 0;
        current = CurrentPeriod();
        return 0;
    }
    ++setCalls_;
    if (config_.failSet) return kStatusUnsuccessful;
    own_ = Granted(desired);
    current = CurrentPeriod();
    return 0;
}

int32_t SimulatedTimerKernel::QueryResolution(uint32_t& coarsest, uint32_t& finest, uint32_t& current) {
    Spend(config_.callCostUs);
    const uint64_t call = queries_++;
    if (call >= config_.failQueriesFrom) return kStatusUnsuccessful;
    coarsest = config_.coarsest;
    finest = config_.finest;
    current = CurrentPeriod();
    // Another process briefly asked for the finest period right while we looked.
    if (config_.flickerEvery != 0 && call % config_.flickerEvery == config_.flickerEvery - 1) current = config_.finest - 1;
    return 0;
}

void SimulatedTimerKernel::Sleep(uint32_t milliseconds) {
    const int64_t start = now_;
    if (config_.instant) {
        now_ += static_cast<int64_t>(milliseconds) * 10'000;
        slept_ += now_ - start;
        return;
    }
    // The wait ends at the first timer interrupt at or after the due time; interrupts fall on
    // multiples of the period in force. Lateness in noticing the due time can push the wake to
    // the next interrupt, which is how finer periods with little slack miss ticks.
    const int64_t period = CurrentPeriod();
    const bool afterIdle = lastSleepMs_ >= 2 && config_.afterIdleLateMeanUs > 0;
    lastSleepMs_ = milliseconds;
    double lateUs = config_.lateFloorUs - std::log(1 - Uniform()) * (afterIdle ? config_.afterIdleLateMeanUs : config_.lateMeanUs);
    if (config_.stallChance > 0 && Uniform() < config_.stallChance) lateUs += config_.stallUs * Uniform();
    int64_t due = start + static_cast<int64_t>(milliseconds) * 10'000 + static_cast<int64_t>(lateUs * 10);
    if (milliseconds == 1 && config_.missTick && config_.missTick(static_cast<uint32_t>(period))) due += period;
    now_ = (due + period - 1) / period * period;
    Spend(config_.callCostUs);  // the thread is dispatched a moment after the interrupt
    slept_ += now_ - start;
}

int64_t SimulatedTimerKernel::Counter() {
    Spend(0.02);
    return now_;
}

PeriodTruth SimulatedTimerKernel::Truth(uint32_t requested) const {
    // Back-to-back samples start one dispatch and one validating query after the interrupt that
    // ended the previous one; idle-gap samples start one dispatch after the idle sleep ended.
    const int64_t call = static_cast<int64_t>(config_.callCostUs * 10);
    WakeLateness lateness{config_.lateFloorUs, config_.lateMeanUs, config_.stallChance, config_.stallUs};
    PeriodTruth truth;
    truth.period = Granted(requested);
    truth.loop = ComputeOvershootTruth(truth.period, 2 * call, call, lateness);
    if (config_.afterIdleLateMeanUs > 0) lateness.meanUs = config_.afterIdleLateMeanUs;
    truth.idle = ComputeOvershootTruth(truth.period, call, call, lateness);
    truth.score = (truth.loop.score + truth.idle.score) / 2;
    truth.lateRate = std::max(truth.loop.lateRate, truth.idle.lateRate);
    truth.missRate = std::max(truth.loop.missRate, truth.idle.missRate);
    return truth;
}

std::optional<std::vector<TimerHolder>> SimulatedTimerKernel::OtherHolders() {
    // Like the real report: the requests outstanding during its five seconds of tracing.
    const double start = NowMs();
    Spend(5'000'000);
    std::vector<TimerHolder> holders;
    for (const OtherProcessHold& hold : config_.holds) {
        const bool seen = std::any_of(holders.begin(), holders.end(), [&](const TimerHolder& h) {
            return h.pid == hold.pid && h.period == hold.period;
        });
        if (!seen && hold.fromMs <= NowMs() && hold.toMs >= start) holders.push_back(TimerHolder{hold.period, hold.pid, hold.path});
    }
    return holders;
}
