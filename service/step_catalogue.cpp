#include "service/step_catalogue.h"

#include "foundation/text.h"
#include "gpu/gpu_tweaks.h"
#include "service/install_plan.h"
#include "service/step_ledger.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

namespace {

// The uninstall's order is the restoreOrder column: every power value goes back into the plan it
// came from before CPU Tune's plan switch is undone (its restoreLast, once every restore ran);
// Storage goes before Memory, so memory compression comes back on only once SysMain is back; the
// global timer flag goes last.
constexpr StepEntry kSteps[kSlotCount] = {
    {SlotPrepare, L"prepare", L"Prepare", L"Restore point", L"PREPARE", L"prepare", L"--no-prepare", L"prepare.", nullptr,
     nullptr, nullptr, L"PrepareApplied", nullptr, StepLock::Disk, L"PREPARE", L"creating a System Restore point", PlanPrepare, RunPrepare, LedgerPrepare,
     [](RestoreLedger& ledger) { RecoverRestorePointFrequency(&ledger); }, 6, nullptr, nullptr},
    {SlotMeasure, L"benchmark", L"Measure", L"Measure", L"MEASURE", L"measure", nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr, StepLock::Clock, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
     nullptr},
    {SlotService, L"install", L"Timer service", L"Timer service", L"INSTALLING", L"hold", nullptr, L"timer.", L"timer",
     L"Timer Resolution",
     L"The boot service and the global flag that hold the chosen timer resolution, plus the resolution Windows is using "
     L"right now.",
     nullptr, L"GuardTimer", StepLock::Clock, nullptr, nullptr, PlanInstall, nullptr, LedgerInstall, RestoreInstall, 7, nullptr, nullptr},
    {SlotCpu, L"ppm", L"CPU Tune", L"CPU power", L"CPU TUNE", L"cpu", L"--no-ppm", L"power.", L"ppm", L"Power and Performance",
     L"Each processor power setting from the CPU step. Green means the live value still matches the tune. Red means it "
     L"has drifted.",
     L"PpmApplied", L"GuardPpm", StepLock::PowerPlan, L"PPM", L"applying processor power-management tweaks", PlanCpuTune, ApplyCpuTune,
     LedgerCpuTune, [](RestoreLedger& ledger) { RestoreCpuTune(ledger); }, 0, RestorePowerPlan, HardenCpuTune},
    {SlotGpuDriver, L"driver", L"GPU Clean", L"GPU driver", L"GPU CLEAN", L"gpuclean", nullptr, nullptr, nullptr,
     L"Graphics Drivers", L"The installed graphics driver. This check does not decide whether a newer driver exists.",
     nullptr, nullptr, StepLock::Graphics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
    {SlotGpuSettings, L"gpu", L"GPU Config", L"GPU settings", L"GPU CONFIG", L"gpu", L"--no-gpu", L"gpu.", L"gpu",
     L"Windows Configuration", L"Hardware-accelerated GPU scheduling, Game DVR, Game Bar, and the vendor profile.",
     L"GpuApplied", L"GuardGpu", StepLock::Graphics, L"GPU CONFIG", L"applying GPU driver / Windows graphics tweaks", PlanGpuTweaks, ApplyGpuTweaks, LedgerGpuTweaks,
     [](RestoreLedger& ledger) { RestoreGpuTweaks(ledger); }, 1, nullptr, HardenGpu},
    {SlotAfterburner, L"afterburner", L"Afterburner", L"Afterburner", L"AFTERBURNER", L"afterburner", L"--no-afterburner",
     L"afterburner.", L"afterburner", L"Supporting Utilities",
     L"Whether Afterburner and RivaTuner are installed and set to start at sign-in. A green box does not by itself mean "
     L"an overclock is active.",
     nullptr, nullptr, StepLock::Graphics, nullptr, nullptr, PlanAfterburner, nullptr, LedgerAfterburner, RemoveAfterburnerTasks, 2, nullptr,
     nullptr},
    {SlotMemory, L"memory", L"Memory", L"Memory", L"MEMORY", L"memory", L"--no-memory", L"memory.", L"memory",
     L"Memory and CPU", L"The page file and memory compression.", L"MemoryApplied", L"GuardMemory", StepLock::Disk,
     L"MEMORY", L"pagefile and memory compression", PlanMemory, ApplyMemory, LedgerMemory, [](RestoreLedger& ledger) { RestoreMemory(ledger); }, 4, nullptr,
     [] { TurnOffMemoryCompression(); }},
    {SlotStorage, L"storage", L"Storage", L"Storage", L"STORAGE", L"storage", L"--no-storage", L"storage.", L"storage",
     L"Storage", L"SysMain, TRIM and the storage power settings.", L"StorageApplied", L"GuardStorage", StepLock::PowerPlan,
     L"STORAGE", L"SSD, PCIe, USB, TRIM, SysMain", PlanStorage, ApplyStorage, LedgerStorage, [](RestoreLedger& ledger) { RestoreStorage(ledger); }, 3, nullptr,
     HardenStorage},
};

bool SameWord(const wchar_t* a, const std::wstring& b) { return a != nullptr && LowerCase(a) == LowerCase(b); }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return prefix != nullptr && LowerCase(text).rfind(LowerCase(prefix), 0) == 0;
}

}  // namespace

std::span<const StepEntry> StepCatalogue() { return kSteps; }

const StepEntry& StepAt(int slot) { return kSteps[slot >= 0 && slot < kSlotCount ? slot : 0]; }

const StepEntry* FindStep(const std::wstring& word) {
    for (const StepEntry& step : kSteps) {
        if (SameWord(step.word, word) || SameWord(step.wantName, word) || SameWord(step.name, word)) return &step;
        if (step.idPrefix != nullptr && SameWord(step.idPrefix, word + L".")) return &step;
    }
    return nullptr;
}

const StepEntry* StepOfArea(const std::wstring& area) {
    for (const StepEntry& step : kSteps) {
        if (SameWord(step.area, area)) return &step;
    }
    return nullptr;
}

const StepEntry* StepOfChange(const std::wstring& id) {
    for (const StepEntry& step : kSteps) {
        if (StartsWith(id, step.idPrefix)) return &step;
    }
    return nullptr;
}

bool ChangeMatches(const std::wstring& id, const std::wstring& word) {
    if (LowerCase(id) == LowerCase(word)) return true;
    const StepEntry* step = FindStep(word);
    return step != nullptr && step == StepOfChange(id);
}

