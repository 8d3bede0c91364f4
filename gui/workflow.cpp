#include "gui/workflow.h"

#include <chrono>

#include "foundation/text.h"
#include "driver/driver_clean.h"
#include "health/monitor.h"

namespace {

void Pause40ms() { std::this_thread::sleep_for(std::chrono::milliseconds(40)); }

}  // namespace

Workflow::Workflow(const GuiHooks& hooks, std::function<void()> requestClose)
    : hooks_(hooks), requestClose_(std::move(requestClose)) {
    SetAllWanted(true);
    fidelity_.store(hooks.fidelity);
    if (hooks.yes && hooks.resolution != 0) result_.selected = hooks.resolution;
}

Workflow::~Workflow() { Shutdown(); }

void Workflow::RequestStop() {
    gpuStop.store(true);
    main_.cancel.store(true);
    for (StepSlot& slot : slots_) {
        slot.feed.cancel.store(true);
        slot.abandon.store(true);
    }
}

void Workflow::Shutdown() {
    RequestStop();
    for (StepSlot& slot : slots_) {
        if (slot.thread.joinable()) slot.thread.join();
    }
}

void Workflow::ResetSlot(int slot) {
    if (!Busy(slot)) slots_[slot].state.store(StepIdle);
}

void Workflow::StopSlot(int slot) {
    slots_[slot].abandon.store(true);
    slots_[slot].feed.cancel.store(true);
    if (slot == SlotGpuDriver) gpuStop.store(true);
}

void Workflow::StartWorker(int slot, Job job) {
    StepSlot& s = slots_[slot];
    if (IsBusy(s.state.load())) return;
    if (s.thread.joinable()) s.thread.join();
    s.abandon.store(false);
    s.result.store(0);
    s.feed.Reset();
    if (hooks_.systemInfo) s.feed.System(hooks_.systemInfo());
    s.state.store(StepRunning);
    s.thread = std::thread([this, slot, job = std::move(job)] {
        StepSlot& me = slots_[slot];
        int result = 1;
        try {
            result = job(me.feed);
        } catch (...) {
            result = 1;  // a job that throws has failed; nothing escapes the thread
        }
        me.result.store(result);
        if (result == 0) me.state.store(StepFinished);
        else me.state.store(me.abandon.load() || me.feed.cancel.load() ? StepStopped : StepFailed);
    });
}

bool Workflow::AcquireResource(int slot, std::mutex& lock, const std::wstring& reason, std::unique_lock<std::mutex>& held) {
    held = std::unique_lock<std::mutex>(lock, std::defer_lock);
    if (!held.try_lock()) {
        slots_[slot].feed.Stage(SlotTag(slot), L"waiting, " + reason);
        slots_[slot].state.store(StepWaiting);
        while (!held.try_lock()) {
            if (Stopping(slot)) return false;
            Pause40ms();
        }
    }
    if (Stopping(slot)) {
        held.unlock();
        return false;
    }
    slots_[slot].state.store(StepRunning);
    return true;
}

std::mutex& Workflow::LockOf(StepLock lock) {
    switch (lock) {
    case StepLock::Clock: return clockLock;
    case StepLock::PowerPlan: return powerPlanLock;
    case StepLock::Graphics: return graphicsLock;
    case StepLock::Disk: break;
    }
    return diskLock;
}

int Workflow::RunStepJob(const StepRow& step, SharedState& state) {
    std::unique_lock<std::mutex> held;
    if (!AcquireResource(step.slot, LockOf(StepAt(step.slot).lock), step.job.waitReason, held)) return 1;
    state.Stage(step.job.runningTag, step.job.runningText);
    const std::function<int(Feed&)>& hook = hooks_.steps[static_cast<size_t>(step.slot)];
    const int result = hook ? hook(state) : 1;
    if (result == 0) state.Stage(step.job.doneTag, step.job.doneText);
    else state.Stage(step.job.failTag, step.job.failText);
    return result;
}

void Workflow::StartTweak(int slot, bool open) {
    if (slot < 0 || slot >= kSlotCount) return;
    const StepRow& step = StepOf(slot);
    if (!step.runsEngine) return;
    if (!Busy(slot)) StartWorker(slot, [this, &step](SharedState& state) { return RunStepJob(step, state); });
    if (open) SetStage(step.stages.running);
}

void Workflow::StartBenchmark(bool open) {
    if (!Busy(SlotMeasure)) StartWorker(SlotMeasure, [this](SharedState& state) { return MeasureJob(state); });
    if (open) SetStage(stage::Measuring);
}

int Workflow::MeasureJob(SharedState& state) {
    std::unique_lock<std::mutex> held;
    if (!AcquireResource(SlotMeasure, LockOf(StepAt(SlotMeasure).lock), StepOf(SlotMeasure).job.waitReason, held)) return 1;
    {
        const std::lock_guard<std::mutex> lock(resultMutex_);
        result_ = ResultView{};
    }
    const ResultView result = hooks_.runBenchmark ? hooks_.runBenchmark(state, Fidelity()) : ResultView{};
    {
        const std::lock_guard<std::mutex> lock(resultMutex_);
        result_ = result;
    }
    if (result.servicePaused) {
        // The install about to run brings the service back; otherwise it comes back right now.
        if (!Busy(SlotService) && hooks_.startService) {
            hooks_.startService();
            serviceStoppedByMeasurement.store(false);
        } else {
            serviceStoppedByMeasurement.store(true);
        }
    }
    if (state.cancel.load()) return 1;
    if (result.selected != 0) {
        state.Progress(1, 0, 0);
        state.Stage(L"RESULT", FormatText(L"%.4f ms selected after verification", result.selected / 10000.0));
        return 0;
    }
    state.Stage(L"FAILED", result.errorText.empty() ? std::wstring(L"the measurement did not produce a resolution")
                                                    : result.errorText);
    return 1;
}

void Workflow::StartInstall(bool open, uint32_t resolution) {
    if (!Busy(SlotService)) {
        StartWorker(SlotService, [this, resolution](SharedState& state) { return InstallJob(state, resolution); });
    }
    if (open) SetStage(stage::Installing);
}

int Workflow::InstallJob(SharedState& state, uint32_t resolution) {
    uint32_t r = resolution;
    if (r == 0) {
        while (Busy(SlotMeasure)) {
            state.Stage(L"INSTALLING", L"waiting for the timer measurement to finish");
            if (Stopping(SlotService)) return 1;
            Pause40ms();
        }
        {
            const std::lock_guard<std::mutex> lock(resultMutex_);
            r = result_.selected;
        }
        if (r == 0) r = hooks_.resolution;
        if (r == 0) {
            state.Stage(L"INSTALL FAILED", L"measure a timer resolution first");
            return 1;
        }
    }
    std::unique_lock<std::mutex> held;
    if (!AcquireResource(SlotService, LockOf(StepAt(SlotService).lock), StepOf(SlotService).job.waitReason, held)) return 1;
    state.Stage(L"INSTALLING", L"copying the executable, writing the registry, starting the service");
    const int result = hooks_.installService ? hooks_.installService(r, state) : 1;
    // The install goes on in an elevated copy of the program; this one steps aside.
    if (result == 2 && requestClose_) requestClose_();
    if (hooks_.systemInfo) state.System(hooks_.systemInfo());
    if (result == 0) {
        state.Stage(L"INSTALLED", FormatText(L"the service holds %.4f ms now and at every boot", r / 10000.0));
        serviceInstalledSince.store(true);
    } else {
        state.Stage(L"INSTALL FAILED", L"see the log for details");
    }
    return result;
}

void Workflow::SetGpuPhase(int phase, const std::wstring& status) {
    const std::lock_guard<std::mutex> lock(gpuMutex_);
    gpuPhase_ = phase;
    gpuStatus_ = status;
    gpuGeneration_.fetch_add(1);
}

void Workflow::SetGpuPhase(int phase, const std::wstring& status, const GpuDriverOffer& offer) {
    const std::lock_guard<std::mutex> lock(gpuMutex_);
    gpuPhase_ = phase;
    gpuStatus_ = status;
    gpuOffer_ = offer;
    gpuGeneration_.fetch_add(1);
}

GpuDriverOffer Workflow::GpuOffer() const {
    const std::lock_guard<std::mutex> lock(gpuMutex_);
    return gpuOffer_;
}

int Workflow::GpuCleanPhase() const {
    const std::lock_guard<std::mutex> lock(gpuMutex_);
    return gpuPhase_;
}

std::wstring Workflow::GpuStatusText() const {
    const std::lock_guard<std::mutex> lock(gpuMutex_);
    return gpuStatus_;
}

void Workflow::BeginGpuLookup() {
    const int phase = GpuCleanPhase();
    const bool allowed = phase == GpuPhaseNone || phase == GpuPhaseFound || phase == GpuPhaseDownloaded ||
                         phase == GpuPhaseInstalled || phase == GpuPhaseFailed || phase == GpuPhaseManual;
    if (!allowed || Busy(SlotGpuDriver) || !GpuCleanAvailable()) return;
    gpuStop.store(false);
    SetGpuPhase(GpuPhaseLooking, L"");
    StartWorker(SlotGpuDriver, [this](SharedState& state) {
        state.Stage(L"GPU CLEAN", L"looking up the current driver");
        const GpuDriverOffer offer = FindDriverOffer(*driverTools_, &state, gpuStop);
        if (offer.found) {
            state.Stage(L"GPU CLEAN", L"driver package found");
            SetGpuPhase(GpuPhaseFound, offer.error, offer);
            return 0;
        }
        state.Stage(L"GPU CLEAN", L"manual driver install");
        SetGpuPhase(GpuPhaseManual, offer.error, offer);
        return 1;
    });
}

void Workflow::BeginGpuDownload() {
    const int phase = GpuCleanPhase();
    if ((phase != GpuPhaseFound && phase != GpuPhaseFailed) || Busy(SlotGpuDriver)) return;
    gpuStop.store(false);
    GpuDriverOffer offer = GpuOffer();
    SetGpuPhase(GpuPhaseDownloading, L"", offer);
    StartWorker(SlotGpuDriver, [this, offer](SharedState& state) mutable {
        state.Stage(L"GPU CLEAN", L"downloading the driver package");
        const Outcome downloaded = DownloadGpuDriver(*driverTools_, &state, offer, gpuStop);
        switch (downloaded.Which()) {
        case Outcome::Kind::Done:
            state.Stage(L"GPU CLEAN", L"package ready to install");
            SetGpuPhase(GpuPhaseDownloaded, L"", offer);
            break;
        case Outcome::Kind::Stopped:
            state.Stage(L"GPU CLEAN", L"driver package found");
            SetGpuPhase(GpuPhaseFound, L"", offer);
            break;
        case Outcome::Kind::Failed:
            state.Stage(L"GPU CLEAN", L"download failed");
            // The reason stays beside the summary: "failed" alone leaves the user nothing to act on.
            SetGpuPhase(GpuPhaseFailed, L"The download failed. " + downloaded.Error(), offer);
            break;
        }
        return downloaded.ExitCode();
    });
}

void Workflow::BeginGpuInstall() {
    const int phase = GpuCleanPhase();
    if ((phase != GpuPhaseDownloaded && phase != GpuPhaseFailed) || Busy(SlotGpuDriver)) return;
    GpuDriverOffer offer = GpuOffer();
    if (offer.localPath.empty()) return;
    SetGpuPhase(GpuPhaseInstalling, L"", offer);
    StartWorker(SlotGpuDriver, [this, offer](SharedState& state) mutable {
        std::unique_lock<std::mutex> disk, graphics;
        if (!AcquireResource(SlotGpuDriver, diskLock, L"a restore point is using the disk", disk) ||
            !AcquireResource(SlotGpuDriver, graphicsLock, L"GPU settings or Afterburner are using the graphics driver", graphics)) {
            SetGpuPhase(GpuPhaseDownloaded, L"", offer);
            return 1;
        }
        if (State(SlotAfterburner) == StepFinished) {
            state.LogLine(L"A graphics driver install started after the Afterburner scan. Run Afterburner again if the curve is gone.");
        }
        state.Stage(L"GPU CLEAN", L"installing the trimmed driver");
        const Outcome installed = InstallGpuDriver(*driverTools_, &state, offer);
        if (installed.Ok()) {
            state.Stage(L"GPU CLEAN", L"trimmed driver installed");
            SetGpuPhase(GpuPhaseInstalled, L"", offer);
            return 0;
        }
        state.Stage(L"GPU CLEAN", L"driver install failed");
        SetGpuPhase(GpuPhaseFailed, L"The driver did not install. " + installed.Error(), offer);
        return 1;
    });
}

void Workflow::AdvanceStage() {
    const int current = CurrentStage();
    const int slot = SlotOfRunningStage(current);
    if (slot < 0) return;
    const StepStages stages = StagesOfSlot(slot);
    switch (State(slot)) {
    case StepFinished:
        SetStage(stages.finished);
        break;
    case StepFailed:
        SetStage(stages.failed);
        break;
    case StepStopped:
        SetStage(stages.stopped);
        break;
    default:
        break;
    }
}

ResultView Workflow::LatestResult() const {
    const std::lock_guard<std::mutex> lock(resultMutex_);
    return result_;
}

void Workflow::SetInstallPeriod(uint32_t period) {
    const std::lock_guard<std::mutex> lock(resultMutex_);
    result_.selected = period;
}

int Workflow::Fidelity() const { return fidelity_.load(); }

void Workflow::SetFidelity(int level) { fidelity_.store(level); }

bool Workflow::Wanted(int slot) const {
    return slot >= 0 && slot < kSlotCount && want_[static_cast<size_t>(slot)].load();
}

std::array<bool, kSlotCount> Workflow::Selection() const {
    std::array<bool, kSlotCount> chosen{};
    for (size_t i = 0; i < chosen.size(); ++i) chosen[i] = want_[i].load();
    return chosen;
}

void Workflow::SetWanted(int slot, bool wanted) {
    if (slot >= 0 && slot < kSlotCount) want_[static_cast<size_t>(slot)].store(wanted);
}

void Workflow::SetAllWanted(bool wanted) {
    for (std::atomic<bool>& want : want_) want.store(wanted);
}

void Workflow::LoadSelection() {
    const StepWants stored = ReadStepWants();
    for (size_t i = 0; i < want_.size(); ++i) want_[i].store(stored[i]);
}

bool Workflow::SaveSelection() { return WriteStepWants(Selection()); }

void Workflow::ApplyCommandLineSelection() {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (hooks_.leaveOut[static_cast<size_t>(slot)]) SetWanted(slot, false);
    }
}
