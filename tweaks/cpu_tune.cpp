#include "tweaks/cpu_tune.h"

#include <windows.h>

#include <cstring>

#include "foundation/log.h"
#include "foundation/pacing.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "tweaks/power_rows.h"
#include "tweaks/tweak_walk.h"

namespace {

const ValueRecordNames kThreadDpcRecord{L"ThreadDpcHad", L"ThreadDpcPrev", L""};
constexpr const wchar_t* kStep = L"CPU Tune";
constexpr const wchar_t* kPlanId = L"power.plan";
constexpr const wchar_t* kMadePlanId = L"power.plan.created";
constexpr const wchar_t* kThreadDpcId = L"power.threaddpc";
constexpr size_t kPlanItem = 0;

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

std::vector<TweakItem> CpuTuneItems() {
    std::vector<TweakItem> items;
    items.push_back({L"ULTIMATE", L"Ultimate Performance power plan",
                     L"The Ultimate Performance plan (or High Performance if this SKU lacks it) is the base the guide "
                     L"writes PPM values onto. Balanced will keep re-parking cores underneath our settings.",
                     L"SCHEME_CURRENT  \u2192  Ultimate Performance", TweakPending});
    AppendRowItems(items, CpuTuneRows());
    items.push_back({L"THREADDPC", L"threaded DPCs",
                     L"ThreadDpcEnable lets the kernel run DPCs on extra threads, which is more throughput and more "
                     L"jitter. 0 forces DPCs onto the interrupting CPU so a frame is not preempted by a park/P-state DPC "
                     L"on another core. Takes effect after the next reboot.",
                     L"ThreadDpcEnable  \u2192  0", TweakPending});
    return items;
}

size_t ThreadDpcItem() { return CpuTuneRows().size() + 1; }

// Activated, and seen active: the call's word alone is not believed. On a Modern Standby PC
// PowerSetActiveScheme answers success for a plan other than Balanced and Balanced stays in force,
// while powercfg /setactive holds; so powercfg is the second try whenever the plan read back is not
// the one asked for.
bool ActivatePlan(const GUID& scheme) {
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    if (store.SetActiveScheme(scheme) && store.GetActiveScheme(active) && SameGuid(active, scheme)) return true;
    RunPowercfg(L"/setactive " + GuidText(scheme));
    return store.GetActiveScheme(active) && SameGuid(active, scheme);
}

// Windows' own plans by name, ours by what it is, any other by its GUID.
std::wstring PlanName(const GUID& scheme) {
    if (SameGuid(scheme, BalancedScheme())) return L"Balanced";
    if (SameGuid(scheme, HighPerformanceScheme())) return L"High Performance";
    if (SameGuid(scheme, UltimateCopyScheme())) return L"Ultimate Performance";
    return L"the plan " + BracedGuidText(scheme);
}

std::wstring PlanInForceName() {
    GUID active{};
    return CurrentPowerStore().GetActiveScheme(active) ? PlanName(active) : std::wstring(L"a plan that could not be read");
}

// The plan CPU Tune writes into: our Ultimate Performance copy when it exists or Windows keeps
// the template to make it from, else High Performance, else none (the active plan stays).
enum class PlanChoice { Ultimate, HighPerformance, None };
struct ChosenPlan {
    PlanChoice choice = PlanChoice::None;
    GUID scheme{};
    bool made = false;  // the copy does not exist yet: this run makes it
};

ChosenPlan ChoosePlan() {
    const GUID& copy = UltimateCopyScheme();
    if (PowerSchemeListed(copy)) return {PlanChoice::Ultimate, copy, false};
    if (CurrentPowerStore().TemplateExists(UltimateTemplateScheme())) return {PlanChoice::Ultimate, copy, true};
    if (PowerSchemeListed(HighPerformanceScheme())) return {PlanChoice::HighPerformance, HighPerformanceScheme(), false};
    return {};
}

std::wstring MadePlanPlace() {
    return L"power plan " + BracedGuidText(UltimateCopyScheme()) + L" (Ultimate Performance, made from Windows' template)";
}

// The copy is ours to take away at uninstall: on record before it is made, so a run that dies
// right after the duplicate still leaves the record; the record goes again if nothing was made.
void PlanMadePlan(StepPlan& plan) {
    ChangeRow row;
    row.id = kMadePlanId;
    row.setting = MadePlanPlace();
    row.currentRead = true;
    row.current = L"absent";
    row.ours = L"present";
    row.state = ChangeState::WouldChange;
    plan.Add(std::move(row), kPlanItem,
             [] {
                 if (!StateValueExists(L"PpmCreatedScheme")) WriteStateString(L"PpmCreatedScheme", BracedGuidText(UltimateCopyScheme()));
             },
             [] {
                 const GUID& copy = UltimateCopyScheme();
                 const GUID& source = UltimateTemplateScheme();
                 if (!CurrentPowerStore().DuplicateScheme(source, copy)) {
                     RunPowercfg(L"/duplicatescheme " + GuidText(source) + L" " + GuidText(copy));
                 }
                 if (PowerSchemeListed(copy)) return true;
                 DeleteStateValue(L"PpmCreatedScheme");
                 return false;
             });
}

void PlanActivation(StepPlan& plan, const ChosenPlan& chosen, const GUID& active) {
    ChangeRow row;
    row.id = kPlanId;
    row.setting = L"active power plan";
    row.recorded = ReadStateString(L"PpmPreviousScheme", row.original);
    row.currentRead = true;
    row.current = BracedGuidText(active);
    if (chosen.choice == PlanChoice::None) {
        row.ours = row.current;
        plan.LeaveAlone(std::move(row), kPlanItem, L"this PC offers neither Ultimate Performance nor High Performance");
        return;
    }
    row.ours = BracedGuidText(chosen.scheme);
    row.state = JudgePlanned(row);
    const GUID target = chosen.scheme;
    // The plan to go back to is the one before the first run; later runs find ours active.
    plan.Add(std::move(row), kPlanItem,
             [active] {
                 if (!StateValueExists(L"PpmPreviousScheme")) WriteStateString(L"PpmPreviousScheme", BracedGuidText(active));
             },
             [target] { return ActivatePlan(target); });
}

std::wstring PlanItemText(const ChosenPlan& chosen, bool switched) {
    if (chosen.choice == PlanChoice::None) return L"could not switch the Windows power plan";
    if (!switched) {
        return FormatText(L"Windows kept %ls in force; the values below go into %ls and count only while it is active",
                          PlanInForceName().c_str(), PlanName(chosen.scheme).c_str());
    }
    if (chosen.choice == PlanChoice::Ultimate) return L"Ultimate Performance is now the active plan";
    return L"this PC does not offer Ultimate Performance (Modern Standby PCs do not); High Performance is active instead";
}

void PlanThreadDpc(StepPlan& plan) {
    ChangeRow row = DescribeRegistryChange(kStep, RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord,
                                           DwordValue(0), true);
    row.id = kThreadDpcId;
    plan.Add(std::move(row), ThreadDpcItem(),
             [] { RecordValueOnce(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord); },
             [] { return WriteDword(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", 0); });
}

// The paced threaded-DPC item; true when written.
bool DisableThreadedDpcs(const StepPlan& plan, ItemList& items) {
    const size_t item = ThreadDpcItem();
    items.Begin(item);
    FeedStage(L"CPU TUNE", L"ThreadDpcEnable  \u2192  0");
    DwellCancellable(1800);
    RegistryValue previous;
    const bool had = ReadRawValue(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", previous);
    CommitCounts counts;
    const bool written = CommitItem(plan, item, counts);
    uint32_t number = 0;
    const bool isNumber = had && previous.type == REG_DWORD && previous.bytes.size() == 4;
    if (isNumber) memcpy(&number, previous.bytes.data(), 4);
    const std::wstring detail = isNumber ? FormatText(L"%lu  \u2192  0", static_cast<unsigned long>(number))
                                : had    ? std::wstring(L"(not a number)  \u2192  0")
                                         : std::wstring(L"(unset)  \u2192  0");
    items.Finish(item, written ? TweakWritten : TweakFailed, &detail);
    if (written) LogInfo(L"    ThreadDpcEnable written. Reboot for the kernel to pick it up.");
    else LogError(L"    ThreadDpcEnable write failed.");
    DwellCancellable(600);
    return written;
}

// What a plan change and the walk need beyond the plan itself.
struct CpuTunePlan {
    StepPlan plan;
    ChosenPlan chosen;
    GUID rowsScheme{};
};

CpuTunePlan MakeCpuTunePlan() {
    CpuTunePlan made;
    made.plan.step = kStep;
    GUID active{};
    if (!CurrentPowerStore().GetActiveScheme(active)) {
        made.plan.blocked = L"PowerGetActiveScheme failed; cannot apply PPM tweaks.";
        return made;
    }
    made.chosen = ChoosePlan();
    if (made.chosen.made) PlanMadePlan(made.plan);
    PlanActivation(made.plan, made.chosen, active);
    made.rowsScheme = made.chosen.choice == PlanChoice::None ? active : made.chosen.scheme;
    PlanPowerRows(made.plan, CpuTuneRowSet(), made.rowsScheme, made.chosen.made, kPlanItem + 1);
    PlanThreadDpc(made.plan);
    made.plan.setsScheme = true;
    made.plan.scheme = made.rowsScheme;
    made.plan.schemeMade = made.chosen.made;
    return made;
}

}  // namespace

StepPlan PlanCpuTune(const PlanContext&) { return MakeCpuTunePlan().plan; }

bool ApplyCpuTune() {
    const CpuTunePlan made = MakeCpuTunePlan();
    FeedExplanation(L"CPU Tune",
                    L"Switch to Ultimate Performance, then write every Processor Power Management value from the tuning "
                    L"guide: parking off, min/max 100%, PERFCHECK 5000 ms, boost mode off, increase threshold 85/95, "
                    L"increase/decrease policy Single, autonomous off. Threaded DPCs are disabled in the kernel so those "
                    L"periodic checks stop stealing slices from the game thread.");
    FeedStage(L"CPU TUNE", L"Ultimate Performance, PPM, ThreadDpcEnable");
    LogInfo(L"Applying CPU Tune: Ultimate Performance power plan, then every PPM setting, then ThreadDpcEnable=0.");
    if (!made.plan.blocked.empty()) {
        LogError(made.plan.blocked);
        return false;
    }

    ItemList items(CpuTuneItems());
    items.Publish();
    DwellCancellable(1200);

    items.Begin(kPlanItem);
    DwellCancellable(1600);
    CommitCounts planCounts;
    const bool planSwitched = CommitItem(made.plan, kPlanItem, planCounts) && made.chosen.choice != PlanChoice::None;
    const std::wstring planText = PlanItemText(made.chosen, planSwitched);
    items.Finish(kPlanItem, planSwitched ? TweakWritten : TweakFailed, &planText);
    LogInfo(FormatText(L"  power plan: %ls", planText.c_str()));
    DwellCancellable(600);

    const GUID& scheme = made.rowsScheme;
    WriteStateString(L"PpmScheme", BracedGuidText(scheme));
    RowWalkCounts counts;
    if (!WalkPowerRows(made.plan, CpuTuneRowSet(), scheme, items, kPlanItem + 1, RowWalkStyle{L"CPU TUNE", true}, counts)) {
        return false;
    }
    // The written values take effect once the plan is activated again; a plan Windows would not
    // keep in force is not tried again here, since that could only put Balanced back.
    if (planSwitched || made.chosen.choice == PlanChoice::None) ActivatePlan(scheme);

    if (DisableThreadedDpcs(made.plan, items)) ++counts.written;
    else ++counts.failed;

    if (counts.written == 0 && !planSwitched) {
        LogError(L"No CPU Tune setting could be written.");
        return false;
    }
    WriteStateDword(L"PpmApplied", 1);
    // What is really in force, read back last: the report never rests on what was asked for.
    GUID inForce{};
    const bool inForceRead = CurrentPowerStore().GetActiveScheme(inForce);
    if (inForceRead && SameGuid(inForce, scheme)) {
        LogInfo(FormatText(L"Power plan in force: %ls.", PlanName(inForce).c_str()));
    } else {
        LogError(FormatText(L"Power plan in force: %ls, not %ls, which holds the values written.", PlanInForceName().c_str(),
                            PlanName(scheme).c_str()));
    }
    const std::wstring confirmNote = counts.failed != 0 ? FormatText(L", %d could not be confirmed", counts.failed) : L"";
    const std::wstring failNote = counts.failed != 0 ? FormatText(L", %d failed confirmation", counts.failed) : L"";
    FeedExplanation(L"PPM applied",
                    FormatText(L"Wrote %d processor power setting(s)%ls. Periodic P-state and parking DPCs now fire at "
                               L"most every 5 seconds. Idle power and heat will rise; uninstall restores the previous "
                               L"values.",
                               counts.written, confirmNote.c_str()));
    LogInfo(FormatText(L"Applied %d PPM tweak(s)%ls.", counts.written, failNote.c_str()));
    LogInfo(L"Higher idle power/heat is expected; uninstall restores the previous values.");
    DwellCancellable(1400);
    return true;
}

int RestoreCpuTune(RestoreLedger& ledger) {
    // Records from before each row named its scheme belong to the plan CPU Tune configured.
    std::wstring configured;
    GUID configuredScheme{};
    const bool haveConfigured = ReadStateString(L"PpmScheme", configured) && ParseGuidText(configured, configuredScheme);
    int restored = RestorePowerRows(CpuTuneRowSet(), haveConfigured ? &configuredScheme : nullptr, ledger);
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    // Restored values of the active plan take effect once it is activated again.
    if (restored > 0 && store.GetActiveScheme(active)) store.SetActiveScheme(active);

    if (ledger.Includes(kThreadDpcId)) {
        switch (RestoreRecordedValue(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord, ledger)) {
        case RestoreResult::Restored: ++restored; break;
        case RestoreResult::Failed: LogError(L"ThreadDpcEnable could not be restored."); break;
        case RestoreResult::NothingRecorded: break;
        }
    }
    if (restored > 0 || (!ledger.Scoped() && StateValueExists(L"PpmApplied"))) {
        LogInfo(FormatText(L"Restored %d PPM setting(s) to their previous values.", restored));
    }
    return restored;
}

namespace {

// The Ultimate Performance plan CPU Tune made goes once the user's plan is active again.
void RemoveCreatedPlan(RestoreLedger& ledger) {
    std::wstring created;
    GUID scheme{};
    if (!ledger.Includes(kMadePlanId) || !ReadStateString(L"PpmCreatedScheme", created) || !ParseGuidText(created, scheme)) {
        return;
    }
    if (!PowerSchemeListed(scheme)) {
        ledger.Dropped({L"PpmCreatedScheme"});
        return;
    }
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    if (store.GetActiveScheme(active) && SameGuid(active, scheme)) {
        LogError(L"The Ultimate Performance plan Quorvantis made is still the active plan, so it was kept.");
        ledger.Failed({L"PpmCreatedScheme"});
        return;
    }
    if (!store.DeleteScheme(scheme)) RunPowercfg(L"/delete " + GuidText(scheme));
    if (PowerSchemeListed(scheme)) {
        LogError(L"The Ultimate Performance plan Quorvantis made could not be removed.");
        ledger.Failed({L"PpmCreatedScheme"});
        return;
    }
    LogInfo(L"Removed the Ultimate Performance plan Quorvantis made.");
    ledger.Restored({L"PpmCreatedScheme"});
}

// Where the plan that was active before is gone, a plan of Windows' own takes its place: Balanced
// when it is listed, else the first listed plan that is not the one CPU Tune made.
bool StandInPlan(GUID& standIn) {
    const std::vector<GUID> listed = ListedPowerSchemes();
    for (const GUID& scheme : listed) {
        if (SameGuid(scheme, BalancedScheme())) {
            standIn = scheme;
            return true;
        }
    }
    for (const GUID& scheme : listed) {
        if (!SameGuid(scheme, UltimateCopyScheme())) {
            standIn = scheme;
            return true;
        }
    }
    return false;
}

void SwitchBackToPreviousPlan(RestoreLedger& ledger) {
    std::wstring previous;
    if (!ledger.Includes(kPlanId) || !ReadStateString(L"PpmPreviousScheme", previous) || previous.size() <= 2) return;
    const std::vector<std::wstring> records{L"PpmPreviousScheme", L"PpmScheme"};
    GUID scheme{};
    if (!ParseGuidText(previous, scheme)) {
        ledger.Dropped(records);
        return;
    }
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    const bool activeRead = store.GetActiveScheme(active);
    if (activeRead && SameGuid(active, scheme)) {
        ledger.Dropped(records);
        return;
    }
    if (!PowerSchemeListed(scheme)) {
        // Only the plan this program made has to make way (so it can be deleted); any other
        // plan the user chose since stays.
        GUID standIn{};
        if (!activeRead || !SameGuid(active, UltimateCopyScheme())) {
            LogInfo(FormatText(L"The power plan that was active before (%ls) no longer exists; the active plan stays.",
                               previous.c_str()));
            ledger.Dropped(records);
            return;
        }
        if (StandInPlan(standIn) && ActivatePlan(standIn)) {
            LogInfo(FormatText(L"The power plan that was active before (%ls) no longer exists; switched to %ls instead.",
                               previous.c_str(), BracedGuidText(standIn).c_str()));
            ledger.Restored(records);
            return;
        }
        LogError(FormatText(L"The power plan that was active before (%ls) no longer exists, and no other plan could be made "
                            L"active.",
                            previous.c_str()));
        ledger.Failed(records);
        return;
    }
    if (ActivatePlan(scheme)) {
        LogInfo(FormatText(L"Switched back to the power plan that was active before (%ls).", previous.c_str()));
        ledger.Restored(records);
        return;
    }
    LogError(FormatText(L"Could not switch back to the power plan that was active before (%ls).", previous.c_str()));
    ledger.Failed(records);
}

}  // namespace

void RestorePowerPlan(RestoreLedger& ledger) {
    SwitchBackToPreviousPlan(ledger);
    RemoveCreatedPlan(ledger);
}

void LedgerCpuTune(std::vector<ChangeRow>& out) {
    ChangeRow plan;
    plan.id = kPlanId;
    plan.step = kStep;
    plan.setting = L"active power plan";
    if (ReadStateString(L"PpmPreviousScheme", plan.original)) {
        plan.recorded = true;
        GUID active{};
        plan.currentRead = CurrentPowerStore().GetActiveScheme(active);
        if (plan.currentRead) plan.current = BracedGuidText(active);
        GUID target = UltimateCopyScheme();
        std::wstring configured;
        if (ReadStateString(L"PpmScheme", configured)) ParseGuidText(configured, target);
        plan.ours = BracedGuidText(target);
        plan.state = JudgeRecorded(plan);
        GUID previous{};
        if (plan.state != ChangeState::AlreadyRestored && ParseGuidText(plan.original, previous) && !PowerSchemeListed(previous)) {
            plan.state = ChangeState::Gone;
            plan.reason = L"plan deleted";
        }
        out.push_back(plan);
    }
    std::wstring created;
    if (ReadStateString(L"PpmCreatedScheme", created)) {
        ChangeRow made;
        made.id = kMadePlanId;
        made.step = kStep;
        made.setting = L"power plan " + created + L" (Ultimate Performance, made by Quorvantis)";
        made.recorded = true;
        made.original = L"absent";
        GUID scheme{};
        made.currentRead = true;
        made.current = ParseGuidText(created, scheme) && PowerSchemeListed(scheme) ? L"present" : L"absent";
        made.ours = L"present";
        made.state = JudgeRecorded(made);
        out.push_back(std::move(made));
    }
    LedgerPowerRows(kStep, CpuTuneRowSet(), out);
    if (StateValueExists(kThreadDpcRecord.had)) {
        ChangeRow dpc = DescribeRegistryChange(kStep, RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord,
                                               DwordValue(0), false);
        dpc.id = kThreadDpcId;
        out.push_back(std::move(dpc));
    }
}

void HardenCpuTune() {
    for (const GUID& scheme : ListedPowerSchemes()) {
        StepPlan plan;
        plan.step = kStep;
        PlanPowerRows(plan, CpuTuneRowSet(), scheme, false, 0);
        for (const PlannedChange& change : plan.changes) CommitChange(change);
    }
}
