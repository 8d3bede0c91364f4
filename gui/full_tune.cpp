#include "gui/full_tune.h"

namespace {

bool Started(const FullTuneInput& in, int slot) { return in.state[slot] != StepIdle; }
bool Busy(const FullTuneInput& in, int slot) { return IsBusy(in.state[slot]); }
bool Ended(const FullTuneInput& in, int slot) { return HasEnded(in.state[slot]); }
bool Installing(const FullTuneInput& in) { return in.gpuPhase == GpuPhaseInstalling; }

bool RestoreBlocks(const FullTuneInput& in) {
    return in.want[SlotPrepare] && !in.restoreFailureAccepted && in.state[SlotPrepare] != StepFinished;
}

bool GpuDriverDone(const FullTuneInput& in) {
    return !in.want[SlotGpuDriver] || in.gpuDriverSkipped || in.gpuPhase == GpuPhaseInstalled;
}

}  // namespace

int FullTuneBusy(const FullTuneInput& in) {
    int busy = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) busy += Busy(in, slot) ? 1 : 0;
    const int prepare = in.state[SlotPrepare];
    if ((prepare == StepFailed || prepare == StepStopped) && !in.restoreFailureAccepted) ++busy;
    if (in.want[SlotGpuDriver] && !in.gpuDriverSkipped && GpuDriverWaitsForUser(in.gpuPhase)) ++busy;
    if (in.afterburnerWaiting) ++busy;
    return busy;
}

FullTuneStart NextFullTuneStart(const FullTuneInput& in) {
    // 1. The restore point runs first and alone; until it has finished (or its failure was
    //    accepted) nothing else starts.
    if (in.want[SlotPrepare] && !in.restoreFailureAccepted) {
        if (!Started(in, SlotPrepare)) {
            return !Busy(in, SlotMemory) && !Installing(in) ? FullTuneStart::Prepare : FullTuneStart::None;
        }
        if (in.state[SlotPrepare] != StepFinished) return FullTuneStart::None;
    }
    // 2. The measurement, alone as well.
    if (in.want[SlotMeasure]) {
        if (!Started(in, SlotMeasure) && !Busy(in, SlotService)) return FullTuneStart::Measure;
        if (Busy(in, SlotMeasure)) return FullTuneStart::None;
    }
    // 3. CPU power.
    if (in.want[SlotCpu] && !Started(in, SlotCpu) && !Busy(in, SlotStorage)) return FullTuneStart::Cpu;
    // 4. Memory.
    if (in.want[SlotMemory] && !Started(in, SlotMemory) && !Busy(in, SlotPrepare) && !Installing(in)) {
        return FullTuneStart::Memory;
    }
    // 5. Storage, after CPU power has ended.
    if (in.want[SlotStorage] && !Started(in, SlotStorage) && (!in.want[SlotCpu] || Ended(in, SlotCpu)) &&
        !Busy(in, SlotCpu)) {
        return FullTuneStart::Storage;
    }
    // 6. The timer service, once a period is known.
    if (in.want[SlotService] && !Started(in, SlotService) && !Busy(in, SlotMeasure) &&
        (!in.want[SlotMeasure] || in.state[SlotMeasure] == StepFinished) && in.periodKnown) {
        return FullTuneStart::Install;
    }
    // 7. The driver lookup.
    if (in.want[SlotGpuDriver] && !in.gpuDriverSkipped && in.gpuPhase == GpuPhaseNone && !Busy(in, SlotGpuDriver)) {
        return FullTuneStart::GpuLookup;
    }
    // 8. GPU settings, after the driver choice.
    if (in.want[SlotGpuSettings] && !Started(in, SlotGpuSettings) && GpuDriverDone(in) &&
        !Busy(in, SlotGpuSettings) && !Busy(in, SlotAfterburner) && !Installing(in)) {
        return FullTuneStart::Gpu;
    }
    return FullTuneStart::None;
}

int SlotOfStart(FullTuneStart start) {
    switch (start) {
    case FullTuneStart::Prepare: return SlotPrepare;
    case FullTuneStart::Measure: return SlotMeasure;
    case FullTuneStart::Cpu: return SlotCpu;
    case FullTuneStart::Memory: return SlotMemory;
    case FullTuneStart::Storage: return SlotStorage;
    case FullTuneStart::Install: return SlotService;
    case FullTuneStart::GpuLookup: return SlotGpuDriver;
    case FullTuneStart::Gpu: return SlotGpuSettings;
    case FullTuneStart::None: break;
    }
    return -1;
}

bool AfterburnerMayWait(const FullTuneInput& in) {
    return in.want[SlotAfterburner] && !in.afterburnerSkipped && !in.afterburnerWaiting &&
           in.state[SlotAfterburner] == StepIdle && !RestoreBlocks(in) && !Busy(in, SlotMeasure) && GpuDriverDone(in) &&
           !Busy(in, SlotGpuSettings) && !Busy(in, SlotAfterburner) && !Installing(in) &&
           (!in.want[SlotGpuSettings] || Started(in, SlotGpuSettings)) && FullTuneBusy(in) < in.limit;
}

bool FullTuneComplete(const FullTuneInput& in) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!in.want[slot]) continue;
        const int s = in.state[slot];
        bool done = HasEnded(s);
        if (slot == SlotPrepare) done = s == StepFinished || in.restoreFailureAccepted;
        if (slot == SlotService) {
            const int measure = in.state[SlotMeasure];
            done = done || measure == StepFailed || measure == StepStopped || !in.periodKnown;
        }
        if (slot == SlotGpuDriver) done = GpuDriverDone(in);
        if (slot == SlotAfterburner) done = done || in.afterburnerSkipped;
        if (!done) return false;
    }
    const bool driverWaits = in.want[SlotGpuDriver] && !in.gpuDriverSkipped && GpuDriverWaitsForUser(in.gpuPhase);
    return !driverWaits && !in.afterburnerWaiting;
}

std::wstring FullTuneStatusLine(const FullTuneInput& in) {
    std::wstring running, waiting, stopped, finished;
    const auto add = [](std::wstring& list, const wchar_t* name) {
        if (!list.empty()) list += L", ";
        list += name;
    };
    for (int slot = 0; slot < kSlotCount; ++slot) {
        switch (in.state[slot]) {
        case StepRunning: add(running, SlotName(slot)); break;
        case StepWaiting: add(waiting, SlotName(slot)); break;
        case StepFailed:
        case StepStopped: add(stopped, SlotName(slot)); break;
        case StepFinished: add(finished, SlotName(slot)); break;
        default: break;
        }
    }
    if (in.gpuPhase == GpuPhaseFound || in.gpuPhase == GpuPhaseDownloaded) add(waiting, L"GPU driver choice");
    std::wstring line;
    const auto group = [&](const wchar_t* label, const std::wstring& names) {
        if (names.empty()) return;
        if (!line.empty()) line += L"    ";
        line += label + names;
    };
    group(L"Running: ", running);
    group(L"Waiting: ", waiting);
    group(L"Stopped: ", stopped);
    group(L"Finished: ", finished);
    return line.empty() ? std::wstring(L"running the selected steps") : line;
}
