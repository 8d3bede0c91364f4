#pragma once
// Every step of the tuning workflow in one table, below the window and the console. A row holds
// the step's slot and names (the window's, the ledger's, its command word, its stored choice and
// its "--no-" switch), the ids of its changes, the health area and group it answers for, its
// applied and guard markers, the lock it takes and its functions: plan, apply, ledger, restore
// (with its turn in the uninstall) and harden. The console flow, --what-if, --changes, --revert, the uninstall, the monitor, the
// guard and the window all read it, so a new step is a row here and its functions.
#include <span>
#include <string>
#include <vector>

#include "foundation/change_plan.h"
#include "foundation/setting_record.h"

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

// The four resources conflicting steps take turns on.
enum class StepLock { Clock, PowerPlan, Graphics, Disk };

struct StepEntry {
    int slot;
    const wchar_t* word;           // its command word ("ppm" for --apply-ppm), and what --revert STEP takes
    const wchar_t* name;           // "CPU Tune": the ledger's and the console's name
    const wchar_t* windowName;     // "CPU power": the window's tiles and status line
    const wchar_t* tag;            // "CPU TUNE": the window's header tag
    const wchar_t* wantName;       // the stored choice "Want_<wantName>" of the Monitor key
    const wchar_t* leaveOut;       // "--no-ppm": the switch that leaves it out of the default flow, or null
    const wchar_t* idPrefix;       // "power.": the ids of its changes, or null when it records none
    const wchar_t* area;           // the health area it repairs and hardens, or null
    const wchar_t* group;          // the caption of its health checks' group, or null
    const wchar_t* groupText;      // what that group holds
    const wchar_t* appliedMarker;  // "PpmApplied": the state value that says it was applied, or null
    const wchar_t* guardMark;      // "GuardPpm": the state value that says it is hardened, or null
    StepLock lock;
    const wchar_t* workerTag;      // what its worker announces as it starts ("PPM"), or null
    const wchar_t* workerText;
    StepPlan (*plan)(const PlanContext&);      // null: it writes nothing that is planned (the measurement)
    bool (*apply)();                           // the tweak steps' engine function; null: the front ends run it
    void (*ledger)(std::vector<ChangeRow>&);   // what it has on record, or null
    void (*restore)(RestoreLedger&);           // puts back what it has on record, or null
    int restoreOrder;                          // its turn in the uninstall, lowest first
    void (*restoreLast)(RestoreLedger&);       // what goes back once every step's restore ran, or null
    void (*harden)();                          // what hardening re-applies, or null
};

// The rows in slot order.
std::span<const StepEntry> StepCatalogue();
const StepEntry& StepAt(int slot);
// The row a word names: its command word, its stored choice, its id prefix or its name
// (case-insensitive); null for none.
const StepEntry* FindStep(const std::wstring& word);
const StepEntry* StepOfArea(const std::wstring& area);
// The row whose changes the id belongs to, by its prefix; null for none.
const StepEntry* StepOfChange(const std::wstring& id);
// Whether an id or a step word names this change: the id itself, or the step it belongs to.
bool ChangeMatches(const std::wstring& id, const std::wstring& word);
