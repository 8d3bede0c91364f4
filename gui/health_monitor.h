#pragma once
// The window's monitor: its settings, the health scans on their own thread, the drift checks the
// minute timer starts with maintain-timing on, and the repairs, asked for on the Health screen or
// started by a drift check, with the rescan once they are over. The decisions are the pure ones
// of gui/tray_monitor and gui/flow_controller; this carries them out.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/background_jobs.h"
#include "gui/flow_driver.h"
#include "gui/gui_hooks.h"
#include "gui/questions.h"
#include "gui/tray_monitor.h"
#include "gui/workflow.h"
#include "health/health_check.h"
#include "health/monitor.h"

class HealthMonitor {
public:
    // Told on the scan thread when a scan has finished, and whether something newly needs attention.
    using Finished = std::function<void(bool newlyFlagged)>;
    HealthMonitor(const GuiHooks& hooks, BackgroundJobs& jobs, Questions& questions, Workflow& workflow, const FlowDriver& flow);
    ~HealthMonitor();
    HealthMonitor(const HealthMonitor&) = delete;
    HealthMonitor& operator=(const HealthMonitor&) = delete;

    // The stored settings, and the first scan when monitoring is not paused.
    void Start(Finished finished);
    // The tray menu and the home screen change the settings on the window's thread; the scan
    // thread reads them: always through these.
    MonitorSettings Settings() const;
    void SaveSettings(const MonitorSettings& settings);
    void ToggleMaintainTiming();
    // The first run's questions: start with Windows (a dialog owned by the window) and maintain timing.
    void AskStartupQuestion(HWND owner);
    void AskMaintainQuestion();

    void StartScan();
    // What the last scan found, copied under its lock.
    std::vector<HealthCheck> Results(bool* running = nullptr) const;
    // Test facilities: results as a scan would have found them, and a drift check on them now.
    void UseResults(std::vector<HealthCheck> results);
    void DriftCheckNow();

    void MinuteTick();
    // On the window's thread after each scan: a drift check's repairs.
    void OnScanFinished();
    // The attention balloon's text when one may show now.
    bool TakeBalloon(bool trayPresent, std::wstring& text);

    // A repair of the health area through its step; an interactive one asks first and says why
    // it cannot start.
    void RepairArea(const std::wstring& area, bool interactive);
    // Every tick: ends the repairs whose steps have ended and rescans once all have.
    void WatchRepairs();
    bool WorkPending() const;
    // The health results when a new scan has them, whether one runs, and maintain-timing.
    void Fill(FrameSnapshot& snapshot);
    void Stop();

private:
    void ScheduleDriftCheck();
    void SyncLaunchAtLogin(bool on);

    const GuiHooks& hooks_;
    BackgroundJobs& jobs_;
    Questions& questions_;
    Workflow& workflow_;
    const FlowDriver& flow_;
    Finished finished_;

    mutable std::mutex settingsMutex_;
    MonitorSettings settings_;

    std::thread scanThread_;
    std::atomic<bool> scanBusy_{false};
    std::atomic<bool> scanStop_{false};
    mutable std::mutex scanMutex_;
    std::vector<HealthCheck> scanResults_;
    std::vector<std::wstring> flagged_;
    std::atomic<uint64_t> scanGeneration_{0};
    std::atomic<ULONGLONG> nextScan_{0};  // the scan thread sets it when it finishes
    uint64_t generationShown_ = ~0ull;    // the generation the last snapshot holds
    MonitorClock clock_;                  // window thread only
    RepairWatch repairs_;                 // window thread only
};
