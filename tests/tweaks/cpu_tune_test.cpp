// CPU Tune against the in-memory power store, with a fake powercfg in the prefix's system folder.
#include "tweaks/cpu_tune.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "support/fakes.h"
#include "support/simulated_timer_kernel.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "tweaks/power_rows.h"
#include "tweaks/tweak_walk.h"

namespace {

constexpr GUID kHighPerformance{0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};

class CpuTune : public testing::Test {
protected:
    ScopedMachineState machine{L"QV_FAKE_FAIL_IF_CONTAINS", L"QV_FAKE_EXIT_powercfg"};
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    FakePowerStore store;
    FakeTool powercfg{SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log")};
    RecordingFeed feed;
    ScopedFeed feedScope{&feed};

    void SetUp() override {
        // Balanced and High Performance listed; Windows' hidden Ultimate Performance template with
        // the same values as Balanced: parking on, 15 ms check interval.
        store.schemes = {store.active, kHighPerformance};
        for (const GUID& plan : {store.active, FakePowerStore::kUltimateTemplate}) {
            for (const PowerSettingRow& row : CpuTuneRows()) {
                store.SetIn(plan, row.setting, PowerSource::Ac, 10);
                store.SetIn(plan, row.setting, PowerSource::Dc, 5);
            }
            store.SetIn(plan, Row(L"PERFCHECK").setting, PowerSource::Ac, 15);
        }
    }

    static const PowerSettingRow& Row(const wchar_t* alias) {
        for (const PowerSettingRow& row : CpuTuneRows()) {
            if (std::wstring(row.alias) == alias) return row;
        }
        throw std::logic_error("no such row");
    }
    static uint32_t State(const std::wstring& name) {
        uint32_t value = 0xDEADBEEF;
        ReadStateDword(name, value);
        return value;
    }
    const TweakItem& FinalItem(const wchar_t* alias) {
        for (const TweakItem& item : feed.itemLists.back()) {
            if (item.alias == alias) return item;
        }
        throw std::logic_error("no such item");
    }
    std::vector<std::wstring> Calls() { return ToolCalls(folder.File(L"tools.log")); }
};

}  // namespace

TEST_F(CpuTune, WritesEveryRowForAcAndDcAfterRecordingItsPreviousValues) {
    // Every write finds its row's backup already on record.
    store.beforeWrite = [](const GUID& setting) {
        for (const PowerSettingRow& row : CpuTuneRows()) {
            if (memcmp(&row.setting, &setting, sizeof(GUID)) != 0) continue;
            uint32_t had = 0;
            EXPECT_TRUE(ReadStateDword(std::wstring(L"Ppm_") + row.alias + L"_hadAc", had)) << row.alias;
            EXPECT_TRUE(ReadStateDword(std::wstring(L"Ppm_") + row.alias + L"_hadDc", had)) << row.alias;
        }
    };
    const GUID balanced = store.active;
    ASSERT_TRUE(ApplyCpuTune());

    for (const PowerSettingRow& row : CpuTuneRows()) {
        EXPECT_EQ(store.Value(row.setting, PowerSource::Ac), row.value) << row.alias;
        EXPECT_EQ(store.Value(row.setting, PowerSource::Dc), row.value) << row.alias;
        EXPECT_EQ(State(std::wstring(L"Ppm_") + row.alias + L"_dc"), 5u);
    }
    EXPECT_EQ(State(L"Ppm_PERFCHECK_ac"), 15u);
    EXPECT_EQ(State(L"PpmApplied"), 1u);
    std::wstring previous;
    ASSERT_TRUE(ReadStateString(L"PpmPreviousScheme", previous));
    EXPECT_EQ(previous, L"{" + GuidText(balanced) + L"}");
    EXPECT_EQ(State(L"ThreadDpcHad"), 0u);
    uint32_t dpc = 9;
    ASSERT_TRUE(ReadDword(kKernelKey, L"ThreadDpcEnable", dpc));
    EXPECT_EQ(dpc, 0u);

    ASSERT_EQ(feed.itemLists.back().size(), 24u);
    for (const TweakItem& item : feed.itemLists.back()) EXPECT_EQ(item.status, TweakWritten) << item.alias;
    EXPECT_EQ(FinalItem(L"PERFCHECK").detail, L"15ms  \u2192  5000ms");
    EXPECT_EQ(FinalItem(L"PERFAUTONOMOUS").detail, L"10  \u2192  0");
    EXPECT_EQ(FinalItem(L"THREADDPC").detail, L"(unset)  \u2192  0");
    EXPECT_EQ(FinalItem(L"ULTIMATE").detail, L"Ultimate Performance is now the active plan");
    EXPECT_TRUE(feed.Logged(L"    written (confirmed 5000)."));
    EXPECT_TRUE(feed.Logged(L"Applied 23 PPM tweak(s)."));
    // A plan made from Windows' template under our own GUID, and active; Balanced untouched.
    EXPECT_EQ(GuidText(store.active), GuidText(UltimateCopyScheme()));
    EXPECT_EQ(store.schemes.size(), 3u);
    EXPECT_EQ(store.ValueIn(balanced, Row(L"PERFCHECK").setting, PowerSource::Ac), 15u);
    std::wstring created;
    ASSERT_TRUE(ReadStateString(L"PpmCreatedScheme", created));
    EXPECT_EQ(created, L"{" + GuidText(UltimateCopyScheme()) + L"}");
    EXPECT_TRUE(feed.Logged(L"Power plan in force: Ultimate Performance."));
    // A second run finds the copy again: no second plan.
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(store.schemes.size(), 3u);
    EXPECT_EQ(GuidText(store.active), GuidText(UltimateCopyScheme()));
}

TEST_F(CpuTune, UnreadableRowIsRecordedAsAbsentAndAFailedRowDoesNotStopTheOthers) {
    store.unreadable.insert(GuidText(Row(L"IDLEDEMOTE").setting));
    store.Hide(Row(L"IDLEPROMOTE").subgroup, Row(L"IDLEPROMOTE").setting);  // hidden from Power Options: read all the same
    store.unwritable.insert(GuidText(Row(L"PERFEPP").setting));
    SetFakeSwitch(L"QV_FAKE_EXIT_powercfg", L"1");  // powercfg cannot help either
    ASSERT_TRUE(ApplyCpuTune());

    EXPECT_EQ(FinalItem(L"IDLEDEMOTE").detail, L"(hidden/unread)  \u2192  95%");
    // On record as unreadable, so a later run cannot record the value this one wrote.
    EXPECT_EQ(State(L"Ppm_IDLEDEMOTE_hadAc"), 0u);
    EXPECT_EQ(State(L"Ppm_IDLEDEMOTE_ac"), 0xDEADBEEFu);
    EXPECT_EQ(FinalItem(L"IDLEPROMOTE").detail, L"10%  \u2192  95%");
    EXPECT_EQ(FinalItem(L"PERFEPP").status, TweakFailed);
    EXPECT_EQ(FinalItem(L"PERFEPP").detail, L"10%  \u2192  0%  (write failed)");
    EXPECT_TRUE(feed.Logged(L"ERROR:   write failed for PERFEPP (API and powercfg). Continuing with the rest."));
    EXPECT_EQ(FinalItem(L"PERFEPP1").status, TweakWritten);
    EXPECT_EQ(FinalItem(L"ULTIMATE").detail, L"Ultimate Performance is now the active plan") << "the power library needs no powercfg";
    EXPECT_TRUE(feed.Logged(L"Applied 22 PPM tweak(s), 1 failed confirmation."));
    EXPECT_EQ(State(L"PpmApplied"), 1u);
}

// Without Windows' Ultimate Performance template (Modern Standby PCs have none) it is said so, and
// High Performance is used; with neither, the plan stays and the item says so.
TEST_F(CpuTune, HighPerformanceStandsInWhereWindowsOffersNoUltimatePerformance) {
    store.templates.clear();
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(FinalItem(L"ULTIMATE").detail,
              L"this PC does not offer Ultimate Performance (Modern Standby PCs do not); High Performance is active instead");
    EXPECT_EQ(FinalItem(L"ULTIMATE").status, TweakWritten);
    EXPECT_EQ(GuidText(store.active), GuidText(kHighPerformance));
    EXPECT_EQ(store.schemes.size(), 2u) << "no plan was made";
    std::wstring created;
    EXPECT_FALSE(ReadStateString(L"PpmCreatedScheme", created));

    // Only Balanced: no faster plan at all.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    store.active = store.schemes[0];
    store.schemes = {store.active};
    ApplyCpuTune();
    EXPECT_EQ(FinalItem(L"ULTIMATE").detail, L"could not switch the Windows power plan");
    EXPECT_EQ(FinalItem(L"ULTIMATE").status, TweakFailed);
}

// A Modern Standby PC where the user brought High Performance back: Windows answers the API's
// switch with success and keeps Balanced, powercfg /setactive holds. The plan is read back, so
// CPU Tune gets there through powercfg and says what is in force; where powercfg cannot either,
// the item and the log say Balanced stayed, and the final re-activation does not undo anything.
TEST_F(CpuTune, OnAModernStandbyPcThePlanInForceIsReadBackAndSaid) {
    const GUID balanced = store.active;
    store.templates.clear();
    store.modernStandby = true;
    store.followPowercfg = true;
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(GuidText(store.active), GuidText(kHighPerformance));
    EXPECT_EQ(FinalItem(L"ULTIMATE").status, TweakWritten);
    EXPECT_TRUE(feed.Logged(L"Power plan in force: High Performance."));
    const std::vector<std::wstring> calls = Calls();
    EXPECT_NE(std::find_if(calls.begin(), calls.end(),
                           [](const std::wstring& call) { return call.find(L"/setactive " + GuidText(kHighPerformance)) != std::wstring::npos; }),
              calls.end());

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    store.SetActiveScheme(balanced);
    store.SetIn(kHighPerformance, Row(L"PERFCHECK").setting, PowerSource::Ac, 15);
    SetFakeSwitch(L"QV_FAKE_EXIT_powercfg", L"1");
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(GuidText(store.active), GuidText(balanced));
    EXPECT_EQ(FinalItem(L"ULTIMATE").status, TweakFailed);
    EXPECT_EQ(FinalItem(L"ULTIMATE").detail,
              L"Windows kept Balanced in force; the values below go into High Performance and count only while it is active");
    EXPECT_TRUE(feed.Logged(L"ERROR: Power plan in force: Balanced, not High Performance, which holds the values written."));
    EXPECT_EQ(store.ValueIn(kHighPerformance, Row(L"PERFCHECK").setting, PowerSource::Ac), 5000u) << "the plan previewed";
}

TEST_F(CpuTune, WithoutAnActivePlanNothingIsMarkedApplied) {
    store.activeSchemeFails = true;
    EXPECT_FALSE(ApplyCpuTune());
    EXPECT_TRUE(feed.Logged(L"ERROR: PowerGetActiveScheme failed; cannot apply PPM tweaks."));
    EXPECT_EQ(State(L"PpmApplied"), 0xDEADBEEFu);
}

TEST_F(CpuTune, CancelMidWalkKeepsWhatWasWrittenWithItsBackup) {
    feed.cancelFrom = 5;
    EXPECT_FALSE(ApplyCpuTune());
    EXPECT_EQ(State(L"PpmApplied"), 0xDEADBEEFu);
    int written = 0;
    for (const PowerSettingRow& row : CpuTuneRows()) {
        if (store.Value(row.setting, PowerSource::Ac) != row.value) continue;
        ++written;
        EXPECT_EQ(State(std::wstring(L"Ppm_") + row.alias + L"_hadAc"), 1u) << row.alias;
    }
    EXPECT_GT(written, 0);
    EXPECT_LT(written, 22);
    EXPECT_EQ(feed.itemLists.back().back().status, TweakPending) << "threaded DPCs were never reached";
}

TEST_F(CpuTune, RestorePutsBackEveryRecordedValueAndThePreviousPlan) {
    const GUID balanced = store.active;
    ASSERT_TRUE(ApplyCpuTune());
    // A backup rewritten by hand as text is missing: that setting stays as it is.
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kStateKey, L"Ppm_PERFEPP_ac", REG_SZ, L"10", 6);
    RestoreLedger ledger;
    RestoreCpuTune(ledger);
    // Every value back in the plan CPU Tune wrote (the one it made), but the one whose copy is gone.
    for (const PowerSettingRow& row : CpuTuneRows()) {
        EXPECT_EQ(store.Value(row.setting, PowerSource::Dc), 5u) << row.alias;
        if (std::wstring(row.alias) == L"PERFEPP") continue;
        EXPECT_EQ(store.Value(row.setting, PowerSource::Ac), row.setting == Row(L"PERFCHECK").setting ? 15u : 10u);
    }
    EXPECT_EQ(store.Value(Row(L"PERFEPP").setting, PowerSource::Ac), 0u);
    RestorePowerPlan(ledger);
    EXPECT_EQ(ledger.FailedCount(), 0);
    uint32_t dpc = 0;
    EXPECT_FALSE(ReadDword(kKernelKey, L"ThreadDpcEnable", dpc)) << "it did not exist before";
    EXPECT_TRUE(feed.Logged(L"Restored 23 PPM setting(s) to their previous values."));
    EXPECT_EQ(GuidText(store.active), GuidText(balanced));
    // The plan CPU Tune made is gone again once Balanced is back.
    EXPECT_FALSE(store.Listed(UltimateCopyScheme()));
    EXPECT_TRUE(feed.Logged(L"Removed the Ultimate Performance plan Quorvantis made."));
    EXPECT_EQ(store.unknownPlanWrites, 0);
}

TEST_F(CpuTune, RestoreWithoutRecordsWritesNothing) {
    RestoreLedger ledger;
    EXPECT_EQ(RestoreCpuTune(ledger), 0);
    RestorePowerPlan(ledger);
    EXPECT_EQ(store.Value(Row(L"PERFCHECK").setting, PowerSource::Ac), 15u);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(CpuTune, PacingWithDwellsAddsUpToAboutFiftyThreeSeconds) {
    SimulatedTimerConfig instant;
    instant.instant = true;
    SimulatedTimerKernel clock(instant);
    const ScopedTimerKernel scope(&clock);
    const double start = clock.NowMs();
    SetDwellEnabled(true);
    ASSERT_TRUE(ApplyCpuTune());
    SetDwellEnabled(false);
    // 52.9 s of dwells, each rounded up to the 40 ms slices it waits in.
    EXPECT_NEAR((clock.NowMs() - start) / 1000.0, 53.3, 0.5);
}

// Unhiding keeps what Windows keeps beside the hide bit (2: shown on Modern Standby PCs), goes
// through the power library, which writes exactly the value given, and is put back as it was;
// right after the apply the ledger calls it ours, not someone else's change.
TEST_F(CpuTune, AHiddenSettingIsShownAsWindowsWritesItAndPutBackExactly) {
    const PowerSettingRow& row = Row(L"IDLEPROMOTE");
    store.Hide(row.subgroup, row.setting, 3);
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\" + GuidText(row.subgroup) + L"\\" +
                             GuidText(row.setting);
    const StepPlan plan = PlanCpuTune({});
    const auto planned = std::find_if(plan.changes.begin(), plan.changes.end(),
                                      [](const PlannedChange& c) { return c.row.id == L"power.IDLEPROMOTE.attributes"; });
    ASSERT_NE(planned, plan.changes.end());
    EXPECT_EQ(planned->row.current, L"REG_DWORD 3");
    EXPECT_EQ(planned->row.ours, L"REG_DWORD 2");
    ASSERT_TRUE(ApplyCpuTune());
    uint32_t attributes = 0;
    ASSERT_TRUE(ReadDword(key, L"Attributes", attributes));
    EXPECT_EQ(attributes, 2u);
    EXPECT_GT(store.attributeWrites, 0) << "through PowerWriteSettingAttributes";
    std::vector<ChangeRow> ledger;
    LedgerCpuTune(ledger);
    const auto recorded = std::find_if(ledger.begin(), ledger.end(), [](const ChangeRow& r) { return r.id == L"power.IDLEPROMOTE.attributes"; });
    ASSERT_NE(recorded, ledger.end());
    EXPECT_EQ(recorded->state, ChangeState::StillOurs);
    // A setting that is shown already is not touched at all.
    EXPECT_EQ(std::count_if(ledger.begin(), ledger.end(), [](const ChangeRow& r) { return r.id.find(L".attributes") != std::wstring::npos; }), 1);
    RestoreLedger restore;
    RestoreCpuTune(restore);
    ASSERT_TRUE(ReadDword(key, L"Attributes", attributes));
    EXPECT_EQ(attributes, 3u);
}

// The plan CPU Tune makes is on record before it is made: a run that dies right after the
// duplicate still leaves the uninstall something to remove.
TEST_F(CpuTune, TheMadePlanIsOnRecordBeforeItIsMade) {
    int duplicates = 0;
    store.beforeDuplicate = [&] {
        ++duplicates;
        std::wstring created;
        EXPECT_TRUE(ReadStateString(L"PpmCreatedScheme", created));
    };
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(duplicates, 1);
}

// Where Windows keeps no Ultimate Performance template, the plan says High Performance, and
// that is where the rows go.
TEST_F(CpuTune, WithoutTheTemplateThePlanNamesHighPerformanceAndTheRowsGoThere) {
    store.templates.clear();
    const StepPlan plan = PlanCpuTune({});
    EXPECT_TRUE(plan.setsScheme);
    EXPECT_EQ(GuidText(plan.scheme), GuidText(kHighPerformance));
    for (const PlannedChange& change : plan.changes) {
        if (change.row.id.rfind(L"power.PERFCHECK.", 0) == 0 && change.row.id.find(L"attributes") == std::wstring::npos) {
            EXPECT_NE(change.row.setting.find(L"{" + GuidText(kHighPerformance) + L"}"), std::wstring::npos) << ToUtf8(change.row.setting);
        }
        EXPECT_NE(change.row.id, L"power.plan.created") << "nothing is made";
    }
    ASSERT_TRUE(ApplyCpuTune());
    EXPECT_EQ(store.ValueIn(kHighPerformance, Row(L"PERFCHECK").setting, PowerSource::Ac), 5000u);
}

// The plan that was active before was deleted since: the uninstall makes Balanced (here gone as
// well) or another listed plan active, so the plan it made can still go, and says so; a second
// uninstall has nothing left to do.
TEST_F(CpuTune, AnUninstallAfterThePreviousPlanWasDeletedStillFinishes) {
    const GUID balanced = store.active;
    ASSERT_TRUE(ApplyCpuTune());
    store.schemes.erase(std::remove_if(store.schemes.begin(), store.schemes.end(),
                                       [&](const GUID& g) { return memcmp(&g, &balanced, sizeof(GUID)) == 0; }),
                        store.schemes.end());
    std::vector<ChangeRow> rows;
    LedgerCpuTune(rows);
    const auto plan = std::find_if(rows.begin(), rows.end(), [](const ChangeRow& r) { return r.id == L"power.plan"; });
    ASSERT_NE(plan, rows.end());
    EXPECT_EQ(ChangeStateLine(*plan), L"gone (plan deleted): nothing to put back");
    RestoreLedger ledger;
    RestoreCpuTune(ledger);
    RestorePowerPlan(ledger);
    EXPECT_EQ(ledger.FailedCount(), 0);
    EXPECT_EQ(GuidText(store.active), GuidText(kHighPerformance));
    EXPECT_FALSE(store.Listed(UltimateCopyScheme()));
    EXPECT_TRUE(feed.Logged(L"The power plan that was active before ({" + GuidText(balanced) +
                            L"}) no longer exists; switched to {" + GuidText(kHighPerformance) + L"} instead."));
    EXPECT_TRUE(feed.Logged(L"Removed the Ultimate Performance plan Quorvantis made."));
}
