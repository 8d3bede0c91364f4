#pragma once
// The window's step workflow: nine step slots, each running its job on a worker thread of its
// own and reporting into its SharedState; four resource locks that keep conflicting steps
// apart; the Start and Begin operations the screens call; and the Stage the window shows.
// Plain C++ threads and mutexes: no window calls (a worker asks the window to close only
// through the callback it is given).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "driver/driver_clean.h"
#include "driver/driver_offer.h"
#include "gui/gui_hooks.h"
#include "gui/shared_state.h"
#include "gui/steps.h"

class Workflow {
public:
    using Job = std::function<int(SharedState&)>;

    Workflow(const GuiHooks& hooks, std::function<void()> requestClose);
    ~Workflow();
    Workflow(const Workflow&) = delete;
    Workflow& operator=(const Workflow&) = delete;

    const GuiHooks& Hooks() const { return hooks_; }

    // Slots.
    int State(int slot) const { return slots_[slot].state.load(); }
    bool Busy(int slot) const { return IsBusy(State(slot)); }
    int Result(int slot) const { return slots_[slot].result.load(); }
    SharedState& StateOf(int slot) { return slots_[slot].feed; }
    SharedState& Main() { return main_; }
    // Back to Idle for a retry (only when the slot is not busy).
    void ResetSlot(int slot);
    // Stop: the job ends at its next cancel check and the slot becomes Stopped.
    void StopSlot(int slot);

    // Runs the job on the slot's thread unless the slot is busy.
    void StartWorker(int slot, Job job);
    // Called at the top of every job: waits (every 40 ms) for the lock, showing why; false when
    // the job was stopped first. On success the lock is held until the job returns.
    bool AcquireResource(int slot, std::mutex& lock, const std::wstring& reason, std::unique_lock<std::mutex>& held);

    // The Start operations; each opens the step's screen when asked to. StartTweak runs a tweak
    // step's hook from its row (restore point, CPU, GPU settings, Afterburner, memory, storage);
    // other slots are left alone.
    void StartBenchmark(bool open);
    void StartInstall(bool open, uint32_t resolution);
    void StartTweak(int slot, bool open);
    void BeginGpuLookup();
    void BeginGpuDownload();
    void BeginGpuInstall();

    // The stage shown, and its moving on once the step it shows has ended (called every frame).
    int CurrentStage() const { return stage_.load(); }
    void SetStage(int value) { stage_.store(value); }
    void AdvanceStage();

    // The measurement's fidelity (0 low, 1 medium, 2 high, 3 adaptive) for the next measurement:
    // chosen on the window thread, read by the measuring worker. Atomic, so a frame takes no lock.
    int Fidelity() const;
    void SetFidelity(int level);
    // The latest measurement, and the period the next install uses.
    ResultView LatestResult() const;
    void SetInstallPeriod(uint32_t period);

    // The step selection, in slot order; a slot outside the range is never wanted.
    bool Wanted(int slot) const;
    std::array<bool, kSlotCount> Selection() const;
    void SetWanted(int slot, bool wanted);
    void SetAllWanted(bool wanted);
    void LoadSelection();   // from the Monitor key
    bool SaveSelection();   // to the Monitor key, with "SetupComplete"; false when not stored
    void ApplyCommandLineSelection();

    // GPU Clean.
    bool GpuCleanAvailable() const { return driverTools_ != nullptr; }
    // Where the driver lookup, download and install go (the product's tools unless a test says otherwise).
    void SetDriverTools(const DriverTools* tools) { driverTools_ = tools; }
    int GpuCleanPhase() const;
    // Counts the phase changes, so a frame copies the offer only when it changed.
    uint64_t GpuGeneration() const { return gpuGeneration_.load(); }
    std::wstring GpuStatusText() const;
    GpuDriverOffer GpuOffer() const;
    // The jobs move the phase on; the offer travels with it so the screen never sees one without the other.
    void SetGpuPhase(int phase, const std::wstring& status);
    void SetGpuPhase(int phase, const std::wstring& status, const GpuDriverOffer& offer);
    std::atomic<bool> gpuStop{false};

    // A measurement stopped the service for an install that has not finished yet; an install
    // has finished since. Decide whether the shutdown must start the service again.
    std::atomic<bool> serviceStoppedByMeasurement{false};
    std::atomic<bool> serviceInstalledSince{false};

    // Sets every stop flag; Shutdown also joins every worker.
    void RequestStop();
    void Shutdown();

    // The four resource locks.
    std::mutex clockLock, powerPlanLock, graphicsLock, diskLock;
    std::mutex& LockOf(StepLock lock);

private:
    std::atomic<int> fidelity_{1};
    std::array<std::atomic<bool>, kSlotCount> want_{};

    struct StepSlot {
        std::thread thread;
        SharedState feed;
        std::atomic<int> state{StepIdle};
        std::atomic<bool> abandon{false};
        std::atomic<int> result{0};
    };
    bool Stopping(int slot) const { return slots_[slot].abandon.load() || slots_[slot].feed.cancel.load(); }
    int RunStepJob(const StepRow& step, SharedState& state);
    int MeasureJob(SharedState& state);
    int InstallJob(SharedState& state, uint32_t resolution);

    const GuiHooks& hooks_;
    std::function<void()> requestClose_;
    std::array<StepSlot, kSlotCount> slots_;
    SharedState main_;
    std::atomic<int> stage_{stage::Welcome};
    mutable std::mutex resultMutex_;
    ResultView result_;
    uint32_t installPeriod_ = 0;
    mutable std::mutex gpuMutex_;
    int gpuPhase_ = GpuPhaseNone;
    std::atomic<uint64_t> gpuGeneration_{0};
    std::wstring gpuStatus_;
    GpuDriverOffer gpuOffer_;
    const DriverTools* driverTools_ = &ProductDriverTools();
};
