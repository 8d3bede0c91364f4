// Figures for the timer measurement: our own cost per sample, the real sampling's wall time
// against the sleeps it timed, and the printed time estimate against a simulated run.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "bench/download_bench.h"
#include "bench/game_bench.h"
#include "bench/gui_bench.h"
#include "bench/selection_bench.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "health/health_check.h"
#include "support/fakes.h"
#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"
#include "timer/benchmark.h"
#include "timer/sampling.h"
#include "tweaks/cpu_tune.h"

namespace {

double SecondsOf(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void OverheadPerSample() {
    SimulatedTimerConfig config;
    config.instant = true;
    config.callCostUs = 0;
    SimulatedTimerKernel kernel(config);
    const ScopedTimerKernel scope(&kernel);
    constexpr uint32_t kSamples = 200000;
    for (const bool withFeed : {false, true}) {
        RecordingFeed feed;  // keeps every sample, as the GUI's heatmap does
        SetCurrentFeed(withFeed ? &feed : nullptr);
        TimerCandidate c;
        c.requested = 5000;
        const auto start = std::chrono::steady_clock::now();
        MeasureCandidate(c, kSamples, kSamples / 2);
        const double seconds = SecondsOf(std::chrono::steady_clock::now() - start);
        SetCurrentFeed(nullptr);
        std::printf("overhead per sample, zero-cost kernel, %-26s %8.1f ns\n",
                    withFeed ? "feed storing samples:" : "no feed:", seconds * 1e9 / (kSamples * 1.5));
    }
}

void RealSamplingRatio() {
    TimerCandidate c;
    uint32_t coarsest = 0, finest = 0, current = 0;
    if (!QueryTimerRange(coarsest, finest, current)) {
        std::printf("real sampling: the kernel timer query failed\n");
        return;
    }
    c.requested = finest;
    constexpr uint32_t kSamples = 1000;
    const auto start = std::chrono::steady_clock::now();
    const MeasureOutcome outcome = MeasureCandidate(c, kSamples, 0);
    const double wall = SecondsOf(std::chrono::steady_clock::now() - start);
    double timed = 0;
    for (const double s : c.loopSamples) timed += (1.0 + s) / 1000.0;
    std::printf("real sampling at %.4f ms (%s): %zu samples, wall %.3f s, timed sleeps %.3f s, ratio %.4f\n",
                finest / 10000.0, outcome == MeasureOutcome::Measured ? "measured" : "not measured",
                c.loopSamples.size(), wall, timed, timed > 0 ? wall / timed : 0.0);
}

void EstimateVersusSimulatedRun() {
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    for (const int level : {0, 1, 2}) {
        SimulatedTimerKernel kernel({});
        const ScopedTimerKernel scope(&kernel);
        BenchmarkParams params;
        const uint32_t samples[] = {8, 18, 150}, passes[] = {1, 3, 3}, verify[] = {100, 187, 1500};
        params.samples = samples[level];
        params.passes = passes[level];
        params.verify = verify[level];
        const double start = kernel.NowMs();
        const BenchmarkResult r = RunBenchmark(params);
        const double actual = (kernel.NowMs() - start) / 1000;
        const double printed = EstimateBenchmark(params, 101).TotalSeconds() + 2;
        std::printf("fidelity %d: printed estimate %7.1f s, simulated run %7.1f s (ratio %.3f), selected %u\n", level,
                    printed, actual, actual / printed, r.selected);
    }
}

// CPU Tune on the in-memory power store: wall time with the dwells skipped, and the pacing
// the dwells add up to on a simulated clock.
void CpuTuneTimings() {
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    FakePowerStore store;
    SetDwellEnabled(false);
    const auto start = std::chrono::steady_clock::now();
    ApplyCpuTune();
    const double seconds = SecondsOf(std::chrono::steady_clock::now() - start);

    SimulatedTimerConfig instant;
    instant.instant = true;
    SimulatedTimerKernel clock(instant);
    const ScopedTimerKernel scope(&clock);
    SetDwellEnabled(true);
    const double begin = clock.NowMs();
    ApplyCpuTune();
    SetDwellEnabled(false);
    std::printf("CPU Tune with --no-pause: %.3f s wall; with dwells: %.1f s of pacing\n", seconds,
                (clock.NowMs() - begin) / 1000);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
}

// One health run with every tool answering promptly (Wine's own PowerShell, fsutil, schtasks).
void HealthRunTime() {
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    const auto start = std::chrono::steady_clock::now();
    const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    std::printf("health run: %zu checks in %.3f s\n", checks.size(), SecondsOf(std::chrono::steady_clock::now() - start));
}

}  // namespace

// "gui" runs only the window's figures, "download" only the vendor download's, "selection [N]"
// only the selection quality on N simulated machines (200), "game [N]" only the game
// comparison's false positives and power on N seeded games (200), "game-plot PATH" one seeded
// game's comparison drawn into PATH (the README's picture).
int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "selection-run") {
        SelectionRun(std::atoi(argv[2]), std::atoi(argv[3]));
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "selection") {
        SelectionFigures(argc > 2 ? std::max(1, std::atoi(argv[2])) : 200, argc > 3 && std::string(argv[3]) == "detail");
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "gui") {
        GuiFigures();
        return 0;
    }
    if (argc > 2 && std::string(argv[1]) == "game-plot") {
        GamePlotExample(FromUtf8(argv[2]));
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "game") {
        GameFigures(argc > 2 ? std::max(1, std::atoi(argv[2])) : 200);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "download") {
        DownloadFigures();
        return 0;
    }
    OverheadPerSample();
    RealSamplingRatio();
    EstimateVersusSimulatedRun();
    CpuTuneTimings();
    HealthRunTime();
    GuiFigures();
    DownloadFigures();
    SelectionFigures(200);
    GameFigures(200);
    return 0;
}
