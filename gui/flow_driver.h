#pragma once
// The window's flow carried out on the workflow: the opening screen, the guided steps, each
// home tile, Full tune and the automatic advance when a step has finished. What to do is decided
// by the pure flow policy (gui/flow_controller, gui/full_tune); this starts the steps and moves
// the stage. Window thread only.
#include <array>
#include <atomic>
#include <string>

#include "gui/flow_controller.h"
#include "gui/gui_hooks.h"
#include "gui/screen_feeds.h"
#include "gui/workflow.h"

class FlowDriver {
public:
    FlowDriver(const GuiHooks& hooks, Workflow& workflow, ScreenFeeds& feeds);
    FlowDriver(const FlowDriver&) = delete;
    FlowDriver& operator=(const FlowDriver&) = delete;

    // The slots as the flow policy sees them: this frame's states and the last frame's.
    FlowSlots Slots() const;
    // Whether this build can run a step.
    bool StepAvailable(int slot) const;

    // The first screen: the unattended flow's first step, home once set up, else the welcome.
    void Open();
    void GoHome();
    void OpenHomeTile(int index);
    // The guided steps are numbered as the slots are; anything after the last is the review.
    void StartGuidedStep(int step);
    void RetryStep(int slot);
    void BeginFullTune();
    void RetryGpuClean();
    void ContinueAfterDriver();
    void SkipGpuDriver(bool guided);
    void AcceptRestoreFailure() { restoreFailureAccepted_ = true; }
    void StartAfterburnerInTune();
    void SkipAfterburnerInTune();

    // Every frame, and four times a second while hidden: Full tune's next starts on a content area
    // of the size, the automatic advance, the stage. True when a measurement or install has just
    // finished (its result fades in).
    bool Tick(float contentWidth, float contentHeight);
    // Whether a step is under way or has changed since the last tick (the hidden window keeps ticking).
    bool WorkPending() const;
    void Fill(FrameSnapshot& snapshot) const;

private:
    void OpenStep(int slot);
    void StartNextWantedStep(int after);
    void FullTuneTick(float contentWidth, float contentHeight);
    bool AutoAdvance();
    std::wstring SelectedStepNames() const;

    const GuiHooks& hooks_;
    Workflow& workflow_;
    ScreenFeeds& feeds_;
    std::array<int, kSlotCount> lastSeen_{};
    int lastGpuPhase_ = GpuPhaseNone;
    bool cpuDecisionPending_ = false;  // guided step 3 waits for the probe to choose
    bool fullTuneActive_ = false;
    bool restoreFailureAccepted_ = false;
    bool gpuDriverSkipped_ = false;
    bool afterburnerSkipped_ = false;
    bool afterburnerWaiting_ = false;
    bool afterburnerRan_ = false;          // Afterburner finished in this session
    bool afterburnerAfterDriver_ = false;  // and a driver was installed since
};
