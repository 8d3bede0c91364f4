#pragma once
// The window: its run order, message loop and window procedure, the tray icon, the first-run
// questions, the health scans and drift checks, and the end of the process. It owns the window
// and the threads; the step workflow is gui/workflow, the drawing gui/renderer, and each screen
// is one Draw function that reads the frame's snapshot and calls the operations here.
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

#include "gui/gui_hooks.h"
#include "gui/layout.h"
#include "gui/renderer.h"
#include "gui/shared_state.h"
#include "gui/tray_monitor.h"
#include "gui/widgets.h"
#include "gui/workflow.h"
#include "health/health_check.h"
#include "health/monitor.h"

// Posted by the health-scan thread.
inline constexpr UINT kScanFinishedMessage = WM_APP + 1;
inline constexpr UINT kScanAlertMessage = WM_APP + 2;
inline constexpr UINT kTrayCallbackMessage = WM_APP + 3;

// Runs the window until it ends: 0, 1 (no window or no Direct2D) or 2 (an update was applied
// and the new copy must be started).
int RunApp(const GuiHooks& hooks);

// Megabytes of state: create it on the heap.
class App {
public:
    explicit App(const GuiHooks& hooks);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    int Run();

    // The test facility: draws frames into an offscreen target instead of a window.
    bool CreateOffscreen(uint32_t width, uint32_t height, float dpi);
    void DrawFrame(double dt);
    Renderer& GetRenderer() { return renderer_; }
    Workflow& Flow() { return workflow_; }
    // Lets the Lattice catch up with what the last frame submitted (review images).
    bool WaitForLattice(uint32_t timeoutMs) { return renderer_.Lattice().WaitFrame(timeoutMs); }

    // Operations the screens call.
    void GoHome();
    void OpenHealth();
    void StartHealthScan();
    void ShowMainWindow();
    void RequestClose();
    void StartGuidedStep(int step);
    void StartNextWantedStep(int after);
    void RepairArea(const std::wstring& area, bool interactive);
    void OpenLog();
    void RestartComputer();

    // Whether this build can run a step (the driver install and Afterburner come later).
    bool StepAvailable(int slot) const;
    std::wstring SelectedStepNames() const;

    // What the health scan found, copied under its lock.
    std::vector<HealthCheck> ScanResults(bool* running = nullptr) const;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void AttachWindow(HWND window) { window_ = window; }

private:
    friend struct Screens;

    // Run order and loop.
    bool CreateMainWindow();
    void ApplyDwmAttributes();
    void BuildIcons();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void RefreshTray();
    void ShowTrayMenu();
    void ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD icon);
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

    // Every frame; Tick also runs while the window is hidden and a step, tune or repair is under
    // way, so they move on in the tray too.
    void Tick();
    bool BackgroundWorkPending() const;
    void HandleUpdate();
    void AutoAdvance();
    void WatchRepairs();
    void FullTuneTick(const ScreenLayout& layout);
    void DrawHeader(const ScreenLayout& layout);
    void DrawScreen(const ScreenLayout& layout);
    void DrawVeil(double dt);

    // Screens.
    void DrawWelcome(const RectF& area);
    void DrawHome(const RectF& area);
    void DrawHealth(const RectF& area);
    void DrawReview(const RectF& area);
    void DrawFullTune(const RectF& area);
    void DrawMeasureScreen(const ScreenLayout& layout);
    void DrawStepScreen(const ScreenLayout& layout);
    void DrawGpuClean(const ScreenLayout& layout);
    void DrawLogColumn(const ScreenLayout& layout);
    void RetryGpuClean(const GpuDriverOffer& offer);
    void ContinueAfterDriver();
    void DrawSweepChart(const RectF& rect, const StateView& view);
    void DrawLiveChart(const RectF& rect, const StateView& view);
    void DrawLatticeCard(const RectF& rect, const StateView& view, bool live);
    void DrawCandidatePanel(const RectF& rect, const StateView& view);
    void DrawMeasurePanel(const RectF& rect, const StateView& view);
    void DrawVerificationBars(const RectF& rect, const StateView& view);
    void DrawInstallPanel(const RectF& rect, const StateView& view);
    void DrawItemList(const RectF& rect, const StateView& view, int slot);
    void DrawResultBanner(const RectF& rect, int slot);
    void DrawDescriptionPanel(const RectF& rect);
    void DrawRestartButtons(const RectF& panel);
    bool DrawHouse();

    const GuiHooks& hooks_;
    Workflow workflow_;
    Renderer renderer_;
    Ui ui_;
    MonitorSettings settings_;

    // Window.
    HWND window_ = nullptr;
    float dpi_ = 96;
    bool running_ = false;
    bool quitting_ = false;
    bool confirmOpen_ = false;
    UINT showMessage_ = 0;
    NOTIFYICONDATAW tray_{};
    bool trayPresent_ = false;
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr, trayIcon_ = nullptr;
    FrameInput pending_;  // input gathered by the window procedure for the next frame
    // Clicks wait their turn, one per frame: two quick clicks during one slow frame are two clicks.
    std::array<std::pair<float, float>, 8> clicks_{};
    size_t queuedClicks_ = 0;
    bool buttonDown_ = false;
    float scroll_ = 0;
    bool cursorHand_ = false;

    // Frame.
    LARGE_INTEGER frequency_{}, lastFrame_{};
    double clock_ = 0;
    double veil_ = 0;
    StateView view_;   // the slot snapshot the current screen draws from
    StateView home_;   // the measuring slot, for the home screen's live card
    StateView tileView_;  // one Full tune tile at a time
    std::vector<PointF> chartPoints_;  // reused by the charts frame after frame

    // Health scans and drift checks.
    std::thread scanThread_;
    std::atomic<bool> scanBusy_{false};
    std::atomic<bool> scanStop_{false};
    mutable std::mutex scanMutex_;
    std::vector<HealthCheck> scanResults_;
    std::vector<std::wstring> flagged_;
    uint64_t scanTime_ = 0;
    MonitorClock monitor_;
    std::atomic<ULONGLONG> nextScan_{0};  // the scan thread sets it when it finishes
    int selectedCheck_ = -1;

    // Repairs started from the health screen or by a drift check.
    int interactiveRepairSlot_ = -1;
    std::array<bool, kSlotCount> automaticRepair_{};
    bool rescanAfterRepairs_ = false;

    // Updates.
    std::thread updateThread_, applyThread_;
    std::atomic<bool> updateStop_{false};
    mutable std::mutex updateMutex_;
    AppUpdate update_;
    std::wstring updateError_;
    bool updateAvailable_ = false;
    std::atomic<bool> updateChecked_{false};
    bool updateAnnounced_ = false;
    bool updateMode_ = false;
    bool blinkPhase_ = false;
    bool updatePromptRequest_ = false;
    std::atomic<bool> updateApplying_{false};
    std::atomic<bool> updateApplied_{false};
    std::atomic<bool> updateFailed_{false};
    std::wstring updateStatus_;

    // Screens.
    std::array<int, kSlotCount> lastSeen_{};
    bool fullTuneActive_ = false;
    bool restoreFailureAccepted_ = false;
    bool gpuDriverSkipped_ = false;
    bool afterburnerSkipped_ = false;
    bool afterburnerWaiting_ = false;
    bool afterburnerDoneThisRun_ = false;
    bool openedFromHome_ = false;
    bool gpuDeferredStart_ = false;
    double measureFadeA_ = 0, measureFadeB_ = 0;
    bool scanLoaded_ = false;
    bool scanFound_ = false;
    std::wstring scanName_;
    LatticeData scanLattice_;
    CpuProbe cpuProbe_;
    bool cpuProbed_ = false;
};
