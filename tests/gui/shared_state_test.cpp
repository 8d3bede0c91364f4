// The hand-off between a worker and the window: what a frame can see of what a worker reported.
#include "gui/shared_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<std::wstring> LogOf(const SharedState& state) {
    StateView view;
    state.Snapshot(view);
    return view.log;
}

uint32_t AllInGrid(const StateView& view) {
    uint32_t total = 0;
    for (const LatticeCell& cell : view.lattice.cells) total += cell.all;
    return total;
}

CandidateSummary Measured(uint32_t period, double loopMean, double latePercent) {
    CandidateSummary c;
    c.period = period;
    c.measured = true;
    c.loop.count = 10;
    c.loop.mean = loopMean;
    c.loop.latePercent = latePercent;
    return c;
}

}  // namespace

TEST(SharedState, TheSnapshotHoldsTheNewest360SamplesOldestFirst) {
    SharedState state;
    for (int i = 0; i < 5000; ++i) state.Sample(5000, i * 0.0001, i % 3 == 0);
    StateView view;
    state.Snapshot(view);
    ASSERT_EQ(view.samples.size(), SharedState::kSnapshotSamples);
    EXPECT_EQ(view.totalSamples, 5000u);
    EXPECT_EQ(view.lastPeriod, 5000);
    EXPECT_NEAR(view.samples.front().overshoot, (5000 - 360) * 0.0001, 1e-6);
    EXPECT_NEAR(view.samples.back().overshoot, 4999 * 0.0001, 1e-6);
    EXPECT_EQ(view.samples.back().idle, 4999 % 3 == 0);
    for (size_t i = 1; i < view.samples.size(); ++i) ASSERT_GE(view.samples[i].seconds, view.samples[i - 1].seconds);

    // Fewer samples than the snapshot holds: all of them.
    SharedState fresh;
    fresh.Sample(5000, 0.1, false);
    fresh.Snapshot(view);
    EXPECT_EQ(view.samples.size(), 1u);
}

TEST(SharedState, HistogramBinsAndTheLateRuleFollowThePeriod) {
    SharedState state;
    state.Sample(5000, -1.0, false);  // below the first bin
    state.Sample(5000, 0.0, false);   // (0 + 0.05) / 1.25 * 100 = bin 4
    state.Sample(5000, 3.0, false);   // past the last bin
    StateView view;
    state.Snapshot(view);
    EXPECT_EQ(view.histogram[0], 1);
    EXPECT_EQ(view.histogram[4], 1);
    EXPECT_EQ(view.histogram[kHistogramBins - 1], 1);
    EXPECT_EQ(view.histogramTotal, 3u);

    // Late: past half the period plus the slack of a period longer than 0.5 ms.
    EXPECT_FALSE(IsLateSample(5000, 0.24));
    EXPECT_TRUE(IsLateSample(5000, 0.26));
    EXPECT_FALSE(IsLateSample(10000, 1.49));
    EXPECT_TRUE(IsLateSample(10000, 1.51));
    EXPECT_FALSE(IsLateSample(15000, 2.74));
    EXPECT_TRUE(IsLateSample(15000, 2.76));
    EXPECT_EQ(view.histogramLate, 1u);  // only the 3 ms sample at 0.5 ms
}

TEST(SharedState, CountersSaturateAndAnAlwaysLatePeriodMovesToTheLastColumn) {
    SharedState state;
    for (int i = 0; i < 70000; ++i) state.Sample(5000, 2.5, false);
    StateView view;
    state.Snapshot(view);
    const LatticeCell& cell = view.lattice.At(LatencyRow(2.5), kLatticeSize - 1);
    EXPECT_EQ(cell.all, 65535);
    EXPECT_EQ(cell.loop, 65535);
    EXPECT_EQ(cell.late, 65535);
    EXPECT_EQ(cell.idle, 0);
    ASSERT_EQ(view.periods.size(), 1u);
    EXPECT_EQ(view.periods[0].samples, 70000u);
    EXPECT_EQ(view.periods[0].late, 70000u);

    // The per-period counts stop at a million.
    for (int i = 0; i < 1000000; ++i) state.Sample(5000, 0.01, true);
    state.Snapshot(view);
    EXPECT_EQ(view.periods[0].samples, 1000000u);
    EXPECT_EQ(view.periods[0].late, 70000u);

    // Rows: below -0.05 ms the first, 20 ms and more the last.
    EXPECT_EQ(LatencyRow(-0.2), 0);
    EXPECT_EQ(LatencyRow(20.0), kLatticeSize - 1);
    EXPECT_EQ(LatencyRow(500.0), kLatticeSize - 1);
}

TEST(SharedState, TheLogSplitsLinesAndKeepsTheNewestForty) {
    SharedState state;
    state.LogLine(L"first\n\nsecond");
    EXPECT_EQ(LogOf(state), (std::vector<std::wstring>{L"first", L"second"}));
    for (int i = 0; i < 50; ++i) state.LogLine(L"line " + std::to_wstring(i));
    const std::vector<std::wstring> log = LogOf(state);
    ASSERT_EQ(log.size(), 40u);
    EXPECT_EQ(log.front(), L"line 10");
    EXPECT_EQ(log.back(), L"line 49");
}

TEST(SharedState, TheHeatmapStartsAfreshForEachPassAndOnceForVerification) {
    SharedState state;
    const std::vector<CandidateSummary> table = {Measured(5000, 0.3, 2.0)};
    const auto sweep = [&](int pass) { state.SweepTable(table, {0.4}, 0, -1, 0, 0, pass, 3, 1, 0); };
    StateView view;

    sweep(1);
    state.Sample(5000, 0.1, false);
    sweep(1);  // the same pass again keeps its heat
    state.Snapshot(view);
    EXPECT_EQ(AllInGrid(view), 1u);
    EXPECT_EQ(view.lattice.columns[LateColumn(0.02)].presence, 1);

    sweep(2);
    state.Snapshot(view);
    EXPECT_EQ(AllInGrid(view), 0u);
    EXPECT_EQ(view.histogramTotal, 0u);
    EXPECT_TRUE(view.periods.empty());
    EXPECT_EQ(view.lattice.columns[LateColumn(0.02)].presence, 1) << "the new table's columns stay";

    state.Sample(5000, 0.1, false);
    state.VerificationTable(table, 0, -1);
    state.Snapshot(view);
    EXPECT_EQ(AllInGrid(view), 0u);
    state.Sample(5000, 0.1, false);
    state.VerificationTable(table, 0, -1);  // later rounds keep the verification heat
    state.Snapshot(view);
    EXPECT_EQ(AllInGrid(view), 1u);

    // A new job on the slot empties everything, the stop request too.
    state.cancel = true;
    state.Reset();
    state.Snapshot(view);
    EXPECT_EQ(AllInGrid(view), 0u);
    EXPECT_EQ(view.totalSamples, 0u);
    EXPECT_FALSE(state.CancelQuery());
}
