#pragma once
// What the window keeps of each step beyond the step catalogue: the caption and stages of its
// screens, its home tile and the texts of its job and panels. Its slot, tag, name, lock, health
// area, stored choice and "--no-" switch are the catalogue's (service/step_catalogue.h), which the
// console reads too. Captions, tiles, the slot map, the workflow's jobs, Full tune and repair all
// read these two tables, so a new step is a row in each plus its engine function.
#include "service/step_catalogue.h"

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
inline constexpr int Review = 33, Health = 34, Home = 35, FullTune = 36, GameCheck = 37;
}  // namespace stage

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

// What the header says about a stage.
struct StepCaption {
    int number;  // 0: not a numbered step
    const wchar_t* name;
    const wchar_t* tagline;
};
inline constexpr int kStepCount = 10;

// The running stage of a step's screen and the stages it moves on to by itself, or -1.
struct StepStages {
    int running = -1, finished = -1, failed = -1, stopped = -1;
};

// What a tweak step's job says while it waits, runs, succeeds and fails.
struct StepJobTexts {
    const wchar_t* waitReason;
    const wchar_t *runningTag, *runningText, *doneTag, *doneText, *failTag, *failText;
};

// The confirmation and failure panels of a tweak step's screen.
struct StepPanelTexts {
    const wchar_t* title;
    const wchar_t* text;
    const wchar_t* primary;
    const wchar_t* failure;
    const wchar_t* failureHint;
    const wchar_t* retry;
};

struct HomeTile {
    const wchar_t* name;  // null: the step has no tile of its own
    const wchar_t* description;
};

struct StepRow {
    int slot;
    StepCaption caption;
    int firstStage, lastStage;  // the stages whose screens show this step
    StepStages stages;
    int intro;  // the confirmation screen, or -1
    HomeTile tile;
    bool runsEngine;  // its job is the catalogue's engine function (through the hooks); else the window's own
    StepJobTexts job;
    StepPanelTexts panel;
};

// The rows, in slot order.
const StepRow& StepOf(int slot);
// The row whose screens show this stage, or null (welcome, review, health, home, Full tune).
const StepRow* StepShownBy(int stageValue);

StepCaption CaptionOf(int stageValue);
// The stage line under the caption of a screen that always says the same (welcome, health, home),
// whichever screen spoke last; a null tag for the others.
struct ScreenHeader {
    const wchar_t* tag;
    const wchar_t* text;
};
ScreenHeader FixedHeaderOf(int stageValue);
// The slot whose snapshot a stage's screen draws from, or -1 for the screens of their own.
int SlotShownBy(int stageValue);
StepStages StagesOfSlot(int slot);
// The slot whose running stage this is, or -1.
int SlotOfRunningStage(int stageValue);
// The stage header tag of a slot ("PREPARE", "MEASURE", ...).
const wchar_t* SlotTag(int slot);
// Display names ("Restore point", "Measure", ...).
const wchar_t* SlotName(int slot);
// The slot that repairs a health area ("ppm", "gpu", ...), or -1.
int SlotRepairing(const wchar_t* area);

// The home screen's tiles: Full tune and Health, a tile per step that has one (slot order), and
// the restart notes. kHomeTileCount of them; the slot a tile opens, or -1 for the three others.
inline constexpr int kHomeTileCount = 10;
HomeTile HomeTileAt(int index);
int HomeTileSlot(int index);
inline constexpr int kFullTuneTile = 0, kHealthTile = 1, kRestartTile = kHomeTileCount - 1;
