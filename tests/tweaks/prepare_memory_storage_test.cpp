// Prepare, Memory and Storage with fake tools in the prefix's system folder, the System Restore
// client faked, fake disks, and SysMain as a real service of the test prefix.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "support/wait.h"
#include "tweaks/memory_storage.h"
#include "tweaks/power_rows.h"
#include "tweaks/restore_point.h"
#include "service/step_ledger.h"
#include "foundation/change_plan.h"

namespace {

constexpr const wchar_t* kRestoreKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
constexpr const wchar_t* kFrequency = L"SystemRestorePointCreationFrequency";

class Tweaks : public testing::Test {
protected:
    ScopedMachineState machine{L"QV_FAKE_EXIT_powershell", L"QV_FAKE_EXIT_wmic", L"QV_FAKE_EXIT_fsutil",
                               L"QV_FAKE_EXIT_powercfg"};
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    RecordingFeed feed;
    ScopedFeed feedScope{&feed};

    void SetUp() override {
        powershell = std::make_unique<FakeTool>(PowerShellPath(), Log());
    }
    void TearDown() override { SetFakeMemoryCompression(FakeCompression::Absent); }

    std::wstring Log() const { return folder.File(L"tools.log"); }
    std::vector<std::wstring> Calls() const { return ToolCalls(Log()); }
    static uint32_t State(const wchar_t* name) {
        uint32_t value = 0xDEADBEEF;
        ReadStateDword(name, value);
        return value;
    }
    const TweakItem& Item(const wchar_t* alias) {
        for (const TweakItem& item : feed.itemLists.back()) {
            if (item.alias == alias) return item;
        }
        throw std::logic_error("no such item");
    }

    std::unique_ptr<FakeTool> powershell;
};

// A SysMain service in the test prefix whose program does not exist, so starting it fails fast.
class FakeSysMain {
public:
    explicit FakeSysMain(DWORD startType) {
        CreateTestService(L"SysMain", L"C:\\nowhere\\sysmain-missing.exe", startType);
    }
    ~FakeSysMain() { DeleteTestService(L"SysMain"); }
    static DWORD StartType() {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle service(OpenServiceW(manager.get(), L"SysMain", SERVICE_QUERY_CONFIG));
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        if (!QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()), 8192, &needed)) {
            return 0xFFFFFFFF;
        }
        return reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    }
};

}  // namespace

TEST_F(Tweaks, PrepareCreatesTheRestorePointWithTheCreationFrequencyLiftedForThatCallOnly) {
    WriteDword(RegRoot::LocalMachine, kRestoreKey, kFrequency, 1440);
    FakeRestoreClient client;
    EXPECT_TRUE(RunPrepare());
    EXPECT_EQ(client.frequencyDuringCall, 0) << "Windows would otherwise skip it and still report success";
    uint32_t frequency = 0;
    ASSERT_TRUE(ReadDword(kRestoreKey, kFrequency, frequency));
    EXPECT_EQ(frequency, 1440u);
    EXPECT_EQ(State(L"RestoreFrequencyHad"), 0xDEADBEEFu) << "the record goes once the value is back";
    EXPECT_EQ(client.events, (std::vector<uint32_t>{100, 101}));
    EXPECT_EQ(client.sequencesGiven, (std::vector<int64_t>{0, 42}));
    EXPECT_EQ(Item(L"RESTOREPT").detail, L"restore point #42 created");
    EXPECT_EQ(Item(L"RESTOREPT").status, TweakWritten);
    EXPECT_EQ(Item(L"SYSPROTECT").detail, L"System Protection enabled (or already on)");
    EXPECT_EQ(State(L"PrepareApplied"), 1u);
    EXPECT_EQ(State(L"RestorePointOk"), 1u);
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_NE(Calls()[0].find(L"-Command \"Enable-ComputerRestore -Drive 'C:\\' -ErrorAction SilentlyContinue\""),
              std::wstring::npos);
}

TEST_F(Tweaks, PrepareReportsARefusedOrMissingRestorePointAndStillCompletes) {
    FakeRestoreClient client;
    client.succeed = false;
    client.refusalStatus = 1058;
    SetFakeSwitch(L"QV_FAKE_EXIT_powershell", L"1");
    EXPECT_TRUE(RunPrepare());
    EXPECT_EQ(Item(L"RESTOREPT").detail,
              L"System Restore refused the checkpoint (status 1058). Enable it in System Protection.");
    EXPECT_EQ(Item(L"RESTOREPT").status, TweakFailed);
    EXPECT_EQ(Item(L"SYSPROTECT").detail, L"Enable-ComputerRestore returned a warning; continuing");
    EXPECT_EQ(Item(L"SYSPROTECT").status, TweakWritten);
    EXPECT_EQ(State(L"PrepareApplied"), 1u);
    EXPECT_EQ(State(L"RestorePointOk"), 0xDEADBEEFu);
    uint32_t frequency = 0;
    EXPECT_FALSE(ReadDword(kRestoreKey, kFrequency, frequency)) << "an absent setting is absent again";

    client.availability = SystemRestoreClient::Availability::NotInstalled;
    std::wstring text;
    EXPECT_FALSE(CreateRestorePoint(text));
    EXPECT_EQ(text, L"srclient.dll not available (System Restore is not installed)");
    client.availability = SystemRestoreClient::Availability::EntryMissing;
    EXPECT_FALSE(CreateRestorePoint(text));
    EXPECT_EQ(text, L"SRSetRestorePointW missing");
}

TEST_F(Tweaks, AProgramThatDiesInsideTheRestorePointCallHasTheFrequencyPutBackByTheNextStart) {
    WriteDword(RegRoot::LocalMachine, kRestoreKey, kFrequency, 1440);
    const FakeLibrary srclient(L"fake_srclient.dll", L"srclient.dll");
    WriteDword(RegRoot::CurrentUser, L"Software\\QuorvantisTests\\FakeSrClient", L"BlockMs", 60000);
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    std::wstring commandLine = L"\"" + program + L"\" --apply-prepare --no-pause";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &info));
    const UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    uint32_t frequency = 1440;
    WaitUntil([&] { return ReadDword(kRestoreKey, kFrequency, frequency) && frequency == 0; }, 30000, 100);
    ASSERT_EQ(frequency, 0u) << "the program is inside SRSetRestorePointW";
    // A second copy started meanwhile must not put the value back under the first one's feet:
    // the first would then leave 0 for good when it finishes.
    RunProgram(program, L"--status");
    RunProgram(program, L"--stop");  // refused: the first copy holds the single-instance lock
    ASSERT_TRUE(ReadDword(kRestoreKey, kFrequency, frequency));
    EXPECT_EQ(frequency, 0u);
    EXPECT_EQ(State(L"RestoreFrequencyHad"), 1u);
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 10000);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorvantisTests\\FakeSrClient");
    EXPECT_EQ(State(L"RestoreFrequencyHad"), 1u);

    RunProgram(program, L"--stop");  // the next start that takes the lock
    ASSERT_TRUE(ReadDword(kRestoreKey, kFrequency, frequency));
    EXPECT_EQ(frequency, 1440u);
    EXPECT_EQ(State(L"RestoreFrequencyHad"), 0xDEADBEEFu);
}

// The paging file of the test prefix, as Windows keeps it, put back after each test.
class ScopedPagingFiles {
public:
    explicit ScopedPagingFiles(const std::wstring& entries) {
        had_ = ReadRawValue(RegRoot::LocalMachine, kKey, L"PagingFiles", saved_);
        Set(entries);
    }
    ~ScopedPagingFiles() {
        if (had_) WriteRawValue(RegRoot::LocalMachine, kKey, L"PagingFiles", saved_);
        else DeleteRegistryValue(RegRoot::LocalMachine, kKey, L"PagingFiles");
    }
    // Entries separated by "|"; empty: no paging file at all.
    static void Set(const std::wstring& entries) {
        std::wstring stored = entries;
        for (wchar_t& c : stored) c = c == L'|' ? L'\0' : c;
        stored.append(entries.empty() ? 1 : 2, L'\0');
        RegistryValue value{REG_MULTI_SZ, std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(stored.data()),
                                                              reinterpret_cast<const uint8_t*>(stored.data() + stored.size()))};
        WriteRawValue(RegRoot::LocalMachine, kKey, L"PagingFiles", value);
    }
    static RegistryValue Current() {
        RegistryValue value;
        ReadRawValue(RegRoot::LocalMachine, kKey, L"PagingFiles", value);
        return value;
    }
    static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

private:
    bool had_ = false;
    RegistryValue saved_;
};

// Current Windows 11 has no wmic: the paging file is set through WMI's own cmdlets, and only a
// machine without any paging file gets one; uninstall puts back what was there.
TEST_F(Tweaks, MemoryGivesAMachineWithoutAPagingFileOneThroughCimAndUninstallPutsItBack) {
    const std::wstring wmicPath = SystemToolPath(L"wbem\\wmic.exe");
    const bool hadWmic = FileExists(wmicPath);
    if (hadWmic) MoveFileExW(wmicPath.c_str(), (wmicPath + L".away").c_str(), MOVEFILE_REPLACE_EXISTING);
    const ScopedPagingFiles pagingFiles(L"");
    const RegistryValue before = ScopedPagingFiles::Current();
    SetFakeMemoryCompression(FakeCompression::On);
    EXPECT_TRUE(ApplyMemory());
    if (hadWmic) MoveFileExW((wmicPath + L".away").c_str(), wmicPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    // The paging file through CIM; compression read (for the plan, then for its record) before it is turned off.
    const std::vector<std::wstring> calls = Calls();
    ASSERT_EQ(calls.size(), 4u);
    const std::wstring read = L"exit (10 + [int]$a.MemoryCompression)";
    EXPECT_NE(calls[0].find(read), std::wstring::npos);
    EXPECT_NE(calls[1].find(L"Set-CimInstance -Property @{AutomaticManagedPagefile=$true}"), std::wstring::npos);
    EXPECT_NE(calls[2].find(read), std::wstring::npos);
    EXPECT_NE(calls[3].find(L"Disable-MMAgent -MemoryCompression"), std::wstring::npos);
    EXPECT_EQ(Item(L"PAGEFILE").detail, L"AutomaticManagedPagefile = True");
    EXPECT_EQ(Item(L"PAGEFILE").status, TweakWritten);
    EXPECT_EQ(Item(L"MEMCOMP").detail, L"MemoryCompression  \u2192  off");
    EXPECT_EQ(State(L"PagefileHad"), 1u);
    EXPECT_EQ(State(L"MemCompDisabled"), 1u);
    EXPECT_EQ(State(L"MemoryApplied"), 1u);
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::Off);

    // A second run (a repair) finds it managed and records nothing over the original.
    EXPECT_TRUE(ApplyMemory());
    EXPECT_EQ(Item(L"PAGEFILE").detail, L"already managed by Windows");

    RestoreLedger ledger;
    EXPECT_TRUE(RestoreMemory(ledger));
    EXPECT_TRUE(ScopedPagingFiles::Current() == before);
    EXPECT_NE(Calls().back().find(L"Enable-MMAgent -MemoryCompression"), std::wstring::npos);
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::On);
    EXPECT_EQ(ledger.RestoredCount(), 2);
}

TEST_F(Tweaks, AManualPagingFileIsLeftAloneAndNothingIsRecordedForIt) {
    for (const wchar_t* manual : {L"C:\\pagefile.sys 4096 8192", L"C:\\pagefile.sys 0 0|D:\\pagefile.sys 0 0"}) {
        const ScopedPagingFiles pagingFiles(manual);
        const RegistryValue before = ScopedPagingFiles::Current();
        ApplyMemory();
        std::wstring shown = manual;
        for (wchar_t& c : shown) c = c == L'|' ? L';' : c;
        if (shown.find(L';') != std::wstring::npos) shown.insert(shown.find(L';') + 1, L" ");
        EXPECT_EQ(Item(L"PAGEFILE").detail, L"a manual pagefile is set (" + shown + L"); it is left alone");
        EXPECT_EQ(Item(L"PAGEFILE").status, TweakSkipped);
        EXPECT_TRUE(ScopedPagingFiles::Current() == before);
        EXPECT_EQ(State(L"PagefileHad"), 0xDEADBEEFu);
        for (const std::wstring& call : Calls()) EXPECT_EQ(call.find(L"AutomaticManagedPagefile"), std::wstring::npos) << ToUtf8(call);
    }
}

// Where WMI's cmdlets cannot do it (an older or trimmed system), wmic still can, told this
// computer's name by the system.
TEST_F(Tweaks, WithoutCimTheOlderWmicSetsThePagingFileAndToolFailuresFailOnlyTheirItem) {
    const FakeTool wmic(SystemToolPath(L"wbem\\wmic.exe"), Log());
    const ScopedPagingFiles pagingFiles(L"");
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", L"Cim");
    ApplyMemory();
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    const std::vector<std::wstring> calls = Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_NE(calls[1].find(L"Set-CimInstance"), std::wstring::npos);
    EXPECT_EQ(calls[2], L"\"" + SystemToolPath(L"wbem\\wmic.exe") + L"\" computersystem where name=\"" + name +
                            L"\" set AutomaticManagedPagefile=True");
    EXPECT_EQ(Item(L"PAGEFILE").status, TweakWritten);
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", L"MMAgent");
    ApplyMemory();
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", nullptr);
    EXPECT_EQ(Item(L"MEMCOMP").status, TweakFailed);
    EXPECT_EQ(Item(L"MEMCOMP").detail, L"Disable-MMAgent failed (MMAgent cmdlet missing?)");
}

TEST_F(Tweaks, StorageRunsEachToolDisablesSysMainAndRestoresItsStartType) {
    FakePowerStore store;
    for (const PowerSettingRow& row : StoragePowerRows()) store.Set(row.setting, PowerSource::Ac, 1);
    store.unreadable.insert(GuidText(StoragePowerRows()[1].setting));
    const FakeTool fsutil(SystemToolPath(L"fsutil.exe"), Log());
    const FakeTool powercfg(SystemToolPath(L"powercfg.exe"), Log());
    const FakeDisks disks({DiskCacheOutcome::AlreadyOn, DiskCacheOutcome::Failed});
    const FakeSysMain sysMain(SERVICE_AUTO_START);
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", L"disablelastaccess");

    EXPECT_TRUE(ApplyStorage());
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", nullptr);
    EXPECT_EQ(Item(L"ASPM").detail, L"1  \u2192  0");
    EXPECT_EQ(Item(L"DISKIDLE").detail, L"(hidden/unread)  \u2192  0s");
    EXPECT_EQ(State(L"Pwr_ASPM_hadAc"), 1u);
    EXPECT_EQ(State(L"Pwr_DISKIDLE_hadAc"), 0u);
    EXPECT_EQ(State(L"Pwr_DISKIDLE_ac"), 0xDEADBEEFu);
    EXPECT_EQ(Item(L"TRIM").detail, L"DisableDeleteNotify  \u2192  0 (TRIM on)");
    EXPECT_EQ(Item(L"SYSMAIN").detail, L"SysMain stopped and disabled");
    EXPECT_EQ(FakeSysMain::StartType(), static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(State(L"GpuSvc_SysMain_start"), static_cast<uint32_t>(SERVICE_AUTO_START));
    EXPECT_EQ(Item(L"HIBER").detail, L"hibernate off, hiberfil.sys removed");
    EXPECT_EQ(Item(L"WRITECACHE").detail, L"write cache on for 1 disk(s), 1 could not be changed");
    EXPECT_EQ(Item(L"WRITECACHE").status, TweakWritten);
    EXPECT_EQ(Item(L"LASTACCESS").status, TweakFailed);
    EXPECT_EQ(Item(L"LASTACCESS").detail, L"fsutil last-access set failed");
    EXPECT_TRUE(feed.Logged(L"Applied 7 storage tweak(s), 1 failed."));
    EXPECT_EQ(State(L"StorageApplied"), 1u);
    const std::wstring fsutilPath = L"\"" + SystemToolPath(L"fsutil.exe") + L"\" ";
    const std::wstring powercfgPath = L"\"" + SystemToolPath(L"powercfg.exe") + L"\" ";
    const std::vector<std::wstring> calls = Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), fsutilPath + L"behavior set DisableDeleteNotify 0"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), fsutilPath + L"behavior set disablelastaccess 1"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), powercfgPath + L"-h off"), calls.end());

    RestoreLedger ledger;
    EXPECT_TRUE(RestoreStorage(ledger));
    EXPECT_EQ(store.Value(StoragePowerRows()[0].setting, PowerSource::Ac), 1u);
    EXPECT_EQ(FakeSysMain::StartType(), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_TRUE(feed.Logged(L"Restored SysMain start type."));
}

// A USB stick or an SD card keeps quick removal: pulling one out with write caching on loses data.
TEST_F(Tweaks, RemovableDisksKeepQuickRemovalAndCountAsSkipped) {
    FakePowerStore store;
    const FakeTool fsutil(SystemToolPath(L"fsutil.exe"), Log());
    const FakeTool powercfg(SystemToolPath(L"powercfg.exe"), Log());
    FakeDisks disks(std::vector<FakeDisks::Disk>{{DiskCacheOutcome::Enabled, {false, 17}},   // NVMe
                                                 {DiskCacheOutcome::Enabled, {false, 7}},    // a USB drive
                                                 {DiskCacheOutcome::Enabled, {true, 11}},    // removable media
                                                 {DiskCacheOutcome::Enabled, {false, 12}}}); // an SD card
    EXPECT_TRUE(ApplyStorage());
    EXPECT_EQ(disks.enabledAsked, std::vector<int>{0});
    EXPECT_EQ(Item(L"WRITECACHE").detail, L"write cache on for 1 disk(s), 3 removable left alone");
    EXPECT_EQ(Item(L"WRITECACHE").status, TweakWritten);

    FakeDisks onlyRemovable(std::vector<FakeDisks::Disk>{{DiskCacheOutcome::Enabled, {false, 7}}});
    ApplyStorage();
    EXPECT_TRUE(onlyRemovable.enabledAsked.empty());
    EXPECT_EQ(Item(L"WRITECACHE").status, TweakSkipped);
}

TEST_F(Tweaks, WriteCacheOfNoDiskFailsTheItemAndAbsentSysMainStillCountsAsWritten) {
    FakePowerStore store;
    const FakeTool fsutil(SystemToolPath(L"fsutil.exe"), Log());
    const FakeTool powercfg(SystemToolPath(L"powercfg.exe"), Log());
    const FakeDisks disks(std::vector<DiskCacheOutcome>{});
    EXPECT_TRUE(ApplyStorage());
    EXPECT_EQ(Item(L"WRITECACHE").detail, L"write cache on for 0 disk(s)");
    EXPECT_EQ(Item(L"WRITECACHE").status, TweakFailed);
    EXPECT_EQ(Item(L"SYSMAIN").detail, L"SysMain already absent or could not be changed");
    EXPECT_EQ(Item(L"SYSMAIN").status, TweakWritten);
    // Nothing on record for SysMain: the restore leaves services alone.
    RestoreLedger ledger;
    EXPECT_TRUE(RestoreStorage(ledger));
    EXPECT_FALSE(feed.Logged(L"Restored SysMain start type."));
}

// Memory compression's state goes on record before Disable-MMAgent runs: a run that fails (or
// dies) inside the cmdlet leaves the original, and the next run does not record "off".
TEST_F(Tweaks, MemoryCompressionIsOnRecordBeforeItIsTurnedOff) {
    SetFakeMemoryCompression(FakeCompression::On);
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", L"Disable-MMAgent");
    ApplyMemory();
    SetFakeSwitch(L"QV_FAKE_FAIL_IF_CONTAINS", nullptr);
    EXPECT_EQ(Item(L"MEMCOMP").status, TweakFailed);
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::On);
    EXPECT_EQ(State(L"MemCompDisabled"), 1u) << "on, as it was before the cmdlet";
    ApplyMemory();
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::Off);
    EXPECT_EQ(State(L"MemCompDisabled"), 1u);
    RestoreLedger ledger;
    RestoreMemory(ledger);
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::On);
    // Without the cmdlets there is nothing to read, so nothing is turned off blind.
    SetFakeMemoryCompression(FakeCompression::Absent);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    EXPECT_FALSE(TurnOffMemoryCompression());
    EXPECT_EQ(State(L"MemCompDisabled"), 0xDEADBEEFu);
}

// A start type that could not be read when it was recorded puts nothing back, and is not
// counted as restored; the record goes.
TEST_F(Tweaks, AnUnknownStartTypeIsNotRestored) {
    const FakeSysMain sysMain(SERVICE_DEMAND_START);
    WriteStateDword(L"GpuSvc_SysMain_start", 0xFFFFFFFFu);
    std::vector<ChangeRow> rows;
    LedgerStorage(rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(ChangeStateLine(rows[0]), L"gone (start type never read): nothing to put back");
    RestoreLedger ledger;
    RestoreStorage(ledger);
    EXPECT_EQ(ledger.RestoredCount(), 0);
    EXPECT_EQ(ledger.FailedCount(), 0);
    EXPECT_TRUE(ledger.Done().count(L"GpuSvc_SysMain_start"));
    EXPECT_FALSE(feed.Logged(L"Restored SysMain start type."));
    EXPECT_EQ(FakeSysMain::StartType(), static_cast<DWORD>(SERVICE_DEMAND_START));
}

// Storage is put back before Memory: memory compression comes back on only once SysMain is back.
TEST_F(Tweaks, TheUninstallPutsStorageBackBeforeMemory) {
    const FakeSysMain sysMain(SERVICE_AUTO_START);
    FakePowerStore store;
    SetFakeMemoryCompression(FakeCompression::Off);
    WriteStateDword(L"GpuSvc_SysMain_start", SERVICE_AUTO_START);
    WriteStateDword(L"MemCompDisabled", 1);
    RestoreLedger ledger;
    RestoreRecordedSteps(ledger);
    const std::vector<std::wstring> lines = feed.Lines();
    const auto storage = std::find(lines.begin(), lines.end(), L"Restored SysMain start type.");
    const auto memory = std::find(lines.begin(), lines.end(), L"Re-enabled memory compression.");
    ASSERT_NE(storage, lines.end());
    ASSERT_NE(memory, lines.end());
    EXPECT_LT(storage - lines.begin(), memory - lines.begin());
}

// TRIM is read where Windows keeps it, and a one-way change made is on the ledger with its time.
TEST_F(Tweaks, StoragePlansTrimFromItsRealValueAndListsItsOneWayChangesOnceMade) {
    FakePowerStore store;
    const FakeTool fsutil(SystemToolPath(L"fsutil.exe"), Log());
    const FakeTool powercfg(SystemToolPath(L"powercfg.exe"), Log());
    const FakeDisks disks(std::vector<DiskCacheOutcome>{DiskCacheOutcome::Enabled});
    WriteDword(RegRoot::LocalMachine, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", L"DisableDeleteNotification", 1);
    const StepPlan plan = PlanStorage({});
    const auto trim = std::find_if(plan.changes.begin(), plan.changes.end(), [](const PlannedChange& c) { return c.row.id == L"storage.trim"; });
    ASSERT_NE(trim, plan.changes.end());
    EXPECT_EQ(trim->row.current, L"REG_DWORD 1");
    EXPECT_EQ(trim->row.state, ChangeState::WouldChange);
    EXPECT_EQ(trim->row.keeping, ChangeKeeping::OneWay);
    EXPECT_TRUE(ApplyStorage());
    std::vector<ChangeRow> made;
    OneWayChangesMade(made);
    const auto trimMade = std::find_if(made.begin(), made.end(), [](const ChangeRow& r) { return r.id == L"storage.trim"; });
    ASSERT_NE(trimMade, made.end());
    EXPECT_EQ(trimMade->original, L"REG_DWORD 1");
    EXPECT_EQ(trimMade->ours, L"REG_DWORD 0");
    EXPECT_EQ(trimMade->state, ChangeState::OneWayMade);
    EXPECT_EQ(trimMade->reason.size(), 16u) << ToUtf8(trimMade->reason);  // "YYYY-MM-DD hh:mm"
    const std::vector<std::wstring> plan2 = UninstallPlan(RecordedChanges(), true);
    EXPECT_TRUE(std::any_of(plan2.begin(), plan2.end(), [](const std::wstring& line) {
        return line.find(L"leave ") == 0 && line.find(L"storage.trim") != std::wstring::npos;
    }));
    // Already on: run again, nothing is run for it and it is not noted a second time.
    const size_t before = Calls().size();
    EXPECT_TRUE(ApplyStorage());
    const std::vector<std::wstring> calls = Calls();
    EXPECT_EQ(std::count_if(calls.begin() + static_cast<long>(before), calls.end(),
                            [](const std::wstring& c) { return c.find(L"DisableDeleteNotify") != std::wstring::npos; }),
              0);
}
