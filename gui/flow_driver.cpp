#include "gui/flow_driver.h"

#include "foundation/log.h"
#include "gui/full_tune.h"
#include "health/monitor.h"

FlowDriver::FlowDriver(const GuiHooks& hooks, Workflow& workflow, ScreenFeeds& feeds)
    : hooks_(hooks), workflow_(workflow), feeds_(feeds) {}

FlowSlots FlowDriver::Slots() const {
    FlowSlots slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        slots.now[slot] = workflow_.State(slot);
        slots.wanted[slot] = workflow_.Wanted(slot);
        slots.available[slot] = StepAvailable(slot);
    }
    slots.before = lastSeen_;
    return slots;
}

bool FlowDriver::StepAvailable(int slot) const {
    if (slot == SlotAfterburner) return static_cast<bool>(hooks_.steps[SlotAfterburner]);
    if (slot == SlotGpuDriver) return workflow_.GpuCleanAvailable();
    return true;
}

std::wstring FlowDriver::SelectedStepNames() const {
    std::wstring names;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!workflow_.Wanted(slot)) continue;
        if (!names.empty()) names += L", ";
        names += SlotName(slot);
    }
    return names.empty() ? std::wstring(L"nothing") : names;
}

void FlowDriver::Open() {
    if (!IsSetupComplete()) workflow_.ApplyCommandLineSelection();
    if (hooks_.yes) {
        // The unattended flow runs the steps the user chose: the stored selection with the
        // command line's "--no-..." switches on top.
        if (IsSetupComplete()) workflow_.LoadSelection();
        workflow_.ApplyCommandLineSelection();
    }
    if (hooks_.yes && hooks_.resolution != 0 && workflow_.Wanted(SlotService)) {
        workflow_.SetInstallPeriod(hooks_.resolution);
        workflow_.SetStage(stage::Measured);
        if (!workflow_.Busy(SlotService)) workflow_.StartInstall(false, hooks_.resolution);
        workflow_.SetStage(stage::Installing);
    } else if (hooks_.yes && hooks_.resolution == 0 && workflow_.Wanted(SlotMeasure)) {
        if (!workflow_.Busy(SlotMeasure)) workflow_.StartBenchmark(false);
        workflow_.SetStage(stage::Measuring);
    } else if (hooks_.yes) {
        StartNextWantedStep(SlotService);
    } else if (IsSetupComplete()) {
        workflow_.LoadSelection();
        GoHome();
    } else {
        workflow_.SetStage(stage::Welcome);
    }
}

void FlowDriver::GoHome() {
    // Every visit shows the newest saved scan, whichever screen measured it.
    feeds_.WantScan();
    workflow_.SetStage(stage::Home);
}

void FlowDriver::StartNextWantedStep(int after) { StartGuidedStep(NextWantedStep(after, Slots())); }

void FlowDriver::StartGuidedStep(int step) {
    switch (step) {
    case SlotPrepare:
        workflow_.SetStage(stage::PrepareIntro);
        workflow_.Main().Stage(L"PREPARE", L"create a System Restore point");
        break;
    case SlotMeasure: workflow_.StartBenchmark(true); break;
    case SlotService: workflow_.StartInstall(true, 0); break;
    case SlotCpu:
        // The probe takes a few hundred milliseconds: the intro shows while it runs, and the
        // probe's answer decides between the warning and the step.
        workflow_.SetStage(stage::CpuIntro);
        feeds_.ProbeCpu();
        cpuDecisionPending_ = true;
        break;
    case SlotGpuDriver:
        workflow_.SetStage(stage::GpuClean);
        workflow_.Main().Stage(L"GPU CLEAN", L"looking up the current driver");
        workflow_.BeginGpuLookup();
        break;
    case SlotGpuSettings:
        feeds_.ProbeGpu();
        if (hooks_.yes) workflow_.StartTweak(SlotGpuSettings, true);
        else workflow_.SetStage(stage::GpuIntro);
        break;
    case SlotAfterburner: workflow_.SetStage(stage::AfterburnerIntro); break;
    case SlotMemory: workflow_.SetStage(workflow_.Busy(SlotMemory) ? stage::MemoryRunning : stage::MemoryIntro); break;
    case SlotStorage: workflow_.SetStage(workflow_.Busy(SlotStorage) ? stage::StorageRunning : stage::StorageIntro); break;
    default:
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
        break;
    }
}

// A step's screen opened from its home tile: the running screen when it runs, else its intro.
void FlowDriver::OpenStep(int slot) {
    const StepRow& step = StepOf(slot);
    if (slot == SlotMeasure) {
        if (!workflow_.Busy(SlotMeasure)) workflow_.StartBenchmark(false);
        workflow_.SetStage(stage::Measuring);
        return;
    }
    if (slot == SlotGpuDriver) {
        workflow_.SetStage(stage::GpuClean);
        workflow_.BeginGpuLookup();
        feeds_.ProbeGpu();
        return;
    }
    if (workflow_.Busy(slot)) {
        workflow_.SetStage(step.stages.running);
        return;
    }
    if (slot == SlotCpu) feeds_.ProbeCpu();
    if (slot == SlotGpuSettings) feeds_.ProbeGpu();
    workflow_.SetStage(step.intro);
}

void FlowDriver::OpenHomeTile(int index) {
    if (index == kFullTuneTile) {
        workflow_.SetStage(fullTuneActive_ ? stage::FullTune : stage::Welcome);
    } else if (const int slot = HomeTileSlot(index); slot >= 0) {
        OpenStep(slot);
    } else {
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
    }
}

void FlowDriver::RetryStep(int slot) {
    workflow_.ResetSlot(slot);
    workflow_.StartTweak(slot, true);
}

void FlowDriver::BeginFullTune() {
    if (!workflow_.SaveSelection()) LogError(L"The step choice could not be saved; the welcome screen will ask again next time.");
    fullTuneActive_ = true;
    restoreFailureAccepted_ = false;
    // A step this build cannot run counts as skipped, so the tune never waits for it.
    gpuDriverSkipped_ = !workflow_.Wanted(SlotGpuDriver) || !StepAvailable(SlotGpuDriver);
    afterburnerSkipped_ = !workflow_.Wanted(SlotAfterburner) || !StepAvailable(SlotAfterburner);
    afterburnerWaiting_ = false;
    workflow_.SetStage(stage::FullTune);
    LogInfo(L"Full tune started: " + SelectedStepNames() + L".");
}

// A failed driver step resumes where it stopped: the install of a package already on disk, the
// download of a package already found, or else the lookup.
void FlowDriver::RetryGpuClean() {
    const GpuDriverOffer offer = workflow_.GpuOffer();
    if (!offer.localPath.empty()) workflow_.BeginGpuInstall();
    else if (offer.Downloadable()) workflow_.BeginGpuDownload();
    else workflow_.BeginGpuLookup();
}

void FlowDriver::ContinueAfterDriver() {
    if (workflow_.Wanted(SlotGpuSettings) && !workflow_.Busy(SlotGpuSettings)) workflow_.StartTweak(SlotGpuSettings, false);
    if (workflow_.Wanted(SlotAfterburner) && StepAvailable(SlotAfterburner) && !workflow_.Busy(SlotAfterburner)) {
        workflow_.StartTweak(SlotAfterburner, false);
    }
    if (workflow_.Wanted(SlotGpuSettings)) workflow_.SetStage(workflow_.Busy(SlotGpuSettings) ? stage::GpuRunning : stage::GpuIntro);
    else GoHome();
}

void FlowDriver::SkipGpuDriver(bool guided) {
    gpuDriverSkipped_ = true;
    if (guided) StartGuidedStep(SlotGpuSettings);
}

void FlowDriver::StartAfterburnerInTune() {
    afterburnerWaiting_ = false;
    workflow_.StartTweak(SlotAfterburner, false);
}

void FlowDriver::SkipAfterburnerInTune() {
    afterburnerSkipped_ = true;
    afterburnerWaiting_ = false;
}

bool FlowDriver::Tick(float contentWidth, float contentHeight) {
    if (fullTuneActive_ && workflow_.CurrentStage() == stage::FullTune) FullTuneTick(contentWidth, contentHeight);
    const bool resultFinished = AutoAdvance();
    workflow_.AdvanceStage();
    return resultFinished;
}

bool FlowDriver::WorkPending() const {
    if (cpuDecisionPending_) return true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const int state = workflow_.State(slot);
        if (IsBusy(state) || state != lastSeen_[slot]) return true;
    }
    return false;
}

bool FlowDriver::AutoAdvance() {
    // Guided step 3 waits for the processor probe to choose between its warning and the step.
    int cpuClass = CpuUnclear;
    if (cpuDecisionPending_ && feeds_.CpuAnswer(cpuClass)) {
        cpuDecisionPending_ = false;
        if (cpuClass == CpuDynamic) {
            workflow_.SetStage(stage::CpuIntro);
            workflow_.Main().Stage(L"CPU TUNE", L"dynamic boost detected. A 5000 ms interval would delay turbo");
        } else {
            workflow_.StartTweak(SlotCpu, true);
        }
    }
    const FlowSlots slots = Slots();
    const auto newly = [&](int slot, int state) { return Newly(slots, slot, state); };
    const Advance advance = DecideAdvance(slots, hooks_.yes, fullTuneActive_);
    switch (advance.kind) {
    case AdvanceKind::StartInstall:
        workflow_.StartInstall(false, 0);
        workflow_.SetStage(stage::Installing);
        break;
    case AdvanceKind::ShowInstall: workflow_.SetStage(stage::Installing); break;
    case AdvanceKind::NextStep: StartNextWantedStep(advance.after); break;
    case AdvanceKind::None: break;
    }
    const bool resultFinished = newly(SlotMeasure, StepFinished) || newly(SlotService, StepFinished);
    // Every measurement that ends (from any screen) has saved a new scan for the home screen.
    if (HasEnded(slots.now[SlotMeasure]) && !HasEnded(lastSeen_[SlotMeasure])) feeds_.WantScan();
    // Afterburner's curve may not survive a driver installed after it ran.
    if (newly(SlotAfterburner, StepFinished)) {
        afterburnerRan_ = true;
        afterburnerAfterDriver_ = false;
    }
    const int phase = workflow_.GpuCleanPhase();
    if (phase == GpuPhaseInstalled && lastGpuPhase_ != GpuPhaseInstalled && afterburnerRan_) afterburnerAfterDriver_ = true;
    lastGpuPhase_ = phase;
    lastSeen_ = slots.now;
    if (workflow_.CurrentStage() == stage::Home && !workflow_.Busy(SlotMeasure)) feeds_.LoadScanIfWanted();
    return resultFinished;
}

void FlowDriver::FullTuneTick(float contentWidth, float contentHeight) {
    FullTuneInput in;
    in.want = workflow_.Selection();
    for (int slot = 0; slot < kSlotCount; ++slot) in.state[slot] = workflow_.State(slot);
    in.gpuPhase = workflow_.GpuCleanPhase();
    in.restoreFailureAccepted = restoreFailureAccepted_;
    in.gpuDriverSkipped = gpuDriverSkipped_;
    in.afterburnerSkipped = afterburnerSkipped_;
    in.afterburnerWaiting = afterburnerWaiting_;
    in.periodKnown = workflow_.LatestResult().selected != 0 || hooks_.resolution != 0;
    in.limit = FullTuneParallelLimit(contentWidth, contentHeight);
    while (FullTuneBusy(in) < in.limit) {
        const FullTuneStart start = NextFullTuneStart(in);
        if (start == FullTuneStart::None) break;
        const int slot = SlotOfStart(start);
        switch (start) {
        case FullTuneStart::Measure: workflow_.StartBenchmark(false); break;
        case FullTuneStart::Install: workflow_.StartInstall(false, 0); break;
        case FullTuneStart::GpuLookup: workflow_.BeginGpuLookup(); break;
        default: workflow_.StartTweak(slot, false); break;
        }
        in.state[slot] = workflow_.State(slot) == StepIdle ? StepRunning : workflow_.State(slot);
        if (slot == SlotGpuDriver) in.gpuPhase = workflow_.GpuCleanPhase();
    }
    if (AfterburnerMayWait(in)) afterburnerWaiting_ = true;
    in.afterburnerWaiting = afterburnerWaiting_;
    workflow_.Main().Stage(L"FULL TUNE", FullTuneStatusLine(in));
    if (FullTuneComplete(in)) {
        LogInfo(L"Full tune complete. " + FullTuneStatusLine(in));
        fullTuneActive_ = false;
        afterburnerWaiting_ = false;
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
    }
}

void FlowDriver::Fill(FrameSnapshot& s) const {
    for (int slot = 0; slot < kSlotCount; ++slot) s.available[slot] = StepAvailable(slot);
    s.fullTuneActive = fullTuneActive_;
    s.restoreFailureAccepted = restoreFailureAccepted_;
    s.gpuDriverSkipped = gpuDriverSkipped_;
    s.afterburnerWaiting = afterburnerWaiting_;
    s.afterburnerAfterDriver = afterburnerAfterDriver_;
}
