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

enum Slot : int {
    SlotPrepare = 0,
    SlotMeasure = 1,
    SlotService = 2,
    SlotCpu = 3,
    SlotGpuDriver = 4,
    SlotGpuSettings = 5,
    SlotAfterburner = 6,
    SlotMemory = 7,
    SlotStorage = 8,
    kSlotCount = 9
};

enum StepState : int { StepIdle = 0, StepWaiting = 1, StepRunning = 2, StepFinished = 3, StepFailed = 4, StepStopped = 5 };
inline bool IsBusy(int state) { return state == StepWaiting || state == StepRunning; }
inline bool HasEnded(int state) { return state >= StepFinished; }

// The screens, by the stage values the rest of the window uses.
namespace stage {
inline constexpr int Welcome = 0, PrepareIntro = 1, PrepareRunning = 2, PrepareDone = 3, PrepareFailed = 4;
inline constexpr int Measuring = 5, Measured = 6, MeasureFailed = 7, MeasureStopped = 8;
inline constexpr int Installing = 9, Installed = 10, InstallFailed = 11;
inline constexpr int CpuIntro = 12, CpuRunning = 13, CpuDone = 14, CpuFailed = 15;
inline constexpr int GpuClean = 16;
inline constexpr int GpuIntro = 17, GpuRunning = 18, GpuDone = 19, GpuFailed = 20;
inline constexpr int AfterburnerIntro = 21, AfterburnerRunning = 22, AfterburnerDone = 23, AfterburnerFailed = 24;
inline constexpr int MemoryIntro = 25, MemoryRunning = 26, MemoryDone = 27, MemoryFailed = 28;
inline constexpr int StorageIntro = 29, StorageRunning = 30, StorageDone = 31, StorageFailed = 32;
inline constexpr int Review = 33, Health = 34, Home = 35, FullTune = 36;
}  // namespace stage

// The running stage of a step's screen and the stages it moves on to by itself, or -1.
struct StepStages {
    int running = -1, finished = -1, failed = -1, stopped = -1;
};
StepStages StagesOfSlot(int slot);
// The slot whose running stage this is, or -1.
int SlotOfRunningStage(int stageValue);
// The stage header tag of a slot ("PREPARE", "MEASURE", ...).
const wchar_t* SlotTag(int slot);
// Display names ("Restore point", "Measure", ...).
const wchar_t* SlotName(int slot);

// GPU Clean phases.
enum GpuPhase : int {
    GpuPhaseNone = 0,
    GpuPhaseLooking = 1,
    GpuPhaseFound = 2,
    GpuPhaseDownloading = 3,
    GpuPhaseDownloaded = 4,
    GpuPhaseInstalling = 5,
    GpuPhaseInstalled = 6,
    GpuPhaseFailed = 7,
    GpuPhaseManual = 8
};

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

    // The Start operations; each opens the step's screen when asked to.
    void StartPrepare(bool open);
    void StartBenchmark(bool open);
    void StartInstall(bool open, uint32_t resolution);
    void StartPpm(bool open);
    void StartGpu(bool open);
    void StartAfterburner(bool open);
    void StartMemory(bool open);
    void StartStorage(bool open);
    // The Start operation of a tweak step's slot (restore point, CPU, GPU settings, Afterburner,
    // memory, storage); other slots are left alone.
    void StartTweak(int slot, bool open);
    void BeginGpuLookup();
    void BeginGpuDownload();
    void BeginGpuInstall();

    // The stage shown, and its moving on once the step it shows has ended (called every frame).
    int CurrentStage() const { return stage_.load(); }
    void SetStage(int value) { stage_.store(value); }
    void AdvanceStage();

    // The measurement's fidelity (0 low, 1 medium, 2 high) for the next measurement.
    int fidelity = 1;
    // The latest measurement, and the period the next install uses.
    ResultView LatestResult() const;
    void SetInstallPeriod(uint32_t period);

    // The step selection, in slot order.
    std::array<bool, kSlotCount> want{};
    void LoadSelection();   // from the Monitor key
    void SaveSelection();   // to the Monitor key, with "SetupComplete"
    void ApplyCommandLineSelection();

    // GPU Clean.
    bool GpuCleanAvailable() const { return driverTools_ != nullptr; }
    // Where the driver lookup, download and install go (the product's tools unless a test says otherwise).
    void SetDriverTools(const DriverTools* tools) { driverTools_ = tools; }
    int GpuCleanPhase() const;
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

private:
    struct StepSlot {
        std::thread thread;
        SharedState feed;
        std::atomic<int> state{StepIdle};
        std::atomic<bool> abandon{false};
        std::atomic<int> result{0};
    };
    struct StepJobText {
        std::mutex* lock;
        const wchar_t* reason;
        const wchar_t *runningTag, *runningText, *doneTag, *doneText, *failTag, *failText;
    };

    bool Stopping(int slot) const { return slots_[slot].abandon.load() || slots_[slot].feed.cancel.load(); }
    int RunStepJob(int slot, const StepJobText& text, const std::function<int(Feed&)>& hook, SharedState& state);
    void StartStep(int slot, int runningStage, bool open, const StepJobText& text, const std::function<int(Feed&)>& hook);
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
    std::wstring gpuStatus_;
    GpuDriverOffer gpuOffer_;
    const DriverTools* driverTools_ = &ProductDriverTools();
};
