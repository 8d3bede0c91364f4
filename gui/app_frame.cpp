// One frame of the window: the snapshot it draws from, the update handling, the Full tune tick,
// the automatic advance and the stage changes, the screen, the click effects and the fade-in
// veil; and the operations the screens ask for.
#include <algorithm>
#include <cmath>

#include "foundation/log.h"
#include "foundation/text.h"
#include "gui/app.h"
#include "gui/full_tune.h"

namespace {
constexpr size_t kTileLogLines = 8;
}  // namespace

bool App::StepAvailable(int slot) const {
    if (slot == SlotAfterburner) return static_cast<bool>(hooks_.steps[SlotAfterburner]);
    if (slot == SlotGpuDriver) return workflow_.GpuCleanAvailable();
    return true;
}

std::wstring App::SelectedStepNames() const {
    std::wstring names;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!workflow_.Wanted(slot)) continue;
        if (!names.empty()) names += L", ";
        names += SlotName(slot);
    }
    return names.empty() ? std::wstring(L"nothing") : names;
}

void App::AskAfterFrame(std::function<void()> question) { questions_.push_back(std::move(question)); }

void App::AskQueuedQuestions() {
    // A question may queue another (a confirmation after an answer): take the list first.
    std::vector<std::function<void()>> asking;
    asking.swap(questions_);
    for (const auto& question : asking) question();
}

void App::Tick() {
    HandleUpdate();
    if (fullTuneActive_ && workflow_.CurrentStage() == stage::FullTune) FullTuneTick();
    AutoAdvance();
    workflow_.AdvanceStage();
    WatchRepairs();
}

bool App::BackgroundWorkPending() const {
    if (repairs_.interactiveSlot >= 0 || repairs_.rescanWanted || cpuDecisionPending_.load()) return true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const int state = workflow_.State(slot);
        if (IsBusy(state) || state != lastSeen_[slot] || repairs_.automatic[slot]) return true;
    }
    return false;
}

void App::TakeSnapshot(double dt) {
    FrameSnapshot& s = snap_;
    s.stage = workflow_.CurrentStage();
    s.clock = clock_;
    s.version = hooks_.version;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        s.state[slot] = workflow_.State(slot);
        s.want[slot] = workflow_.Wanted(slot);
        s.available[slot] = StepAvailable(slot);
    }
    s.fidelity = workflow_.Fidelity();
    const ScreenHeader fixed = FixedHeaderOf(s.stage);
    s.mainHeader = fixed.tag != nullptr ? std::pair<std::wstring, std::wstring>{fixed.tag, fixed.text} : workflow_.Main().Header();
    const int shown = s.stage >= stage::Measuring && s.stage <= stage::InstallFailed ? static_cast<int>(SlotMeasure)
                                                                                     : SlotShownBy(s.stage);
    if (shown >= 0) workflow_.StateOf(shown).Snapshot(s.view);
    s.elevated = s.view.system.elevated;
    if (s.stage >= stage::Installing && s.stage <= stage::InstallFailed) s.serviceHeader = workflow_.StateOf(SlotService).Header();
    if (s.stage == stage::Home && IsBusy(s.state[SlotMeasure])) workflow_.StateOf(SlotMeasure).Snapshot(s.measuring);
    if (s.stage == stage::FullTune) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (IsBusy(s.state[slot])) workflow_.StateOf(slot).Brief(s.briefs[slot], kTileLogLines);
        }
    }
    if (s.stage >= stage::Measuring && s.stage <= stage::InstallFailed) s.result = workflow_.LatestResult();
    // What changes rarely is copied only when it changed.
    const uint64_t gpu = workflow_.GpuGeneration();
    if (gpu != gpuShown_) {
        gpuShown_ = gpu;
        s.gpuPhase = workflow_.GpuCleanPhase();
        s.offer = workflow_.GpuOffer();
        s.gpuStatus = workflow_.GpuStatusText();
    }
    s.gpuCleanAvailable = workflow_.GpuCleanAvailable();
    {
        const std::lock_guard<std::mutex> lock(probeMutex_);
        if (s.stage == stage::Health) {
            s.changes = changes_;
            s.changesRead = changesRead_;
            s.puttingBack = puttingBack_;
            s.putBackOutcome = putBackOutcome_;
        }
        s.cpuProbed = cpuProbed_;
        if (cpuProbed_) s.cpu = cpuProbe_;
        s.gpuProbed = gpuProbed_;
        if (gpuProbed_) s.gpu = gpuProbe_;
        if (scanLoadDone_) {
            scanLoadDone_ = false;
            shownScan_ = std::move(loadedScan_);
            shownScanFound_ = loadedScanFound_;
        }
    }
    s.scanFound = shownScanFound_;
    s.scan = shownScan_.get();
    const uint64_t health = scanGeneration_.load();
    if (health != healthShown_) {
        healthShown_ = health;
        s.health = ScanResults();
    }
    s.healthRunning = scanBusy_.load();
    s.maintainTiming = Settings().maintainTiming;
    s.updateMode = updateMode_;
    s.updateApplying = updater_.Applying();
    s.fullTuneActive = fullTuneActive_;
    s.restoreFailureAccepted = restoreFailureAccepted_;
    s.gpuDriverSkipped = gpuDriverSkipped_;
    s.afterburnerWaiting = afterburnerWaiting_;
    s.afterburnerAfterDriver = afterburnerAfterDriver_;
    // The measurement's result fades in; the time step belongs to the frame.
    MeasureScreenState& measure = states_.measure;
    if (measure.fadeA > 0) measure.fadeA = std::min(1.0, measure.fadeA + dt * 1.5);
}

void App::DrawFrame(double dt) {
    clock_ += dt;
    if (queuedClicks_ > 0) {
        pending_.click = true;
        pending_.clickX = clicks_[0].first;
        pending_.clickY = clicks_[0].second;
        std::copy(clicks_.begin() + 1, clicks_.begin() + static_cast<std::ptrdiff_t>(queuedClicks_), clicks_.begin());
        --queuedClicks_;
    }
    ui_.BeginFrame(pending_, dt, clock_);
    // Clicks, Enter and the wheel belong to one frame; the pointer stays where it is.
    pending_.click = false;
    pending_.enter = false;
    pending_.wheel = 0;

    LARGE_INTEGER before{}, after{};
    QueryPerformanceCounter(&before);
    Tick();
    TakeSnapshot(dt);
    QueryPerformanceCounter(&after);
    frameWorkMs_ = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
    const ScreenLayout layout = LayoutFor(renderer_.Width(), renderer_.Height(), snap_.stage);
    ScreenContext context{renderer_, ui_, layout};
    DrawHeader(context, snap_, *this);
    DrawScreen(context, snap_, states_, *this);
    ui_.EndFrame();
    veil_ = std::min(1.0, veil_ + 1.4 * dt);
    if (veil_ < 1) {
        const float opacity = static_cast<float>(std::pow(1 - veil_, 3));
        renderer_.FillRect(RectF{0, 0, renderer_.Width(), renderer_.Height()}, palette::Background.WithAlpha(opacity));
    }
    cursorHand_ = ui_.hand;
}

void App::HandleUpdate() {
    if (!updater_.Checked() || updater_.Applying()) return;
    AppUpdate found;
    const bool available = updater_.Found(found);
    if (available && !updateAnnounced_) {
        updateAnnounced_ = true;
        updateMode_ = true;
        if (window_ != nullptr) SetTimer(window_, kBlinkTimer, 450, nullptr);
        ShowBalloon(L"Quorvantis update", L"Version " + found.version + L" is ready. Open Quorvantis to install it.", NIIF_INFO);
    }
    std::wstring failure;
    if (updater_.TakeFailure(failure)) AskAfterFrame([this, failure] { Ask(failure, MB_ICONWARNING); });
    if (!updatePromptRequest_ || !available) return;
    updatePromptRequest_ = false;
    std::wstring text = L"Quorvantis " + found.version + L" is available.\nThis copy is " + hooks_.version + L".";
    if (!found.notes.empty()) text += L"\n\n" + (found.notes.size() > 500 ? found.notes.substr(0, 500) + L"\u2026" : found.notes);
    const bool servicePresent = hooks_.systemInfo && hooks_.systemInfo().serviceState != TimerServiceState::NotInstalled;
    text += servicePresent ? L"\n\nDownload it and replace this copy, including the installed service? Quorvantis will "
                             L"close and open the new version."
                           : L"\n\nDownload it and replace this copy? Quorvantis will close and open the new version.";
    AskAfterFrame([this, text] {
        if (Ask(text, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | MB_SETFOREGROUND) != IDYES) return;
        updater_.StartApply(
            hooks_.applyUpdate, [this] { RequestClose(); },
            [this] {
                if (window_ != nullptr) PostMessageW(window_, kUpdateCheckedMessage, 0, 0);
            });
    });
}

void App::AutoAdvance() {
    // A request from the GPU driver screen to start GPU settings, taken once.
    if (gpuDeferredStart_ && !workflow_.Busy(SlotGpuSettings)) {
        gpuDeferredStart_ = false;
        workflow_.StartTweak(SlotGpuSettings, false);
    }
    // Guided step 3 waits for the processor probe to choose between its warning and the step.
    if (cpuDecisionPending_.load()) {
        bool probed = false;
        int cpuClass = CpuUnclear;
        {
            const std::lock_guard<std::mutex> lock(probeMutex_);
            probed = cpuProbed_;
            cpuClass = cpuProbe_.cpuClass;
        }
        if (probed) {
            cpuDecisionPending_.store(false);
            if (cpuClass == CpuDynamic) {
                workflow_.SetStage(stage::CpuIntro);
                workflow_.Main().Stage(L"CPU TUNE", L"dynamic boost detected. A 5000 ms interval would delay turbo");
            } else {
                workflow_.StartTweak(SlotCpu, true);
            }
        }
    }
    const FlowSlots slots = Slots();
    const std::array<int, kSlotCount>& now = slots.now;
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
    // The measure screen's result fades in once the measurement or the install has finished.
    if (newly(SlotMeasure, StepFinished) || newly(SlotService, StepFinished)) states_.measure.fadeA = 0.0001;
    // Every measurement that ends (from any screen) has saved a new scan for the home screen.
    if (HasEnded(now[SlotMeasure]) && !HasEnded(lastSeen_[SlotMeasure])) scanLoadWanted_ = true;
    // Afterburner's curve may not survive a driver installed after it ran.
    if (newly(SlotAfterburner, StepFinished)) {
        afterburnerRan_ = true;
        afterburnerAfterDriver_ = false;
    }
    const int phase = workflow_.GpuCleanPhase();
    if (phase == GpuPhaseInstalled && lastGpuPhase_ != GpuPhaseInstalled && afterburnerRan_) afterburnerAfterDriver_ = true;
    lastGpuPhase_ = phase;
    lastSeen_ = now;
    if (scanLoadWanted_ && workflow_.CurrentStage() == stage::Home && !workflow_.Busy(SlotMeasure)) LoadScanInBackground();
}

// The automatic flow ("--yes") moves on to the next step the user left selected; the guided
// steps are numbered as the slots are, and anything after the last is the review.
void App::StartNextWantedStep(int after) { StartGuidedStep(NextWantedStep(after, Slots())); }

FlowSlots App::Slots() const {
    FlowSlots slots;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        slots.now[slot] = workflow_.State(slot);
        slots.wanted[slot] = workflow_.Wanted(slot);
        slots.available[slot] = StepAvailable(slot);
    }
    slots.before = lastSeen_;
    return slots;
}

void App::StartGuidedStep(int step) {
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
        ProbeCpuInBackground(true);
        break;
    case SlotGpuDriver:
        workflow_.SetStage(stage::GpuClean);
        workflow_.Main().Stage(L"GPU CLEAN", L"looking up the current driver");
        workflow_.BeginGpuLookup();
        break;
    case SlotGpuSettings:
        ProbeGpuInBackground();
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
void App::OpenStep(int slot) {
    const StepRow& step = StepOf(slot);
    if (slot == SlotMeasure) {
        if (!workflow_.Busy(SlotMeasure)) workflow_.StartBenchmark(false);
        workflow_.SetStage(stage::Measuring);
        return;
    }
    if (slot == SlotGpuDriver) {
        workflow_.SetStage(stage::GpuClean);
        workflow_.BeginGpuLookup();
        ProbeGpuInBackground();
        return;
    }
    if (workflow_.Busy(slot)) {
        workflow_.SetStage(step.stages.running);
        return;
    }
    if (slot == SlotCpu) ProbeCpuInBackground(false);
    if (slot == SlotGpuSettings) ProbeGpuInBackground();
    workflow_.SetStage(step.intro);
}

void App::OpenHomeTile(int index) {
    if (index == kFullTuneTile) {
        workflow_.SetStage(fullTuneActive_ ? stage::FullTune : stage::Welcome);
    } else if (index == kHealthTile) {
        OpenHealth(true);
    } else if (const int slot = HomeTileSlot(index); slot >= 0) {
        OpenStep(slot);
    } else {
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
    }
}

void App::RetryStep(int slot) {
    workflow_.ResetSlot(slot);
    workflow_.StartTweak(slot, true);
}

void App::BeginFullTune() {
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
void App::RetryGpuClean() {
    const GpuDriverOffer offer = workflow_.GpuOffer();
    if (!offer.localPath.empty()) workflow_.BeginGpuInstall();
    else if (offer.Downloadable()) workflow_.BeginGpuDownload();
    else workflow_.BeginGpuLookup();
}

void App::ContinueAfterDriver() {
    if (workflow_.Wanted(SlotGpuSettings) && !workflow_.Busy(SlotGpuSettings)) workflow_.StartTweak(SlotGpuSettings, false);
    if (workflow_.Wanted(SlotAfterburner) && StepAvailable(SlotAfterburner) && !workflow_.Busy(SlotAfterburner)) {
        workflow_.StartTweak(SlotAfterburner, false);
    }
    if (workflow_.Wanted(SlotGpuSettings)) workflow_.SetStage(workflow_.Busy(SlotGpuSettings) ? stage::GpuRunning : stage::GpuIntro);
    else GoHome();
}

void App::SkipGpuDriver(bool guided) {
    gpuDriverSkipped_ = true;
    if (guided) StartGuidedStep(SlotGpuSettings);
}

void App::StartAfterburnerInTune() {
    afterburnerWaiting_ = false;
    workflow_.StartTweak(SlotAfterburner, false);
}

void App::SkipAfterburnerInTune() {
    afterburnerSkipped_ = true;
    afterburnerWaiting_ = false;
}

void App::ToggleMaintainTiming() {
    MonitorSettings settings = Settings();
    settings.maintainTiming = !settings.maintainTiming;
    settings.maintainAsked = true;
    SaveSettings(settings);
    if (settings.maintainTiming) ScheduleDriftCheck();
}

void App::RepairArea(const std::wstring& area, bool interactive) {
    const int slot = SlotRepairing(area.c_str());
    if (slot < 0) return;
    const auto tell = [this, interactive](std::wstring text) {
        if (interactive) AskAfterFrame([this, text] { Ask(text, MB_ICONINFORMATION); });
    };
    const uint32_t desired = slot == SlotService && hooks_.systemInfo ? hooks_.systemInfo().desiredResolution : 0;
    switch (CheckRepair(slot, Slots(), desired)) {
    case RepairRefusal::NotInThisBuild:
        tell(FormatText(L"%ls is not available in this build, so it cannot repair this.", SlotName(slot)));
        return;
    case RepairRefusal::NoPeriodMeasured: tell(L"Measure a timer resolution before repairing the timer service."); return;
    case RepairRefusal::AlreadyRunning: tell(L"That step is already running."); return;
    case RepairRefusal::None: break;
    }
    const auto start = [this, slot, desired, interactive, area] {
        if (workflow_.Busy(slot)) return;
        if (!interactive) {
            AppendHealthLog(L"automatic repair " + area);
            repairs_.automatic[slot] = true;
        } else {
            repairs_.interactiveSlot = slot;
        }
        if (slot == SlotService) workflow_.StartInstall(false, desired);
        else workflow_.StartTweak(slot, false);
    };
    if (!interactive) {
        start();
        return;
    }
    AskAfterFrame([this, start] {
        if (Ask(L"This changes the selected Windows setting using the existing Quorvantis step. It does not install a "
                L"driver unless you chose the graphics or Afterburner repair.",
                MB_OKCANCEL | MB_ICONWARNING) == IDOK) {
            start();
        }
    });
}

void App::WatchRepairs() {
    std::vector<RepairEnded> ended;
    const bool rescan = ::WatchRepairs(repairs_, Slots(), scanBusy_.load(), monitor_.driftPending, ended);
    for (const RepairEnded& repair : ended) {
        AppendHealthLog(repair.automatic ? (repair.finished ? L"automatic repair finished" : L"automatic repair failed")
                                         : (repair.finished ? L"repair finished" : L"repair failed"));
    }
    if (rescan) StartHealthScan();
}

void App::FullTuneTick() {
    const ScreenLayout layout = LayoutFor(renderer_.Width(), renderer_.Height(), stage::FullTune);
    FullTuneInput in;
    in.want = workflow_.Selection();
    for (int slot = 0; slot < kSlotCount; ++slot) in.state[slot] = workflow_.State(slot);
    in.gpuPhase = workflow_.GpuCleanPhase();
    in.restoreFailureAccepted = restoreFailureAccepted_;
    in.gpuDriverSkipped = gpuDriverSkipped_;
    in.afterburnerSkipped = afterburnerSkipped_;
    in.afterburnerWaiting = afterburnerWaiting_;
    in.periodKnown = workflow_.LatestResult().selected != 0 || hooks_.resolution != 0;
    in.limit = FullTuneParallelLimit(layout.content.Width(), layout.content.Height());
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

void App::ProbeCpuInBackground(bool decideGuidedStep) {
    {
        // A fresh answer: the processor may have been set differently since the last probe.
        const std::lock_guard<std::mutex> lock(probeMutex_);
        cpuProbed_ = false;
    }
    if (!hooks_.probeCpu) {
        // Nothing to probe with: the step is offered as for a processor of unclear class.
        const std::lock_guard<std::mutex> lock(probeMutex_);
        cpuProbed_ = true;
    } else {
        jobs_.Post([this] {
            const CpuProbe probe = hooks_.probeCpu();
            const std::lock_guard<std::mutex> lock(probeMutex_);
            cpuProbe_ = probe;
            cpuProbed_ = true;
        });
    }
    if (decideGuidedStep) cpuDecisionPending_.store(true);
}

void App::ProbeGpuInBackground() {
    if (!hooks_.probeGpu) return;
    jobs_.Post([this] {
        const GpuProbeView probe = hooks_.probeGpu();
        const std::lock_guard<std::mutex> lock(probeMutex_);
        gpuProbe_ = probe;
        gpuProbed_ = true;
    });
}

void App::LoadScanInBackground() {
    scanLoadWanted_ = false;
    const std::wstring directory = hooks_.dataDirectory;
    jobs_.Post([this, directory] {
        auto lattice = std::make_unique<LatticeData>();
        std::wstring name;
        const bool found = LoadLatestScan(directory, *lattice, name);
        const std::lock_guard<std::mutex> lock(probeMutex_);
        loadedScan_ = std::move(lattice);
        loadedScanFound_ = found;
        scanLoadDone_ = true;
    });
}
