#include "gui/captions.h"

#include "gui/workflow.h"

namespace {

constexpr const wchar_t* kTags[kSlotCount] = {L"PREPARE",    L"MEASURE",     L"INSTALLING", L"CPU TUNE", L"GPU CLEAN",
                                              L"GPU CONFIG", L"AFTERBURNER", L"MEMORY",     L"STORAGE"};
constexpr const wchar_t* kNames[kSlotCount] = {L"Restore point", L"Measure",     L"Timer service", L"CPU power", L"GPU driver",
                                               L"GPU settings",  L"Afterburner", L"Memory",        L"Storage"};
constexpr StepStages kStages[kSlotCount] = {
    {stage::PrepareRunning, stage::PrepareDone, stage::PrepareFailed, stage::PrepareFailed},
    {stage::Measuring, stage::Measured, stage::MeasureFailed, stage::MeasureStopped},
    {stage::Installing, stage::Installed, stage::InstallFailed, stage::InstallFailed},
    {stage::CpuRunning, stage::CpuDone, stage::CpuFailed, stage::CpuFailed},
    {stage::GpuClean, -1, -1, -1},
    {stage::GpuRunning, stage::GpuDone, stage::GpuFailed, stage::GpuFailed},
    {stage::AfterburnerRunning, stage::AfterburnerDone, stage::AfterburnerFailed, stage::AfterburnerFailed},
    {stage::MemoryRunning, stage::MemoryDone, stage::MemoryFailed, stage::MemoryFailed},
    {stage::StorageRunning, stage::StorageDone, stage::StorageFailed, stage::StorageFailed},
};


struct CaptionRow {
    int first, last;
    StepCaption caption;
};

constexpr CaptionRow kCaptions[] = {
    {0, 0, {0, L"Welcome", L"Thank you for using Quorvantis"}},
    {1, 4, {1, L"Prepare", L"Backup / restore point"}},
    {5, 5, {2, L"Measure", L"Find this PC's fastest Sleep(1)"}},
    {7, 8, {2, L"Measure", L"Find this PC's fastest Sleep(1)"}},
    {6, 6, {3, L"Hold", L"Install the boot service"}},
    {9, 11, {3, L"Hold", L"Install the boot service"}},
    {12, 15, {4, L"CPU Tune", L"Ultimate Performance and PPM"}},
    {16, 16, {5, L"GPU Clean", L"Latest driver, graphics only"}},
    {17, 20, {6, L"GPU Config", L"Power, latency, overlays"}},
    {21, 24, {7, L"Afterburner", L"download and scan, ~30 min"}},
    {25, 28, {8, L"Memory", L"Pagefile and compression"}},
    {29, 32, {9, L"Storage", L"SSD, PCIe, USB, TRIM"}},
    {34, 34, {0, L"Health", L"live settings"}},
    {35, 35, {0, L"Home", L"functions and live tweaks"}},
    {36, 36, {0, L"Full tune", L"selected steps, together"}},
};

}  // namespace

StepCaption CaptionOf(int stageValue) {
    for (const CaptionRow& row : kCaptions) {
        if (stageValue >= row.first && stageValue <= row.last) return row.caption;
    }
    return {10, L"Review", L"BIOS, then restart"};
}

int SlotShownBy(int stageValue) {
    if (stageValue >= 1 && stageValue <= 4) return SlotPrepare;
    if (stageValue >= 5 && stageValue <= 8) return SlotMeasure;
    if (stageValue >= 9 && stageValue <= 11) return SlotService;
    if (stageValue >= 12 && stageValue <= 15) return SlotCpu;
    if (stageValue == 16) return SlotGpuDriver;
    if (stageValue >= 17 && stageValue <= 20) return SlotGpuSettings;
    if (stageValue >= 21 && stageValue <= 24) return SlotAfterburner;
    if (stageValue >= 25 && stageValue <= 28) return SlotMemory;
    if (stageValue >= 29 && stageValue <= 32) return SlotStorage;
    return -1;
}

StepStages StagesOfSlot(int slot) { return slot >= 0 && slot < kSlotCount ? kStages[slot] : StepStages{}; }

int SlotOfRunningStage(int stageValue) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (kStages[slot].running == stageValue && slot != SlotGpuDriver) return slot;
    }
    return -1;
}

const wchar_t* SlotTag(int slot) { return slot >= 0 && slot < kSlotCount ? kTags[slot] : L"QUORVANTIS"; }
const wchar_t* SlotName(int slot) { return slot >= 0 && slot < kSlotCount ? kNames[slot] : L""; }
