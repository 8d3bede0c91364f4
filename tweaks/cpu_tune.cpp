#include "tweaks/cpu_tune.h"

#include <windows.h>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "timer/sampling.h"
#include "tweaks/power_rows.h"
#include "tweaks/tweak_walk.h"

namespace {

std::wstring BracedGuid(const GUID& guid) { return L"{" + GuidText(guid) + L"}"; }

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
    uint32_t previous = 0;
    const bool had = ReadDword(kKernelKey, L"ThreadDpcEnable", previous);
    WriteStateDword(L"ThreadDpcHad", had ? 1 : 0);
    if (had) WriteStateDword(L"ThreadDpcPrev", previous);
    const bool written = WriteDword(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", 0);
    const std::wstring detail = had ? FormatText(L"%lu  \u2192  0", static_cast<unsigned long>(previous))
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
    if (store.GetActiveScheme(scheme)) WriteStateString(L"PpmPreviousScheme", BracedGuid(scheme));

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
    WriteStateString(L"PpmScheme", BracedGuid(scheme));

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

bool RestoreCpuTune() {
    uint32_t applied = 0;
    if (!ReadStateDword(L"PpmApplied", applied) || applied == 0) return true;
    PowerStore& store = CurrentPowerStore();
    GUID scheme{};
    if (!store.GetActiveScheme(scheme)) {
        LogError(L"PowerGetActiveScheme failed; PPM values were not restored.");
        return false;
    }
    int restored = RestorePowerRows(scheme, CpuTuneRows(), L"Ppm_");
    store.SetActiveScheme(scheme);

    uint32_t had = 0;
    if (ReadStateDword(L"ThreadDpcHad", had)) {
        uint32_t previous = 0;
        if (had == 0) {
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
            ++restored;
        } else if (ReadStateDword(L"ThreadDpcPrev", previous)) {
            WriteDword(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", previous);
            ++restored;
        }
    }
    std::wstring previousScheme;
    if (ReadStateString(L"PpmPreviousScheme", previousScheme) && previousScheme.size() > 2) {
        RunProcess(SystemToolPath(L"powercfg.exe"), L"/setactive " + previousScheme, 20000);
    }
    LogInfo(FormatText(L"Restored %d PPM setting(s) to their previous values.", restored));
    return true;
}
