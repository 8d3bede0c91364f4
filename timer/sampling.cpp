#include "timer/sampling.h"

#include <algorithm>

#include "foundation/console.h"
#include "timer/timer_kernel.h"

namespace {

// A sample counts only when the kernel still runs at exactly the requested period afterwards.
bool StillAt(TimerKernel& kernel, uint32_t requested) {
    uint32_t coarsest = 0, finest = 0, current = 0;
    return kernel.QueryResolution(coarsest, finest, current) == 0 && current == requested;
}

void Release(TimerKernel& kernel, uint32_t requested) {
    uint32_t ignored = 0;
    kernel.SetResolution(requested, false, ignored);
}

}  // namespace

double TimedSleepOne(TimerKernel& kernel, int64_t frequency) {
    // Only the two counter reads and the sleep are inside the timed region.
    const int64_t t0 = kernel.Counter();
    kernel.Sleep(1);
    const int64_t t1 = kernel.Counter();
    return static_cast<double>(t1 - t0) * 1000.0 / static_cast<double>(frequency) - 1.0;
}

bool QueryTimerRange(uint32_t& coarsest, uint32_t& finest, uint32_t& current) {
    return CurrentTimerKernel().QueryResolution(coarsest, finest, current) == 0;
}

MeasureOutcome MeasureCandidate(TimerCandidate& candidate, uint32_t loopCount, uint32_t idleCount) {
    TimerKernel& kernel = CurrentTimerKernel();
    const int64_t frequency = kernel.CounterFrequency();
    const uint32_t requested = candidate.requested;
    uint32_t current = 0;
    if (kernel.SetResolution(requested, true, current) != 0) return MeasureOutcome::Failed;

    for (int i = 0; i < 5; ++i) kernel.Sleep(1);
    kernel.Sleep(20);

    uint32_t coarsest = 0, finest = 0;
    if (kernel.QueryResolution(coarsest, finest, current) != 0) {
        Release(kernel, requested);
        return MeasureOutcome::Failed;
    }
    if (current != requested) {
        Release(kernel, requested);
        if (current < requested) {
            candidate.interferer = current;
            return MeasureOutcome::Masked;
        }
        return MeasureOutcome::Failed;  // the kernel rounded our request to something coarser
    }
    candidate.actual = current;
    candidate.loopSamples.reserve(candidate.loopSamples.size() + loopCount);
    candidate.idleSamples.reserve(candidate.idleSamples.size() + idleCount);

    Feed* feed = CurrentFeed();
    // One sample of either pattern (idle-gap samples rest first); false when the user cancelled.
    const auto sample = [&](uint32_t idleGapMs, std::vector<double>& into) {
        if (IsCancelled()) return false;
        const bool idle = idleGapMs != 0;
        if (idle) kernel.Sleep(idleGapMs);
        const double overshoot = TimedSleepOne(kernel, frequency);
        if (!StillAt(kernel, requested)) {
            ++candidate.dropped;
            return true;
        }
        if (feed != nullptr) feed->Sample(requested, overshoot, idle);
        into.push_back(overshoot);
        return true;
    };
    for (uint32_t i = 0; i < loopCount; ++i) {
        if (!sample(0, candidate.loopSamples)) {
            Release(kernel, requested);
            return MeasureOutcome::Failed;
        }
    }
    for (uint32_t i = 0; i < idleCount; ++i) {
        if (!sample(i % 4 + 2, candidate.idleSamples)) {
            Release(kernel, requested);
            return MeasureOutcome::Failed;
        }
    }
    Release(kernel, requested);
    return MeasureOutcome::Measured;
}
