#pragma once
// Full tune: every selected step, as many at once as the screen has tiles for, in the order the
// steps need (restore point first, measurement before the service install, storage after CPU
// power, GPU settings after the driver step). Pure decisions over the slots' states.
#include <array>
#include <string>

#include "gui/steps.h"

struct FullTuneInput {
    std::array<bool, kSlotCount> want{};
    std::array<int, kSlotCount> state{};  // StepState of each slot
    int gpuPhase = GpuPhaseNone;
    bool restoreFailureAccepted = false;
    bool gpuDriverSkipped = false;
    bool afterburnerSkipped = false;
    bool afterburnerWaiting = false;
    bool periodKnown = false;  // measured, or given with --resolution
    int limit = 1;             // tiles that fit the panel
};

enum class FullTuneStart { None, Prepare, Measure, Cpu, Memory, Storage, Install, GpuLookup, Gpu };

// Busy steps, counting a failed restore point not yet accepted, a driver choice waiting for
// the user and Afterburner waiting for its start button.
int FullTuneBusy(const FullTuneInput& in);
// The next step the tick starts, tested in order; None when nothing may start.
FullTuneStart NextFullTuneStart(const FullTuneInput& in);
// The slot a start runs on, to mark it started within one tick.
int SlotOfStart(FullTuneStart start);
// Whether Afterburner's tile should switch to waiting for its start button.
bool AfterburnerMayWait(const FullTuneInput& in);
// Every selected step has ended as it must, and nothing waits for the user.
bool FullTuneComplete(const FullTuneInput& in);
// "Running: ...    Waiting: ...    Stopped: ...    Finished: ..." (empty groups left out).
std::wstring FullTuneStatusLine(const FullTuneInput& in);

inline bool GpuDriverWaitsForUser(int phase) {
    return phase == GpuPhaseFound || phase == GpuPhaseDownloaded || phase == GpuPhaseFailed || phase == GpuPhaseManual;
}
