#include "timer/sweep_plan.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TimerCandidate Measured(uint32_t period, double score, bool clean = true, double median = 0.05) {
    TimerCandidate c;
    c.requested = period;
    c.actual = period;
    c.loopSamples = {median};
    c.idleSamples = {median};
    c.score = score;
    c.clean = clean;
    c.loopStats.median = median;
    return c;
}

TimerCandidate Unmeasured(uint32_t period) {
    TimerCandidate c;
    c.requested = period;
    return c;
}

std::vector<uint32_t> Periods(uint32_t first, uint32_t step, size_t count) {
    std::vector<uint32_t> v;
    for (size_t i = 0; i < count; ++i) v.push_back(first + static_cast<uint32_t>(i) * step);
    return v;
}

}  // namespace

TEST(Grid, DefaultRangeIsFinestToOneMillisecondAbove) {
    const std::vector<uint32_t> grid = BuildGrid(0, 0, 10, 5000, 156250);
    ASSERT_EQ(grid.size(), 101u);
    EXPECT_EQ(grid, Periods(5000, 10, 101));
}

TEST(Grid, LastCandidateIsAlwaysTheEndEvenOffTheStep) {
    EXPECT_EQ(BuildGrid(5000, 5025, 10, 5000, 156250), (std::vector<uint32_t>{5000, 5010, 5020, 5025}));
    EXPECT_EQ(BuildGrid(5000, 5020, 10, 5000, 156250), (std::vector<uint32_t>{5000, 5010, 5020}));
}

TEST(Grid, InvertedOrEmptyRangesBecomeTwoCandidates) {
    EXPECT_EQ(BuildGrid(6000, 5000, 10, 5000, 156250), (std::vector<uint32_t>{6000, 6010}));
    EXPECT_EQ(BuildGrid(5000, 5000, 20, 5000, 156250), (std::vector<uint32_t>{5000, 5020}));
}

TEST(Grid, ClampedToTheKernelRange) {
    // Below the finest starts at the finest; above the coarsest ends at the coarsest.
    EXPECT_EQ(BuildGrid(4000, 5030, 10, 5000, 156250), (std::vector<uint32_t>{5000, 5010, 5020, 5030}));
    EXPECT_EQ(BuildGrid(156200, 200000, 20, 5000, 156250),
              (std::vector<uint32_t>{156200, 156220, 156240, 156250}));
    // A kernel that reports no coarsest does not cap the end.
    EXPECT_EQ(BuildGrid(0, 0, 500, 10000, 0).back(), 11000u);
}

TEST(PassOrder, AscendingDescendingShuffledThenAgain) {
    EXPECT_EQ(PassOrder(0, 5), (std::vector<size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(PassOrder(1, 5), (std::vector<size_t>{4, 3, 2, 1, 0}));
    EXPECT_EQ(PassOrder(2, 5), (std::vector<size_t>{1, 4, 3, 2, 0}));
    EXPECT_EQ(PassOrder(3, 5), (std::vector<size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(PassOrder(4, 5), (std::vector<size_t>{4, 3, 2, 1, 0}));
    EXPECT_STREQ(PassOrderName(0), L"ascending");
    EXPECT_STREQ(PassOrderName(4), L"descending");
    EXPECT_STREQ(PassOrderName(5), L"shuffled");
}

TEST(PassOrder, ShuffleSequenceIsFixedByThePassNumber) {
    EXPECT_EQ(PassOrder(2, 10), (std::vector<size_t>{9, 5, 1, 3, 7, 4, 2, 6, 8, 0}));
    EXPECT_EQ(PassOrder(5, 10), (std::vector<size_t>{4, 3, 7, 6, 1, 2, 8, 9, 5, 0}));
    const std::vector<size_t> big = PassOrder(2, 101);
    EXPECT_EQ(std::vector<size_t>(big.begin(), big.begin() + 12),
              (std::vector<size_t>{37, 9, 49, 3, 52, 46, 24, 60, 29, 99, 76, 87}));
    std::vector<size_t> single{0};
    ShuffleForPass(single, 2);
    EXPECT_EQ(single, std::vector<size_t>{0});
}

TEST(Smoothing, AveragesMeasuredNeighboursWithinTwoPlaces) {
    const std::vector<TimerCandidate> grid = {Measured(5000, 1.0), Measured(5010, 2.0), Unmeasured(5020),
                                              Measured(5030, 4.0), Measured(5040, 5.0)};
    const std::vector<double> s = SmoothScores(grid);
    EXPECT_DOUBLE_EQ(s[0], (1.0 + 2.0) / 2);
    EXPECT_DOUBLE_EQ(s[1], (1.0 + 2.0 + 4.0) / 3);
    EXPECT_EQ(s[2], kUnmeasuredScore);
    EXPECT_DOUBLE_EQ(s[3], (2.0 + 4.0 + 5.0) / 3);
    EXPECT_DOUBLE_EQ(s[4], (4.0 + 5.0) / 2);
    EXPECT_EQ(BestMeasured(s), 0);
}

TEST(Smoothing, BestMeasuredTiesGoToTheLongerPeriodAndNoneWhenNothingMeasured) {
    EXPECT_EQ(BestMeasured({0.3, 0.2, 0.2, 0.4}), 2);
    EXPECT_EQ(BestMeasured({kUnmeasuredScore, kUnmeasuredScore}), -1);
    EXPECT_EQ(BestMeasured({}), -1);
}

TEST(Boundary, FirstNeverMissingNeedsThreeNearFloorCandidatesInARow) {
    // Medians: missing ticks until 5030, then at the floor (0.04) from 5030 on; 5050 is noisy but within half a tick.
    std::vector<TimerCandidate> grid = {Measured(5000, 0.5, false, 0.50), Measured(5010, 0.3, true, 0.30),
                                        Measured(5020, 0.2, true, 0.04), Measured(5030, 0.1, true, 0.04),
                                        Measured(5040, 0.1, true, 0.05), Measured(5050, 0.1, true, 0.20)};
    grid[1].clean = true;  // clean but far above the floor: it still misses
    grid[3].clean = false;  // breaks the first run
    Boundary b = FindBoundary(grid);
    EXPECT_EQ(b.firstNeverMissing, 4) << "at the end of the grid the neighbours that exist suffice";
    EXPECT_EQ(b.lastMissing, 3) << "a candidate that is not clean is not near the floor";

    grid[3].clean = true;
    b = FindBoundary(grid);
    EXPECT_EQ(b.firstNeverMissing, 2);
    EXPECT_EQ(b.lastMissing, 1);
    EXPECT_EQ(b.transitionWidth, 10u);
}

TEST(Boundary, UnmeasuredNeighbourBreaksTheRunAndTheEndOfTheGridShortensIt) {
    std::vector<TimerCandidate> grid = {Measured(5000, 0.1, true, 0.04), Unmeasured(5010), Measured(5020, 0.1, true, 0.04),
                                        Measured(5030, 0.1, true, 0.04)};
    const Boundary b = FindBoundary(grid);
    EXPECT_EQ(b.firstNeverMissing, 2) << "only the neighbours that exist are needed";
    EXPECT_EQ(b.lastMissing, -1) << "every measured candidate below is near the floor";
    EXPECT_EQ(b.transitionWidth, 0u);
}

TEST(Margin, AutomaticMarginFollowsTheTransitionWidthWithinLimits) {
    const struct {
        uint32_t width;
        uint32_t margin;
        const wchar_t* label;
        bool capped;
    } cases[] = {{0, 50, L" (minimum)", false},
                 {30, 50, L" (minimum)", false},
                 {50, 50, L" (minimum)", false},
                 {120, 120, L" (= transition width)", false},
                 {300, 300, L" (= transition width)", false},
                 {450, 300, L" (= transition width)", true}};
    for (const auto& c : cases) {
        const MarginChoice m = ChooseMargin(false, 0, c.width);
        EXPECT_EQ(m.margin, c.margin) << c.width;
        EXPECT_STREQ(m.label, c.label) << c.width;
        EXPECT_EQ(m.capped, c.capped) << c.width;
    }
    const MarginChoice given = ChooseMargin(true, 0, 450);
    EXPECT_EQ(given.margin, 0u);
    EXPECT_STREQ(given.label, L" (--margin)");
    EXPECT_FALSE(given.capped);
}

TEST(Margin, TargetIsTheFirstMeasuredCandidateAtBestPlusMargin) {
    std::vector<TimerCandidate> grid = {Measured(5000, 1), Measured(5010, 1), Unmeasured(5060), Measured(5070, 1),
                                        Measured(5080, 1)};
    EXPECT_EQ(MarginTarget(grid, 1, 0), 1) << "margin 0 targets best itself";
    EXPECT_EQ(MarginTarget(grid, 1, 50), 3) << "unmeasured 5060 is passed over";
    EXPECT_EQ(MarginTarget(grid, 1, 500), 4) << "nothing far enough: the last candidate";
    grid[4] = Unmeasured(5080);
    EXPECT_EQ(MarginTarget(grid, 1, 500), 1) << "an unmeasured last candidate falls back to best";
}

TEST(Finalists, TargetBestNeighboursBoundaryThenRankingUpToSix) {
    std::vector<TimerCandidate> grid;
    const double scores[] = {0.9, 0.8, 0.3, 0.25, 0.4, 0.5, 0.2, 0.6, 0.7, 0.2};
    for (int i = 0; i < 10; ++i) grid.push_back(Measured(5000 + 10 * i, scores[i]));
    // target 6, best 3, boundary 2: picks 6, 3, 7, 2, (2 again); then ranking 9 (0.2, longer first), then 6 (dup), 4.
    EXPECT_EQ(PickFinalists(grid, 6, 3, 2), (std::vector<int>{2, 3, 4, 6, 7, 9}));
    // Best at 0 has no lower neighbour; target + 1 past the end is skipped.
    EXPECT_EQ(PickFinalists(grid, 9, 0, -1), (std::vector<int>{0, 2, 3, 4, 6, 9}));
    grid[7] = Unmeasured(5070);
    const std::vector<int> noNeighbour = PickFinalists(grid, 6, 3, -1);
    EXPECT_EQ(std::count(noNeighbour.begin(), noNeighbour.end(), 7), 0) << "unmeasured candidates never go through";
}

TEST(Selection, NearTiesGoToTheLongerPeriodAtOrAboveTheTarget) {
    std::vector<TimerCandidate> f = {Measured(5300, 0.100), Measured(5500, 0.200), Measured(5600, 0.205)};
    EXPECT_EQ(SelectFinalist(f, 5500), 2) << "0.205 is within 3 % of 0.200";
    f[2].score = 0.210;
    EXPECT_EQ(SelectFinalist(f, 5500), 1) << "0.210 is not";
    f.push_back(Measured(5700, 0.2115));
    f[2].score = 0.2055;
    EXPECT_EQ(SelectFinalist(f, 5500), 3) << "each replacement raises the bar: 0.2115 <= 0.2055 x 1.03";
}

TEST(Selection, NothingBelowTheTargetIsEverInstalled) {
    std::vector<TimerCandidate> f = {Measured(5300, 0.100), Measured(5400, 0.150), Unmeasured(5600)};
    EXPECT_EQ(SelectFinalist(f, 5600), -1);
    f[2] = Measured(5600, 0.4);
    EXPECT_EQ(SelectFinalist(f, 5600), 2) << "however much better the ones below scored";
    EXPECT_EQ(SelectFinalist({Unmeasured(5000)}, 5000), -1);
    std::vector<TimerCandidate> equal = {Measured(5600, 0.2), Measured(5700, 0.2)};
    EXPECT_EQ(SelectFinalist(equal, 5600), 1) << "an equal score is a near-tie too";
}

TEST(RowNotes, LaterNotesReplaceEarlierOnes) {
    TimerCandidate c = Measured(5500, 0.1);
    EXPECT_EQ(SweepRowNote(c, true, true), L"<- best measured (smoothed) <- first resolution that never misses a tick");
    c.skipped = 2;
    EXPECT_EQ(SweepRowNote(c, false, false), L" (2 pass(es) skipped)");
    EXPECT_EQ(SweepRowNote(Unmeasured(5500), false, false), L"");
    EXPECT_EQ(VerificationRowNote(5300, 5500, 5400, false), L"below margin target (evidence only)");
    EXPECT_EQ(VerificationRowNote(5400, 5500, 5400, false), L"best measured in sweep");
    EXPECT_EQ(VerificationRowNote(5400, 5500, 5400, true), L"<- SELECTED");
    EXPECT_EQ(VerificationRowNote(5600, 5500, 5400, false), L"");
}

// Who is measured again in an adaptive round: the close ones by their standard errors (never
// narrower than the floor), the ones next to the boundary whatever their score, and any not yet
// measured; the clearly worse stop.
TEST(Contention, CloseBoundaryAndUnmeasuredStayTheClearlyWorseStop) {
    const auto withError = [](TimerCandidate c, double error) {
        c.loopStats.scoreError = c.idleStats.scoreError = error * std::sqrt(2.0);  // combined error = error
        return c;
    };
    // Errors of 0.010 on both sides: the bound is 3 x sqrt(2) x 0.010 = 0.042 ms.
    std::vector<TimerCandidate> grid{withError(Measured(5000, 0.100, false), 0.010), withError(Measured(5010, 0.150, false), 0.010),
                                     withError(Measured(5020, 0.140, false), 0.010), Unmeasured(5030)};
    std::vector<bool> alive = StillInContention(grid, kContentionSigmas, 0);
    EXPECT_TRUE(alive[0]);
    EXPECT_FALSE(alive[1]) << "0.050 above";
    EXPECT_TRUE(alive[2]) << "0.040 above";
    EXPECT_TRUE(alive[3]) << "not yet measured";

    // No spread seen anywhere: the bound is the 0.005 ms floor, not zero.
    grid = {Measured(5000, 0.100, false), Measured(5010, 0.104, false), Measured(5020, 0.106, false)};
    alive = StillInContention(grid, kContentionSigmas, 0);
    EXPECT_TRUE(alive[1]);
    EXPECT_FALSE(alive[2]);

    // Missing ticks up to 5050, clean from 5060, the best score at 5090: the places next to both
    // sides of that boundary stay whatever their score.
    grid.clear();
    for (uint32_t k = 0; k < 10; ++k) grid.push_back(Measured(5000 + 10 * k, k == 9 ? 0.1 : 1.0 + k, k >= 6, k < 6 ? 0.3 : 0.05));
    alive = StillInContention(grid, kContentionSigmas, 2);
    EXPECT_FALSE(alive[0] || alive[1] || alive[2]);
    EXPECT_TRUE(alive[3] && alive[4] && alive[5] && alive[6] && alive[7] && alive[8] && alive[9]);
}
