#include "tweaks/cpu_tune.h"

#include <windows.h>

#include <cstring>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/pacing.h"
#include "tweaks/power_rows.h"
#include "tweaks/tweak_walk.h"

namespace {

const ValueRecordNames kThreadDpcRecord{L"ThreadDpcHad", L"ThreadDpcPrev", L""};

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

// ThreadDpcEnable=0 with its previous state on record; true when written.
bool DisableThreadedDpcs(ItemList& items, size_t item) {
    items.Begin(item);
    FeedStage(L"CPU TUNE", L"ThreadDpcEnable  \u2192  0");
    DwellCancellable(1800);
    RegistryValue previous;
    const bool had = ReadRawValue(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", previous);
    RecordValueOnce(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord);
    const bool written = WriteDword(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", 0);
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

}  // namespace

bool ApplyCpuTune() {
    PowerStore& store = CurrentPowerStore();
    GUID scheme{};
    // The plan to go back to is the one before the first run; later runs find ours active.
    if (store.GetActiveScheme(scheme) && !StateValueExists(L"PpmPreviousScheme")) {
        WriteStateString(L"PpmPreviousScheme", BracedGuidText(scheme));
    }

    FeedExplanation(L"CPU Tune",
                    L"Switch to Ultimate Performance, then write every Processor Power Management value from the tuning "
                    L"guide: parking off, min/max 100%, PERFCHECK 5000 ms, boost mode off, increase threshold 85/95, "
                    L"increase/decrease policy Single, autonomous off. Threaded DPCs are disabled in the kernel so those "
                    L"periodic checks stop stealing slices from the game thread.");
    FeedStage(L"CPU TUNE", L"Ultimate Performance, PPM, ThreadDpcEnable");
    LogInfo(L"Applying CPU Tune: Ultimate Performance power plan, then every PPM setting, then ThreadDpcEnable=0.");

    ItemList items(CpuTuneItems());
    items.Publish();
    DwellCancellable(1200);

    items.Begin(0);
    DwellCancellable(1600);
    std::wstring planText;
    const bool planSwitched = SwitchToUltimatePlan(planText);
    items.Finish(0, planSwitched ? TweakWritten : TweakFailed, &planText);
    LogInfo(FormatText(L"  power plan: %ls", planText.c_str()));
    DwellCancellable(600);

    if (!store.GetActiveScheme(scheme)) {
        LogError(L"PowerGetActiveScheme failed; cannot apply PPM tweaks.");
        return false;
    }
    WriteStateString(L"PpmScheme", BracedGuidText(scheme));

    RowWalkCounts counts;
    if (!WalkPowerRows(scheme, CpuTuneRows(), items, 1, RowWalkStyle{L"CPU TUNE", L"Ppm_", true}, counts)) return false;
    // The written values take effect once the plan is activated again.
    store.SetActiveScheme(scheme);
    RunPowercfg(L"/setactive SCHEME_CURRENT");

    if (DisableThreadedDpcs(items, items.Items().size() - 1)) ++counts.written;
    else ++counts.failed;

    if (counts.written == 0 && !planSwitched) {
        LogError(L"No CPU Tune setting could be written.");
        return false;
    }
    WriteStateDword(L"PpmApplied", 1);
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
    int restored = RestorePowerRows(CpuTuneRows(), L"Ppm_", haveConfigured ? &configuredScheme : nullptr, ledger);
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    // Restored values of the active plan take effect once it is activated again.
    if (restored > 0 && store.GetActiveScheme(active)) store.SetActiveScheme(active);

    switch (RestoreRecordedValue(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord)) {
    case RestoreResult::Restored:
        ++restored;
        ledger.Restored();
        break;
    case RestoreResult::Failed:
        LogError(L"ThreadDpcEnable could not be restored.");
        ledger.Failed(kThreadDpcRecord.All());
        break;
    case RestoreResult::NothingRecorded:
        break;
    }
    if (restored > 0 || StateValueExists(L"PpmApplied")) {
        LogInfo(FormatText(L"Restored %d PPM setting(s) to their previous values.", restored));
    }
    return restored;
}

namespace {

// The Ultimate Performance plan CPU Tune made goes once the user's plan is active again.
void RemoveCreatedPlan(RestoreLedger& ledger) {
    std::wstring created;
    GUID scheme{};
    if (!ReadStateString(L"PpmCreatedScheme", created) || !ParseGuidText(created, scheme)) return;
    if (!PowerSchemeListed(scheme)) return;
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    if (store.GetActiveScheme(active) && memcmp(&active, &scheme, sizeof(GUID)) == 0) {
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
    ledger.Restored();
}

}  // namespace

void RestorePowerPlan(RestoreLedger& ledger) {
    SwitchBackToPreviousPlan(ledger);
    RemoveCreatedPlan(ledger);
}

void SwitchBackToPreviousPlan(RestoreLedger& ledger) {
    std::wstring previous;
    if (!ReadStateString(L"PpmPreviousScheme", previous) || previous.size() <= 2) return;
    GUID scheme{};
    if (!ParseGuidText(previous, scheme)) return;
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    const bool activeRead = store.GetActiveScheme(active);
    if (activeRead && memcmp(&active, &scheme, sizeof(GUID)) == 0) return;
    bool switched = store.SetActiveScheme(scheme);
    if (!switched) switched = RunProcess(SystemToolPath(L"powercfg.exe"), L"/setactive " + previous, 20000) == 0;
    // Believe the plan list over the call's result where it can be read.
    if (store.GetActiveScheme(active)) switched = memcmp(&active, &scheme, sizeof(GUID)) == 0;
    if (switched) {
        LogInfo(FormatText(L"Switched back to the power plan that was active before (%ls).", previous.c_str()));
        ledger.Restored();
        return;
    }
    if (!PowerSchemeListed(scheme)) {
        LogInfo(FormatText(L"The power plan that was active before (%ls) no longer exists; the active plan stays.",
                           previous.c_str()));
        return;
    }
    LogError(FormatText(L"Could not switch back to the power plan that was active before (%ls).", previous.c_str()));
    ledger.Failed({L"PpmPreviousScheme"});
}

void DescribeCpuTune(bool planned, std::vector<ChangeRow>& out) {
    const std::wstring step = L"CPU Tune";
    ChangeRow plan;
    plan.step = step;
    plan.setting = L"active power plan";
    plan.recorded = ReadStateString(L"PpmPreviousScheme", plan.original);
    GUID active{};
    plan.currentRead = CurrentPowerStore().GetActiveScheme(active);
    if (plan.currentRead) plan.current = BracedGuidText(active);
    GUID target = UltimateCopyScheme();
    std::wstring configured;
    if (ReadStateString(L"PpmScheme", configured)) ParseGuidText(configured, target);
    plan.ours = BracedGuidText(target);
    if (planned || plan.recorded) {
        plan.state = planned ? JudgePlanned(plan) : JudgeRecorded(plan);
        out.push_back(plan);
    }
    DescribePowerRows(step, CpuTuneRows(), L"Ppm_", planned ? &target : nullptr, out);
    if (planned || StateValueExists(kThreadDpcRecord.had)) {
        out.push_back(DescribeRegistryChange(step, RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", kThreadDpcRecord,
                                             DwordValue(0), planned));
    }
}
