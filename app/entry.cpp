#include "app/entry.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "app/command_handlers.h"
#include "app/commands.h"
#include "app/console_changes.h"
#include "app/json_output.h"
#include "app/usage.h"
#include "foundation/child_process.h"
#include "foundation/elevation.h"
#include "foundation/console.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "service/service_control.h"
#include "service/timer_service.h"
#include "tweaks/restore_point.h"
#include "update/self_update.h"

namespace {

bool SkipsRightsCheck(const Options& options) {
    if (options.whatIf) return true;  // reads only, and says what it could not read
    const CommandRow* row = CommandForWord(options.command);
    return row != nullptr && row->rights == CommandRights::Anyone;
}

// Without administrator rights nothing can be tuned: relaunch elevated once, and refuse clearly
// when that is declined or did not take effect. Returns -1 to go on, else the exit code.
int EnforceRights(const Options& options, const std::vector<std::wstring>& arguments, bool console) {
    if (SkipsRightsCheck(options) || IsElevated()) return -1;
    // The elevated copy gets a console of its own, so its document could never reach the
    // caller's standard output: a script is told to run elevated instead.
    if (options.json) {
        LogError(L"Administrator privileges are required: run this from an elevated prompt or session.");
        return PrintJsonDocument(Json::Object(), JsonCommandName(options), 1);
    }
    if (!options.elevated) {
        if (RelaunchElevated(WithElevatedFlag(arguments))) return 0;
        if (console) {
            EnsureConsole();
            LogError(L"Elevation was declined or failed. Quorvantis must run as administrator.");
        } else {
            ShowRightsMessage(L"Quorvantis must run as administrator. Approve the UAC prompt and try again.", false);
        }
        return 1;
    }
    // The relaunched copy still lacks the rights: a second relaunch would only loop.
    if (console) {
        EnsureConsole();
        LogError(L"Administrator privileges are required and elevation did not take effect.");
    } else {
        ShowRightsMessage(L"Quorvantis must run as administrator, and elevation did not take effect.", true);
    }
    return 1;
}

}  // namespace

void RecoverInterruptedRuns() {
    if (!IsElevated()) return;
    // A run that died while Windows wrote its restore point left the creation frequency at 0.
    RecoverRestorePointFrequency(nullptr);
    RecoverInterruptedUpdate();
    RemoveStaleChildFolders();
}

int ServiceCommand(const Options&, const CommandArguments&) {
    // Started by the service control manager; a user starting it by hand gets exit code 1.
    static SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), TimerServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine, &count);
    if (split == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(split[i]);
    LocalFree(split);
    return arguments;
}

int ProgramEntry(const std::vector<std::wstring>& arguments) {
    Options options;
    std::wstring error;
    bool parsed = ParseOptionsText(arguments, options, error);
    if (const CommandRow* row = CommandForWord(options.command); row != nullptr && row->rights == CommandRights::ServiceManager) {
        return row->handler(options, arguments);
    }
    // A script that asked for JSON gets its document even when parsing stopped before --json.
    if (!options.json) options.json = std::find(arguments.begin(), arguments.end(), L"--json") != arguments.end();
    if (options.json) ReserveStdOutput();
    if (parsed && options.whatIf && !WhatIfAccepts(options.command)) {
        parsed = false;
        error = L"--what-if goes with --apply-ppm, --apply-gpu, --apply-memory, --apply-storage, --apply-prepare, "
                L"--apply-afterburner, --install, --revert or the default flow.";
    }
    if (parsed && options.json && !JsonAccepts(options)) {
        parsed = false;
        error = L"--json goes with --status, --health, --changes, --revert, --what-if, --check-driver, --check-update or "
                L"--benchmark.";
    }
    if (!parsed && options.json) {
        LogError(error);
        return PrintJsonDocument(Json::Object(), JsonCommandName(options), 1);
    }
    if (!parsed) {
        // Report only once the console exists: a GUI-subsystem process started from a prompt
        // has none yet, and the error must be the line right above the usage text.
        EnsureConsole();
        LogError(error);
        PrintUsage();
        return 1;
    }
    const bool console = WantsConsole(arguments, options);
    const int refused = EnforceRights(options, arguments, console);
    if (refused >= 0) return refused;
    if (console) {
        EnsureConsole();
        return RunConsoleCommand(options, arguments);
    }
    return RunGui(options, arguments);
}
