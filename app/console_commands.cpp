#include <windows.h>

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

namespace {

// Commands that change the machine run one at a time, machine-wide, and never beside the GUI.
constexpr const wchar_t* kLockedCommands[] = {L"",        L"install",     L"uninstall", L"start",   L"stop",
                                              L"ppm",     L"gpu",         L"afterburner", L"benchmark", L"prepare",
                                              L"memory",  L"storage",     L"check-driver", L"driver",
                                              L"check-update", L"update", L"guard"};

bool IsLockedCommand(const std::wstring& command) {
    for (const wchar_t* locked : kLockedCommands) {
        if (command == locked) return true;
    }
    return false;
}

int CommandNotInThisBuild(const std::wstring& command) {
    const std::wstring name = command.empty() ? std::wstring(L"--cli") : CommandSwitch(command);
    LogError(FormatText(L"%ls is not available in this build yet.", name.c_str()));
    return 1;
}

int RunLockedCommand(const Options& options, const std::vector<std::wstring>& arguments) {
    const std::wstring& command = options.command;
    // The benchmark changes nothing permanent, so it runs with whatever rights it has.
    if (command == L"benchmark") return RunConsoleBenchmark(options);
    // A lookup only reads the adapter and asks the vendor; an update check only asks the publisher.
    if (command == L"check-driver") return ConsoleCheckDriver(ProductDriverTools());
    if (command == L"check-update") return ConsoleCheckUpdate(ProductUpdateSource());
    const int rights = RequireElevationConsole(options, arguments);
    if (rights != kElevationContinue) return rights;
    if (command == L"install") return RunConsoleFlow(options, false);
    if (command == L"uninstall") {
        const bool uninstalled = UninstallEverything();
        // Nothing comes back on its own: the monitor stops maintaining and forgets its drift
        // counts (the user's step choices stay).
        StopMaintaining();
        if (!uninstalled) return 1;
        LogInfo(L"Uninstalled.");
        return 0;
    }
    if (command == L"start" || command == L"stop") return StartOrStopCommand(command == L"start");
    if (command == L"guard") return RunGuard();
    if (command.empty()) return RunConsoleFlow(options, true);
    if (command == L"ppm") return ConsolePpmStep(options) == 1 ? 1 : 0;
    if (command == L"gpu") return ConsoleGpuStep(options) == 1 ? 1 : 0;
    if (command == L"driver") return ConsoleApplyDriver(options, ProductDriverTools());
    if (command == L"update") return ConsoleUpdate(options, ProductUpdateSource());
    if (command == L"afterburner") {
        Options forced = options;
        forced.afterburner = true;  // the command names the step: no second question
        forced.noAfterburner = false;
        return ConsoleAfterburnerStep(forced) == 1 ? 1 : 0;
    }
    if (command == L"prepare" || command == L"memory" || command == L"storage") return RunSingleTweakCommand(options);
    return CommandNotInThisBuild(command);
}

int RunHealthCommand() {
    const std::vector<HealthCheck> checks = RunHealthChecks(nullptr);
    LogInfo(SummarizeHealth(checks).text);
    for (const HealthCheck& c : checks) {
        LogInfo(FormatText(L"  [%ls] %ls | %ls | %ls", HealthStatusName(c.status), c.group.c_str(), c.title.c_str(),
                           c.observed.c_str()));
    }
    return 0;
}

void PauseBeforeClosing() {
    WriteStd(StdStream::Output, L"\nPress Enter to close...");
    std::wstring line;
    ReadStdLine(line, 8);
}

}  // namespace

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

int RunConsoleCommand(const Options& options, const std::vector<std::wstring>& arguments) {
    const std::wstring& command = options.command;
    if (command == L"help") {
        PrintUsage();
        return 0;
    }
    if (command == L"version") {
        WriteStd(StdStream::Output,
                 FormatText(L"Quorvantis %ls\n%ls\n%ls\n", kVersionText, kPublisherName, kPublisherWebAddress));
        return 0;
    }
    if (command == L"status") return ShowStatus();
    if (command == L"health") return RunHealthCommand();
    if (command == L"self-test") {
        const bool passed = HealthSelfTest() == 0;
        LogInfo(passed ? L"Health self-test passed." : L"Health self-test failed.");
        return passed ? 0 : 1;
    }
    if (command == L"apply") return HoldResolutionInConsole(options.resolution);
    if (!IsLockedCommand(command)) return CommandNotInThisBuild(command);

    int exitCode = 0;
    {
        const UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
        if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
            LogError(L"Another Quorvantis operation is already running.");
            return 1;
        }
        // A mutex that cannot be created at all does not stop the command.
        RecoverInterruptedRuns();
        exitCode = RunLockedCommand(options, arguments);
    }
    // Only someone at a console can press Enter; a script or a redirected run would wait forever.
    if (command.empty() && !options.noPause && IsElevated() && CanAskQuestions()) PauseBeforeClosing();
    return exitCode;
}
