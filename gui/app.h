#pragma once
// The window, wired together from its parts: the host (class, loop, DPI, input, frame pacing),
// the tray, the monitor (scans, drift checks, repairs), the update notice, the flow driver
// (guided steps, Full tune, the automatic advance), the feeds (probes, ledger, saved scan) and the
// screens' operations. App owns them, runs them in order, takes each frame's snapshot and draws
// the screen; nothing that waits runs on the window's thread.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "gui/app_updater.h"
#include "gui/background_jobs.h"
#include "gui/flow_driver.h"
#include "gui/game_check.h"
#include "gui/gui_hooks.h"
#include "gui/health_monitor.h"
#include "gui/questions.h"
#include "gui/renderer.h"
#include "gui/screen_actions.h"
#include "gui/screen_feeds.h"
#include "gui/screens/screen.h"
#include "gui/tray_icon.h"
#include "gui/update_notice.h"
#include "gui/widgets.h"
#include "gui/window_host.h"
#include "gui/workflow.h"

// Runs the window until it ends: 0, 1 (no window or no Direct2D) or 2 (an update was applied
// and the new copy must be started).
int RunApp(const GuiHooks& hooks);

// Megabytes of state: create it on the heap.
class App final : private WindowClient {
public:
    explicit App(const GuiHooks& hooks);
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    int Run();

    // The test facility: draws frames into an offscreen target instead of a window.
    bool CreateOffscreen(uint32_t width, uint32_t height, float dpi);
    void DrawFrame(double dt) { Frame(dt); }
    bool HoldFrameForLattice() { return host_.HoldFrameForLattice(); }
    Renderer& GetRenderer() { return renderer_; }
    Workflow& Flow() { return workflow_; }
    HealthMonitor& Monitor() { return monitor_; }
    UpdateNotice& Updates() { return update_; }
    // What the last frame was drawn from, the screens' own state, and the operations a click
    // on a screen calls (tests drive the window through them as the screens do).
    const FrameSnapshot& Snapshot() const { return snap_; }
    const ScreenStates& States() const { return states_; }
    ScreenOps& Operations() { return actions_; }
    // Waits until the background worker has nothing left to do (tests).
    bool WaitForBackground(uint32_t timeoutMs) { return jobs_.WaitIdle(timeoutMs); }
    // How long the last frame's own work (everything but drawing) took on the window's thread.
    double LastFrameWorkMilliseconds() const { return frameWorkMs_; }
    // Runs the questions waiting for the end of the frame (the message loop does so after every frame).
    void AskQueuedQuestions() { questions_.AskQueued(); }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) { return host_.HandleMessage(message, wParam, lParam); }

private:
    // WindowClient.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void Frame(double dt) override;
    bool WorkPending() const override;
    void TickHidden() override { Tick(); }
    void AfterFrame() override { questions_.AskQueued(); }

    // Every frame; also while the window is hidden and work is under way, so it moves on in the tray too.
    void Tick();
    void TakeSnapshot(double dt);
    void OnTrayEvent(LPARAM event);
    void RefreshTray();
    void Shutdown();

    const GuiHooks& hooks_;
    Renderer renderer_;
    WindowHost host_;
    Questions questions_;
    Workflow workflow_;
    Ui ui_;
    BackgroundJobs jobs_;
    TrayIcon tray_;
    ScreenFeeds feeds_;
    FlowDriver flow_;
    HealthMonitor monitor_;
    UpdateNotice update_;
    GameCheck game_;
    ScreenActions actions_;

    UINT showMessage_ = 0;
    UINT taskbarCreated_ = 0;  // sent when Explorer (and with it the notification area) starts again
    bool quitting_ = false;

    // Frame.
    double clock_ = 0;
    double veil_ = 0;
    FrameSnapshot snap_;
    ScreenStates states_;
    uint64_t gpuShown_ = ~0ull;  // the GPU Clean generation the snapshot holds
    double frameWorkMs_ = 0;
};
