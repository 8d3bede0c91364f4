#include "gui/steps.h"

#include <cwchar>

namespace {

constexpr StepJobTexts kNoJob{L"", L"", L"", L"", L"", L"", L""};
constexpr StepPanelTexts kNoPanel{L"", L"", L"", L"", L"", L""};

constexpr StepRow kSteps[kSlotCount] = {
    {SlotPrepare, {1, L"Prepare", L"Backup / restore point"}, 1, 4,
     {stage::PrepareRunning, stage::PrepareDone, stage::PrepareFailed, stage::PrepareFailed}, stage::PrepareIntro,
     {nullptr, nullptr}, true,
     {L"a driver install is using the disk", L"PREPARE", L"creating a System Restore point", L"PREPARE",
      L"restore point created", L"PREPARE FAILED", L"see the log for details"},
     {L"Create a restore point first",
      L"Writes a System Restore checkpoint named 'Quorvantis pre-tune'. Use it to roll back if a later change is "
      L"unstable. This can take a minute.",
      L"Continue  -  create restore point", L"Restore point could not be created. System Protection may be off.", L"",
      L"Retry"},
    },
    {SlotMeasure, {2, L"Measure", L"Find this PC's fastest Sleep(1)"}, 5, 8,
     {stage::Measuring, stage::Measured, stage::MeasureFailed, stage::MeasureStopped}, -1,
     {L"Measure timing",
      L"Times Sleep(1) across timer resolutions and saves a scan. The heatmap on this screen uses the newest of those "
      L"scans."},
     false, {L"the timer service install is using the clock", L"", L"", L"", L"", L"", L""}, kNoPanel},
    {SlotService, {3, L"Hold", L"Install the boot service"}, 9, 11,
     {stage::Installing, stage::Installed, stage::InstallFailed, stage::InstallFailed}, -1, {nullptr, nullptr},
     false, {L"the timer measurement is using the clock", L"", L"", L"", L"", L"", L""}, kNoPanel},
    {SlotCpu, {4, L"CPU Tune", L"Ultimate Performance and PPM"}, 12, 15,
     {stage::CpuRunning, stage::CpuDone, stage::CpuFailed, stage::CpuFailed}, stage::CpuIntro,
     {L"CPU power",
      L"Writes the processor power plan. Core parking and throttling are turned off, and the plan asks the CPU to stay "
      L"at a high, steady state."},
     true,
     {L"storage settings are writing the power plan", L"CPU TUNE", L"writing power-plan settings", L"PPM APPLIED",
      L"every processor power setting written", L"PPM FAILED", L"see the log for details"},
     {L"CPU Tune",
      L"On a locked clock the kernel still wakes every ~15 ms to re-evaluate P-states and parked cores. Those DPCs "
      L"steal slices from the game and audio threads. This step disables parking, pins the processor at 100%, and sets "
      L"the check interval to 5 s.",
      L"Continue  -  apply CPU tweaks", L"PPM apply failed - see the log. Timer resolution is still installed.",
      L"Timer resolution is still held. Retry the power-plan writes, or skip to the next step.", L"Retry PPM"},
    },
    {SlotGpuDriver, {5, L"GPU Clean", L"Latest driver, graphics only"}, 16, 16,
     {stage::GpuClean, -1, -1, -1}, -1,
     {L"GPU driver",
      L"Looks up the current graphics driver and can install a clean copy. This step does not install Afterburner."},
     false, kNoJob, kNoPanel},
    {SlotGpuSettings, {6, L"GPU Config", L"Power, latency, overlays"}, 17, 20,
     {stage::GpuRunning, stage::GpuDone, stage::GpuFailed, stage::GpuFailed}, stage::GpuIntro,
     {L"GPU settings",
      L"Turns on hardware-accelerated GPU scheduling, turns off Game DVR and Game Bar capture, and writes the NVIDIA or "
      L"AMD low-latency profile when that vendor is present."},
     true,
     {L"the driver install or Afterburner is using the graphics driver", L"GPU CONFIG",
      L"writing driver / Windows graphics settings", L"GPU CONFIG", L"HAGS, overlays, NVIDIA/AMD profile",
      L"GPU CONFIG", L"see the log for details"},
     {L"GPU Config",
      L"Writes Windows and driver latency settings: hardware-accelerated GPU scheduling, Game DVR and overlay off, "
      L"NVIDIA global 3D (prefer maximum performance, high-performance filtering, VSync off, ultra low latency, ReBAR, "
      L"CUDA P2 off, Ansel off), and AMD Anti-Lag / ULPS.",
      L"Continue  -  apply GPU tweaks", L"GPU apply failed - see the log. Timer resolution is still installed.",
      L"Timer resolution is still held. Retry the GPU writes, or skip to the next step.", L"Retry GPU"},
    },
    {SlotAfterburner, {7, L"Afterburner", L"download and scan, ~30 min"}, 21, 24,
     {stage::AfterburnerRunning, stage::AfterburnerDone, stage::AfterburnerFailed, stage::AfterburnerFailed},
     stage::AfterburnerIntro,
     {L"Afterburner",
      L"Installs MSI Afterburner and RivaTuner, runs the overclock scanner, and saves that curve so it applies at "
      L"sign-in. The download and scan take about 30 minutes."},
     true,
     {L"the driver install or GPU settings are using the graphics driver", L"AFTERBURNER",
      L"installing Afterburner and RivaTuner", L"AFTERBURNER", L"overclock applies at every logon", L"AFTERBURNER",
      L"see the log for details"},
     {L"Afterburner and RivaTuner",
      L"The Afterburner download and the OC scan take about 30 minutes. MSI Afterburner 4.6.6 and RivaTuner are "
      L"installed if they are missing. On an NVIDIA GPU the scanner starts on its own. The curve it finds is saved as "
      L"profile 1 and applied every time you log on. This step does not change the GPU driver.",
      L"Continue  -  install and scan", L"Afterburner failed - see the log. The GPU driver settings are unchanged.", L"",
      L"Retry"},
    },
    {SlotMemory, {8, L"Memory", L"Pagefile and compression"}, 25, 28,
     {stage::MemoryRunning, stage::MemoryDone, stage::MemoryFailed, stage::MemoryFailed}, stage::MemoryIntro,
     {L"Memory", L"Sets the page file and turns memory compression off."}, true,
     {L"a restore point or driver install is using the disk", L"MEMORY", L"pagefile and memory compression",
      L"MEMORY", L"pagefile and compression updated", L"MEMORY FAILED", L"see the log for details"},
     {L"Pagefile and memory compression",
      L"Keeps a system-managed pagefile so commit never hits a zero-pagefile cliff, and turns off memory compression so "
      L"standby pages are not compressed on a CPU thread.",
      L"Continue  -  apply memory tweaks", L"Memory tweaks failed - see the log. Earlier writes are still in place.", L"",
      L"Retry"},
    },
    {SlotStorage, {9, L"Storage", L"SSD, PCIe, USB, TRIM"}, 29, 32,
     {stage::StorageRunning, stage::StorageDone, stage::StorageFailed, stage::StorageFailed}, stage::StorageIntro,
     {L"Storage", L"Turns SysMain off and checks that TRIM is enabled for the system drive."}, true,
     {L"CPU power settings are writing the power plan", L"STORAGE", L"SSD, PCIe, USB, TRIM", L"STORAGE",
      L"storage settings written", L"STORAGE FAILED", L"see the log for details"},
     {L"SSD, PCIe, USB, TRIM",
      L"PCIe ASPM off, disks never spun down, USB selective suspend off, TRIM on, SysMain/Superfetch disabled, hibernate "
      L"off, write cache on, NTFS last-access timestamps off. Windows Search is left running so Start-menu search still "
      L"works.",
      L"Continue  -  apply storage tweaks", L"Storage tweaks failed - see the log. Retry, or skip to Review.", L"",
      L"Retry"},
    },
};

// The screens of their own, by stage.
struct ScreenCaption {
    int stageValue;
    StepCaption caption;
    ScreenHeader header;  // null tag: the screen's own feed says it (Full tune's progress)
};
constexpr ScreenCaption kScreens[] = {
    {stage::Welcome, {0, L"Welcome", L"Thank you for using Quorvantis"}, {L"WELCOME", L"thank you for using Quorvantis"}},
    {stage::Health, {0, L"Health", L"live settings"}, {L"HEALTH", L"read-only check of applied settings"}},
    {stage::Home, {0, L"Home", L"functions and live tweaks"}, {L"HOME", L"choose a function"}},
    {stage::FullTune, {0, L"Full tune", L"selected steps, together"}, {nullptr, nullptr}},
    {stage::GameCheck, {0, L"Game check", L"does it help in your game?"}, {L"GAME CHECK", L"the period held and released, block by block"}},
};
constexpr StepCaption kReviewCaption{10, L"Review", L"BIOS, then restart"};

constexpr HomeTile kFullTuneTileText{
    L"Full tune",
    L"Makes a restore point first, then measures timing before changing anything else. CPU, memory, and the driver "
    L"lookup then run together. Storage follows the CPU step. GPU settings and Afterburner wait until the driver choice "
    L"is finished."};
constexpr HomeTile kHealthTileText{
    L"Health",
    L"Opens the health screen. It reads the live settings and lists anything that has drifted. Nothing changes until "
    L"you choose a repair."};
constexpr HomeTile kRestartTileText{
    L"Restart notes",
    L"Shows the BIOS settings to change by hand, then asks you to restart. Windows cannot write those settings for you."};

bool Valid(int slot) { return slot >= 0 && slot < kSlotCount; }

}  // namespace

const StepRow& StepOf(int slot) { return kSteps[Valid(slot) ? slot : 0]; }

const StepRow* StepShownBy(int stageValue) {
    for (const StepRow& row : kSteps) {
        if (stageValue >= row.firstStage && stageValue <= row.lastStage) return &row;
    }
    return nullptr;
}

StepCaption CaptionOf(int stageValue) {
    // A finished measurement already heads the step whose install it offers.
    if (stageValue == stage::Measured) return kSteps[SlotService].caption;
    if (const StepRow* row = StepShownBy(stageValue)) return row->caption;
    for (const ScreenCaption& screen : kScreens) {
        if (screen.stageValue == stageValue) return screen.caption;
    }
    return kReviewCaption;
}

ScreenHeader FixedHeaderOf(int stageValue) {
    for (const ScreenCaption& screen : kScreens) {
        if (screen.stageValue == stageValue) return screen.header;
    }
    return {nullptr, nullptr};
}

int SlotShownBy(int stageValue) {
    const StepRow* row = StepShownBy(stageValue);
    return row != nullptr ? row->slot : -1;
}

StepStages StagesOfSlot(int slot) { return Valid(slot) ? kSteps[slot].stages : StepStages{}; }

int SlotOfRunningStage(int stageValue) {
    for (const StepRow& row : kSteps) {
        // GPU Clean's screen stays put through its phases; it has no stage to move on to.
        if (row.stages.running == stageValue && row.stages.finished >= 0) return row.slot;
    }
    return -1;
}

const wchar_t* SlotTag(int slot) { return Valid(slot) ? StepAt(slot).tag : L"QUORVANTIS"; }
const wchar_t* SlotName(int slot) { return Valid(slot) ? StepAt(slot).windowName : L""; }

int SlotRepairing(const wchar_t* area) {
    const StepEntry* step = area != nullptr ? StepOfArea(area) : nullptr;
    return step != nullptr ? step->slot : -1;
}

int HomeTileSlot(int index) {
    if (index <= kHealthTile || index >= kRestartTile) return -1;
    int seen = kHealthTile;
    for (const StepRow& row : kSteps) {
        if (row.tile.name != nullptr && ++seen == index) return row.slot;
    }
    return -1;
}

HomeTile HomeTileAt(int index) {
    if (index == kFullTuneTile) return kFullTuneTileText;
    if (index == kHealthTile) return kHealthTileText;
    const int slot = HomeTileSlot(index);
    return slot >= 0 ? kSteps[slot].tile : kRestartTileText;
}
