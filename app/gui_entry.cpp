// The window role: one instance at a time, the hooks that bind the window to the engine, and
// the window's run.
#include <windows.h>
#include <commdlg.h>

#include <memory>
#include <mutex>

#include "app/console_benchmark.h"
#include "app/console_changes.h"
#include "app/console_flow.h"
#include "app/console_game.h"
#include "app/console_tweaks.h"
#include "app/entry.h"
#include "foundation/elevation.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/named_objects.h"
#include "foundation/product.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"
#include "gui/app.h"
#include "timer/sweep_plan.h"
#include "health/autostart.h"
#include "health/guard.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "service/step_ledger.h"
#include "timer/sampling.h"
#include "tweaks/cpu_probe.h"
#include "update/self_update.h"

namespace {

// The system's own open dialog, from the system folder at run time: its library is not one the
// program loads at start. Only a full path comes back; the comparison checks the file itself.
std::wstring ChoosePresentMonFile(void* owner) {
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = static_cast<HWND>(owner);
    dialog.lpstrFilter = L"PresentMon (PresentMon*.exe)\0PresentMon*.exe\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = L"PresentMon's console program";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_DONTADDTORECENT;
    using OpenFn = BOOL(WINAPI*)(OPENFILENAMEW*);
    const auto open = reinterpret_cast<OpenFn>(reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(LoadSystemLibrary(L"comdlg32.dll")), "GetOpenFileNameW")));
    return open != nullptr && open(&dialog) ? std::wstring(path) : std::wstring();
}

SystemView ReadSystemView() {
    SystemView view;
    QueryTimerRange(view.coarsest, view.finest, view.current);
    view.elevated = IsElevated();
    view.serviceState = QueryTimerServiceState();
    uint32_t desired = 0;
    if (ReadStateDword(L"DesiredResolution", desired)) view.desiredResolution = desired;
    return view;
}

// The benchmark worker: the measurement with the window's feed and fidelity, no menu. A service
// it stopped is handed to the window, which starts it again (now, or after the install).
ResultView BenchmarkWorker(const Options& options, Feed& feed, int fidelity) {
    SetCurrentFeed(&feed);
    Options chosen = options;
    chosen.fidelity = fidelity;
    chosen.fidelitySet = true;
    ResultView view;
    {
        PausedTimerService pause;
        view = ResultViewOf(RunPausedBenchmark(chosen, pause));
        view.servicePaused = pause.IsPaused();
        pause.HandedOver();
    }
    SetCurrentFeed(nullptr);
    return view;
}

// The measurement the window made last, so an install of its period keeps what it found, as the
// console's measure-then-install does.
struct LastMeasurement {
    std::mutex mutex;
    uint32_t selected = 0;
    uint32_t firstNeverMissing = 0;
    double loopMedianMs = 0;
};

GuiHooks MakeHooks(const Options& options) {
    GuiHooks hooks;
    hooks.version = kVersionText;
    hooks.logPath = LogFilePath();
    hooks.dataDirectory = DataDirectory();
    hooks.yes = options.yes;
    hooks.ppm = options.ppm;
    hooks.gpu = options.gpu;
    hooks.leaveOut = options.leaveOut;
    hooks.resolution = options.resolution;
    // The window recommends the adaptive measurement; --fidelity still chooses another.
    hooks.fidelity = options.fidelitySet ? options.fidelity : kAdaptiveFidelity;
    hooks.systemInfo = ReadSystemView;
    const auto last = std::make_shared<LastMeasurement>();
    hooks.runBenchmark = [options, last](Feed& feed, int fidelity) {
        const ResultView view = BenchmarkWorker(options, feed, fidelity);
        const std::lock_guard<std::mutex> lock(last->mutex);
        last->selected = view.selected;
        last->firstNeverMissing = view.firstNeverMissing;
        last->loopMedianMs = view.loopStats.median;
        return view;
    };
    hooks.installService = [last](unsigned resolution, Feed& feed) {
        const int result = InstallWorker(&feed, resolution);
        const std::lock_guard<std::mutex> lock(last->mutex);
        if (result == 0 && resolution != 0 && resolution == last->selected) {
            RecordBenchmarkForInstall(last->firstNeverMissing, last->loopMedianMs);
        }
        return result;
    };
    hooks.probeCpu = ProbeCpu;
    hooks.probeGpu = ProbeGpu;
    hooks.readChanges = RecordedChanges;
    hooks.revertChange = [](const std::wstring& id, std::wstring& outcome) { return RevertFromWindow(id, outcome); };
    for (const StepEntry& step : StepCatalogue()) {
        const int slot = step.slot;
        if (step.apply != nullptr) hooks.steps[static_cast<size_t>(slot)] = [slot](Feed& feed) { return StepWorker(slot, &feed); };
    }
    hooks.steps[SlotAfterburner] = [](Feed& feed) { return AfterburnerWorker(&feed); };
    hooks.startService = StartTimerServiceNoWait;
    hooks.guardArea = [](const std::wstring& area) { HardenArea(area); };
    hooks.removeLegacyService = RemoveStaleServices;
    hooks.launchAtLogin = SetLaunchAtLogin;
    hooks.launchAtLoginNeedsRepair = LaunchAtLoginNeedsRepair;
    hooks.restart = RestartWindows;
    hooks.checkUpdate = [](AppUpdate& update, const std::atomic<bool>& stop, std::wstring& error) {
        const bool available = CheckForAppUpdate(ProductUpdateSource(), kVersionText, update, stop, error);
        if (!error.empty()) AppendLogLine(L"Update check: " + error);
        if (available) AppendLogLine(L"Update available: " + update.version);
        return available;
    };
    hooks.runningPrograms = ProgramsWithWindows;
    hooks.choosePresentMon = ChoosePresentMonFile;
    hooks.compareGame = [](const std::wstring& game, const std::wstring& presentMon, int minutes, GameRunResult& run,
                           const std::atomic<bool>& stop) {
        Options compare;
        compare.command = L"compare-game";
        compare.gameName = game;
        compare.presentMon = presentMon;
        compare.minutes = static_cast<uint32_t>(minutes);
        return CompareGameWithPresentMon(compare, stop, &run);
    };
    hooks.applyUpdate = [](const AppUpdate& update, const std::function<void(const std::wstring&)>& status,
                           const std::atomic<bool>& stop) { return ApplyAppUpdate(ProductUpdateSource(), update, status, stop); };
    return hooks;
}

}  // namespace

int RunGui(const Options& options, const std::vector<std::wstring>&) {
    // One instance: a second one asks the first to show itself and leaves, quietly. The window
    // holds the operation lock for its life, so no locked command runs beside it.
    OperationLock lock;
    if (const LockState state = lock.Take(); state == LockState::Busy) {
        const UINT show = RegisterWindowMessageW(L"Quorvantis.Show");
        if (show != 0) PostMessageW(HWND_BROADCAST, show, 0, 0);
        return 0;
    } else if (state == LockState::Unavailable) {
        LogError(FormatText(L"%ls (error %lu)", LockRefusal(state), lock.Error()));
        MessageBoxW(nullptr, LockRefusal(state), L"Quorvantis", MB_ICONWARNING | MB_SETFOREGROUND);
        return 1;
    }
    RecoverInterruptedRuns();
    RemoveOldCopies();
    const GuiHooks hooks = MakeHooks(options);
    return FinishWindow(RunApp(hooks), RelaunchSelf, [](const wchar_t* text) {
        MessageBoxW(nullptr, text, L"Quorvantis", MB_ICONWARNING | MB_SETFOREGROUND);
    });
}

int FinishWindow(int result, const std::function<bool()>& relaunch, const std::function<void(const wchar_t*)>& tell) {
    // 2: this copy was replaced by an update; the new one takes over.
    if (result != 2) return result;
    if (relaunch()) return 0;
    // The update is in place but nothing is running now: say so, or the user sees the window
    // vanish and nothing come back.
    constexpr const wchar_t* kText = L"Quorvantis was updated, but the new version could not be started. Start Quorvantis again.";
    LogError(kText);
    tell(kText);
    return 1;
}
