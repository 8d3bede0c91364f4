#include <windows.h>

#include "app/command_handlers.h"
#include "app/console_changes.h"
#include "app/json_output.h"
#include "app/commands.h"
#include "app/console_benchmark.h"
#include "app/console_driver.h"
#include "app/console_update.h"
#include "app/console_flow.h"
#include "app/console_tweaks.h"
#include "foundation/elevation.h"
#include "app/entry.h"
#include "app/usage.h"
#include "foundation/console.h"
#include "foundation/log.h"
#include "foundation/named_objects.h"
#include "foundation/product.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "driver/driver_clean.h"
#include "health/guard.h"
#include "update/self_update.h"
#include "health/health_check.h"
#include "health/monitor.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "timer/energy_report.h"
#include "timer/timer_kernel.h"

namespace {

void PauseBeforeClosing() {
    WriteStd(StdStream::Output, L"\nPress Enter to close...");
    std::wstring line;
    ReadStdLine(line, 8);
}

}  // namespace

int DefaultFlowCommand(const Options& options, const CommandArguments&) { return RunConsoleFlow(options, true); }

int HelpCommand(const Options&, const CommandArguments&) {
    PrintUsage();
    return 0;
}

int VersionCommand(const Options&, const CommandArguments&) {
    WriteStd(StdStream::Output, FormatText(L"Quorvantis %ls\n%ls\n%ls\n", kVersionText, kPublisherName, kPublisherWebAddress));
    return 0;
}

int BenchmarkCommand(const Options& options, const CommandArguments&) { return RunConsoleBenchmark(options); }
int InstallCommand(const Options& options, const CommandArguments&) { return RunConsoleFlow(options, false); }
int HoldCommand(const Options& options, const CommandArguments&) { return HoldResolutionInConsole(options.resolution); }
int StatusCommand(const Options& options, const CommandArguments&) {
    Json document = Json::Object();
    const int result = ShowStatus(&document);
    if (options.holders) {
        LogInfo(L"Asking Windows which programs hold a timer period (energy report, about 10 s)...");
        std::optional<std::vector<TimerHolder>> holders = CurrentTimerKernel().OtherHolders();
        // Our own service's request is the one we asked for, not another program's.
        if (const uint32_t service = ServiceProcessId(kServiceName); holders && service != 0) {
            std::erase_if(*holders, [&](const TimerHolder& holder) { return holder.pid == service; });
        }
        if (!holders) LogInfo(L"Windows' energy report could not name the programs holding a timer period (see the log).");
        else if (holders->empty()) LogInfo(L"No other program holds a timer period.");
        else LogInfo(HoldersText(*holders));
        Json list = Json::Array();
        for (const TimerHolder& holder : holders.value_or(std::vector<TimerHolder>{})) {
            list.Push(Json::Object()
                          .Set("name", holder.Name())
                          .Set("path", holder.path)
                          .Set("pid", holder.pid)
                          .Set("period_ms", holder.period / 10000.0));
        }
        document.Set("holders", holders ? std::move(list) : Json());
    }
    return options.json ? PrintJsonDocument(std::move(document), L"status", result) : result;
}

int HealthCommand(const Options& options, const CommandArguments&) {
    const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    const HealthSummary summary = SummarizeHealth(checks);
    LogInfo(summary.text);
    Json list = Json::Array();
    for (const HealthCheck& c : checks) {
        LogInfo(FormatText(L"  [%ls] %ls | %ls | %ls", HealthStatusName(c.status), c.group.c_str(), c.title.c_str(),
                           c.observed.c_str()));
        list.Push(Json::Object()
                      .Set("id", c.id)
                      .Set("group", c.group)
                      .Set("title", c.title)
                      .Set("status", HealthStatusName(c.status))
                      .Set("expected", c.expected)
                      .Set("observed", c.observed)
                      .Set("explanation", c.explanation)
                      .Set("repair_step", c.repairStep.empty() ? Json() : Json(c.repairStep)));
    }
    if (!options.json) return 0;
    Json counts = Json::Object();
    counts.Set("passing", summary.passing)
        .Set("attention", summary.attention)
        .Set("informational", summary.informational)
        .Set("other", summary.other);
    return PrintJsonDocument(Json::Object().Set("summary", summary.text).Set("counts", std::move(counts)).Set("checks", std::move(list)),
                             L"health", 0);
}

int GuardCommand(const Options&, const CommandArguments&) { return RunGuard(); }

int SelfTestCommand(const Options&, const CommandArguments&) {
    const bool passed = HealthSelfTest() == 0;
    LogInfo(passed ? L"Health self-test passed." : L"Health self-test failed.");
    return passed ? 0 : 1;
}

int StopCommand(const Options&, const CommandArguments&) { return StartOrStopCommand(false); }
int StartCommand(const Options&, const CommandArguments&) { return StartOrStopCommand(true); }

int UninstallCommand(const Options&, const CommandArguments&) {
    const bool uninstalled = UninstallEverything();
    // Nothing comes back on its own: the monitor stops maintaining and forgets its drift counts
    // (the user's step choices stay).
    StopMaintaining();
    if (!uninstalled) return 1;
    LogInfo(L"Uninstalled.");
    return 0;
}

int SingleTweakCommand(const Options& options, const CommandArguments&) { return RunSingleTweakCommand(options); }
int CpuTuneCommand(const Options& options, const CommandArguments&) { return ConsolePpmStep(options) == 1 ? 1 : 0; }
int GpuConfigCommand(const Options& options, const CommandArguments&) { return ConsoleGpuStep(options) == 1 ? 1 : 0; }

int AfterburnerCommand(const Options& options, const CommandArguments&) {
    Options forced = options;
    forced.afterburner = true;  // the command names the step: no second question
    forced.leaveOut[SlotAfterburner] = false;
    return ConsoleAfterburnerStep(forced) == 1 ? 1 : 0;
}

int CheckDriverCommand(const Options& options, const CommandArguments&) {
    Json document = Json::Object();
    const int result = ConsoleCheckDriver(ProductDriverTools(), &document);
    return options.json ? PrintJsonDocument(std::move(document), L"check-driver", result, L"No driver package was found for this PC.")
                        : result;
}
int ApplyDriverCommand(const Options& options, const CommandArguments&) {
    return ConsoleApplyDriver(options, ProductDriverTools());
}
int CheckUpdateCommand(const Options& options, const CommandArguments&) {
    Json document = Json::Object();
    const int result = ConsoleCheckUpdate(ProductUpdateSource(), &document);
    return options.json ? PrintJsonDocument(std::move(document), L"check-update", result) : result;
}
int UpdateCommand(const Options& options, const CommandArguments&) { return ConsoleUpdate(options, ProductUpdateSource()); }

int RequireElevationConsole(const Options& options, const std::vector<std::wstring>& arguments) {
    if (IsElevated()) return kElevationContinue;
    if (options.elevated) {
        LogError(L"Administrator privileges are required and elevation did not take effect.");
        return 1;
    }
    LogInfo(L"Requesting administrator privileges (approve the UAC prompt)...");
    if (RelaunchElevated(WithElevatedFlag(arguments))) return 0;
    LogError(L"Elevation was declined or failed. Quorvantis must run as administrator.");
    return 1;
}

int ChangesCommand(const Options& options, const CommandArguments&) { return ChangesReport(options); }
int RevertCommand(const Options& options, const CommandArguments&) { return RevertReport(options); }

int RunConsoleCommand(const Options& options, const std::vector<std::wstring>& arguments) {
    // Reads only: no rights asked for and no lock taken, so it can run beside anything.
    if (options.whatIf) return WhatIfReport(options);
    const CommandRow* row = CommandForWord(options.command);
    if (row == nullptr || row->rights == CommandRights::ServiceManager) {
        LogError(FormatText(L"%ls cannot be run from a console.", CommandSwitch(options.command).c_str()));
        return 1;
    }
    if (row->rights == CommandRights::Administrator) {
        const int rights = RequireElevationConsole(options, arguments);
        if (rights != kElevationContinue) return rights;
    }
    if (!row->locked) return row->handler(options, arguments);

    int exitCode = 0;
    {
        // Machine-wide, against the window, every other locked command and the startup guard
        // (which runs as SYSTEM): a lock that cannot be had stops the command, or it would run
        // beside whichever of them holds it.
        OperationLock lock;
        if (const LockState state = lock.Take(); state != LockState::Held) {
            LogError(LockRefusal(state));
            if (state == LockState::Unavailable) LogError(FormatText(L"The lock could not be made or opened (error %lu).", lock.Error()));
            return 1;
        }
        RecoverInterruptedRuns();
        exitCode = row->handler(options, arguments);
    }
    // Only someone at a console can press Enter; a script or a redirected run would wait forever.
    if (options.command.empty() && !options.noPause && IsElevated() && CanAskQuestions()) PauseBeforeClosing();
    return exitCode;
}
