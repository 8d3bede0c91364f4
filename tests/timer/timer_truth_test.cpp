// The simulated kernel's ground truth against long runs of the real measurement on it: every
// figure must land within four of the standard errors the truth states for that many samples.
#include <gtest/gtest.h>

#include <string>

#include "support/simulated_timer_kernel.h"
#include "timer/sampling.h"

namespace {

void ExpectWithinStatedError(const SampleStats& measured, const OvershootTruth& truth, const std::string& what) {
    const uint64_t n = measured.count;
    ASSERT_GT(n, 0u) << what;
    EXPECT_NEAR(measured.median, truth.median, 1e-9) << what;
    EXPECT_NEAR(measured.mean, truth.mean, 4 * truth.MeanError(n) + 1e-9) << what;
    EXPECT_NEAR(measured.latePercent / 100, truth.lateRate, 4 * truth.LateRateError(n) + 1e-9) << what;
    EXPECT_NEAR(measured.score, truth.score, 4 * truth.ScoreError(n) + 1e-9) << what;
}

struct Case {
    const char* name;
    SimulatedTimerConfig config;
    uint32_t period;
};

}  // namespace

TEST(TimerTruth, MatchesLongRunsInsideAndOutsideTheMissBand) {
    SimulatedTimerConfig plain;  // exponential lateness only
    SimulatedTimerConfig tail;   // a floor, stalls, and deeper idle before the idle-gap samples
    tail.lateFloorUs = 25;
    tail.lateMeanUs = 8;
    tail.stallChance = 0.004;
    tail.stallUs = 350;
    tail.afterIdleLateMeanUs = 20;
    SimulatedTimerConfig slowClock = tail;  // a 1024 Hz finest period
    slowClock.finest = 9766;
    const Case cases[] = {
        {"plain, deep in the band", plain, 5120},
        {"plain, clean", plain, 5600},
        {"tail, band edge", tail, 5300},
        {"tail, clean but for stalls", tail, 5700},
        {"1024 Hz, two ticks always", slowClock, 9866},
        {"1024 Hz, past the band", slowClock, 10666},
    };
    for (const Case& c : cases) {
        SimulatedTimerKernel kernel(c.config);
        const ScopedTimerKernel scope(&kernel);
        TimerCandidate candidate;
        candidate.requested = c.period;
        ASSERT_EQ(MeasureCandidate(candidate, 40000, 20000), MeasureOutcome::Measured) << c.name;
        SummarizeCandidate(candidate, 100, 2);
        const PeriodTruth truth = kernel.Truth(c.period);
        EXPECT_EQ(truth.period, candidate.actual) << c.name;
        ExpectWithinStatedError(candidate.loopStats, truth.loop, std::string(c.name) + ", back-to-back");
        ExpectWithinStatedError(candidate.idleStats, truth.idle, std::string(c.name) + ", idle-gap");
        EXPECT_NEAR(candidate.score, truth.score, 4 * (truth.loop.ScoreError(40000) + truth.idle.ScoreError(20000)) + 1e-9)
            << c.name;
    }
}

TEST(TimerTruth, MissesCountWakesAfterTheFirstPossibleInterruptEvenWhenTheyAreTheMedian) {
    SimulatedTimerConfig config;
    const SimulatedTimerKernel kernel(config);
    // Just above 0.5 ms almost every wake misses: the benchmark's late count, measured from the
    // median, sees none, but the truth knows they are misses.
    const PeriodTruth deep = kernel.Truth(5010);
    EXPECT_GT(deep.missRate, 0.5);
    EXPECT_LT(deep.lateRate, 0.01);
    EXPECT_GT(deep.score, kernel.Truth(5600).score);
    // Exactly 0.5 ms: three ticks every time, a steady 0.5 ms late and no miss at all.
    const PeriodTruth half = kernel.Truth(5000);
    EXPECT_LT(half.missRate, 1e-6);
    EXPECT_NEAR(half.loop.median, 0.499, 1e-9);
    // Requests outside the range are granted at its ends, as the kernel grants them.
    EXPECT_EQ(kernel.Truth(1).period, config.finest);
}
