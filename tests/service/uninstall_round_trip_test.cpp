// The uninstall's promise: every setting comes back exactly as it was before the program first
// touched it, after repeated runs, hardening, a cancelled run, any prior type of value, any
// service start type and any order of steps. Each test seeds a prior state, runs the steps the
// way users do, uninstalls, and compares a full export of what the steps touch with the seed.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <tuple>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"
#include "gpu/gpu_catalogue.h"
#include "gpu/gpu_tweaks.h"
#include "health/guard.h"
#include "service/service_install.h"
#include "support/fakes.h"
#include "support/registry_export.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/power_rows.h"
#include "tweaks/restore_point.h"
#include "tweaks/tweak_walk.h"

namespace {

constexpr GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
constexpr GUID kHighPerformance{0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};
constexpr GUID kSaver{0xa1841308, 0x3541, 0x4fab, {0xbc, 0x81, 0xf7, 0x15, 0x56, 0xf2, 0x0b, 0x4a}};
constexpr const wchar_t* kPowerSettings = L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
constexpr const wchar_t* kRestoreKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
constexpr const wchar_t* kFrequency = L"SystemRestorePointCreationFrequency";
constexpr const wchar_t* kFakeNvapi = L"Software\\QuorvantisTests\\FakeNvapi";

std::wstring AdapterKey(int index) { return ScopedDisplayAdapters::Key(index); }

// A service of the test prefix whose program does not exist, so starting it fails fast.
void CreateDummyService(const wchar_t* name, DWORD startType) {
    CreateTestService(name, L"C:\\nowhere\\missing-service.exe", startType);
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_CHANGE_CONFIG));
    SC_ACTION restarts[2] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 120000}};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = 3600;
    actions.cActions = 2;
    actions.lpsaActions = restarts;
    if (service) ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
}

// Start type and restart actions of a service, as text; "absent" when it does not exist.
std::wstring ServiceSettings(const wchar_t* name) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG));
    if (!service) return L"absent";
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()), 8192, &needed)) {
        return L"unreadable";
    }
    std::wstring text = FormatText(L"start %lu", reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType);
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), 8192, &needed)) {
        const auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
        text += FormatText(L", reset %lu", actions->dwResetPeriod);
        for (DWORD i = 0; i < actions->cActions; ++i) {
            text += FormatText(L", action %d after %lu", static_cast<int>(actions->lpsaActions[i].Type),
                               actions->lpsaActions[i].Delay);
        }
    }
    return text;
}

// Runs a step twice, as "writing them again to harden and verify" does, then a third time
// cancelled once its first setting has been written.
template <typename Step>
void ApplyTwiceThenCancelled(Step step) {
    {
        RecordingFeed feed;
        const ScopedFeed scope(&feed);
        step();
        step();
    }
    RecordingFeed cancelling;
    cancelling.cancelFrom = 2;
    const ScopedFeed scope(&cancelling);
    step();
}

class UninstallRoundTrip : public testing::Test {
protected:
    ScopedMachineState machine;
    TempFolder folder;
    TempFolder programFiles;
    ScopedProgramFolders folders{folder.Path(), programFiles.Path()};
    FakePowerStore store;
    FakeTool powercfg{SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log")};
    FakeTool fsutil{SystemToolPath(L"fsutil.exe"), folder.File(L"tools.log")};
    FakeTool schtasks{L"C:\\Windows\\System32\\schtasks.exe", folder.File(L"tools.log")};
    std::unique_ptr<FakeTool> powershell;
    FakeDisks disks{{DiskCacheOutcome::Enabled}};

    void SetUp() override {
        powershell = std::make_unique<FakeTool>(PowerShellPath(), folder.File(L"tools.log"));
        // Three plans and Windows' hidden Ultimate Performance template, each with its own values
        // of every row the steps write; one value of the user's plan has never been set.
        store.followPowercfg = true;
        store.schemes = {kBalanced, kHighPerformance, kSaver};
        uint32_t value = 7;
        for (const GUID& scheme : {kBalanced, kHighPerformance, kSaver, FakePowerStore::kUltimateTemplate}) {
            for (const auto rows : {CpuTuneRows(), StoragePowerRows()}) {
                for (const PowerSettingRow& row : rows) {
                    store.SetIn(scheme, row.setting, PowerSource::Ac, ++value);
                    store.SetIn(scheme, row.setting, PowerSource::Dc, ++value);
                }
            }
        }
        store.active = kBalanced;
        store.ResetValue(kBalanced, CpuTuneRows()[3].subgroup, CpuTuneRows()[3].setting, PowerSource::Dc);
        // Windows hides some settings from Power Options; unhiding them is on record too.
        store.Hide(StoragePowerRows()[2].subgroup, StoragePowerRows()[2].setting);
    }
    void TearDown() override { SetFakeMemoryCompression(FakeCompression::Absent); }

    // Every value of every plan and which plan is active.
    std::map<std::tuple<std::wstring, std::wstring, int>, uint32_t> PowerPlans() {
        std::map<std::tuple<std::wstring, std::wstring, int>, uint32_t> plans;
        GUID active{};
        store.GetActiveScheme(active);
        for (const GUID& scheme : store.schemes) {
            for (const auto rows : {CpuTuneRows(), StoragePowerRows()}) {
                for (const PowerSettingRow& row : rows) {
                    for (const PowerSource source : {PowerSource::Ac, PowerSource::Dc}) {
                        plans[{GuidText(scheme), row.alias, static_cast<int>(source)}] =
                            store.ValueIn(scheme, row.setting, source);
                    }
                }
            }
        }
        plans[{L"active plan", GuidText(active), 0}] = 0;
        return plans;
    }

    using Plans = std::map<std::tuple<std::wstring, std::wstring, int>, uint32_t>;
    static void ExpectSamePlans(const Plans& before, const Plans& after) {
        std::wstring differences;
        for (const auto& [where, value] : before) {
            const auto it = after.find(where);
            const uint32_t now = it == after.end() ? 0xDEADBEEF : it->second;
            if (now != value) {
                differences += FormatText(L"%ls %ls %ls: %lu now %lu\n", std::get<0>(where).c_str(),
                                          std::get<1>(where).c_str(), std::get<2>(where) == 0 ? L"AC" : L"DC", value, now);
            }
        }
        EXPECT_TRUE(differences.empty()) << ToUtf8(differences);
    }
    static void ExpectSame(const RegistryExport& before, const RegistryExport& after, const wchar_t* what) {
        EXPECT_EQ(before, after) << ToUtf8(what) << ":\n" << ToUtf8(DescribeDifference(before, after));
    }
    static void ExpectStateKeyGone() {
        EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, kStateKey))
            << ToUtf8(DescribeDifference({}, ExportRegistry(RegRoot::LocalMachine, kStateKey)));
    }
};

class CpuTuneUndo : public UninstallRoundTrip, public testing::WithParamInterface<SeedKind> {};

}  // namespace

TEST_P(CpuTuneUndo, RepeatedHardenedAndCancelledRunsUndoToTheSeed) {
    SeedValue(RegRoot::LocalMachine, kKernelKey, L"ThreadDpcEnable", GetParam(), 1);
    const std::wstring perfCheckKey = std::wstring(kPowerSettings) + L"\\" + GuidText(CpuTuneRows()[4].subgroup) +
                                      L"\\" + GuidText(CpuTuneRows()[4].setting);
    SeedValue(RegRoot::LocalMachine, perfCheckKey, L"Attributes", GetParam(), 1);
    const RegistryExport kernel = ExportRegistry(RegRoot::LocalMachine, kKernelKey);
    const RegistryExport attributes = ExportRegistry(RegRoot::LocalMachine, kPowerSettings);
    const auto plans = PowerPlans();

    ApplyTwiceThenCancelled([] { ApplyCpuTune(); });
    EXPECT_EQ(GuidText(store.active), GuidText(UltimateCopyScheme())) << "CPU Tune switched to Ultimate Performance";
    HardenArea(L"ppm");  // every plan, the user's own included
    EXPECT_EQ(store.ValueIn(kSaver, CpuTuneRows()[4].setting, PowerSource::Ac), 5000u);
    { ApplyCpuTune(); }

    EXPECT_TRUE(UninstallEverything());
    ExpectSamePlans(plans, PowerPlans());
    ExpectSame(kernel, ExportRegistry(RegRoot::LocalMachine, kKernelKey), L"kernel key");
    ExpectSame(attributes, ExportRegistry(RegRoot::LocalMachine, kPowerSettings), L"power setting attributes");
    ExpectStateKeyGone();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, perfCheckKey.c_str(), L"Attributes");
}

INSTANTIATE_TEST_SUITE_P(EveryPriorValue, CpuTuneUndo,
                         testing::Values(SeedKind::Absent, SeedKind::Dword, SeedKind::String, SeedKind::Binary,
                                         SeedKind::Qword, SeedKind::ShortDword),
                         [](const testing::TestParamInfo<SeedKind>& p) { return ToUtf8(SeedKindName(p.param)); });

TEST_F(UninstallRoundTrip, ACancelledFirstRunIsUndonePlanSwitchIncluded) {
    const auto plans = PowerPlans();
    RecordingFeed cancelling;
    cancelling.cancelFrom = 2;
    {
        const ScopedFeed scope(&cancelling);
        EXPECT_FALSE(ApplyCpuTune());
    }
    uint32_t applied = 0;
    EXPECT_FALSE(ReadStateDword(L"PpmApplied", applied)) << "the run never completed";
    EXPECT_EQ(GuidText(store.active), GuidText(UltimateCopyScheme()));
    EXPECT_TRUE(UninstallEverything());
    ExpectSamePlans(plans, PowerPlans());
    ExpectStateKeyGone();
}

TEST_F(UninstallRoundTrip, CpuTuneThenStoragePutBothPlansBackAndTheUserPlanActive) {
    const auto plans = PowerPlans();
    ASSERT_TRUE(ApplyCpuTune());
    ASSERT_TRUE(ApplyStorage());  // writes into Ultimate Performance, now the active plan
    EXPECT_EQ(store.ValueIn(UltimateCopyScheme(), StoragePowerRows()[0].setting, PowerSource::Ac), 0u);
    EXPECT_TRUE(UninstallEverything());
    ExpectSamePlans(plans, PowerPlans());
    ExpectStateKeyGone();
}

// A plan the user deleted after the guard hardened it has nothing left to put back: its records
// are dropped, and nothing is written into it (which would make a phantom plan).
TEST_F(UninstallRoundTrip, APlanTheUserDeletedIsNeitherWrittenNorKeptOnRecord) {
    ASSERT_TRUE(ApplyCpuTune());
    HardenArea(L"ppm");  // every plan gets the rows, each with its own record
    store.schemes = {kBalanced, kHighPerformance, UltimateCopyScheme()};  // the user deleted Power saver
    RecordingFeed feed;
    {
        const ScopedFeed scope(&feed);
        EXPECT_TRUE(UninstallEverything());
    }
    EXPECT_EQ(store.unknownPlanWrites, 0);
    EXPECT_TRUE(feed.Logged(L"The power plan {" + GuidText(kSaver) + L"} no longer exists; its recorded"));
    EXPECT_EQ(GuidText(store.active), GuidText(kBalanced));
    EXPECT_FALSE(store.Listed(UltimateCopyScheme())) << "the plan CPU Tune made is gone too";
    ExpectStateKeyGone();
}

TEST_F(UninstallRoundTrip, AnUninstallThatCannotWriteSomeValuesKeepsTheirRecordsForTheNextOne) {
    const auto plans = PowerPlans();
    ASSERT_TRUE(ApplyCpuTune());
    const PowerSettingRow& stuck = CpuTuneRows()[6];
    store.unwritable.insert(GuidText(stuck.setting));
    RecordingFeed feed;
    {
        const ScopedFeed scope(&feed);
        EXPECT_FALSE(UninstallEverything());
    }
    EXPECT_TRUE(feed.Logged(L"ERROR: 1 setting(s) could not be restored; their records are kept. Run --uninstall again "
                            L"to retry them."));
    uint32_t had = 0;
    EXPECT_TRUE(ReadStateDword(std::wstring(L"Ppm_") + stuck.alias + L"_hadAc", had));
    EXPECT_FALSE(ReadStateDword(L"Ppm_PERFCHECK_hadAc", had)) << "what was restored is off the record";
    EXPECT_FALSE(ReadStateDword(L"PpmApplied", had));
    EXPECT_EQ(GuidText(store.active), GuidText(kBalanced)) << "the plan switch does not need the stuck value";

    store.unwritable.clear();
    EXPECT_TRUE(UninstallEverything());
    ExpectSamePlans(plans, PowerPlans());
    ExpectStateKeyGone();
}

namespace {

class StorageUndo : public UninstallRoundTrip, public testing::WithParamInterface<DWORD> {
protected:
    void SetUp() override {
        UninstallRoundTrip::SetUp();
        if (GetParam() != 0) CreateDummyService(L"SysMain", GetParam());
    }
    void TearDown() override {
        DeleteTestService(L"SysMain");
        UninstallRoundTrip::TearDown();
    }
};

}  // namespace

TEST_P(StorageUndo, RepeatedHardenedAndCancelledRunsUndoToTheSeed) {
    const RegistryExport attributes = ExportRegistry(RegRoot::LocalMachine, kPowerSettings);
    const std::wstring sysMain = ServiceSettings(L"SysMain");
    const auto plans = PowerPlans();

    ApplyTwiceThenCancelled([] { ApplyStorage(); });
    HardenArea(L"storage");
    // Wine keeps no failure actions to read, so only a start type change shows here.
    if (GetParam() == SERVICE_AUTO_START || GetParam() == SERVICE_DEMAND_START) {
        EXPECT_EQ(ServiceSettings(L"SysMain"), L"start 4");
    }

    EXPECT_TRUE(UninstallEverything());
    ExpectSamePlans(plans, PowerPlans());
    EXPECT_EQ(ServiceSettings(L"SysMain"), sysMain);
    ExpectSame(attributes, ExportRegistry(RegRoot::LocalMachine, kPowerSettings), L"power setting attributes");
    ExpectStateKeyGone();
}

INSTANTIATE_TEST_SUITE_P(EverySysMainStart, StorageUndo,
                         testing::Values(DWORD{0}, DWORD{SERVICE_AUTO_START}, DWORD{SERVICE_DEMAND_START},
                                         DWORD{SERVICE_DISABLED}),
                         [](const testing::TestParamInfo<DWORD>& p) {
                             return p.param == 0 ? std::string("Absent") : "Start" + std::to_string(p.param);
                         });

namespace {

class MemoryUndo : public UninstallRoundTrip, public testing::WithParamInterface<FakeCompression> {};

}  // namespace

TEST_P(MemoryUndo, CompressionComesBackOnlyIfItWasOn) {
    const FakeTool wmic(SystemToolPath(L"wbem\\wmic.exe"), folder.File(L"tools.log"));
    SetFakeMemoryCompression(GetParam());
    const bool written = ApplyMemory();
    EXPECT_TRUE(written) << "the pagefile item is written by the fake tool";
    HardenArea(L"memory");
    ApplyMemory();
    if (GetParam() != FakeCompression::Absent) {
        EXPECT_EQ(FakeMemoryCompression(), FakeCompression::Off);
    }
    EXPECT_TRUE(UninstallEverything());
    EXPECT_EQ(FakeMemoryCompression(), GetParam());
    ExpectStateKeyGone();
}

INSTANTIATE_TEST_SUITE_P(EveryPriorState, MemoryUndo,
                         testing::Values(FakeCompression::On, FakeCompression::Off, FakeCompression::Absent),
                         [](const testing::TestParamInfo<FakeCompression>& p) {
                             return std::string(p.param == FakeCompression::On    ? "On"
                                                : p.param == FakeCompression::Off ? "Off"
                                                                                     : "NoCmdlets");
                         });

namespace {

// NVIDIA, AMD and Intel adapters (with their PCI ids), the stand-in driver library and the
// telemetry service, every catalogue value seeded with one kind of prior value.
class GpuUndo : public UninstallRoundTrip, public testing::WithParamInterface<std::tuple<SeedKind, DWORD>> {
protected:
    void SetUp() override {
        UninstallRoundTrip::SetUp();
        adapters_ = std::make_unique<ScopedDisplayAdapters>();
        AddAdapter(0, L"NVIDIA GeForce RTX 4070", L"NVIDIA", L"PCI\\VEN_10DE&DEV_2786&SUBSYS_51411462");
        AddAdapter(1, L"AMD Radeon RX 7900 XTX", L"Advanced Micro Devices, Inc.", L"PCI\\VEN_1002&DEV_744C");
        AddAdapter(2, L"Intel(R) UHD Graphics 770", L"Intel Corporation", L"PCI\\VEN_8086&DEV_4680");
        nvapi_ = std::make_unique<FakeLibrary>(L"fake_nvapi64.dll", L"nvapi64.dll");
        if (std::get<1>(GetParam()) != 0) CreateDummyService(L"NvTelemetryContainer", std::get<1>(GetParam()));
    }
    void TearDown() override {
        for (const auto& [root, key] : Keys()) {
            if (key.rfind(kDisplayClassKey, 0) != 0) RestoreExport(root, key);
        }
        adapters_.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuorvantisTests");
        RegDeleteTreeW(HKEY_CURRENT_USER, kFakeNvapi);
        nvapi_.reset();
        DeleteTestService(L"NvTelemetryContainer");
        UninstallRoundTrip::TearDown();
    }

    static void AddAdapter(int index, const wchar_t* desc, const wchar_t* provider, const wchar_t* hardwareId) {
        WriteString(RegRoot::LocalMachine, AdapterKey(index), L"DriverDesc", desc);
        WriteString(RegRoot::LocalMachine, AdapterKey(index), L"ProviderName", provider);
        WriteString(RegRoot::LocalMachine, AdapterKey(index), L"MatchingDeviceId", hardwareId);
    }

    // Every key a catalogue row writes, in both hives, plus the adapters and the driver store.
    static std::vector<std::pair<RegRoot, std::wstring>> Keys() {
        std::vector<std::pair<RegRoot, std::wstring>> keys;
        for (const GpuTweak& row : GpuCatalogue()) {
            if (row.kind != GpuTweakKind::Registry || row.perAdapter) continue;
            for (const RegRoot root : {RegRoot::LocalMachine, RegRoot::CurrentUser}) {
                if (std::find(keys.begin(), keys.end(), std::make_pair(root, std::wstring(row.keyPath))) == keys.end()) {
                    keys.emplace_back(root, row.keyPath);
                }
            }
        }
        for (int i = 0; i < 3; ++i) keys.emplace_back(RegRoot::LocalMachine, AdapterKey(i));
        keys.emplace_back(RegRoot::CurrentUser, std::wstring(kFakeNvapi) + L"\\Profile");
        return keys;
    }
    std::map<std::wstring, RegistryExport> ExportAll() {
        std::map<std::wstring, RegistryExport> all;
        for (const auto& [root, key] : Keys()) {
            all[(root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKLM\\") + key] = ExportRegistry(root, key);
        }
        return all;
    }
    // The machine's own values under a key, put back after the test.
    void RestoreExport(RegRoot root, const std::wstring& key) {
        const auto it = saved_.find((root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKLM\\") + key);
        if (it == saved_.end()) return;
        for (const GpuTweak& row : GpuCatalogue()) {
            if (row.kind == GpuTweakKind::Registry && !row.perAdapter && key == row.keyPath) {
                DeleteRegistryValue(root, key, row.valueName);
            }
        }
        for (const auto& [name, value] : it->second.values) {
            if (name.rfind(L":", 0) == 0) WriteRawValue(root, key, name.substr(1), value);
        }
    }

    std::map<std::wstring, RegistryExport> saved_;
    std::unique_ptr<ScopedDisplayAdapters> adapters_;
    std::unique_ptr<FakeLibrary> nvapi_;
};

}  // namespace

TEST_P(GpuUndo, RepeatedHardenedAndCancelledRunsUndoToTheSeed) {
    saved_ = ExportAll();
    const SeedKind kind = std::get<0>(GetParam());
    uint32_t number = 3;
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind != GpuTweakKind::Registry) continue;
        if (row.perAdapter) {
            for (int i = 0; i < 3; ++i) SeedValue(RegRoot::LocalMachine, AdapterKey(i), row.valueName, kind, ++number);
            continue;
        }
        SeedValue(RegRoot::LocalMachine, row.keyPath, row.valueName, kind, ++number);
        SeedValue(RegRoot::CurrentUser, row.keyPath, row.valueName, kind, ++number);
    }
    if (kind == SeedKind::Absent) {
        // A policy key that does not exist yet: the step creates it, the uninstall removes it.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\GameDVR");
    }
    const std::wstring profile = std::wstring(kFakeNvapi) + L"\\Profile";
    SeedValue(RegRoot::CurrentUser, profile, L"1057EB71", SeedKind::Dword, 0);    // NV_PWR: a number
    SeedValue(RegRoot::CurrentUser, profile, L"1075D972", SeedKind::Binary, 9);   // NV_ANSEL: not a number
    const auto before = ExportAll();
    const std::wstring telemetry = ServiceSettings(L"NvTelemetryContainer");

    ApplyTwiceThenCancelled([] { ApplyGpuTweaks(); });
    ExpectSame(before.at(L"HKLM\\" + AdapterKey(2)), ExportRegistry(RegRoot::LocalMachine, AdapterKey(2)),
               L"Intel Corporation is not AMD");
    uint32_t value = 0;
    EXPECT_TRUE(ReadDwordIn(RegRoot::LocalMachine, AdapterKey(1), L"EnableUlps", value) && value == 0);
    HardenArea(L"gpu");
    ApplyGpuTweaks();

    EXPECT_TRUE(UninstallEverything());
    const auto after = ExportAll();
    for (const auto& [key, exported] : before) ExpectSame(exported, after.at(key), key.c_str());
    EXPECT_EQ(ServiceSettings(L"NvTelemetryContainer"), telemetry);
    ExpectStateKeyGone();
}

INSTANTIATE_TEST_SUITE_P(
    EveryPriorValue, GpuUndo,
    testing::Values(std::make_tuple(SeedKind::Absent, DWORD{0}), std::make_tuple(SeedKind::Dword, DWORD{SERVICE_AUTO_START}),
                    std::make_tuple(SeedKind::String, DWORD{SERVICE_DEMAND_START}),
                    std::make_tuple(SeedKind::Binary, DWORD{SERVICE_DISABLED}),
                    std::make_tuple(SeedKind::ShortDword, DWORD{SERVICE_AUTO_START})),
    [](const testing::TestParamInfo<std::tuple<SeedKind, DWORD>>& p) {
        return ToUtf8(SeedKindName(std::get<0>(p.param))) + "Service" + std::to_string(std::get<1>(p.param));
    });

namespace {

class RestoreFrequencyUndo : public UninstallRoundTrip, public testing::WithParamInterface<SeedKind> {};

}  // namespace

TEST_P(RestoreFrequencyUndo, EveryPrepareRunLeavesTheCreationFrequencyAsItWas) {
    SeedValue(RegRoot::LocalMachine, kRestoreKey, kFrequency, GetParam(), 1440);
    const RegistryExport before = ExportRegistry(RegRoot::LocalMachine, kRestoreKey);
    FakeRestoreClient client;
    ApplyTwiceThenCancelled([] { RunPrepare(); });
    EXPECT_EQ(client.frequencyDuringCall, 0);
    ExpectSame(before, ExportRegistry(RegRoot::LocalMachine, kRestoreKey), L"after the runs");
    EXPECT_TRUE(UninstallEverything());
    ExpectSame(before, ExportRegistry(RegRoot::LocalMachine, kRestoreKey), L"after the uninstall");
}

INSTANTIATE_TEST_SUITE_P(EveryPriorValue, RestoreFrequencyUndo,
                         testing::Values(SeedKind::Absent, SeedKind::Dword, SeedKind::String, SeedKind::Binary),
                         [](const testing::TestParamInfo<SeedKind>& p) { return ToUtf8(SeedKindName(p.param)); });
