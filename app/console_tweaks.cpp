#include "app/console_tweaks.h"

#include "afterburner/afterburner.h"

#include "app/console_benchmark.h"
#include "service/step_catalogue.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/text.h"
#include "gpu/adapters.h"
#include "gpu/gpu_tweaks.h"
#include "tweaks/cpu_probe.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

bool CpuTuneByDefault(const Options& options, int cpuClass) { return options.ppm || cpuClass == CpuLocked; }

bool DecideCpuTune(const Options& options, int cpuClass) {
    if (options.ppm || options.yes) return CpuTuneByDefault(options, cpuClass);
    switch (cpuClass) {
    case CpuLocked:
        return Confirm(options,
                       L"This CPU looks like a locked/static frequency. Apply PPM tweaks (PERFCHECK 5000 ms, disable "
                       L"core parking, idle thresholds 95%) to cut periodic power-management DPCs?",
                       true);
    case CpuDynamic:
        return Confirm(options,
                       L"This CPU uses dynamic boost. The 5000 ms PPM interval is meant for locked-multiplier CPUs and "
                       L"can delay turbo. Apply anyway?",
                       false);
    default:
        return Confirm(options,
                       L"Could not tell whether the multiplier is locked. Apply PPM tweaks anyway (safe to revert with "
                       L"--uninstall)?",
                       false);
    }
}

namespace {

void RunWithDwell(const Options& options, bool (*step)()) {
    SetDwellEnabled(!options.noPause);
    step();
}


}  // namespace

int ConsolePpmStep(const Options& options) {
    if (options.leaveOut[SlotCpu]) {
        LogInfo(L"Skipping PPM tweaks (--no-ppm).");
        return 2;
    }
    const CpuProbe probe = ProbeCpu();
    PrintCpuProbe(probe);
    if (probe.tuneApplied) LogInfo(L"PPM tweaks were applied on a previous run; writing them again to harden and verify.");
    if (!DecideCpuTune(options, probe.cpuClass)) {
        LogInfo(L"PPM tweaks not applied. Re-run with --apply-ppm after locking the multiplier in BIOS, or pass --ppm "
                L"to force them.");
        return 2;
    }
    SetDwellEnabled(!options.noPause);
    LogInfo(L"Applying processor power-management tweaks (from Ravelguide, for static-frequency CPUs).");
    LogInfo(L"--no-pause skips the per-setting dwells.");
    return ApplyCpuTune() ? 0 : 1;
}

int ConsoleGpuStep(const Options& options) {
    if (options.leaveOut[SlotGpuSettings]) {
        LogInfo(L"Skipping GPU tweaks (--no-gpu).");
        return 2;
    }
    const GpuProbeView probe = ProbeGpu();
    PrintGpuProbe(probe);
    if (probe.tweaksApplied) LogInfo(L"GPU tweaks were applied on a previous run; writing them again to harden and verify.");
    if (!options.gpu && !options.yes &&
        !Confirm(options,
                 L"Apply GPU driver optimization (HAGS, overlays off, NVIDIA/AMD control-panel equivalents: max "
                 L"performance, VSync off, low latency, ReBAR, P2 off)?",
                 true)) {
        LogInfo(L"GPU tweaks not applied. Re-run with --apply-gpu, or pass --gpu to force them.");
        return 2;
    }
    SetDwellEnabled(!options.noPause);
    LogInfo(L"Applying GPU driver optimization tweaks. Each change is explained before it is written.");
    return ApplyGpuTweaks() ? 0 : 1;
}

void ConsoleRestorePointStep(const Options& options) {
    if (options.leaveOut[SlotPrepare]) return;
    if (options.yes || Confirm(options, L"Create a System Restore point before tuning?", true)) {
        RunWithDwell(options, RunPrepare);
    }
}

void ConsoleMemoryStep(const Options& options) {
    if (options.leaveOut[SlotMemory]) return;
    if (options.yes ||
        Confirm(options, L"Apply memory tweaks (system-managed pagefile, disable memory compression)?", true)) {
        RunWithDwell(options, ApplyMemory);
    }
}

void ConsoleStorageStep(const Options& options) {
    if (options.leaveOut[SlotStorage]) return;
    if (options.yes || Confirm(options, L"Apply storage tweaks (PCIe ASPM off, USB suspend off, TRIM, SysMain off)?", true)) {
        RunWithDwell(options, ApplyStorage);
    }
}

int RunSingleTweakCommand(const Options& options) {
    const StepEntry* step = FindStep(options.command);
    if (step == nullptr || step->apply == nullptr) return 1;
    SetDwellEnabled(!options.noPause);
    return step->apply() ? 0 : 1;
}

bool ShowPpmStatus() {
    uint32_t applied = 0;
    if (ReadStateDword(L"PpmApplied", applied) && applied != 0) {
        LogInfo(FormatText(L"PPM tweaks: applied (PERFCHECK %u ms, core parking off, idle thresholds 95%%)",
                           ReadPerfCheckInterval()));
        return true;
    }
    LogInfo(FormatText(L"PPM tweaks: not applied (%ls)", ProbeCpu().detail.c_str()));
    return false;
}

bool ShowGpuStatus() {
    uint32_t applied = 0;
    if (ReadStateDword(L"GpuApplied", applied) && applied != 0) {
        LogInfo(L"GPU tweaks: applied (HAGS, overlays, NVIDIA/AMD driver profile)");
        return true;
    }
    LogInfo(FormatText(L"GPU tweaks: not applied (%ls)", ProbeGpu().summary.c_str()));
    return false;
}

int AfterburnerWorker(Feed* feed) {
    SetCurrentFeed(feed);
    std::wstring error;
    const bool installed = InstallAfterburner(ProductAfterburnerSetup(), feed, error);
    if (!installed) LogError(error.empty() ? std::wstring(L"Afterburner did not install.") : error);
    SetCurrentFeed(nullptr);
    return installed ? 0 : 1;
}

int ConsoleAfterburnerStep(const Options& options) {
    if (options.leaveOut[SlotAfterburner]) {
        LogInfo(L"Skipping Afterburner (--no-afterburner).");
        return 2;
    }
    if (!options.afterburner && !options.yes &&
        !Confirm(options,
                 L"Download MSI Afterburner if it is missing and scan an NVIDIA overclock? The download and scan take about 30 "
                 L"minutes. The curve is saved as profile 1 and applied at every logon.",
                 options.yes)) {
        LogInfo(L"Afterburner was not installed. Re-run with --apply-afterburner.");
        return 2;
    }
    FeedExplanation(L"Afterburner",
                    L"The Afterburner download and OC scan take about 30 minutes. MSI Afterburner and RivaTuner are installed if "
                    L"they are missing. On an NVIDIA GPU the scanner starts on its own. The curve is saved as profile 1 and applied "
                    L"at every logon.");
    FeedStage(L"AFTERBURNER", L"download and scan, about 30 minutes");
    LogInfo(L"Installing MSI Afterburner and RivaTuner, then scanning a startup overclock. This takes about 30 minutes.");
    std::wstring error;
    if (!InstallAfterburner(ProductAfterburnerSetup(), CurrentFeed(), error)) {
        LogError(error.empty() ? std::wstring(L"Afterburner did not install.") : error);
        return 1;
    }
    LogInfo(L"Afterburner and RivaTuner will apply profile 1 at every logon.");
    return 0;
}

int StepWorker(int slot, Feed* feed) {
    const StepEntry& step = StepAt(slot);
    if (step.apply == nullptr) return 1;
    SetCurrentFeed(feed);
    SetDwellEnabled(true);
    if (step.workerTag != nullptr) FeedStage(step.workerTag, step.workerText);
    const int result = step.apply() ? 0 : 1;
    SetCurrentFeed(nullptr);
    return result;
}
