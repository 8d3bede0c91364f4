#pragma once
// The window: its run order, message loop and window procedure, the tray icon, the first-run
// questions, the health scans and drift checks, and the end of the process. It owns the window
// and the threads; the step workflow is gui/workflow, the drawing gui/renderer, and each screen
// (gui/screens) is a function over the frame's snapshot that asks for work through the
// operations App implements. Nothing that waits runs on the window's thread: probes, the saved
// scan and hardening go to a background worker, and questions are asked after the frame.
#include <windows.h>
#include <shellapi.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/unique_handle.h"
#include "gui/flow_controller.h"
#include "gui/app_updater.h"
#include "gui/gui_hooks.h"
#include "gui/background_jobs.h"
#include "gui/layout.h"
#include "gui/renderer.h"
#include "gui/screens/screen.h"
#include "gui/shared_state.h"
#include "gui/tray_icon.h"
#include "gui/tray_monitor.h"
#include "gui/widgets.h"
#include "gui/workflow.h"
#include "health/health_check.h"
#include "health/monitor.h"

// Posted by the health-scan thread.
inline constexpr UINT kScanFinishedMessage = WM_APP + 1;
inline constexpr UINT kScanAlertMessage = WM_APP + 2;
inline constexpr UINT kTrayCallbackMessage = WM_APP + 3;
// Posted by the update check when it has an answer, so it is announced while the window is hidden.
inline constexpr UINT kUpdateCheckedMessage = WM_APP + 4;

// Runs the window until it ends: 0, 1 (no window or no Direct2D) or 2 (an update was applied
// and the new copy must be started).
int RunApp(const GuiHooks& hooks);

// Megabytes of state: create it on the heap.
class App final : private ScreenOps {
public:
    explicit App(const GuiHooks& hooks);
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    int Run();

    // The test facility: draws frames into an offscreen target instead of a window.
    bool CreateOffscreen(uint32_t width, uint32_t height, float dpi);
    void DrawFrame(double dt);
    // While the Lattice takes its turn: waits for it (answering messages meanwhile) and says the
    // frame must wait more; false once the next frame may be drawn.
    bool HoldFrameForLattice();
    Renderer& GetRenderer() { return renderer_; }
    Workflow& Flow() { return workflow_; }
    // What the last frame was drawn from, the screens' own state, and the operations a click
    // on a screen calls (tests drive the window through them as the screens do).
    const FrameSnapshot& Snapshot() const { return snap_; }
    const ScreenStates& States() const { return states_; }
    ScreenOps& Operations() { return *this; }
    // Lets the Lattice catch up with what the last frame submitted (review images).
    bool WaitForLattice(uint32_t timeoutMs) { return renderer_.Lattice().WaitFrame(timeoutMs); }
    // Waits until the background worker has nothing left to do (tests).
    bool WaitForBackground(uint32_t timeoutMs) { return jobs_.WaitIdle(timeoutMs); }
    // Asks the publisher on its own thread (the message loop does this at start).
    void StartUpdateCheck();
    bool UpdateApplying() const { return updater_.Applying(); }
    bool UpdateChecked() const { return updater_.Checked(); }
    bool UpdateMode() const { return updateMode_; }
    // Test facilities: health results as a scan would have found them, and a drift check on
    // them now, as the end of a drift check's scan runs it.
    void UseScanResults(std::vector<HealthCheck> results);
    void DriftCheckNow() {
        monitor_.driftPending = true;
        OnScanFinished();
    }
    // How long the last frame's own work (everything but drawing) took on the window's thread.
    double LastFrameWorkMilliseconds() const { return frameWorkMs_; }
    // Runs the questions waiting for the end of the frame (the message loop does so after every frame).
    void AskQueuedQuestions();

    void StartHealthScan() override;
    // What the health scan found, copied under its lock.
    std::vector<HealthCheck> ScanResults(bool* running = nullptr) const;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void AttachWindow(HWND window) { window_ = window; }

private:
    static constexpr UINT_PTR kMinuteTimer = 7;
    static constexpr UINT_PTR kBlinkTimer = 8;  // the tray icon's update blink
    // The operations the screens call.
    void GoHome() override;
    void SetStage(int stageValue) override { workflow_.SetStage(stageValue); }
    void OpenHealth(bool scan) override;
    void PutBackChange(const ChangeRow& change) override;
    void RepairArea(const std::wstring& area) override { RepairArea(area, true); }
    void OpenHomeTile(int index) override;
    void StartGuidedStep(int step) override;
    void StartStep(int slot) override { workflow_.StartTweak(slot, true); }
    void RetryStep(int slot) override;
    void StopStep(int slot) override { workflow_.StopSlot(slot); }
    void StartMeasure() override { workflow_.StartBenchmark(true); }
    void StartInstall(uint32_t period) override { workflow_.StartInstall(true, period); }
    void SetWanted(int slot, bool wanted) override { workflow_.SetWanted(slot, wanted); }
    void SetAllWanted(bool wanted) override { workflow_.SetAllWanted(wanted); }
    void SetFidelity(int level) override { workflow_.SetFidelity(level); }
    void BeginFullTune() override;
    void GpuLookup() override { workflow_.BeginGpuLookup(); }
    void GpuDownload() override { workflow_.BeginGpuDownload(); }
    void GpuInstall() override { workflow_.BeginGpuInstall(); }
    void RetryGpuClean() override;
    void ContinueAfterDriver() override;
    void SkipGpuDriver(bool guided) override;
    void RetryRestorePoint() override { workflow_.ResetSlot(SlotPrepare); }
    void AcceptRestoreFailure() override { restoreFailureAccepted_ = true; }
    void StartAfterburnerInTune() override;
    void SkipAfterburnerInTune() override;
    void ToggleMaintainTiming() override;
    void RequestUpdatePrompt() override { updatePromptRequest_ = true; }
    void OpenLog() override;
    void RequestClose() override;
    void RestartComputer() override;

    void RepairArea(const std::wstring& area, bool interactive);
    void StartNextWantedStep(int after);
    void OpenStep(int slot);
    // Whether this build can run a step.
    bool StepAvailable(int slot) const;
    std::wstring SelectedStepNames() const;
    // A question (a message box) for after the frame, so its own message loop never runs inside one.
    void AskAfterFrame(std::function<void()> question);

    // Run order and loop.
    bool CreateMainWindow();
    void ApplyDwmAttributes();
    void BuildIcons();
    void AddTrayIcon();
    void RefreshTray();
    void ShowTrayMenu();
    // A question in a message box, or to the hooks' answerer.
    int Ask(const std::wstring& text, unsigned flags);
    void ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD icon);
    void ShowMainWindow();
    void ChooseOpeningStage();
    void AskStartupQuestion();
    void AskMaintainQuestion();
    void MessageLoop();
    void Shutdown();
    void MinuteTick();
    void OnScanFinished();
    void OnScanAlert();
    void OnTrayEvent(LPARAM event);
    void ScheduleDriftCheck();
    MonitorSettings Settings() const;
    void SaveSettings(const MonitorSettings& settings);
    void SyncLaunchAtLogin(bool on);

    // Background work: probes and the saved scan, landing in the snapshot.
    void ProbeCpuInBackground(bool decideGuidedStep);
    void ProbeGpuInBackground();
    void LoadScanInBackground();

    // Every frame; Tick also runs while the window is hidden and a step, tune or repair is under
    // way, so they move on in the tray too.
    void Tick();
    bool BackgroundWorkPending() const;
    void HandleUpdate();
    void AutoAdvance();
    void WatchRepairs();
    void FullTuneTick();
    void TakeSnapshot(double dt);

    const GuiHooks& hooks_;
    Workflow workflow_;
    Renderer renderer_;
    Ui ui_;
    // The tray menu and the home screen change these on the window's thread; the scan thread
    // reads them: always through Settings() and SaveSettings().
    mutable std::mutex settingsMutex_;
    MonitorSettings settings_;

    // Window.
    HWND window_ = nullptr;
    float dpi_ = 96;
    bool running_ = false;
    bool quitting_ = false;
    UINT showMessage_ = 0;
    UINT taskbarCreated_ = 0;  // sent when Explorer (and with it the notification area) starts again
    TrayIcon tray_;
    UniqueIcon bigIcon_, smallIcon_;
    FrameInput pending_;  // input gathered by the window procedure for the next frame
    // Clicks wait their turn, one per frame: two quick clicks during one slow frame are two clicks.
    std::array<std::pair<float, float>, 8> clicks_{};
    size_t queuedClicks_ = 0;
    bool buttonDown_ = false;
    bool cursorHand_ = false;
    std::vector<std::function<void()>> questions_;

    // Frame.
    LARGE_INTEGER frequency_{}, lastFrame_{};
    ULONGLONG latticeHeldSince_ = 0;
    double clock_ = 0;
    double veil_ = 0;
    FrameSnapshot snap_;
    ScreenStates states_;
    uint64_t healthShown_ = ~0ull;  // the scan generation the snapshot holds
    double frameWorkMs_ = 0;
    uint64_t gpuShown_ = ~0ull;     // the GPU Clean generation the snapshot holds

    // Background work.
    BackgroundJobs jobs_;
    mutable std::mutex probeMutex_;
    bool cpuProbed_ = false, gpuProbed_ = false;
    std::vector<ChangeRow> changes_;  // the ledger, read when the Health screen opens
    bool changesRead_ = false;
    bool puttingBack_ = false;
    std::wstring putBackOutcome_;
    CpuProbe cpuProbe_;
    GpuProbeView gpuProbe_;
    std::atomic<bool> cpuDecisionPending_{false};  // guided step 3 waits for the probe to choose
    std::unique_ptr<LatticeData> loadedScan_;      // what the worker loaded, not yet taken
    std::unique_ptr<LatticeData> shownScan_;       // what the snapshot points at
    bool loadedScanFound_ = false, shownScanFound_ = false, scanLoadDone_ = false;
    bool scanLoadWanted_ = true;

    // Health scans and drift checks.
    std::thread scanThread_;
    std::atomic<bool> scanBusy_{false};
    std::atomic<bool> scanStop_{false};
    mutable std::mutex scanMutex_;
    std::vector<HealthCheck> scanResults_;
    std::vector<std::wstring> flagged_;
    std::atomic<uint64_t> scanGeneration_{0};
    MonitorClock monitor_;
    std::atomic<ULONGLONG> nextScan_{0};  // the scan thread sets it when it finishes

    // Repairs started from the health screen or by a drift check.
    RepairWatch repairs_;

    // Updates: the threads and what they found, and how the window tells of them.
    AppUpdater updater_;
    bool updateAnnounced_ = false;
    bool updateMode_ = false;
    bool blinkPhase_ = false;
    bool updatePromptRequest_ = false;

    // The flow.
    std::array<int, kSlotCount> lastSeen_{};
    // The slots as the flow policy sees them: this frame's states and the last frame's.
    FlowSlots Slots() const;
    int lastGpuPhase_ = GpuPhaseNone;
    bool fullTuneActive_ = false;
    bool restoreFailureAccepted_ = false;
    bool gpuDriverSkipped_ = false;
    bool afterburnerSkipped_ = false;
    bool afterburnerWaiting_ = false;
    bool afterburnerRan_ = false;          // Afterburner finished in this session
    bool afterburnerAfterDriver_ = false;  // and a driver was installed since
    bool gpuDeferredStart_ = false;
};
