// The timer service for real: installed into the test prefix's service manager, started,
// queried, stopped and removed, with the registry checked at each stage.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "service/timer_service.h"
#include "support/registry_export.h"
#include "support/simulated_timer_kernel.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "support/wait.h"

namespace {

void DeleteServiceIfAny(const wchar_t* name) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitUntil([&] { return !QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED; }, 5000, 100);
    DeleteService(service.get());
}

void CleanMachine() {
    DeleteServiceIfAny(kServiceName);
    DeleteServiceIfAny(kLegacyServiceName);
    ScopedMachineState::Clear();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacyStateKey);
}

class ServiceMachine : public testing::Test {
protected:
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};

    void SetUp() override {
        CleanMachine();
        ClearProgramLog();
    }
    void TearDown() override { CleanMachine(); }

    ProgramRun Run(const std::wstring& arguments, const std::wstring& exe = BinDirectory() + L"\\Quorvantis.exe") {
        return RunProgram(exe, arguments + L" --no-pause", 120000);
    }
    std::string Log() { return ReadProgramLog(); }
    bool Logged(const char* text) { return Log().find(text) != std::string::npos; }

    static uint32_t State(const wchar_t* name) {
        uint32_t value = 0xDEADBEEF;
        ReadStateDword(name, value);
        return value;
    }
};

struct ServiceConfig {
    std::wstring binaryPath, displayName, description;
    DWORD startType = 0;
    DWORD serviceType = 0;
};

ServiceConfig ReadServiceConfig() {
    ServiceConfig config;
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
    if (!service) return config;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service.get(), q, needed, &needed)) {
        config.binaryPath = q->lpBinaryPathName;
        config.displayName = q->lpDisplayName;
        config.startType = q->dwStartType;
        config.serviceType = q->dwServiceType;
    }
    QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    std::vector<BYTE> described(needed);
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, described.data(), needed, &needed)) {
        const auto* d = reinterpret_cast<SERVICE_DESCRIPTIONW*>(described.data());
        if (d->lpDescription != nullptr) config.description = d->lpDescription;
    }
    return config;
}

bool WaitForState(TimerServiceState wanted) {
    return WaitUntil([&] { return QueryTimerServiceState() == wanted; }, 10000, 100);
}

}  // namespace

TEST_F(ServiceMachine, InstallStatusStopStartUninstallRoundTrip) {
    // Wine's kernel runs at 1 ms at the finest, so 0.4 ms is raised to it.
    ProgramRun run = Run(L"--install --resolution 4000");
    ASSERT_EQ(run.exitCode, 0u) << Log();
    EXPECT_TRUE(Logged("Requested 4000 is below the kernel fastest 10000; clamping."));
    EXPECT_TRUE(Logged("Using requested resolution: 10000 (1.0000 ms)"));
    EXPECT_TRUE(Logged("Set GlobalTimerResolutionRequests=1 (system-wide requests; takes full effect after the next "
                       "reboot)."));
    EXPECT_TRUE(Logged("Installed. The 'Quorvantis' service (auto-start, LocalSystem) is now holding 1.0000 ms and "
                       "will do so at every boot."));

    const std::wstring installed = InstalledExePath();
    EXPECT_TRUE(FileExists(installed));
    const ServiceConfig config = ReadServiceConfig();
    EXPECT_EQ(config.binaryPath, L"\"" + installed + L"\" --service");
    EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config.serviceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.displayName, L"Quorvantis (timer resolution)");
    EXPECT_EQ(config.description, kServiceDescription);

    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Running);
    EXPECT_EQ(State(L"DesiredResolution"), 10000u);
    EXPECT_EQ(State(L"AppliedResolution"), 10000u);
    std::wstring path;
    ASSERT_TRUE(ReadStateString(L"InstallPath", path));
    EXPECT_EQ(path, installed);
    EXPECT_EQ(State(L"GlobalFlagSaved"), 1u);
    EXPECT_EQ(State(L"GlobalFlagHadValue"), 0u);
    uint32_t global = 0;
    ASSERT_TRUE(ReadDword(kKernelKey, kGlobalTimerValue, global));
    EXPECT_EQ(global, 1u);

    // The status suffixes compare what the service asks for with what the kernel reports.
    EXPECT_EQ(Run(L"--status").exitCode, 0u);
    EXPECT_TRUE(Logged("Service: RUNNING (auto-start, LocalSystem), requesting 1.0000 ms; kernel reports 1.0000 ms\r\n"));
    EXPECT_TRUE(Logged("Configured resolution: 10000 (1.0000 ms) at "));
    WriteStateDword(L"DesiredResolution", 20000);
    Run(L"--status");
    EXPECT_TRUE(Logged("requesting 2.0000 ms; kernel reports 1.0000 ms (another process asks for finer)"));
    WriteStateDword(L"DesiredResolution", 5000);
    Run(L"--status");
    EXPECT_TRUE(Logged("requesting 0.5000 ms; kernel reports 1.0000 ms (request NOT honoured)"));

    run = Run(L"--stop");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Logged("Service stopped."));
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Stopped);
    EXPECT_TRUE(Logged("service: stopped, resolution released"));
    EXPECT_EQ(State(L"AppliedResolution"), 0u) << "nothing is held once the service has stopped";
    Run(L"--status");
    EXPECT_TRUE(Logged("Service: installed but not running (see --start)."));

    run = Run(L"--start");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Logged("Service started."));
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Running);

    run = Run(L"--uninstall");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Logged("Restored GlobalTimerResolutionRequests to its previous value"));
    EXPECT_TRUE(Logged("Uninstalled."));
    EXPECT_TRUE(WaitForState(TimerServiceState::NotInstalled));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_FALSE(ReadDword(kKernelKey, kGlobalTimerValue, global)) << "it did not exist before the first install";
    EXPECT_FALSE(FileExists(installed));
}

TEST_F(ServiceMachine, ReinstallKeepsTheFirstGlobalFlagRecordAndUninstallPutsItBack) {
    WriteDword(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, 0);
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    ASSERT_EQ(Run(L"--install --resolution 200000").exitCode, 0u) << Log();
    EXPECT_TRUE(Logged("Requested 200000 is above the kernel slowest 156250; clamping."));
    EXPECT_TRUE(Logged("Stopping previously installed service..."));
    // Wine's kernel stays at 1 ms, finer than the 15.625 ms asked for.
    EXPECT_TRUE(Logged("Note: the kernel currently reports 1.0000 ms because another process asks for an even finer "
                       "resolution; the service's 15.6250 ms request is in place."));
    EXPECT_EQ(State(L"DesiredResolution"), 156250u);
    EXPECT_EQ(State(L"GlobalFlagHadValue"), 1u);
    EXPECT_EQ(State(L"GlobalFlagPrevious"), 0u);

    // Installing again from the installed copy copies nothing.
    const std::wstring installed = InstalledExePath();
    const std::string before = Log();
    ASSERT_EQ(Run(L"--install --resolution 10000", installed).exitCode, 0u);
    EXPECT_EQ(Log().find("Copying executable to", before.size()), std::string::npos);

    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u);
    uint32_t global = 9;
    ASSERT_TRUE(ReadDword(kKernelKey, kGlobalTimerValue, global));
    EXPECT_EQ(global, 0u);
}

namespace {
class GlobalFlagUndo : public ServiceMachine, public testing::WithParamInterface<SeedKind> {};
}  // namespace

TEST_P(GlobalFlagUndo, AnyPriorValueComesBackByteForByteAfterTwoInstalls) {
    SeedValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, GetParam(), 1);
    const RegistryExport before = ExportRegistry(RegRoot::LocalMachine, kKernelKey);
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    uint32_t global = 0;
    EXPECT_TRUE(ReadDword(kKernelKey, kGlobalTimerValue, global) && global == 1);
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u) << Log();
    const RegistryExport after = ExportRegistry(RegRoot::LocalMachine, kKernelKey);
    EXPECT_EQ(before, after) << ToUtf8(DescribeDifference(before, after));
}

INSTANTIATE_TEST_SUITE_P(EveryPriorValue, GlobalFlagUndo,
                         testing::Values(SeedKind::Absent, SeedKind::String, SeedKind::Binary, SeedKind::Qword),
                         [](const testing::TestParamInfo<SeedKind>& p) { return ToUtf8(SeedKindName(p.param)); });

TEST_F(ServiceMachine, OlderBuildsServiceIsStoppedAndRemovedByTheInstall) {
    {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
        const std::wstring path = L"\"" + ChildPath() + L"\" sleep 600000";
        const UniqueServiceHandle legacy(CreateServiceW(manager.get(), kLegacyServiceName, L"Brevitron", SERVICE_ALL_ACCESS,
                                                        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                        SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                                                        nullptr, nullptr));
        ASSERT_TRUE(legacy);
    }
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Stopped) << "the older service counts while ours is missing";
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    EXPECT_TRUE(Logged("Removing the previous Brevitron service (now Quorvantis)..."));
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_FALSE(UniqueServiceHandle(OpenServiceW(manager.get(), kLegacyServiceName, SERVICE_QUERY_STATUS)));
}

TEST_F(ServiceMachine, WithoutAServiceUninstallStillSucceedsAndStartFails) {
    ProgramRun run = Run(L"--uninstall");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Logged("  Service is not installed.\r\n"));
    EXPECT_TRUE(Logged("Uninstalled."));
    run = Run(L"--start");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(Logged("ERROR: Service is not installed."));
}

TEST_F(ServiceMachine, BenchmarkPausesARunningServiceAndRestartsIt) {
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    ASSERT_EQ(Run(L"--benchmark --fidelity low --from 10000 --to 10020").exitCode, 0u) << Log();
    EXPECT_TRUE(Logged("Stopping the running Quorvantis service for the duration of the benchmark"));
    EXPECT_TRUE(Logged("Restarting the Quorvantis service..."));
    EXPECT_TRUE(WaitForState(TimerServiceState::Running));
}

TEST_F(ServiceMachine, VerificationFailsWhenTheKernelStaysCoarserAndLeavesTheServiceRunning) {
    // Called directly (no clamping): Wine's kernel cannot go below 1 ms. This installs the test
    // executable itself, which runs the service when started with --service.
    RecordingFeed feed;
    const ScopedFeed scope(&feed);
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(InstallTimerService(5000));
    EXPECT_GE(GetTickCount64() - start, 10000u);
    EXPECT_EQ(feed.Lines().back(),
              L"ERROR: Service is running but the kernel reports 1.0000 ms instead of 0.5000 ms (see the log).");
    EXPECT_EQ(feed.stages.front(), std::make_pair(std::wstring(L"INSTALL"), std::wstring(L"holding 0.5000 ms from every boot")));
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Running);
    EXPECT_TRUE(UninstallEverything());
}

TEST_F(ServiceMachine, ServiceTargetComesFromTheStateKeyWithBadValuesReadingAsMissing) {
    SimulatedTimerKernel kernel({});
    const ScopedTimerKernel scope(&kernel);
    uint32_t target = 0;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kStateKey, L"DesiredResolution", REG_SZ, L"5070", 10);
    WriteDword(RegRoot::LocalMachine, kLegacyStateKey, L"DesiredResolution", 5300);
    ASSERT_TRUE(StartHolding(target));
    EXPECT_EQ(target, 5300u) << "a string reads as missing, so the older build's value is used";
    EXPECT_EQ(State(L"AppliedResolution"), 5300u);
    StopHolding(target);
    WriteStateDword(L"DesiredResolution", 0);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacyStateKey);
    ASSERT_TRUE(StartHolding(target));
    EXPECT_EQ(target, 5000u) << "0 counts as missing: the finest";
    StopHolding(target);
    EXPECT_EQ(kernel.OwnRequest(), 0u);
}

// An uninstall deletes the state key while the service is still on its way out: nothing the
// service does after that (a last re-assertion, the stop) brings the key back.
// What the service publishes goes through the key it opened at start: after a normal stop the
// figure is 0 again, and a key the uninstall deleted meanwhile stays deleted.
TEST_F(ServiceMachine, AStoppedServicePublishesZeroAndNeverWritesADeletedStateKeyBack) {
    SimulatedTimerKernel kernel({});
    const ScopedTimerKernel scope(&kernel);
    WriteStateDword(L"DesiredResolution", 5070);
    uint32_t target = 0;
    ASSERT_TRUE(StartHolding(target));
    const UniqueKernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] { KeepHolding(stop.get(), target, 1); });
    EXPECT_TRUE(WaitUntil([&] { return kernel.SetCalls() >= 20; }, 10000, 1));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    const uint64_t calls = kernel.SetCalls();
    // Re-assertions after the key went.
    EXPECT_TRUE(WaitUntil([&] { return kernel.SetCalls() >= calls + 20; }, 10000, 1));
    SetEvent(stop.get());
    holder.join();
    StopHolding(target);
    EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, kStateKey));

    WriteStateDword(L"DesiredResolution", 5070);
    ASSERT_TRUE(StartHolding(target));
    EXPECT_EQ(State(L"AppliedResolution"), 5070u);
    StopHolding(target);
    EXPECT_EQ(State(L"AppliedResolution"), 0u);
}

TEST_F(ServiceMachine, ReassertingForManyCyclesLeaksNoHandles) {
    SimulatedTimerKernel kernel({});
    const ScopedTimerKernel scope(&kernel);
    WriteStateDword(L"DesiredResolution", 5070);
    uint32_t target = 0;
    ASSERT_TRUE(StartHolding(target));
    const UniqueKernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD before = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    std::thread holder([&] { KeepHolding(stop.get(), target, 1); });
    EXPECT_TRUE(WaitUntil([&] { return kernel.SetCalls() >= 300; }, 30000, 5));
    SetEvent(stop.get());
    holder.join();
    DWORD after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LE(after, before + 1) << "at most the thread handle of std::thread lingers";
    EXPECT_EQ(kernel.OwnRequest(), 5070u) << "the request stays in force until the stop";
    StopHolding(target);
    EXPECT_EQ(kernel.OwnRequest(), 0u);
}

TEST_F(ServiceMachine, ASecondLockedCommandWhileOneRunsIsRefused) {
    // Wine has no private namespaces: there the program's lock keeps a global name.
    const UniqueKernelHandle held(CreateMutexW(nullptr, FALSE, L"Global\\Quorvantis.Operation"));
    const ProgramRun run = Run(L"--install --resolution 10000");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(Logged("ERROR: Another Quorvantis operation is already running."));
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::NotInstalled);
}

TEST_F(ServiceMachine, DefaultConsoleFlowRunsEveryBuiltStepInOrderAndUninstallUndoesIt) {
    // Wine's kernel holds 1 ms, so the short sweep measures 1 ms only; the tweak steps meet Wine's
    // stubs and tools and report what they could and could not do, without stopping the flow.
    // Afterburner would download from the internet here; its own tests run it against a local server.
    const ProgramRun run = Run(L"--cli --yes --no-afterburner --fidelity low --from 10000 --to 10020");
    ASSERT_EQ(run.exitCode, 0u) << Log();
    const std::string log = Log();
    const char* inOrder[] = {
        "  System Protection: ",
        "Benchmarking Sleep(1) response across timer resolutions.",
        "\nSelected: 10000 (1.0000 ms)",
        "Installed. The 'Quorvantis' service (auto-start, LocalSystem) is now holding 1.0000 ms",
        "Check anytime with:  Quorvantis.exe --status",
        "Remove with:          Quorvantis.exe --uninstall",
        "CPU: ",
        "GPU: ",
        "Applying GPU driver optimization tweaks.",
        "Skipping Afterburner (--no-afterburner).",
        "  pagefile: ",
        "Applied ",
        "Restart when you are ready. Windows cannot change BIOS, so set these by hand:",
        "  SATA/NVMe in AHCI. Enable Above 4G / Resizable BAR if you want ReBAR.",
    };
    size_t at = 0;
    for (const char* text : inOrder) {
        const size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << log;
        at = found;
    }
    EXPECT_EQ(State(L"BenchmarkBoundary"), 0u) << "one measured period has no never-missing run of three";
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Running);
    EXPECT_EQ(run.out.find("Press Enter to close..."), std::string::npos) << "--no-pause";

    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u);
    EXPECT_TRUE(WaitForState(TimerServiceState::NotInstalled));
    uint32_t value = 0;
    EXPECT_FALSE(ReadStateDword(L"GpuApplied", value));
}

TEST_F(ServiceMachine, AFlowThatInstallsNothingStartsThePausedServiceAgain) {
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    ASSERT_TRUE(WaitForState(TimerServiceState::Running));
    // A sweep too large to hold in memory fails the benchmark after the service was stopped for it.
    const ProgramRun run = Run(L"--cli --yes --no-prepare --from 10000 --to 156250 --step 1 --samples 10000");
    EXPECT_EQ(run.exitCode, 2u) << Log();
    EXPECT_TRUE(Logged("Stopping the running Quorvantis service for the duration of the benchmark"));
    EXPECT_TRUE(Logged("This sweep would keep "));
    EXPECT_TRUE(Logged("Restarting the Quorvantis service..."));
    EXPECT_TRUE(WaitForState(TimerServiceState::Running)) << "the service must not stay stopped until the next boot";
    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u);
}

namespace {

// The log's records without their time stamps, split into what went to standard output and
// what went to standard error (errors without their "ERROR: " mark), each record's line feeds
// as a console or file would show them.
struct Transcript {
    std::string out, err;
};

bool StartsWithStamp(const std::string& log, size_t at) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )");
    return log.size() >= at + 21 && std::regex_match(log.substr(at, 21), stamp);
}

Transcript TranscriptOfLog(const std::string& log) {
    Transcript t;
    // A record runs from its time stamp to the CR LF before the next one; its text may hold
    // line ends of its own (a tool's output, a blank line before a heading).
    std::vector<size_t> starts;
    for (size_t at = 0; at < log.size(); at = log.find("\r\n", at) == std::string::npos ? log.size()
                                                                                        : log.find("\r\n", at) + 2) {
        if (StartsWithStamp(log, at)) starts.push_back(at);
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] - 2 : log.size() - 2;
        std::string text = log.substr(starts[i] + 21, end - starts[i] - 21);
        if (text.rfind("health  ", 0) == 0) continue;  // health lines go to the log only
        std::string* into = &t.out;
        if (text.rfind("ERROR: ", 0) == 0) {
            into = &t.err;
            text = text.substr(7);
        }
        for (size_t k = 0; k < text.size(); ++k) {
            if (text[k] == '\n' && (k == 0 || text[k - 1] != '\r')) *into += '\r';
            *into += text[k];
        }
        *into += "\r\n";
    }
    return t;
}

}  // namespace

TEST_F(ServiceMachine, RedirectedOutputCarriesEveryLineOfTheLogInOrder) {
    for (const wchar_t* command : {L"--status", L"--health", L"--benchmark --fidelity low --from 10000 --to 10020",
                                   L"--start"}) {
        ClearProgramLog();
        const ProgramRun run = RunProgram(BinDirectory() + L"\\Quorvantis.exe", command, 120000);
        const Transcript expected = TranscriptOfLog(Log());
        EXPECT_FALSE(expected.out.empty() && expected.err.empty()) << ToUtf8(command);
        EXPECT_EQ(run.out, expected.out) << ToUtf8(command);
        EXPECT_EQ(run.err, expected.err) << ToUtf8(command);
        EXPECT_EQ(run.out.find('\r' + std::string(78, ' ')), std::string::npos) << "no progress rows in a file";
    }
}

TEST_F(ServiceMachine, WithoutAConsoleNoQuestionIsAskedAndEachTakesItsDefault) {
    // Standard input and output are files: the fidelity menu and the install question are not
    // shown, and the run does not wait for an answer.
    const ProgramRun run = Run(L"--cli --no-prepare --no-ppm --no-gpu --no-memory --no-storage --from 10000 --to 10020");
    EXPECT_EQ(run.exitCode, 0u) << Log();
    EXPECT_EQ(run.out.find("Choice [2]"), std::string::npos);
    EXPECT_EQ(run.out.find("[Y/n]"), std::string::npos);
    EXPECT_NE(run.out.find("Installed. The 'Quorvantis' service"), std::string::npos) << "the install defaults to yes";
    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u);
}

// "--status --holders" names the programs holding the clock from Windows' energy report: two
// recorded requests, none, and a report cut short (which names nobody rather than guessing).
TEST_F(ServiceMachine, StatusNamesTheProgramsHoldingTheClockFromTheEnergyReport) {
    auto powercfg = std::make_unique<FakeTool>(SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log"));
    const std::wstring data = BinDirectory() + L"\\testdata\\";
    // The recorded PIDs lie far above any Wine hands out: a report naming the PID that the test's
    // own "--status" happened to get would rightly leave it out, and the case would fail by chance.
    const struct {
        const wchar_t* report;
        const char* line;
    } cases[] = {
        {L"energy-two-holders.xml", "Held by overlay.exe (PID 41312, 1.0000 ms) and browser.exe (PID 40880, 1.0000 ms)."},
        // As the XML report writes them: entry names without their section, one detail per module.
        {L"energy-real-shape.xml", "Held by overlay.exe (PID 41312, 1.0000 ms) and browser.exe (PID 40880, 1.0000 ms)."},
        {L"energy-none.xml", "No other program holds a timer period."},
        {L"energy-malformed.xml", "Windows' energy report could not name the programs holding a timer period (see the log)."},
    };
    for (const auto& c : cases) {
        ClearProgramLog();
        const std::wstring path = data + c.report;
        const ScopedEnvironment report(L"QV_FAKE_ENERGY_REPORT", path.c_str());
        const ProgramRun run = Run(L"--status --holders");
        EXPECT_EQ(run.exitCode, 0u) << Log();
        EXPECT_TRUE(Logged(c.line)) << ToUtf8(c.report) << "\n" << Log();
        EXPECT_NE(ReadFileBytes(folder.File(L"tools.log")).find("/energy /xml /output"), std::string::npos);
    }
    // The report is made in the protected data folder and taken away again.
    EXPECT_FALSE(FileExists(DataDirectory() + L"\\energy-report.xml"));

    // Our own service holds the period it was asked to: it is not named as another program. (The
    // install runs without the stand-in: its storage step would turn hibernation off for good.)
    powercfg.reset();
    ASSERT_EQ(Run(L"--install --resolution 10000").exitCode, 0u) << Log();
    powercfg = std::make_unique<FakeTool>(SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log"));
    const uint32_t service = ServiceProcessId(kServiceName);
    ASSERT_NE(service, 0u);
    std::string report = ReadFileBytes(data + L"energy-two-holders.xml");
    const std::string recordedPid = "<Value>41312</Value>";
    for (size_t at = report.find(recordedPid); at != std::string::npos; at = report.find(recordedPid, at + 1)) {
        report.replace(at + 7, 5, std::to_string(service));
    }
    const std::wstring withService = folder.File(L"energy-with-service.xml");
    ASSERT_TRUE(WriteFileBytes(withService, report));
    const ScopedEnvironment recorded(L"QV_FAKE_ENERGY_REPORT", withService.c_str());
    ClearProgramLog();
    EXPECT_EQ(Run(L"--status --holders").exitCode, 0u) << Log();
    EXPECT_TRUE(Logged("Held by browser.exe (PID 40880, 1.0000 ms).")) << Log();
    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u) << Log();
}
