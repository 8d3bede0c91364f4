#include "timer/sample_stats.h"

#include <gtest/gtest.h>

#include <cmath>

#include "timer/sampling.h"

TEST(SampleStats, FewerThanTwoSamplesGiveOnlyTheCount) {
    const SampleStats none = ComputeSampleStats({}, 5000, 100, 0);
    EXPECT_EQ(none.count, 0u);
    const SampleStats one = ComputeSampleStats({0.7}, 5000, 100, 0);
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(one.median, 0);
    EXPECT_EQ(one.max, 0);
    EXPECT_EQ(one.score, 0);
    EXPECT_FALSE(one.clean);
}

TEST(SampleStats, NearestRankPercentilesOfOneToFour) {
    const SampleStats s = ComputeSampleStats({4, 1, 3, 2}, 10000, 100, 2);
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.median, 2);  // the lower middle value
    EXPECT_EQ(s.p1, 1);
    EXPECT_EQ(s.p95, 4);
    EXPECT_EQ(s.p99, 4);
    EXPECT_EQ(s.max, 4);
    // Tick 1 ms clamps at 4.5, so nothing is clamped here.
    EXPECT_DOUBLE_EQ(s.mean, 2.5);
    EXPECT_NEAR(s.stdev, std::sqrt(5.0 / 3.0), 1e-12);  // sample, not population, deviation
    EXPECT_EQ(s.lateCount, 2u);                          // 3 and 4 are above 2 + 0.5
    EXPECT_DOUBLE_EQ(s.latePercent, 50);
    EXPECT_DOUBLE_EQ(s.score, s.mean + s.stdev);
    EXPECT_FALSE(s.clean) << "a spread of 3 ms is far beyond half a tick";
}

TEST(SampleStats, PercentilesOfOneToAThousandAreTheirNearestRanks) {
    std::vector<double> values;
    for (int i = 1000; i >= 1; --i) values.push_back(i / 1000.0);
    const SampleStats s = ComputeSampleStats(values, 10000, 100, 2);
    EXPECT_DOUBLE_EQ(s.p1, 0.010);
    EXPECT_DOUBLE_EQ(s.median, 0.500);
    EXPECT_DOUBLE_EQ(s.p95, 0.950);
    EXPECT_DOUBLE_EQ(s.p99, 0.990);
    EXPECT_DOUBLE_EQ(s.max, 1.000);
}

TEST(SampleStats, AMissedTickIsLateAndClampedAtMedianPlusTwoAndAHalfTicks) {
    // Tick 0.5 ms and median 0.1: the 2.0 ms sample is late and counts as 1.35 in mean and stdev.
    const SampleStats s = ComputeSampleStats({0.1, 0.1, 2.0, 0.1, 0.1}, 5000, 100, 2);
    EXPECT_DOUBLE_EQ(s.median, 0.1);
    EXPECT_DOUBLE_EQ(s.max, 2.0);
    EXPECT_NEAR(s.mean, (0.4 + 1.35) / 5, 1e-12);
    EXPECT_NEAR(s.stdev, std::sqrt((4 * 0.25 * 0.25 + 1.0) / 4), 1e-12);
    EXPECT_EQ(s.lateCount, 1u);
    EXPECT_DOUBLE_EQ(s.latePercent, 20);
}

TEST(SampleStats, CleanNeedsEnoughSamplesATightSpreadAndFewLateOnes) {
    std::vector<double> tight;
    for (int i = 0; i < 200; ++i) tight.push_back(0.05 + (i % 10) * 0.001);
    EXPECT_TRUE(ComputeSampleStats(tight, 5000, 0.5, 200).clean);
    EXPECT_FALSE(ComputeSampleStats(tight, 5000, 0.5, 201).clean) << "too few samples";

    std::vector<double> oneLate = tight;
    oneLate[17] = 0.6;  // 0.5 % late, and the outlier sits above p99
    const SampleStats s = ComputeSampleStats(oneLate, 5000, 0.5, 200);
    EXPECT_DOUBLE_EQ(s.latePercent, 0.5);
    EXPECT_TRUE(s.clean);
    oneLate[18] = 0.6;  // 1 %: over the limit
    EXPECT_FALSE(ComputeSampleStats(oneLate, 5000, 0.5, 200).clean);
    EXPECT_TRUE(ComputeSampleStats(oneLate, 5000, 1.0, 200).clean);
}

TEST(SummarizeCandidate, IdleGapPatternNeedsHalfTheMinimumAndAtLeastTwo) {
    TimerCandidate c;
    c.requested = 5200;
    c.actual = 5200;
    c.loopSamples.assign(18, 0.04);
    c.idleSamples.assign(9, 0.04);
    SummarizeCandidate(c, 0.5, 18);
    EXPECT_TRUE(c.loopStats.clean);
    EXPECT_TRUE(c.idleStats.clean) << "18 / 2 = 9 idle-gap samples suffice";
    EXPECT_TRUE(c.clean);
    c.idleSamples.pop_back();
    SummarizeCandidate(c, 0.5, 18);
    EXPECT_FALSE(c.idleStats.clean);
    EXPECT_FALSE(c.clean);

    c.loopSamples.assign(3, 0.04);
    c.idleSamples.assign(2, 0.04);
    SummarizeCandidate(c, 0.5, 3);
    EXPECT_TRUE(c.idleStats.clean) << "3 / 2 rounds down to 1, raised to 2";
    EXPECT_DOUBLE_EQ(c.score, (c.loopStats.score + c.idleStats.score) / 2);
}

TEST(SummarizeCandidate, EmptyIdleSamplesMeanNotMeasured) {
    TimerCandidate c;
    c.requested = 5000;
    c.loopSamples.assign(50, 0.1);
    EXPECT_FALSE(c.Measured());
    c.idleSamples.push_back(0.1);
    EXPECT_TRUE(c.Measured());
}
