#include "timer/sampling.h"

#include <gtest/gtest.h>

#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"

namespace {

struct Machine {
    explicit Machine(SimulatedTimerConfig config = {}) : kernel(std::move(config)) {}
    SimulatedTimerKernel kernel;
    ScopedTimerKernel scope{&kernel};
};

TimerCandidate Candidate(uint32_t period) {
    TimerCandidate c;
    c.requested = period;
    return c;
}

}  // namespace

TEST(MeasureCandidate, SamplesBothPatternsAndAlwaysReleasesTheRequest) {
    Machine m;
    RecordingFeed feed;
    const ScopedFeed scope(&feed);
    TimerCandidate c = Candidate(5600);
    ASSERT_EQ(MeasureCandidate(c, 30, 15), MeasureOutcome::Measured);
    EXPECT_EQ(c.actual, 5600u);
    EXPECT_EQ(c.loopSamples.size(), 30u);
    EXPECT_EQ(c.idleSamples.size(), 15u);
    EXPECT_EQ(m.kernel.OwnRequest(), 0u);
    EXPECT_EQ(m.kernel.ReleaseCalls(), 1u);
    ASSERT_EQ(feed.samples.size(), 45u);
    EXPECT_FALSE(feed.samples.front().idle);
    EXPECT_TRUE(feed.samples.back().idle);
    EXPECT_EQ(feed.samples.front().period, 5600u);
    EXPECT_DOUBLE_EQ(feed.samples.front().overshoot, c.loopSamples.front());

    // A second pass appends to the first.
    ASSERT_EQ(MeasureCandidate(c, 30, 15), MeasureOutcome::Measured);
    EXPECT_EQ(c.loopSamples.size(), 60u);
}

TEST(MeasureCandidate, SleepWakesOnTheFirstTickAtLeastOneMillisecondAway) {
    Machine m;
    TimerCandidate half = Candidate(5000);
    TimerCandidate roomy = Candidate(5600);
    MeasureCandidate(half, 200, 100);
    MeasureCandidate(roomy, 200, 100);
    SummarizeCandidate(half, 0.5, 200);
    SummarizeCandidate(roomy, 0.5, 200);
    // 0.5 ms leaves no slack after two ticks, so nearly every wake waits a third one.
    EXPECT_NEAR(half.loopStats.median, 0.5, 0.01);
    // 0.56 ms wakes 0.12 ms late and, with that much slack, never misses.
    EXPECT_NEAR(roomy.loopStats.median, 0.12, 0.01);
    EXPECT_EQ(roomy.loopStats.lateCount, 0u);
}

TEST(MeasureCandidate, FinerPeriodHeldElsewhereMasksTheCandidate) {
    SimulatedTimerConfig config;
    config.holds.push_back({0, 1e18, 5000});
    Machine m(config);
    TimerCandidate c = Candidate(5500);
    EXPECT_EQ(MeasureCandidate(c, 10, 5), MeasureOutcome::Masked);
    EXPECT_EQ(c.interferer, 5000u);
    EXPECT_FALSE(c.Measured());
    EXPECT_EQ(m.kernel.OwnRequest(), 0u);

    TimerCandidate same = Candidate(5000);
    EXPECT_EQ(MeasureCandidate(same, 10, 5), MeasureOutcome::Measured) << "an equal hold does not mask";
}

TEST(MeasureCandidate, KernelRoundingCoarserOrRefusingIsAFailure) {
    SimulatedTimerConfig rounding;
    rounding.roundTo = 1000;
    Machine m(rounding);
    TimerCandidate c = Candidate(5500);
    EXPECT_EQ(MeasureCandidate(c, 10, 5), MeasureOutcome::Failed);
    EXPECT_EQ(c.interferer, 0u);
    EXPECT_EQ(m.kernel.OwnRequest(), 0u);
    TimerCandidate exact = Candidate(6000);
    EXPECT_EQ(MeasureCandidate(exact, 10, 5), MeasureOutcome::Measured);

    SimulatedTimerConfig refusing;
    refusing.failSet = true;
    Machine r(refusing);
    TimerCandidate d = Candidate(5500);
    EXPECT_EQ(MeasureCandidate(d, 10, 5), MeasureOutcome::Failed);
    EXPECT_EQ(r.kernel.ReleaseCalls(), 0u) << "nothing to release";
}

TEST(MeasureCandidate, FailedQueryAfterTheRequestReleasesIt) {
    SimulatedTimerConfig config;
    config.failQueriesFrom = 0;
    Machine m(config);
    TimerCandidate c = Candidate(5500);
    EXPECT_EQ(MeasureCandidate(c, 10, 5), MeasureOutcome::Failed);
    EXPECT_EQ(m.kernel.ReleaseCalls(), 1u);
    EXPECT_EQ(m.kernel.OwnRequest(), 0u);
}

TEST(MeasureCandidate, SamplesTakenWhileTheClockChangedAreDropped) {
    SimulatedTimerConfig config;
    config.flickerEvery = 3;  // query 0 is the settle check; validations 2, 5, 8, ... see a change
    Machine m(config);
    TimerCandidate c = Candidate(5500);
    ASSERT_EQ(MeasureCandidate(c, 30, 0), MeasureOutcome::Measured);
    EXPECT_EQ(c.dropped, 10u);
    EXPECT_EQ(c.loopSamples.size(), 20u);
}

TEST(MeasureCandidate, CancelStopsBeforeTheNextSampleAndReleases) {
    Machine m;
    RecordingFeed feed;
    feed.cancelFrom = 7;
    const ScopedFeed scope(&feed);
    TimerCandidate c = Candidate(5500);
    EXPECT_EQ(MeasureCandidate(c, 30, 15), MeasureOutcome::Failed);
    EXPECT_EQ(c.loopSamples.size(), 7u);
    EXPECT_EQ(m.kernel.OwnRequest(), 0u);
    EXPECT_EQ(m.kernel.ReleaseCalls(), 1u);
}

TEST(FeedHelpers, WithoutAFeedNothingIsCancelledAndProgressOnlyPrints) {
    EXPECT_FALSE(IsCancelled());
    ReportProgress(0.5, 1, 1, L"half");
    RecordingFeed feed;
    const ScopedFeed scope(&feed);
    EXPECT_FALSE(IsCancelled());
    ReportProgress(0.25, 3, 9, L"quarter");
    EXPECT_EQ(feed.progressFractions, std::vector<double>{0.25});
    feed.cancelFrom = 0;
    EXPECT_TRUE(IsCancelled());
}

TEST(DwellCancellable, WaitsOnlyWhenDwellIsOnAndStopsOnCancel) {
    Machine m;
    SetDwellEnabled(false);
    double before = m.kernel.NowMs();
    DwellCancellable(1000);
    EXPECT_EQ(m.kernel.NowMs(), before) << "dwell off: no pause";

    SetDwellEnabled(true);
    DwellCancellable(0);
    EXPECT_EQ(m.kernel.NowMs(), before);
    DwellCancellable(1000);
    EXPECT_GE(m.kernel.NowMs() - before, 1000.0);
    EXPECT_LT(m.kernel.NowMs() - before, 1100.0);

    RecordingFeed feed;
    feed.cancelFrom = 2;
    const ScopedFeed scope(&feed);
    before = m.kernel.NowMs();
    DwellCancellable(5000);
    EXPECT_LT(m.kernel.NowMs() - before, 200.0) << "a cancel ends the dwell within one 40 ms slice";
    SetDwellEnabled(false);
}
