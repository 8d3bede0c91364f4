#pragma once
// What a screen is: one function that draws from the frame's read-only snapshot and its own
// state, and asks for anything it wants done through the operations interface. Screens never
// wait: whatever takes time (probes, the saved scan, repairs, questions) is done by the window
// on its workers or after the frame is shown, and arrives in a later snapshot.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver_offer.h"
#include "gpu/adapters.h"
#include "gui/game_check.h"
#include "gui/gui_hooks.h"
#include "gui/layout.h"
#include "gui/lattice_model.h"
#include "gui/renderer.h"
#include "gui/shared_state.h"
#include "gui/steps.h"
#include "gui/widgets.h"
#include "health/health_check.h"
#include "tweaks/cpu_probe.h"

// Everything a frame draws from, taken once at its start.
struct FrameSnapshot {
    int stage = stage::Welcome;
    double clock = 0;
    std::wstring version;
    std::array<int, kSlotCount> state{};
    std::array<bool, kSlotCount> want{};
    std::array<bool, kSlotCount> available{};
    int fidelity = 1;
    bool elevated = true;
    std::pair<std::wstring, std::wstring> mainHeader;     // the window's own header (home, Full tune, ...)
    std::pair<std::wstring, std::wstring> serviceHeader;  // the install's, under the measure screen
    StateView view;       // the slot the screen shows (the measurement under the install too)
    StateView measuring;  // the measurement, for the home screen's live card while it runs
    std::array<StepBrief, kSlotCount> briefs;  // each running step, for the Full tune tiles
    ResultView result;    // the latest measurement
    // GPU Clean.
    int gpuPhase = GpuPhaseNone;
    GpuDriverOffer offer;
    std::wstring gpuStatus;
    bool gpuCleanAvailable = false;
    // What the workers found out.
    bool cpuProbed = false;
    CpuProbe cpu;
    bool gpuProbed = false;
    GpuProbeView gpu;
    bool scanFound = false;
    const LatticeData* scan = nullptr;  // the newest saved scan, when found
    std::vector<HealthCheck> health;
    bool healthRunning = false;
    std::vector<ChangeRow> changes;  // what the state key records (Health screen only)
    bool changesRead = false;
    bool puttingBack = false;       // a "Put back" is running
    std::wstring putBackOutcome;    // what the last one did
    // The monitor, the update and Full tune.
    bool maintainTiming = false;
    bool updateMode = false;
    bool updateApplying = false;
    bool fullTuneActive = false;
    bool restoreFailureAccepted = false;
    bool gpuDriverSkipped = false;
    bool afterburnerWaiting = false;
    bool afterburnerAfterDriver = false;  // a driver was installed after Afterburner ran in this session
    GameCheckView game;                   // the game check's screen only
};

// The drawing context of one frame.
struct ScreenContext {
    Renderer& renderer;
    Ui& ui;
    const ScreenLayout& layout;
};

// What the screens may ask the window to do.
class ScreenOps {
public:
    virtual ~ScreenOps() = default;
    virtual void GoHome() = 0;
    virtual void SetStage(int stageValue) = 0;
    virtual void OpenHealth(bool scan) = 0;
    virtual void StartHealthScan() = 0;
    virtual void RepairArea(const std::wstring& area) = 0;  // asks first, after the frame
    virtual void PutBackChange(const ChangeRow& change) = 0;  // asks first, after the frame; runs on a worker
    virtual void OpenHomeTile(int index) = 0;
    virtual void StartGuidedStep(int step) = 0;
    virtual void StartStep(int slot) = 0;  // a tweak step, with its screen
    virtual void RetryStep(int slot) = 0;
    virtual void StopStep(int slot) = 0;
    virtual void StartMeasure() = 0;
    virtual void StartInstall(uint32_t period) = 0;
    virtual void SetWanted(int slot, bool wanted) = 0;
    virtual void SetAllWanted(bool wanted) = 0;
    virtual void SetFidelity(int level) = 0;
    virtual void BeginFullTune() = 0;
    virtual void GpuLookup() = 0;
    virtual void GpuDownload() = 0;
    virtual void GpuInstall() = 0;
    virtual void RetryGpuClean() = 0;
    virtual void ContinueAfterDriver() = 0;
    virtual void SkipGpuDriver(bool guided) = 0;
    virtual void RetryRestorePoint() = 0;
    virtual void AcceptRestoreFailure() = 0;
    virtual void StartAfterburnerInTune() = 0;
    virtual void SkipAfterburnerInTune() = 0;
    virtual void ToggleMaintainTiming() = 0;
    virtual void RequestUpdatePrompt() = 0;
    virtual void OpenLog() = 0;
    virtual void RequestClose() = 0;
    virtual void RestartComputer() = 0;
    // The game check: its screen (with a fresh list of programs), PresentMon's place (asked after
    // the frame), and the run.
    virtual void OpenGameCheck() = 0;
    virtual void ChoosePresentMon() = 0;
    virtual void StartGameCheck(const std::wstring& game, int minutes) = 0;
    virtual void StopGameCheck() = 0;
};

// The state each screen keeps between frames.
struct HomeScreenState {
    float scroll = 0;
};
struct HealthScreenState {
    float scroll = 0;
    int selected = -1;
};
struct MeasureScreenState {
    double fadeA = 0, fadeB = 0;  // the result's fade-in, started when the measurement or install ends
    std::vector<PointF> chartPoints;  // reused by the charts frame after frame
};
struct ReviewScreenState {
    bool confirmOpen = false;
};
struct GameCheckScreenState {
    std::wstring chosen;  // the program chosen as the game
    int minutes = 4;
};

struct ScreenStates {
    GameCheckScreenState game;
    HomeScreenState home;
    HealthScreenState health;
    MeasureScreenState measure;
    ReviewScreenState review;
};

// The header over every screen (with the house that leads home) and the screen of the stage.
void DrawHeader(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops);
void DrawScreen(ScreenContext& c, const FrameSnapshot& s, ScreenStates& states, ScreenOps& ops);

// The screens.
void DrawWelcome(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops);
void DrawHome(ScreenContext& c, const FrameSnapshot& s, HomeScreenState& state, ScreenOps& ops);
void DrawHealth(ScreenContext& c, const FrameSnapshot& s, HealthScreenState& state, ScreenOps& ops);
void DrawMeasure(ScreenContext& c, const FrameSnapshot& s, MeasureScreenState& state, ScreenOps& ops);
void DrawStep(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops);
void DrawGpuClean(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops);
void DrawFullTune(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops);
void DrawReview(ScreenContext& c, const FrameSnapshot& s, ReviewScreenState& state, ScreenOps& ops);
void DrawGameCheck(ScreenContext& c, const FrameSnapshot& s, GameCheckScreenState& state, ScreenOps& ops);

// The health list's groups with their descriptions, status colours, and an item's details.
struct HealthGroupCaption {
    const wchar_t* name;
    const wchar_t* description;
};
std::span<const HealthGroupCaption> HealthGroups();
// The health list's sections: what needs attention, what passes, and everything else
// (informational, disabled, unsupported, inaccessible), which is neither.
enum class HealthSection { Attention, Passing, Other };
HealthSection HealthSectionOf(int status);
Color HealthStatusColor(int status);
std::wstring HealthDetails(const HealthCheck& check);
// The Health screen's details of one recorded change.
std::wstring ChangeDetails(const ChangeRow& change);

// Shared pieces: the step log column, and the description panel of the element under the pointer.
void DrawLogColumn(ScreenContext& c, const FrameSnapshot& s);
void DrawDescriptionPanel(ScreenContext& c, const RectF& rect);
// The Lattice of a card, or the text that says why there is none.
void DrawLatticeInto(ScreenContext& c, const RectF& square, const LatticeData& data, double clock);
