// Whole benchmark runs on the simulated kernel.
#include "timer/benchmark.h"
#include "timer/sweep_plan.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "foundation/text.h"
#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"

namespace {

BenchmarkParams MediumParams() {
    BenchmarkParams p;
    p.samples = 18;
    p.passes = 3;
    p.verify = 187;
    return p;
}

class BenchmarkRun : public testing::Test {
protected:
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};

    void SetUp() override { feed.storeSamples = false; }

    BenchmarkResult Run(SimulatedTimerConfig config, const BenchmarkParams& params = MediumParams()) {
        kernel = std::make_unique<SimulatedTimerKernel>(std::move(config));
        const ScopedTimerKernel scope(kernel.get());
        const ScopedFeed feedScope(&feed);
        return RunBenchmark(params);
    }

    std::vector<std::string> ScanLines(const std::wstring& path) {
        std::vector<std::string> lines;
        const std::string bytes = ReadFileBytes(path);
        size_t start = 0;
        for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(bytes.substr(start, end - start));
        }
        return lines;
    }

    size_t ScanFilesWritten() {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((folder.Path() + L"\\Quorvantis\\benchmark-*.csv").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return 0;
        size_t count = 1;
        while (FindNextFileW(h, &found)) ++count;
        FindClose(h);
        return count;
    }

public:
    RecordingFeed feed;
    std::unique_ptr<SimulatedTimerKernel> kernel;
    uint32_t holdAt = 0;  // the period another process starts holding, when a test makes one
};

}  // namespace

TEST_F(BenchmarkRun, CleanMachineSelectsAPeriodPastTheTransitionAndWritesTheScan) {
    const BenchmarkResult r = Run({});
    ASSERT_NE(r.selected, 0u) << r.errorText;
    EXPECT_TRUE(r.errorText.empty());
    // The simulated machine always misses at 0.50 ms, often just above, and hardly ever past 0.55 ms.
    EXPECT_GE(r.firstNeverMissing, 5200u);
    EXPECT_LE(r.firstNeverMissing, 5600u);
    EXPECT_GE(r.selected, r.bestMeasured);
    EXPECT_EQ(r.marginApplied, r.selected - r.bestMeasured);
    // Only a period at or above the margin target may be installed; finalists below it are
    // evidence, and the table says so.
    ASSERT_GT(feed.verificationTarget, static_cast<int>(r.bestMeasured)) << "the margin is at least 0.005 ms";
    EXPECT_GE(r.selected, static_cast<uint32_t>(feed.verificationTarget));
    EXPECT_TRUE(feed.Logged(L"below margin target (evidence only)"));
    EXPECT_EQ(r.baselineStats.count, 40u);
    EXPECT_GT(r.baselineStats.median, 10.0) << "nothing requested: the 15.6 ms default clock";
    EXPECT_EQ(kernel->OwnRequest(), 0u) << "no request may outlive the run";

    EXPECT_TRUE(feed.Logged(L"Kernel timer range: fastest 0.5000 ms, slowest 15.6250 ms, system currently at 15.6250 ms"));
    EXPECT_TRUE(feed.Logged(L"Sweep: 0.5000-0.6000 ms in 0.0010 ms steps = 101 candidates x 3 passes x (18 "
                            L"back-to-back + 9 idle-gap) samples = 8181 Sleep(1) calls"));
    EXPECT_TRUE(feed.Logged(L"Verification: up to 6 finalists x (187 + 93) samples, interleaved in 10 rounds. Estimated "
                            L"time ~0:36"));
    EXPECT_TRUE(feed.Logged(L"\nVerification: 6 finalists x (190 back-to-back + 100 idle-gap) samples, interleaved in "
                            L"10 rounds so they see identical conditions:"));
    EXPECT_TRUE(feed.Logged(L"<- SELECTED"));
    EXPECT_FALSE(feed.Logged(L"WARNING"));

    const std::vector<std::string> scan = ScanLines(r.scanPath);
    ASSERT_EQ(scan.size(), 1u + 101u + 6u);
    EXPECT_EQ(scan[1].rfind("sweep,5000,5000,0.5000,", 0), 0u);
    EXPECT_EQ(scan[101].rfind("sweep,6000,6000,0.6000,", 0), 0u);
    EXPECT_EQ(scan[102].rfind("verify,", 0), 0u);

    // Every sweep pass visited all 101 candidates in its own order; 10 rounds visited all finalists.
    size_t sweepUpdates = 0;
    for (const auto& s : feed.sweeps) sweepUpdates += s.justMeasured >= 0 ? 1 : 0;
    EXPECT_EQ(sweepUpdates, 303u);
    EXPECT_EQ(feed.verificationMeasured.size(), 1u + 60u);
    EXPECT_EQ(feed.sampleCount, 40u + 8181u + 6u * (190u + 100u));
}

TEST_F(BenchmarkRun, SameSeedSameResult) {
    const BenchmarkResult first = Run({});
    const std::string firstScan = ReadFileBytes(first.scanPath);
    DeleteFileW(first.scanPath.c_str());
    const BenchmarkResult second = Run({});
    EXPECT_EQ(second.selected, first.selected);
    EXPECT_EQ(ReadFileBytes(second.scanPath), firstScan);
}

TEST_F(BenchmarkRun, AnotherProcessMaskingPartOfTheRangeIsWarnedAndRecorded) {
    SimulatedTimerConfig config;
    config.holds.push_back({0, 1e18, 5800});
    const BenchmarkResult r = Run(config);
    ASSERT_NE(r.selected, 0u) << r.errorText;
    EXPECT_LE(r.selected, 5800u);
    EXPECT_TRUE(feed.Logged(L"WARNING: some process already holds 0.5800 ms, inside the sweep range."));
    EXPECT_TRUE(feed.Logged(L"    0.5810       -  skipped: another process held 0.5800 ms"));
    EXPECT_TRUE(feed.Logged(L"WARNING: 20 candidate(s) could not be measured because another process held a finer "
                            L"resolution for the whole run."));
    // Once the measuring is over, the energy report names who held it.
    EXPECT_TRUE(feed.Logged(L"WARNING: another process held a finer timer period during the measurement. Held by "
                            L"game.exe (PID 4312, 0.5800 ms)."));
    const std::vector<std::string> scan = ScanLines(r.scanPath);
    ASSERT_GT(scan.size(), 83u);
    EXPECT_EQ(scan[82].substr(0, 20), "sweep,5810,0,0.5810,");
    EXPECT_EQ(scan[82].substr(scan[82].size() - 7), ",0,5800") << "no samples dropped, masked by 0.58 ms";
}

TEST_F(BenchmarkRun, NothingMeasurableEndsWithTheErrorAndASweepOnlyScan) {
    SimulatedTimerConfig config;
    config.holds.push_back({0, 1e18, 5000});
    BenchmarkParams params = MediumParams();
    params.from = 5010;
    params.to = 5100;
    const BenchmarkResult r = Run(config, params);
    EXPECT_EQ(r.selected, 0u);
    EXPECT_EQ(r.errorText, L"No candidate could be measured (another process held the clock for the whole run). Close "
                           L"it, or stop the Quorvantis service, and re-run. Held by game.exe (PID 4312, 0.5000 ms).");
    const std::vector<std::string> scan = ScanLines(r.scanPath);
    ASSERT_EQ(scan.size(), 1u + 10u);
    for (size_t i = 1; i < scan.size(); ++i) EXPECT_EQ(scan[i].rfind("sweep,", 0), 0u);
}

TEST_F(BenchmarkRun, ClockTakenAwayBeforeVerificationFailsAfterWritingTheScan) {
    feed.onStageContext = this;
    feed.onStage = [](const std::wstring& tag, void* self) {
        auto* run = static_cast<BenchmarkRun*>(self);
        if (tag == L"VERIFICATION" && run->kernel) run->kernel->HoldFromNow(4000);
    };
    const BenchmarkResult r = Run({});
    EXPECT_EQ(r.selected, 0u);
    EXPECT_EQ(r.errorText, L"Verification could not measure any finalist (another process took the clock). Close it and "
                           L"re-run. Held by game.exe (PID 4312, 0.4000 ms).");
    const std::vector<std::string> scan = ScanLines(r.scanPath);
    ASSERT_EQ(scan.size(), 1u + 101u + 6u);
    EXPECT_EQ(scan.back().substr(scan.back().size() - 5), ",4000");
}

// Another process starts holding the best measured period as the verification begins: the
// finalists at or above the margin are masked, those at or below the hold are measured, and none
// of them may be installed.
TEST_F(BenchmarkRun, ClockHeldAtTheBestMeasuredPeriodDuringVerificationInstallsNothing) {
    feed.onStageContext = this;
    feed.onStage = [](const std::wstring& tag, void* self) {
        auto* run = static_cast<BenchmarkRun*>(self);
        if (tag == L"VERIFICATION" && run->kernel && run->holdAt == 0 && !run->feed.sweeps.empty()) {
            run->holdAt = 5000 + 10 * static_cast<uint32_t>(run->feed.sweeps.back().best);
            run->kernel->HoldFromNow(run->holdAt);
        }
    };
    const BenchmarkResult r = Run({});
    ASSERT_GT(holdAt, 5000u);
    EXPECT_EQ(r.selected, 0u);
    EXPECT_EQ(r.errorText, L"Verification could not measure any finalist at or above the safety margin (another process "
                           L"took the clock). Close it and re-run." +
                               FormatText(L" Held by game.exe (PID 4312, %.4f ms).", holdAt / 10000.0));
    EXPECT_TRUE(feed.Logged(L"best measured in sweep")) << "the best, at the hold, was measured";
}

TEST_F(BenchmarkRun, CancelMidSweepEndsWithoutAScanFile) {
    feed.cancelFrom = 2000;
    const BenchmarkResult r = Run({});
    EXPECT_EQ(r.selected, 0u);
    EXPECT_EQ(r.errorText, L"Cancelled.");
    EXPECT_EQ(ScanFilesWritten(), 0u);
    EXPECT_EQ(kernel->OwnRequest(), 0u);
}

TEST_F(BenchmarkRun, CancelDuringBaselineOrVerificationToo) {
    feed.cancelFrom = 10;
    EXPECT_EQ(Run({}).errorText, L"Cancelled.");
    feed.cancelQueries = 0;
    // Past the whole sweep (8181 samples + per-candidate checks), inside the verification.
    feed.cancelFrom = 9500;
    const BenchmarkResult r = Run({});
    EXPECT_EQ(r.errorText, L"Cancelled.");
    EXPECT_TRUE(feed.Logged(L"so they see identical conditions:")) << "the cancel came during verification";
    EXPECT_EQ(ScanFilesWritten(), 0u);
}

TEST_F(BenchmarkRun, KernelQueryFailureStopsAtOnce) {
    SimulatedTimerConfig config;
    config.failQueriesFrom = 0;
    const BenchmarkResult r = Run(config);
    EXPECT_EQ(r.errorText, L"NtQueryTimerResolution failed.");
    EXPECT_TRUE(feed.Lines().empty());
    EXPECT_EQ(kernel->SetCalls(), 0u);
}

TEST_F(BenchmarkRun, DroppedSamplesAreCountedInANote) {
    SimulatedTimerConfig config;
    config.flickerEvery = 97;
    const BenchmarkResult r = Run(config);
    EXPECT_NE(r.selected, 0u);
    EXPECT_TRUE(feed.Logged(L"sample(s) were discarded because another process changed the clock while they were being "
                            L"taken."));
}

TEST_F(BenchmarkRun, ExplicitZeroMarginTargetsTheBestMeasured) {
    BenchmarkParams params = MediumParams();
    params.marginGiven = true;
    params.margin = 0;
    const BenchmarkResult r = Run({}, params);
    ASSERT_NE(r.selected, 0u);
    EXPECT_TRUE(feed.Logged(FormatText(L"Safety margin: +0.0000 ms (--margin) -> target %.4f ms", r.bestMeasured / 10000.0)));
}

TEST_F(BenchmarkRun, OptimumOnTheLastCandidateSuggestsAWiderRange) {
    BenchmarkParams params = MediumParams();
    params.from = 5000;
    params.to = 5200;
    params.step = 50;
    const BenchmarkResult r = Run({}, params);
    ASSERT_TRUE(r.optimumOnLast);
    EXPECT_TRUE(feed.Logged(L"NOTE: the optimum sits on the last candidate; it may lie beyond the range. Re-run with --to "
                            L"6200 to check."));
}

namespace {

// Per period, the Sleep(1) calls seen so far; the sweep takes the first 305 of each (5 warm-up,
// 200 back-to-back, 100 idle-gap), verification the rest (rounds of 5 + 100 + 50).
struct PlacedMisses {
    std::map<uint32_t, int> seen;
    bool Miss(uint32_t period) {
        const int n = seen[period]++;
        if (n < 305) {
            // Sweep: 0.5070 ms misses 2 of its 200 back-to-back samples (1 %), 0.5080 ms one (0.5 %).
            return (period == 5070 && (n == 50 || n == 150)) || (period == 5080 && n == 50);
        }
        // Verification: odd periods miss 3 of 1000 back-to-back samples (0.3 %), even ones 2 (0.2 %).
        const int v = n - 305;
        const int round = v / 155, inRound = v % 155;
        return inRound == 15 && round < (period / 10 % 2 == 1 ? 3 : 2);
    }
};

}  // namespace

TEST_F(BenchmarkRun, LateSamplesAreCleanUpToTheirLimitsInTheSweepAndInVerification) {
    PlacedMisses misses;
    SimulatedTimerConfig config;
    config.lateMeanUs = 0;
    config.missTick = [&](uint32_t period) { return misses.Miss(period); };
    BenchmarkParams params;
    params.from = 5000;
    params.to = 5150;
    params.step = 10;
    params.samples = 200;
    params.passes = 1;
    params.verify = 1000;
    const BenchmarkResult r = Run(config, params);
    ASSERT_NE(r.selected, 0u) << r.errorText;
    // The candidate's own clean flag is the third column from the end of its scan row.
    const auto cleanOf = [](const std::string& row) { return row.substr(row.size() - 5, 1); };
    int verified = 0;
    for (const std::string& row : ScanLines(r.scanPath)) {
        if (row.rfind("sweep,5070,", 0) == 0) {
            EXPECT_EQ(cleanOf(row), "0") << "1 % late: " << row;
        }
        if (row.rfind("sweep,5080,", 0) == 0) {
            EXPECT_EQ(cleanOf(row), "1") << "0.5 % late: " << row;
        }
        if (row.rfind("verify,", 0) != 0) continue;
        ++verified;
        const uint32_t period = static_cast<uint32_t>(std::stoul(row.substr(7)));
        EXPECT_EQ(cleanOf(row), period / 10 % 2 == 1 ? "0" : "1") << row;
    }
    EXPECT_GT(verified, 0);
}

namespace {

// The shipped adaptive preset, as the console passes it on.
BenchmarkParams AdaptiveParams() {
    const FidelityCounts preset = FidelityPreset(kAdaptiveFidelity);
    BenchmarkParams p;
    p.samples = preset.samples;
    p.passes = preset.passes;
    p.verify = preset.verify;
    p.adaptive = true;
    p.adaptiveRounds = preset.extraRounds;
    p.roundSamples = preset.roundSamples;
    p.contentionBoundarySteps = preset.boundarySteps;
    return p;
}

const CandidateFigures* FiguresAt(const std::vector<CandidateFigures>& sweep, uint32_t period) {
    for (const CandidateFigures& c : sweep) {
        if (c.requested == period) return &c;
    }
    return nullptr;
}

}  // namespace

// A machine where every period misses a tick now and then except two neighbours: those two are
// closer than any bound and everything else is clearly worse.
SimulatedTimerConfig TwoCleanNeighbours() {
    SimulatedTimerConfig config;
    auto wakes = std::make_shared<uint64_t>(0);
    config.missTick = [wakes](uint32_t period) { return period != 5500 && period != 5510 && ++*wakes % 3 == 0; };
    return config;
}

// Samples go where they decide the pick: a candidate that misses ticks stops after its first
// batch; the two clean neighbours, closer than the bound, both get every round.
TEST_F(BenchmarkRun, AdaptiveStopsTheClearlyWorseEarlyAndMeasuresTheCloseOnesToTheEnd) {
    const BenchmarkResult r = Run(TwoCleanNeighbours(), AdaptiveParams());
    ASSERT_NE(r.selected, 0u) << r.errorText;
    ASSERT_EQ(r.sweep.size(), 101u);
    for (const uint32_t period : {5000u, 5300u, 5800u}) {
        const CandidateFigures* worse = FiguresAt(r.sweep, period);
        ASSERT_NE(worse, nullptr);
        EXPECT_EQ(worse->loop.count, 8u) << period << ": a clearly worse candidate stops after its first batch";
    }
    for (const uint32_t period : {5500u, 5510u}) {
        const CandidateFigures* close = FiguresAt(r.sweep, period);
        ASSERT_NE(close, nullptr);
        EXPECT_EQ(close->loop.count, 8u + kAdaptiveExtraRounds * kAdaptiveRoundSamples)
            << period << ": candidates closer than the bound reach the full budget";
    }
    EXPECT_TRUE(feed.Logged(FormatText(L"Adaptive round 1/%lu: 2 of 101 candidates are within 3 standard errors of the best "
                                       L"score, or next to where ticks stop being missed; only they are measured again.",
                                       static_cast<unsigned long>(kAdaptiveExtraRounds))));
    // The scan file says how many samples each candidate received.
    const std::vector<std::string> scan = ScanLines(r.scanPath);
    ASSERT_GT(scan.size(), 2u);
    EXPECT_EQ(scan[1].rfind("sweep,5000,5000,0.5000,8,", 0), 0u) << scan[1];
}

// Where medium's pick is unambiguous (every wake-up misses a tick below 0.53 ms, none from there on), the
// adaptive sweep picks the same period in well under two thirds of the time.
TEST_F(BenchmarkRun, AdaptivePicksWhatMediumPicksWhereTheChoiceIsClear) {
    const auto machine = [] {
        SimulatedTimerConfig config;
        config.lateMeanUs = 3;
        config.missTick = [](uint32_t period) { return period < 5300; };
        return config;
    };
    const BenchmarkResult medium = Run(machine());
    const double mediumMs = kernel->NowMs();
    const BenchmarkResult adaptive = Run(machine(), AdaptiveParams());
    const double adaptiveMs = kernel->NowMs();
    ASSERT_NE(medium.selected, 0u) << medium.errorText;
    EXPECT_EQ(adaptive.selected, medium.selected) << "medium best " << medium.bestMeasured << " first " << medium.firstNeverMissing
                                                  << " margin " << medium.marginApplied << "; adaptive best " << adaptive.bestMeasured
                                                  << " first " << adaptive.firstNeverMissing << " margin " << adaptive.marginApplied;
    EXPECT_LT(adaptiveMs, mediumMs * 0.6);
}
