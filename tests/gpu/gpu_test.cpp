// Adapter discovery and the GPU catalogue against adapter keys created in the test prefix's
// registry, the prefix's service manager, and a stand-in nvapi64.dll in the prefix's system folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"
#include "gpu/gpu_catalogue.h"
#include "gpu/gpu_tweaks.h"
#include "health/health_check.h"
#include "gui/screens/screen.h"
#include "service/step_ledger.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "support/test_support.h"

namespace {

constexpr const wchar_t* kFakeNvapi = L"Software\\QuorvantisTests\\FakeNvapi";
constexpr const wchar_t* kPciEnum = L"SYSTEM\\CurrentControlSet\\Enum\\PCI";

std::wstring AdapterKey(int index) { return ScopedDisplayAdapters::Key(index); }

void AddAdapter(int index, const wchar_t* desc, const wchar_t* provider = nullptr, const wchar_t* hardwareId = nullptr) {
    WriteString(RegRoot::LocalMachine, AdapterKey(index), L"DriverDesc", desc);
    if (provider != nullptr) WriteString(RegRoot::LocalMachine, AdapterKey(index), L"ProviderName", provider);
    if (hardwareId != nullptr) WriteString(RegRoot::LocalMachine, AdapterKey(index), L"MatchingDeviceId", hardwareId);
}

// The value of every catalogue target in both hives, to prove the uninstall leaves them as found.
using Snapshot = std::vector<std::tuple<std::wstring, bool, uint32_t>>;
Snapshot TakeSnapshot(const std::vector<std::wstring>& adapterKeys) {
    Snapshot snapshot;
    const auto add = [&](RegRoot root, const std::wstring& key, const std::wstring& name) {
        uint32_t value = 0;
        const bool present = ReadDwordIn(root, key, name, value);
        snapshot.emplace_back((root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKLM\\") + key + L":" + name, present, value);
    };
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind != GpuTweakKind::Registry) continue;
        if (row.perAdapter) {
            for (const std::wstring& key : adapterKeys) add(RegRoot::LocalMachine, key, row.valueName);
        } else {
            add(RegRoot::LocalMachine, row.keyPath, row.valueName);
            add(RegRoot::CurrentUser, row.keyPath, row.valueName);
        }
    }
    return snapshot;
}

void PutBack(const Snapshot& snapshot) {
    for (const auto& [where, present, value] : snapshot) {
        const RegRoot root = where.rfind(L"HKCU", 0) == 0 ? RegRoot::CurrentUser : RegRoot::LocalMachine;
        const std::wstring path = where.substr(5);
        const std::wstring key = path.substr(0, path.rfind(L':'));
        const std::wstring name = path.substr(path.rfind(L':') + 1);
        if (present) WriteDword(root, key, name, value);
        else RegDeleteKeyValueW(root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key.c_str(), name.c_str());
    }
}

class Gpu : public testing::Test {
protected:
    ScopedMachineState machine;
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    RecordingFeed feed;
    ScopedFeed feedScope{&feed};
    Snapshot before;
    std::unique_ptr<ScopedDisplayAdapters> adapters;
    std::unique_ptr<FakeLibrary> nvapi;

    void SetUp() override {
        adapters = std::make_unique<ScopedDisplayAdapters>();
        RegDeleteTreeW(HKEY_CURRENT_USER, kFakeNvapi);
        before = TakeSnapshot({});
    }
    void TearDown() override {
        PutBack(before);
        adapters.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuorvantisTests");
        RegDeleteTreeW(HKEY_CURRENT_USER, kFakeNvapi);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kPciEnum) + L"\\VEN_10DE&DEV_2786&SUBSYS_51411462&REV_A1").c_str());
        DeleteTestService(L"NvTelemetryContainer");
        nvapi.reset();
    }

    void InstallFakeNvapi() { nvapi = std::make_unique<FakeLibrary>(L"fake_nvapi64.dll", L"nvapi64.dll"); }
    static uint32_t State(const std::wstring& name) {
        uint32_t value = 0xDEADBEEF;
        ReadStateDword(name, value);
        return value;
    }
    static uint32_t Profile(const wchar_t* id) {
        uint32_t value = 0xDEADBEEF;
        ReadDwordIn(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", id, value);
        return value;
    }
    const TweakItem& Item(const wchar_t* alias) {
        for (const TweakItem& item : feed.itemLists.back()) {
            if (item.alias == alias) return item;
        }
        throw std::logic_error("no such item");
    }
};

}  // namespace

// Wine's own adapter (with no vendor) stays in the class key ahead of the planted ones, so the
// machine tests look for the planted names inside the line rather than at its start.
TEST_F(Gpu, ProbeListsEveryReadableAdapterInKeyOrder) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    AddAdapter(1, L"AMD Radeon(TM) Graphics", L"Advanced Micro Devices, Inc.");
    AddAdapter(32, L"Intel(R) Arc(TM) A770 Graphics", L"Intel Corporation");  // past the 32 probed indexes
    WriteString(RegRoot::LocalMachine, AdapterKey(2), L"DriverDesc", std::wstring(300, L'x'));  // too long: absent
    WriteDword(RegRoot::LocalMachine, L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers", L"HwSchMode", 2);
    const GpuProbeView view = ProbeGpu();
    EXPECT_NE(view.summary.find(L"NVIDIA GeForce RTX 4070 + AMD Radeon(TM) Graphics  \u00B7  HAGS on  \u00B7  NVIDIA  \u00B7  AMD"),
              std::wstring::npos)
        << ToUtf8(view.summary);
    EXPECT_EQ(view.summary.find(L"xxx"), std::wstring::npos);
    EXPECT_FALSE(view.hasIntel);
    EXPECT_EQ(AdapterKeysForVendor(GpuNvidia), std::vector<std::wstring>{AdapterKey(0)});
}

TEST_F(Gpu, BasicDisplayIsListedButNotOffered) {
    AddAdapter(0, L"Microsoft Basic Display Adapter", L"Microsoft");
    EXPECT_NE(ProbeGpu().summary.find(L"Microsoft Basic Display Adapter"), std::wstring::npos);
    EXPECT_TRUE(EnumerateDisplayAdapters().empty());
    EXPECT_EQ(ChooseOfferAdapter(EnumerateDisplayAdapters()).message, L"No NVIDIA or AMD display adapter was found.");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, AdapterKey(0).c_str());
    EXPECT_EQ(ProbeGpu().summary.find(L"Microsoft Basic Display Adapter"), std::wstring::npos);
}

TEST_F(Gpu, InventoryClassifiesDiscreteCardsAndCompletesSubsystemIdsFromThePciTree) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA", L"PCI\\VEN_10DE&DEV_2786");
    AddAdapter(1, L"AMD Radeon(TM) Graphics", L"Advanced Micro Devices, Inc.");
    AddAdapter(2, L"AMD Radeon RX 7900 XTX", L"Advanced Micro Devices, Inc.");
    AddAdapter(3, L"AMD Radeon Pro W7800", L"Advanced Micro Devices, Inc.");
    WriteString(RegRoot::LocalMachine, std::wstring(kPciEnum) + L"\\VEN_10DE&DEV_2786&SUBSYS_51411462&REV_A1\\4&1",
                L"Service", L"nvlddmkm");
    const std::vector<DisplayAdapter> inventory = EnumerateDisplayAdapters();
    ASSERT_EQ(inventory.size(), 4u);
    EXPECT_EQ(inventory[0].vendor, GpuNvidia);
    EXPECT_TRUE(inventory[0].discrete);
    EXPECT_EQ(inventory[0].ids.subsystem, L"5141");
    EXPECT_EQ(inventory[0].ids.subsystemVendor, L"1462");
    EXPECT_FALSE(inventory[1].discrete);
    EXPECT_TRUE(inventory[2].discrete);
    EXPECT_TRUE(inventory[3].discrete);
}

TEST_F(Gpu, IntelOnlyMachineRunsTheSixWindowsRows) {
    AddAdapter(0, L"Intel(R) UHD Graphics 770", L"Intel Corporation", L"PCI\\VEN_8086&DEV_4680");
    ASSERT_TRUE(ApplyGpuTweaks());
    ASSERT_EQ(feed.itemLists.back().size(), 6u);
    EXPECT_EQ(feed.itemLists.back().back().alias, L"MMPRIO");
    EXPECT_EQ(State(L"GpuApplied"), 1u);
    EXPECT_TRUE(feed.Logged(L"Applied 6 GPU tweak(s). Reboot for HAGS / ReBAR. Uninstall restores the previous values."));
    // Six rows, two of them also in the user's hive; the Game Bar row's two machine-wide
    // records name one value, put back and counted once.
    RestoreLedger ledger;
    RestoreGpuTweaks(ledger);
    EXPECT_TRUE(feed.Logged(L"Restored 8 GPU setting(s) to their previous values."));
}

TEST_F(Gpu, NvidiaWithoutItsDriverInterfaceFailsOnlyTheProfileRows) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    AddAdapter(3, L"NVIDIA GeForce RTX 3060", L"NVIDIA");
    ASSERT_TRUE(ApplyGpuTweaks());
    EXPECT_TRUE(feed.Logged(L"  nvapi64.dll could not open a DRS session; NVIDIA control-panel (DRS) values will be "
                            L"retried via registry only."));
    EXPECT_TRUE(feed.Logged(L"    wrote on 2 adapter key(s)."));
    EXPECT_EQ(State(L"Gpu_NV_DPS_00_had"), 0u);
    EXPECT_EQ(State(L"Gpu_NV_DPS_01_had"), 0u);
    std::wstring key;
    ASSERT_TRUE(ReadStateString(L"Gpu_NV_DPS_01_key", key));
    EXPECT_EQ(key, AdapterKey(3));
    EXPECT_TRUE(feed.Logged(L"    service not present (already gone, or this driver did not install it)."));
    EXPECT_EQ(Item(L"NV_TELEMETRY").status, TweakWritten);
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind == GpuTweakKind::DriverProfile) {
            EXPECT_EQ(Item(row.alias).status, TweakFailed) << row.alias;
        }
    }
    EXPECT_TRUE(feed.Logged(L"Applied 13 GPU tweak(s), 13 failed. Reboot for HAGS / ReBAR."));

    // Values that were not there before are removed again.
    RestoreLedger ledger;
    ASSERT_TRUE(RestoreGpuTweaks(ledger));
    uint32_t value = 0;
    EXPECT_FALSE(ReadDword(AdapterKey(0), L"DisableDynamicPstate", value));
    EXPECT_FALSE(ReadDword(AdapterKey(3), L"PowerMizerEnable", value));
}

TEST_F(Gpu, DriverProfileRowsAreRecordedWrittenSavedAndRestored) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    InstallFakeNvapi();
    WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"1057EB71", 0);
    WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Reject", L"1057E631", 1);
    ASSERT_TRUE(ApplyGpuTweaks());
    EXPECT_EQ(Profile(L"1057EB71"), 1u) << "set and saved";
    EXPECT_EQ(Profile(L"00A879CF"), 0x08416747u);
    uint32_t perfLevel = 0;
    ASSERT_TRUE(ReadDword(AdapterKey(0), L"PerfLevelSrc", perfLevel));
    EXPECT_EQ(perfLevel, 0x2222u);
    EXPECT_EQ(State(L"GpuDrs_1057EB71_had"), 1u);
    EXPECT_EQ(State(L"GpuDrs_1057EB71"), 0u);
    EXPECT_EQ(State(L"GpuDrs_00A879CF_had"), 0u) << "not in the profile before: on record as absent";
    EXPECT_EQ(Item(L"NV_PWR2").status, TweakFailed);
    EXPECT_EQ(Item(L"NV_PWR").status, TweakWritten);
    EXPECT_TRUE(feed.Logged(L"Applied 25 GPU tweak(s), 1 failed."));

    RestoreLedger ledger;
    ASSERT_TRUE(RestoreGpuTweaks(ledger));
    EXPECT_EQ(Profile(L"1057EB71"), 0u) << "the recorded 0 is written back";
    EXPECT_EQ(Profile(L"00A879CF"), 0xDEADBEEFu) << "back to the driver's default";
    EXPECT_EQ(ledger.FailedCount(), 0);
}

// A setting the driver cannot read has no original to put back: it is never written.
TEST_F(Gpu, ADriverSettingThatCannotBeReadIsLeftAsTheUserSetIt) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    InstallFakeNvapi();
    WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"1057EB71", 0);
    WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Unreadable", L"1057EB71", 1);
    ASSERT_TRUE(ApplyGpuTweaks());
    EXPECT_EQ(Profile(L"1057EB71"), 0u) << "the user's control-panel value";
    EXPECT_EQ(State(L"GpuDrs_1057EB71_had"), 0xDEADBEEFu);
    EXPECT_EQ(Item(L"NV_PWR").status, TweakFailed);
    EXPECT_TRUE(feed.Logged(L"    NVIDIA setting 0x1057EB71 could not be read; it is left unchanged."));
    EXPECT_EQ(Profile(L"00A879CF"), 0x08416747u) << "the others are still written";
}

TEST_F(Gpu, TelemetryServiceIsDisabledAndItsAutomaticStartRestored) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    CreateTestService(L"NvTelemetryContainer", L"C:\\nowhere\\nvtelemetry.exe", SERVICE_AUTO_START);
    const auto startType = [] {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle service(OpenServiceW(manager.get(), L"NvTelemetryContainer", SERVICE_QUERY_CONFIG));
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()), 8192, &needed);
        return reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    };
    ASSERT_TRUE(ApplyGpuTweaks());
    EXPECT_EQ(startType(), static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(State(L"GpuSvc_NvTelemetryContainer_start"), static_cast<uint32_t>(SERVICE_AUTO_START));
    RestoreLedger ledger;
    ASSERT_TRUE(RestoreGpuTweaks(ledger));
    EXPECT_EQ(startType(), static_cast<DWORD>(SERVICE_AUTO_START));
}

TEST_F(Gpu, ApplyAndUninstallThroughTheProgramLeaveEveryValueAsItWas) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    AddAdapter(1, L"AMD Radeon RX 7900 XTX", L"Advanced Micro Devices, Inc.");
    WriteDword(RegRoot::LocalMachine, AdapterKey(1), L"EnableUlps", 1);  // one value that existed before
    WriteDword(RegRoot::CurrentUser, L"SOFTWARE\\Microsoft\\GameBar", L"AutoGameModeEnabled", 0);
    const Snapshot original = TakeSnapshot({AdapterKey(0), AdapterKey(1)});
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    ASSERT_EQ(RunProgram(program, L"--apply-gpu --gpu --yes --no-pause", 120000).exitCode, 0u);
    uint32_t value = 0;
    ASSERT_TRUE(ReadDword(AdapterKey(1), L"EnableUlps", value));
    EXPECT_EQ(value, 0u);
    EXPECT_NE(TakeSnapshot({AdapterKey(0), AdapterKey(1)}), original);
    ASSERT_EQ(RunProgram(program, L"--uninstall --no-pause", 120000).exitCode, 0u);
    EXPECT_EQ(TakeSnapshot({AdapterKey(0), AdapterKey(1)}), original);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\GameBar", L"AutoGameModeEnabled");
}

// The per-user Game Bar switch goes back into the hive of the account it was recorded from,
// whoever runs the uninstall; an account that is not signed in keeps its record for later.
TEST_F(Gpu, PerUserValuesGoBackIntoTheAccountTheyCameFrom) {
    const wchar_t* gameBar = L"SOFTWARE\\Microsoft\\GameBar";
    WriteDword(RegRoot::CurrentUser, gameBar, L"AutoGameModeEnabled", 0);
    ASSERT_TRUE(ApplyGpuTweaks());
    std::wstring sid;
    ASSERT_TRUE(ReadStateString(L"Gpu_GAMEMODE_CU_sid", sid));
    EXPECT_EQ(sid, CurrentAccountSid());

    // Recorded from another account whose hive is loaded (signed in): its value goes back there,
    // and this account's is not touched.
    const std::wstring other = L"S-1-5-21-1111111111-2222222222-3333333333-1001";
    WriteDword(RegRoot::Users, other + L"\\" + gameBar, L"AutoGameModeEnabled", 1);
    ASSERT_TRUE(WriteStateString(L"Gpu_GAMEMODE_CU_sid", other));
    {
        RestoreLedger ledger;
        ASSERT_TRUE(RestoreGpuTweaks(ledger));
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(ReadDwordIn(RegRoot::Users, other + L"\\" + gameBar, L"AutoGameModeEnabled", value));
        EXPECT_EQ(value, 0u);
        EXPECT_TRUE(ReadDwordIn(RegRoot::CurrentUser, gameBar, L"AutoGameModeEnabled", value));
        EXPECT_EQ(value, 1u) << "not this account's record";
        EXPECT_EQ(ledger.FailedCount(), 0);
    }
    RegDeleteTreeW(HKEY_USERS, other.c_str());

    // An account that is not signed in: nothing is written anywhere, the record stays, and the
    // ledger says why (not that the value is absent) and that the uninstall keeps it.
    ASSERT_TRUE(ApplyGpuTweaks());
    ASSERT_TRUE(WriteStateString(L"Gpu_GAMEMODE_CU_sid", other));
    std::vector<ChangeRow> rows;
    LedgerGpuTweaks(rows);
    const auto away = std::find_if(rows.begin(), rows.end(), [](const ChangeRow& r) { return r.id == L"gpu.GAMEMODE.user"; });
    ASSERT_NE(away, rows.end());
    EXPECT_EQ(ChangeStateLine(*away), L"cannot be read: account " + AccountNameOfSid(other) + L" is not signed in");
    const std::vector<std::wstring> plan = UninstallPlan(rows, true);
    EXPECT_NE(std::find(plan.begin(), plan.end(),
                        L"keep 1 record(s) of " + AccountNameOfSid(other) + L", not signed in, for a later --uninstall"),
              plan.end());
    RestoreLedger ledger;
    RestoreGpuTweaks(ledger);
    EXPECT_EQ(ledger.FailedCount(), 1);
    EXPECT_TRUE(ledger.Kept().count(L"Gpu_GAMEMODE_CU_had"));
    EXPECT_TRUE(feed.Logged(L"SOFTWARE\\Microsoft\\GameBar\\AutoGameModeEnabled of " + other +
                            L" could not be put back: that account is not signed in. Its record is kept for the next uninstall."));
    EXPECT_FALSE(AccountHiveLoaded(other));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, gameBar, L"AutoGameModeEnabled");
}

TEST_F(Gpu, HealthReadsTheNvidiaRowsBackThroughTheDriverInterface) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    InstallFakeNvapi();
    ASSERT_TRUE(ApplyGpuTweaks());
    WriteDword(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"1075D972", 1);  // Ansel came back
    const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    const auto find = [&](const wchar_t* id) -> const HealthCheck& {
        for (const HealthCheck& c : checks) {
            if (c.id == id) return c;
        }
        throw std::logic_error("no such check");
    };
    EXPECT_EQ(find(L"gpu.NV_PWR").status, HealthPassing);
    EXPECT_EQ(find(L"gpu.NV_ANSEL").status, HealthAttention);
    EXPECT_EQ(find(L"gpu.NV_ANSEL").observed, L"1");
    EXPECT_EQ(find(L"gpu.NV_DPS").observed, L"1 of 1 adapters match");
    EXPECT_EQ(find(L"gpu.NV_TELEMETRY").status, HealthPassing) << "not installed is as good as disabled";
    for (const HealthCheck& c : checks) EXPECT_NE(c.id, L"gpu.AMD_ULPS") << "no AMD adapter, no AMD rows";
    RestoreLedger ledger;
    RestoreGpuTweaks(ledger);
}

// Every adapter key gets its record, however many positions older adapters (gone since) hold; a
// gone adapter's record is listed as gone and dropped, never written back into a stray key.
TEST_F(Gpu, EveryAdapterKeyIsRecordedAndAGoneAdaptersRecordIsDropped) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    for (unsigned k = 0; k < 33; ++k) {
        const std::wstring id = FormatText(L"NV_DPS_%02u", k);
        WriteStateString(L"Gpu_" + id + L"_key", AdapterKey(40 + static_cast<int>(k)));
        WriteStateString(L"Gpu_" + id + L"_name", L"DisableDynamicPstate");
        WriteStateDword(L"Gpu_" + id + L"_had", 0);
    }
    ASSERT_TRUE(ApplyGpuTweaks());
    std::wstring key;
    ASSERT_TRUE(ReadStateString(L"Gpu_NV_DPS_33_key", key));
    EXPECT_EQ(key, AdapterKey(0));
    EXPECT_EQ(State(L"Gpu_NV_DPS_33_had"), 0u);
    std::vector<ChangeRow> rows;
    LedgerGpuTweaks(rows);
    const auto gone = std::find_if(rows.begin(), rows.end(), [](const ChangeRow& r) { return r.id == L"gpu.NV_DPS.adapter32"; });
    ASSERT_NE(gone, rows.end());
    EXPECT_EQ(ChangeStateLine(*gone), L"gone (adapter removed): nothing to put back");
    RestoreLedger ledger;
    ASSERT_TRUE(RestoreGpuTweaks(ledger));
    EXPECT_EQ(ledger.FailedCount(), 0);
    EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, AdapterKey(72))) << "no stray key for a gone adapter";
    uint32_t value = 0;
    EXPECT_FALSE(ReadDword(AdapterKey(0), L"DisableDynamicPstate", value));
}

// A profile value that is not a number is the user's own: the plan lists it as left alone and
// the apply leaves it.
TEST_F(Gpu, AProfileValueThatIsNotANumberIsPlannedAsLeftAlone) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    InstallFakeNvapi();
    WriteString(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile", L"00A879CF", L"user text");
    const StepPlan plan = PlanGpuTweaks({});
    const auto vsync = std::find_if(plan.changes.begin(), plan.changes.end(), [](const PlannedChange& c) { return c.row.id == L"gpu.NV_VSYNC"; });
    ASSERT_NE(vsync, plan.changes.end());
    EXPECT_EQ(vsync->row.state, ChangeState::LeftAlone);
    EXPECT_FALSE(static_cast<bool>(vsync->write));
    ASSERT_TRUE(ApplyGpuTweaks());
    EXPECT_EQ(Item(L"NV_VSYNC").status, TweakSkipped);
    EXPECT_TRUE(feed.Logged(L"    NVIDIA setting 0x00A879CF holds a value that is not a number; it is left unchanged."));
    EXPECT_EQ(State(L"GpuDrs_00A879CF_had"), 0xDEADBEEFu) << "nothing recorded for what is not changed";
    RestoreLedger ledger;
    RestoreGpuTweaks(ledger);
}

// Every health check sits in a group the Home screen's health card has a caption for: a group
// without one was dropped from the card while its headline still counted it.
TEST_F(Gpu, EveryHealthGroupHasACaption) {
    AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA");
    std::vector<std::wstring> groups;
    for (const HealthGroupCaption& group : HealthGroups()) groups.push_back(group.name);
    for (const HealthCheck& check : RunHealthChecks(nullptr)) {
        EXPECT_NE(std::find(groups.begin(), groups.end(), check.group), groups.end()) << ToUtf8(check.id) << " " << ToUtf8(check.group);
    }
}
