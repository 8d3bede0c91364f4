#pragma once
// What binds the window to the engine: every operation the GUI may run, as plain forwarding
// calls filled once at start. An empty hook means the function is not offered.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/change_ledger.h"
#include "foundation/feed.h"
#include "foundation/outcome.h"
#include "gpu/adapters.h"
#include "service/step_catalogue.h"
#include "timer/benchmark.h"
#include "timer/game_run.h"
#include "timer/sample_stats.h"
#include "timer/sweep_plan.h"
#include "tweaks/cpu_probe.h"
#include "update/app_update.h"

// One measurement's outcome, as the window keeps it.
struct ResultView {
    uint32_t selected = 0;  // 100-ns units; 0 when nothing was selected
    SampleStats loopStats;
    SampleStats idleStats;
    double score = 0;
    SampleStats baselineStats;
    uint32_t bestMeasured = 0;
    uint32_t firstNeverMissing = 0;
    uint32_t marginApplied = 0;
    std::wstring errorText;
    std::wstring scanPath;
    bool servicePaused = false;  // the timer service was stopped for the measurement
};

// What the window keeps of a measurement's outcome (servicePaused is the caller's to set).
inline ResultView ResultViewOf(const BenchmarkResult& r) {
    ResultView view;
    view.selected = r.selected;
    view.loopStats = r.loopStats;
    view.idleStats = r.idleStats;
    view.score = r.score;
    view.baselineStats = r.baselineStats;
    view.bestMeasured = r.bestMeasured;
    view.firstNeverMissing = r.firstNeverMissing;
    view.marginApplied = r.marginApplied;
    view.errorText = r.errorText;
    view.scanPath = r.scanPath;
    return view;
}

struct GuiHooks {
    std::wstring version;
    std::wstring logPath;
    std::wstring dataDirectory;
    bool yes = false;
    bool ppm = false, gpu = false;
    std::array<bool, kSlotCount> leaveOut{};  // by slot: the step's "--no-..." switch was given
    uint32_t resolution = 0;
    int fidelity = kAdaptiveFidelity;  // the window recommends the adaptive measurement

    std::function<SystemView()> systemInfo;
    std::function<ResultView(Feed&, int fidelity)> runBenchmark;
    std::function<int(unsigned resolution, Feed&)> installService;
    std::function<CpuProbe()> probeCpu;
    std::function<GpuProbeView()> probeGpu;
    std::function<std::vector<ChangeRow>()> readChanges;  // the ledger of recorded changes
    // Puts back the recorded original of one change (--revert ID); the outcome in words.
    std::function<bool(const std::wstring& id, std::wstring& outcome)> revertChange;
    // Answers the window's questions instead of a message box (tests); the MessageBox flags in, its answer out.
    std::function<int(const std::wstring& text, unsigned flags)> ask;
    // By slot: the engine function a step's worker runs (the tweak steps and Afterburner).
    std::array<std::function<int(Feed&)>, kSlotCount> steps;
    std::function<void()> startService;
    std::function<void(const std::wstring& area)> guardArea;
    std::function<void()> removeLegacyService;
    // "Start with Windows" made or taken away (a task is registered: run on the background
    // worker); and whether what is there does not match the choice yet.
    std::function<bool(bool on, std::wstring& error)> launchAtLogin;
    std::function<bool(bool on)> launchAtLoginNeedsRepair;
    // Asks Windows to restart now with the message shown; false, with Windows' reason, when it refuses.
    std::function<bool(const std::wstring& message, std::wstring& error)> restart;
    std::function<bool(AppUpdate&, const std::atomic<bool>& stop, std::wstring& error)> checkUpdate;
    std::function<Outcome(const AppUpdate&, const std::function<void(const std::wstring&)>& status, const std::atomic<bool>& stop)>
        applyUpdate;
    // The game check: the programs with a window, one of which is the game; and the comparison
    // (--compare-game), its lines to the calling thread's feed: 0 compared, 1 refused or failed,
    // 2 stopped.
    std::function<std::vector<std::wstring>()> runningPrograms;
    // Asks where PresentMon is (the system's file dialog, owned by the window); empty when not chosen.
    std::function<std::wstring(void* owner)> choosePresentMon;
    std::function<int(const std::wstring& game, const std::wstring& presentMon, int minutes, GameRunResult& run,
                      const std::atomic<bool>& stop)>
        compareGame;
};
