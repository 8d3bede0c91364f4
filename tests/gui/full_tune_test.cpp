// Full tune as a pure function of the slots, and the other decisions the window makes without
// drawing: the tray monitor's clock, the welcome screen's estimates, the tile grid.
#include "gui/full_tune.h"

#include <gtest/gtest.h>

#include <vector>

#include "gui/layout.h"
#include "gui/tray_monitor.h"
#include "timer/sweep_plan.h"

namespace {

// The window's tick, with each started step marked as running at once.
struct Tune {
    FullTuneInput in;

    Tune() {
        in.want.fill(true);
        in.limit = 12;
    }
    std::vector<FullTuneStart> Tick() {
        std::vector<FullTuneStart> started;
        while (FullTuneBusy(in) < in.limit) {
            const FullTuneStart start = NextFullTuneStart(in);
            if (start == FullTuneStart::None) break;
            started.push_back(start);
            in.state[SlotOfStart(start)] = StepRunning;
            if (start == FullTuneStart::GpuLookup) in.gpuPhase = GpuPhaseLooking;
        }
        if (AfterburnerMayWait(in)) in.afterburnerWaiting = true;
        return started;
    }
    void End(int slot, int state = StepFinished) { in.state[slot] = state; }
};

using S = FullTuneStart;

}  // namespace

TEST(FullTune, WithEveryStepTheRestorePointAndMeasureRunAloneThenTheRestTogetherInOrder) {
    Tune tune;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Prepare}));
    EXPECT_TRUE(tune.Tick().empty()) << "nothing beside the restore point";
    tune.End(SlotPrepare);
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Measure}));
    EXPECT_TRUE(tune.Tick().empty()) << "nothing beside the measurement";
    tune.End(SlotMeasure);
    tune.in.periodKnown = true;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Cpu, S::Memory, S::Install, S::GpuLookup}));
    tune.End(SlotCpu);
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Storage})) << "storage only after CPU power";

    // The driver lookup found a package: the choice waits for the user, and GPU settings with it.
    tune.End(SlotGpuDriver);
    tune.in.gpuPhase = GpuPhaseFound;
    EXPECT_TRUE(tune.Tick().empty());
    EXPECT_NE(FullTuneStatusLine(tune.in).find(L"GPU driver choice"), std::wstring::npos);
    tune.in.gpuPhase = GpuPhaseInstalled;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Gpu}));
    EXPECT_FALSE(tune.in.afterburnerWaiting) << "not while GPU settings use the driver";

    for (const int slot : {SlotMemory, SlotStorage, SlotService, SlotGpuSettings}) tune.End(slot);
    EXPECT_TRUE(tune.Tick().empty()) << "Afterburner is never started by the tick";
    EXPECT_TRUE(tune.in.afterburnerWaiting);
    EXPECT_FALSE(FullTuneComplete(tune.in)) << "Afterburner waits for its button";
    tune.in.afterburnerWaiting = false;
    tune.in.afterburnerSkipped = true;
    EXPECT_TRUE(FullTuneComplete(tune.in));
}

TEST(FullTune, AFailedRestorePointBlocksUntilRetriedOrAccepted) {
    Tune tune;
    tune.Tick();
    tune.End(SlotPrepare, StepFailed);
    EXPECT_TRUE(tune.Tick().empty());
    EXPECT_EQ(FullTuneBusy(tune.in), 1) << "the failure holds a tile";
    EXPECT_FALSE(FullTuneComplete(tune.in));
    // Retry: back to idle, and the tick starts it again.
    tune.in.state[SlotPrepare] = StepIdle;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Prepare}));
    tune.End(SlotPrepare, StepStopped);
    tune.in.restoreFailureAccepted = true;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Measure}));
}

TEST(FullTune, WithoutMeasureOrAResolutionTheServiceCountsAsDoneAndTheRunCompletes) {
    Tune tune;
    tune.in.want.fill(false);
    tune.in.want[SlotService] = true;
    tune.in.want[SlotMemory] = true;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Memory}));
    tune.End(SlotMemory);
    EXPECT_TRUE(tune.Tick().empty());
    EXPECT_TRUE(FullTuneComplete(tune.in));

    // With a resolution given, the install runs and must end first.
    Tune given;
    given.in.want.fill(false);
    given.in.want[SlotService] = true;
    given.in.periodKnown = true;
    EXPECT_EQ(given.Tick(), (std::vector<S>{S::Install}));
    EXPECT_FALSE(FullTuneComplete(given.in));
    given.End(SlotService, StepFailed);
    EXPECT_TRUE(FullTuneComplete(given.in));
}

TEST(FullTune, TheParallelLimitComesFromTheTilesThatFit) {
    EXPECT_EQ(FullTuneParallelLimit(1340 - 32, 880 - 122 - 16), 12);  // the default window
    EXPECT_EQ(FullTuneParallelLimit(1040 - 32, 700 - 122 - 16), 6);   // the smallest
    EXPECT_EQ(FullTuneParallelLimit(100, 100), 1);
    Tune tune;
    tune.in.limit = 2;
    tune.End(SlotPrepare);
    tune.End(SlotMeasure);
    tune.in.periodKnown = true;
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Cpu, S::Memory}));
    tune.End(SlotMemory);
    EXPECT_EQ(tune.Tick(), (std::vector<S>{S::Install}));

    const TileGrid three = FullTuneTiles(3, 1308, 742);
    EXPECT_EQ(three.columns, 3);
    EXPECT_EQ(three.rows, 1);
    EXPECT_FLOAT_EQ(three.tileWidth, (1308 - 24) / 3.0f);
    const TileGrid five = FullTuneTiles(5, 700, 500);
    EXPECT_EQ(five.columns, 2);
    EXPECT_EQ(five.rows, 3);
}

TEST(FullTune, TheStatusLineGroupsTheStepsAndLeavesEmptyGroupsOut) {
    FullTuneInput in;
    EXPECT_EQ(FullTuneStatusLine(in), L"running the selected steps");
    in.state[SlotPrepare] = StepFinished;
    in.state[SlotMeasure] = StepFinished;
    in.state[SlotCpu] = StepRunning;
    in.state[SlotMemory] = StepRunning;
    in.state[SlotService] = StepWaiting;
    in.state[SlotStorage] = StepStopped;
    in.state[SlotGpuSettings] = StepFailed;
    in.gpuPhase = GpuPhaseDownloaded;
    EXPECT_EQ(FullTuneStatusLine(in),
              L"Running: CPU power, Memory    Waiting: Timer service, GPU driver choice    Stopped: GPU settings, Storage"
              L"    Finished: Restore point, Measure");
}

// Every tick line past the first is named by its own number: the fifth is not a second "4th tick".
TEST(LiveChart, TickLinesAreNamedByTheirOwnNumber) {
    EXPECT_EQ(TickLineLabel(1), L"2nd tick");
    EXPECT_EQ(TickLineLabel(2), L"3rd tick");
    EXPECT_EQ(TickLineLabel(3), L"4th tick");
    EXPECT_EQ(TickLineLabel(4), L"5th tick");
    EXPECT_EQ(TickLineLabel(10), L"11th tick");
    EXPECT_EQ(TickLineLabel(20), L"21st tick");
}

TEST(WelcomeEstimates, FollowTheRoundingRulesForThePresetsAndTheEdges) {
    EXPECT_EQ(EstimateText(FidelityPreset(0).estimateSeconds), L"~10 s");
    EXPECT_EQ(EstimateText(FidelityPreset(1).estimateSeconds), L"~35 s");
    EXPECT_EQ(EstimateText(FidelityPreset(2).estimateSeconds), L"~3 min 20 s");
    // Adaptive: about half of medium's time as a rule, never more than its worst case.
    const FidelityCounts adaptive = FidelityPreset(kAdaptiveFidelity);
    EXPECT_NEAR(adaptive.expectedSeconds, FidelityPreset(1).estimateSeconds * kAdaptiveShareOfMedium, 0.01);
    EXPECT_LT(adaptive.expectedSeconds, adaptive.estimateSeconds);
    EXPECT_EQ(FidelityPreset(1).expectedSeconds, FidelityPreset(1).estimateSeconds);
    EXPECT_EQ(EstimateText(0), L"~5 s");
    EXPECT_EQ(EstimateText(2.4), L"~5 s");
    EXPECT_EQ(EstimateText(13), L"~15 s");
    EXPECT_EQ(EstimateText(89), L"~90 s");
    EXPECT_EQ(EstimateText(90), L"~1 min 30 s");
    EXPECT_EQ(EstimateText(114), L"~1 min 50 s");
    EXPECT_EQ(EstimateText(115), L"~2 min");
    EXPECT_EQ(EstimateText(124), L"~2 min");
    EXPECT_EQ(EstimateText(125), L"~2 min 10 s");
}

TEST(TrayMonitor, PausedDoesNothingAndDriftChecksRunOneAtATimeOnceAMinute) {
    MonitorClock clock;
    clock.nextScan = 1000;
    for (const bool maintain : {false, true}) {
        EXPECT_EQ(MinuteTick(true, maintain, false, 5000000, clock), MinuteAction::None);
    }
    EXPECT_FALSE(clock.driftPending);
    EXPECT_EQ(MinuteTick(false, false, false, 999, clock), MinuteAction::None);
    EXPECT_EQ(MinuteTick(false, false, true, 1000, clock), MinuteAction::None) << "a scan is running";
    EXPECT_EQ(MinuteTick(false, false, false, 1000, clock), MinuteAction::Scan);

    EXPECT_EQ(MinuteTick(false, true, false, 60000, clock), MinuteAction::DriftCheck);
    EXPECT_TRUE(clock.driftPending);
    EXPECT_EQ(clock.nextDrift, 120000u);
    EXPECT_EQ(MinuteTick(false, true, false, 130000, clock), MinuteAction::None) << "the last one is pending";
    clock.driftPending = false;
    EXPECT_EQ(MinuteTick(false, true, false, 119999, clock), MinuteAction::None);
    EXPECT_EQ(MinuteTick(false, true, false, 120000, clock), MinuteAction::DriftCheck);
}

TEST(TrayMonitor, ABalloonAtMostEveryHalfHourAndOnlyForNewlyFlaggedItems) {
    HealthCheck drifted;
    drifted.id = L"power.PERFEPP";
    drifted.title = L"Energy preference";
    drifted.status = HealthAttention;
    HealthCheck fine = drifted;
    fine.id = L"timer.global";
    fine.status = HealthPassing;
    const std::vector<std::wstring> first = FlaggedItems({drifted, fine});
    EXPECT_EQ(first, std::vector<std::wstring>{L"power.PERFEPP|Energy preference"});
    EXPECT_TRUE(AnyNewlyFlagged({}, first));
    EXPECT_FALSE(AnyNewlyFlagged(first, first)) << "the same item again";
    fine.status = HealthError;
    EXPECT_TRUE(AnyNewlyFlagged(first, FlaggedItems({drifted, fine})));

    MonitorClock clock;
    EXPECT_FALSE(TakeBalloonTurn(false, true, true, 10, clock)) << "notifications off";
    EXPECT_FALSE(TakeBalloonTurn(true, false, true, 10, clock)) << "no tray icon";
    EXPECT_FALSE(TakeBalloonTurn(true, true, false, 10, clock)) << "nothing needs attention";
    EXPECT_TRUE(TakeBalloonTurn(true, true, true, 10, clock));
    EXPECT_FALSE(TakeBalloonTurn(true, true, true, 10 + kBalloonInterval - 1, clock));
    EXPECT_TRUE(TakeBalloonTurn(true, true, true, 10 + kBalloonInterval, clock));
}
