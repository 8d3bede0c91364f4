// The health catalogue, drift counting and the startup guard against the test prefix: its
// registry and service manager, fake tools at the fixed paths the checks use, the in-memory
// power store, and the Monitor key.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

#include "foundation/state.h"
#include "foundation/windows_version.h"
#include "foundation/system.h"
#include "foundation/unique_handle.h"
#include "foundation/scheduled_task.h"
#include "health/autostart.h"
#include "health/guard.h"
#include "health/health_check.h"
#include "health/monitor.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "service/service_install.h"
#include "service/step_catalogue.h"
#include "service/step_ledger.h"
#include "foundation/text.h"
#include "support/screen_script.h"
#include "support/test_support.h"
#include "support/wait.h"
#include "tweaks/power_rows.h"

namespace {

constexpr const wchar_t* kPowerShell = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";

class HealthMachine : public testing::Test {
protected:
    ScopedMachineState machine{L"QV_FAKE_TOOL_OUTPUT", L"QV_FAKE_EXIT_schtasks"};
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    FakePowerStore store;

    void SetUp() override { DeleteServices(); }
    void TearDown() override { DeleteServices(); }
    static void DeleteServices() {
        for (const wchar_t* name : {L"Quorvantis", L"SysMain"}) DeleteTestService(name);
    }
    static void AddService(const wchar_t* name, const std::wstring& binaryPath, DWORD startType) {
        CreateTestService(name, binaryPath, startType);
    }
    static const HealthCheck& Find(const std::vector<HealthCheck>& checks, const wchar_t* id) {
        for (const HealthCheck& c : checks) {
            if (c.id == id) return c;
        }
        throw std::logic_error("no such check");
    }
    std::wstring Log() const { return folder.File(L"tools.log"); }
};

}  // namespace

// A health check reads what a step changes under the same id as the step's plan: "power.PERFCHECK"
// checks "power.PERFCHECK.ac" and ".dc", "storage.trim" checks "storage.trim". Only the kernel's
// effective period and the installed driver are readings of their own.
TEST_F(HealthMachine, EveryStepCheckNamesAChangeTheStepPlans) {
    const FakeTool powershell(PowerShellPath(), Log());
    SetFakeMemoryCompression(FakeCompression::On);
    std::vector<std::wstring> ids;
    for (const StepEntry& step : StepCatalogue()) {
        if (step.plan == nullptr) continue;
        for (const PlannedChange& change : step.plan({}).changes) ids.push_back(change.row.id);
    }
    // The step by the check's id, not by its repair step: a passing check names none, so counting
    // those made the test depend on what earlier tests had left applied.
    const auto stepOfId = [](const std::wstring& id) -> const StepEntry* {
        for (const StepEntry& step : StepCatalogue()) {
            if (step.idPrefix != nullptr && id.rfind(step.idPrefix, 0) == 0) return &step;
        }
        return nullptr;
    };
    int named = 0;
    std::string seen;  // every check counted, so a short count says which went missing
    for (const HealthCheck& check : RunHealthChecks(nullptr)) {
        // A setting this processor does not expose is listed, not changed.
        // The kernel's period and the installed driver are readings of their own.
        if (check.id == L"timer.effective" || check.id == L"gpu.driver" || check.status == HealthUnsupported ||
            stepOfId(check.id) == nullptr) {
            continue;
        }
        seen += ToUtf8(check.id) + " ";
        ++named;
        const bool planned = std::any_of(ids.begin(), ids.end(), [&](const std::wstring& id) {
            return id == check.id || id.rfind(check.id + L".", 0) == 0;
        });
        EXPECT_TRUE(planned) << ToUtf8(check.id);
    }
    EXPECT_GT(named, 25) << "the power rows, the graphics rows, memory, storage and the timer flag; checks: " << seen;
    SetFakeMemoryCompression(FakeCompression::Absent);
}

TEST_F(HealthMachine, TimerChecksFollowTheServiceTheFlagAndTheKernel) {
    AddService(L"Quorvantis", L"\"C:\\nowhere\\Quorvantis.exe\" --service", SERVICE_DEMAND_START);
    WriteDword(RegRoot::LocalMachine, kKernelKey, L"GlobalTimerResolutionRequests", 1);
    WriteStateDword(L"DesiredResolution", 10040);  // Wine's kernel reports 1 ms: within 0.05 ms
    std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    EXPECT_EQ(Find(checks, L"timer.service").status, HealthAttention);
    EXPECT_EQ(Find(checks, L"timer.service").observed, L"service is installed but not running");
    // The prefix says it is Windows 10 (build 18362), where the flag changes nothing.
    EXPECT_EQ(Find(checks, L"timer.global").status, HealthInformational);
    EXPECT_EQ(Find(checks, L"timer.global").explanation, kPerProcessSentence);
    // From Server 2022 (20348) on the flag is live (Wine 8 cannot pose as that: the build stands in).
    for (const uint32_t build : {20348u, 22631u}) {
        SetWindowsBuildNumber(build);
        const std::vector<HealthCheck> later = RunHealthChecks(nullptr);
        SetWindowsBuildNumber(0);
        EXPECT_EQ(Find(later, L"timer.global").status, HealthPassing) << build;
        EXPECT_EQ(Find(later, L"timer.global").explanation,
                  L"Live. This tweak is currently applied. A reboot is still required before this flag affects every process.");
    }
    EXPECT_EQ(Find(checks, L"timer.effective").status, HealthPassing);
    EXPECT_EQ(Find(checks, L"timer.effective").observed, L"kernel reports 1.0000 ms");

    WriteStateDword(L"DesiredResolution", 5600);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Disabled_timer.global", 1);
    checks = RunHealthChecks(nullptr);
    EXPECT_EQ(Find(checks, L"timer.effective").status, HealthAttention);
    EXPECT_EQ(Find(checks, L"timer.effective").repairStep, L"timer");
    EXPECT_EQ(Find(checks, L"timer.global").status, HealthDisabled);
    // Checks run in their fixed order.
    EXPECT_EQ(checks[0].id, L"timer.service");
    EXPECT_EQ(checks[3].id, L"gpu.driver");
    EXPECT_EQ(checks[9].id, L"power.CPMINCORES");
    EXPECT_EQ(checks.back().id, L"storage.trim");
}

TEST_F(HealthMachine, ToolAnswersAreParsedAndAnythingElseIsNeverAPass) {
    const FakeTool powershell(kPowerShell, Log());
    const FakeTool fsutil(L"C:\\Windows\\System32\\fsutil.exe", Log());
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), Log());
    SetFakeSwitch(L"QV_FAKE_EXIT_schtasks", L"1");
    const struct {
        const wchar_t* output;
        int compression;
        int trim;
    } cases[] = {
        {L"False\r\nDisableDeleteNotify = 0\r\n", HealthPassing, HealthPassing},
        {L"True\r\nNTFS DisableDeleteNotify=0\r\n", HealthAttention, HealthPassing},
        {L"DisableDeleteNotify = 1", HealthUnknown, HealthAttention},
        {L"garbage", HealthUnknown, HealthUnknown},
    };
    for (const auto& c : cases) {
        SetFakeSwitch(L"QV_FAKE_TOOL_OUTPUT", c.output);
        const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
        EXPECT_EQ(Find(checks, L"memory.compression").status, c.compression) << c.output;
        EXPECT_EQ(Find(checks, L"storage.trim").status, c.trim) << c.output;
        EXPECT_EQ(Find(checks, L"util.afterburner-task").observed, L"no Quorvantis Afterburner logon task");
    }
    EXPECT_EQ(Find(RunHealthChecks(nullptr), L"storage.trim").observed, L"garbage");
}

TEST_F(HealthMachine, PowerRowsAreRatedAgainstTheStepChoice) {
    for (const PowerSettingRow& row : CpuTuneRows()) {
        if (std::wstring(row.alias).back() != L'1') store.Set(row.setting, PowerSource::Ac, row.value);
    }
    store.Set(CpuTuneRows()[14].setting, PowerSource::Ac, 50);  // PERFEPP drifted
    store.unreadable.insert(GuidText(CpuTuneRows()[0].setting));  // CPMINCORES unreadable
    std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    EXPECT_EQ(Find(checks, L"power.PERFEPP").status, HealthAttention);
    EXPECT_EQ(Find(checks, L"power.PERFEPP").observed, L"50");
    EXPECT_EQ(Find(checks, L"power.CPMINCORES").status, HealthInaccessible);
    EXPECT_EQ(Find(checks, L"power.CPMINCORES1").status, HealthUnsupported);
    EXPECT_EQ(Find(checks, L"power.PERFCHECK").status, HealthPassing);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Want_cpu", 0);
    checks = RunHealthChecks(nullptr);
    EXPECT_EQ(Find(checks, L"power.PERFEPP").status, HealthInformational);
}

TEST_F(HealthMachine, CancelledRunStopsAndWritesNoSummary) {
    std::atomic<bool> cancel{true};
    EXPECT_TRUE(RunHealthChecks(&cancel).empty());
    EXPECT_FALSE(FileExists(folder.File(L"Quorvantis\\Quorvantis.log")));
    cancel = false;
    RunHealthChecks(&cancel);
    EXPECT_NE(ReadFileBytes(folder.File(L"Quorvantis\\Quorvantis.log")).find("  health  "), std::string::npos);
}

TEST_F(HealthMachine, HealthCommandPrintsTheSummaryThenEveryCheckInOrder) {
    const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    ClearProgramLog();
    const ProgramRun run = RunProgram(BinDirectory() + L"\\Quorvantis.exe", L"--health", 60000);
    EXPECT_EQ(run.exitCode, 0u);
    const std::string log = ReadProgramLog();
    const size_t first = log.find("  [");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("  [Needs attention] Timer Resolution | Timer service | service is not installed\r\n"),
              std::string::npos);
    const size_t lines = static_cast<size_t>(std::count(log.begin() + static_cast<long>(first), log.end(), '['));
    EXPECT_GE(lines, checks.size());
}

TEST_F(HealthMachine, DriftIsCountedPerCheckAndHardensOnTheSecondConsecutiveDrift) {
    HealthCheck drifted;
    drifted.id = L"power.PERFEPP";
    drifted.status = HealthAttention;
    drifted.repairStep = L"ppm";
    HealthCheck afterburner = drifted;
    afterburner.id = L"util.afterburner";
    afterburner.repairStep = L"afterburner";
    HealthCheck noArea = drifted;
    noArea.id = L"gpu.driver";
    noArea.repairStep.clear();
    std::vector<std::wstring> hardened, repaired;
    const auto harden = [&](const std::wstring& a) { hardened.push_back(a); };
    const auto repair = [&](const std::wstring& a) { repaired.push_back(a); };

    // CPU Tune never applied (or uninstalled): reported, never repaired or hardened on its own.
    DriftRepair({drifted}, harden, repair);
    DriftRepair({drifted}, harden, repair);
    EXPECT_TRUE(hardened.empty() && repaired.empty());
    uint32_t count = 0;
    EXPECT_FALSE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_power.PERFEPP", count));

    WriteStateDword(L"PpmApplied", 1);
    DriftRepair({drifted, afterburner, noArea}, harden, repair);
    ASSERT_TRUE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_power.PERFEPP", count));
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(hardened.empty());
    EXPECT_EQ(repaired, std::vector<std::wstring>{L"ppm"});
    EXPECT_FALSE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_util.afterburner", count));
    EXPECT_FALSE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_gpu.driver", count));

    DriftRepair({drifted}, harden, repair);
    ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_power.PERFEPP", count);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(hardened, std::vector<std::wstring>{L"ppm"});

    drifted.status = HealthPassing;
    DriftRepair({drifted}, harden, repair);
    EXPECT_FALSE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_power.PERFEPP", count));
}

TEST_F(HealthMachine, MonitorSettingsDefaultsAndScanHoursRange) {
    MonitorSettings s = LoadMonitorSettings();
    EXPECT_TRUE(s.closeToTray && s.startMinimized && s.launchAtLogin && s.notify);
    EXPECT_FALSE(s.paused || s.maintainTiming || s.trayPrompted);
    EXPECT_EQ(s.scanHours, 6);
    for (const uint32_t stored : {0u, 500u}) {
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"ScanHours", stored);
        EXPECT_EQ(LoadMonitorSettings().scanHours, 6) << stored;
    }
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"ScanHours", 24);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Paused", 7);
    s = LoadMonitorSettings();
    EXPECT_EQ(s.scanHours, 24);
    EXPECT_TRUE(s.paused);
    EXPECT_TRUE(IsStepWanted(L"gpu"));
    std::array<bool, 9> wants{};
    wants[3] = true;
    WriteStepWants(wants);
    EXPECT_TRUE(IsSetupComplete());
    EXPECT_FALSE(IsStepWanted(L"gpu"));
    EXPECT_EQ(ReadStepWants(), wants);
}

TEST_F(HealthMachine, GuardTaskRunsTheInstalledCopyAndReappliesExactlyTheMarkedAreas) {
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), Log(), L"fake_vendor_tool.exe");
    const ScopedEnvironment tasks(L"QV_FAKE_TASKS_DIR", folder.Path().c_str());
    const FakeTool powershell(PowerShellPath(), Log());
    const std::wstring installed = InstalledExePath();
    const bool hadInstalled = FileExists(installed);
    SetFakeMemoryCompression(FakeCompression::On);
    HardenArea(L"memory");
    // Compression is read for its record, turned off, and the task made.
    const std::vector<std::wstring> calls = ToolCalls(Log());
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_NE(calls[0].find(L"exit (10 + [int]$a.MemoryCompression)"), std::wstring::npos);
    EXPECT_NE(calls[1].find(L"Disable-MMAgent -MemoryCompression"), std::wstring::npos);
    EXPECT_EQ(calls[2].rfind(L"\"" + SystemToolPath(L"schtasks.exe") + L"\" /Create /F /TN \"Quorvantis Guard\" /XML ", 0), 0u)
        << ToUtf8(calls[2]);
    EXPECT_EQ(calls[3], L"task Quorvantis Guard: runlevel=HighestAvailable user=S-1-5-18 logon= command=" + installed +
                            L" arguments=--guard");
    // A laptop that starts on battery is kept too, however long it takes, at normal priority.
    EXPECT_EQ(calls[4], L"task Quorvantis Guard: DisallowStartIfOnBatteries=false StopIfGoingOnBatteries=false "
                        L"ExecutionTimeLimit=PT0S Priority=5");
    EXPECT_EQ(FakeMemoryCompression(), FakeCompression::Off);
    EXPECT_TRUE(FileExists(installed)) << "the task never runs a copy the user could replace";
    EXPECT_TRUE(IsGuardSet(L"GuardMemory"));
    EXPECT_FALSE(IsGuardSet(L"GuardPpm"));

    // More than 64 plans: the first 64 get the rows. (Only areas still applied are kept up.)
    for (unsigned i = 0; i < 70; ++i) store.schemes.push_back(GUID{i + 1, 0, 0, {}});
    MarkGuard(L"GuardPpm");
    WriteStateDword(L"PpmApplied", 1);
    WriteStateDword(L"MemoryApplied", 1);
    EXPECT_EQ(RunGuard(), 0);
    const PowerSettingRow& perfCheck = CpuTuneRows()[4];
    EXPECT_EQ(store.ValueIn(store.schemes[63], perfCheck.setting, PowerSource::Dc), 5000u);
    EXPECT_EQ(store.ValueIn(store.schemes[64], perfCheck.setting, PowerSource::Ac), 0xFFFFFFFFu);
    EXPECT_EQ(store.ValueIn(store.schemes[0], StoragePowerRows()[0].setting, PowerSource::Ac), 0xFFFFFFFFu)
        << "storage was never marked";
    EXPECT_EQ(ToolCalls(Log()).size(), 6u) << "the guard run re-applies memory (on record already) without re-creating the task";
    SetFakeMemoryCompression(FakeCompression::Absent);
    if (!hadInstalled) {
        DeleteFileW(installed.c_str());
        RemoveDirectoryW(InstallDirectory().c_str());
    }
}

// After an uninstall the guard's marks may outlive it (a task the uninstall could not delete):
// the guard then has nothing to keep, and changes nothing.
TEST_F(HealthMachine, TheGuardKeepsNothingThatIsNotInstalled) {
    const FakeTool powershell(kPowerShell, Log());
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), Log());
    for (const wchar_t* mark : {L"GuardTimer", L"GuardPpm", L"GuardStorage", L"GuardGpu", L"GuardMemory"}) MarkGuard(mark);
    const PowerSettingRow& perfCheck = CpuTuneRows()[4];
    const uint32_t before = store.ValueIn(store.active, perfCheck.setting, PowerSource::Ac);
    EXPECT_EQ(RunGuard(), 0);
    EXPECT_TRUE(ToolCalls(Log()).empty());
    EXPECT_EQ(store.ValueIn(store.active, perfCheck.setting, PowerSource::Ac), before);
    EXPECT_NE(ReadFileBytes(folder.File(L"Quorvantis\\Quorvantis.log")).find("Startup guard: nothing is installed, so there is nothing to keep."),
              std::string::npos);
}

TEST_F(HealthMachine, StaleTimerServiceWithAMissingProgramIsRemoved) {
    EXPECT_EQ(ExecutableFromBinaryPath(L"\"C:\\Program Files\\Q\\Quorvantis.exe\" --service"),
              L"C:\\Program Files\\Q\\Quorvantis.exe");
    EXPECT_EQ(ExecutableFromBinaryPath(L"C:\\Tools\\q.exe --service"), L"C:\\Tools\\q.exe");
    EXPECT_EQ(ExecutableFromBinaryPath(L"\"C:\\unterminated"), L"C:\\unterminated");
    AddService(L"Quorvantis", L"\"C:\\nowhere at all\\Quorvantis.exe\" --service", SERVICE_DEMAND_START);
    RemoveStaleServices();
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_FALSE(UniqueServiceHandle(OpenServiceW(manager.get(), L"Quorvantis", SERVICE_QUERY_STATUS)));
    AddService(L"Quorvantis", L"\"" + ChildPath() + L"\" --service", SERVICE_DEMAND_START);
    RemoveStaleServices();
    EXPECT_TRUE(UniqueServiceHandle(OpenServiceW(manager.get(), L"Quorvantis", SERVICE_QUERY_STATUS)));
}

// A user who left the timer, memory and storage steps off: those checks inform, and neither the
// minute's repair nor hardening ever touches them.
TEST_F(HealthMachine, StepsTheUserLeftOffAreNeverRepairedOrHardened) {
    const FakeTool powershell(kPowerShell, Log());
    const FakeTool fsutil(L"C:\\Windows\\System32\\fsutil.exe", Log());
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), Log());
    SetFakeSwitch(L"QV_FAKE_TOOL_OUTPUT", L"True\r\nDisableDeleteNotify = 1\r\n");
    std::array<bool, 9> wants{};
    wants.fill(true);
    for (const size_t step : {2u, 7u, 8u}) wants[step] = false;  // hold, memory, storage
    WriteStepWants(wants);

    std::vector<std::wstring> hardened, repaired;
    const auto harden = [&](const std::wstring& a) { hardened.push_back(a); };
    const auto repair = [&](const std::wstring& a) { repaired.push_back(a); };
    for (int minute = 0; minute < 3; ++minute) {
        const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
        for (const wchar_t* id : {L"timer.service", L"timer.global", L"memory.compression", L"storage.trim"}) {
            EXPECT_EQ(Find(checks, id).status, HealthInformational) << id;
            EXPECT_TRUE(Find(checks, id).repairStep.empty()) << id;
        }
        EXPECT_EQ(Find(checks, L"timer.service").observed, L"service is not installed");
        DriftRepair(checks, harden, repair);
    }
    EXPECT_TRUE(hardened.empty());
    EXPECT_TRUE(repaired.empty());

    // Even a check that still asks for the area is not acted on.
    HealthCheck stale;
    stale.id = L"timer.effective";
    stale.status = HealthAttention;
    stale.repairStep = L"timer";
    DriftRepair({stale}, harden, repair);
    DriftRepair({stale}, harden, repair);
    EXPECT_TRUE(hardened.empty() && repaired.empty());

    // Hardening the timer without a service sets no guard and creates no startup task.
    HardenArea(L"timer");
    EXPECT_FALSE(IsGuardSet(L"GuardTimer"));
    EXPECT_EQ(ReadFileBytes(Log()).find("/Create"), std::string::npos);
    EXPECT_NE(ReadFileBytes(folder.File(L"Quorvantis\\Quorvantis.log")).find("not installed, so it was not hardened"),
              std::string::npos);
}

// The startup guard's hardening (a copy of the program, schtasks, PowerShell: seconds) once ran
// inside the window's timer message, freezing it; it runs on the window's worker now.
TEST_F(HealthMachine, HardeningAfterADriftCheckNeverHoldsTheWindow) {
    WriteStateDword(L"StorageApplied", 1);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Drift_storage.trim", 1);  // drifted once before
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ScreenScript script;
        ASSERT_TRUE(script.Ready());
        std::atomic<int> hardened{0}, repaired{0};
        Gate hardening;
        script.Hooks().guardArea = [&](const std::wstring& area) {
            hardening.Pass();
            if (area == L"storage") ++hardened;
        };
        script.Hooks().steps[SlotStorage] = [&](Feed&) { return ++repaired, 0; };
        script.Window().Operations().ToggleMaintainTiming();  // on: its first drift check scans at once
        ASSERT_TRUE(WaitUntil([&] { return !script.Window().Monitor().Results().empty(); }, 60000));
        HealthCheck trim;
        trim.id = L"storage.trim";
        trim.group = L"Storage";
        trim.title = L"TRIM";
        trim.status = HealthAttention;
        trim.repairStep = L"storage";
        script.Window().Monitor().UseResults({trim});
        script.Window().Monitor().DriftCheckNow();
        EXPECT_FALSE(hardening.Passed()) << "the window waited for the hardening";
        hardening.Open();
        ASSERT_TRUE(script.Window().WaitForBackground(10000));
        EXPECT_EQ(hardened.load(), 1);
        EXPECT_TRUE(WaitUntil([&] { return repaired.load() == 1; }, 10000)) << "the drifted area is repaired too";
    }
    CoUninitialize();
}

// "Start with Windows" starts the copy under Program Files from a sign-in task at the highest
// run level: never whatever copy set it (one in Downloads anyone could replace), and with no
// elevation prompt at each sign-in. A Run value an older build wrote goes; turning it off, and
// the uninstall, take the task away.
TEST_F(HealthMachine, StartWithWindowsIsASignInTaskForTheInstalledCopyAndNoRunValue) {
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring installed = InstalledExePath();
    const bool hadInstalled = FileExists(installed);
    WriteString(RegRoot::CurrentUser, runKey, L"Quorvantis", L"\"C:\\Users\\Public\\Downloads\\Quorvantis.exe\"");
    EXPECT_TRUE(LaunchAtLoginNeedsRepair(false));

    // Wine's schtasks keeps neither triggers nor principals nor actions: the fake keeps the
    // definition as given, as Windows does.
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), Log(), L"fake_vendor_tool.exe");
    const ScopedEnvironment tasks(L"QV_FAKE_TASKS_DIR", folder.Path().c_str());
    std::wstring error;
    ASSERT_TRUE(SetLaunchAtLogin(true, error)) << ToUtf8(error);
    std::wstring value;
    EXPECT_FALSE(ReadString(RegRoot::CurrentUser, runKey, L"Quorvantis", value)) << ToUtf8(value);
    EXPECT_TRUE(FileExists(installed));
    const std::wstring account = AccountNameOfSid(CurrentAccountSid());
    const std::wstring name = TrayTaskName(account);
    EXPECT_EQ(RecordedTrayTasks(), std::vector<std::wstring>{name});
    const std::wstring stored = folder.File((name + L".xml").c_str());
    EXPECT_NE(ReadFileBytes(Log()).find(ToUtf8(L"task " + name + L": runlevel=HighestAvailable user=" + account +
                                               L" logon=InteractiveToken command=" + installed + L" arguments=\n")),
              std::string::npos)
        << ReadFileBytes(Log());
    const std::string bytes = ReadFileBytes(stored);
    const std::wstring xml(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    EXPECT_NE(xml.find(L"<LogonTrigger>"), std::wstring::npos) << ToUtf8(xml);
    EXPECT_FALSE(LaunchAtLoginNeedsRepair(true));

    ASSERT_TRUE(SetLaunchAtLogin(false, error));
    EXPECT_FALSE(FileExists(stored));
    EXPECT_TRUE(RecordedTrayTasks().empty());

    ASSERT_TRUE(SetLaunchAtLogin(true, error)) << ToUtf8(error);
    const std::vector<std::wstring> plan = UninstallPlan(RecordedChanges(), true);
    EXPECT_NE(std::find(plan.begin(), plan.end(), L"remove the sign-in task \"" + name + L"\" that starts the tray"), plan.end());
    UninstallEverything();
    EXPECT_FALSE(FileExists(stored));
    EXPECT_TRUE(RecordedTrayTasks().empty());
    if (!hadInstalled) RemoveDirectoryW(InstallDirectory().c_str());
}
