#include "app/console_changes.h"

#include <vector>

#include "app/json_output.h"
#include "app/options.h"
#include "foundation/change_ledger.h"
#include "foundation/console.h"
#include "foundation/elevation.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "gpu/gpu_tweaks.h"
#include "service/service_install.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

namespace {

// A report as one log message: the log keeps its lines together, and so does the console.
void LogReport(std::wstring text) {
    if (!text.empty() && text.back() == L'\n') text.pop_back();
    LogInfo(text);
}

}  // namespace

int ChangesReport(const Options& options) {
    const std::vector<ChangeRow> rows = RecordedChanges();
    const std::vector<std::wstring> uninstall = UninstallPlan(rows);
    LogReport(LedgerText(rows, uninstall));
    if (!options.json) return 0;
    Json plan = Json::Array();
    for (const std::wstring& line : uninstall) plan.Push(line);
    return PrintJsonDocument(Json::Object().Set("steps", ChangeStepsJson(rows, false)).Set("uninstall", std::move(plan)),
                             L"changes", 0);
}

bool WhatIfAccepts(const std::wstring& command) {
    for (const wchar_t* word : {L"", L"ppm", L"gpu", L"memory", L"storage", L"prepare", L"install"}) {
        if (command == word) return true;
    }
    return false;
}

int WhatIfReport(const Options& options) {
    const std::wstring& command = options.command;
    const bool flow = command.empty();
    std::vector<ChangeRow> rows;
    std::vector<std::wstring> notes;
    if (command == L"prepare" || (flow && !options.noPrepare)) DescribePrepare(true, rows);
    if (command == L"install" || flow) DescribeInstall(true, options.resolution, rows);
    if (command == L"ppm" || (flow && !options.noPpm)) DescribeCpuTune(true, rows);
    if (command == L"gpu" || (flow && !options.noGpu)) DescribeGpuTweaks(true, rows);
    if (flow && options.afterburner && !options.noAfterburner) {
        notes.push_back(L"Afterburner: installs MSI Afterburner and RivaTuner where missing, writes the scanned curve to "
                        L"profile 1 and adds two logon tasks; those are the programs' own files and are not listed here.");
    }
    if (command == L"memory" || (flow && !options.noMemory)) DescribeMemory(true, rows);
    if (command == L"storage" || (flow && !options.noStorage)) DescribeStorage(true, rows);
    int unread = 0;
    for (const ChangeRow& row : rows) unread += row.currentRead ? 0 : 1;
    if (unread > 0) {
        notes.push_back(FormatText(L"%d current value(s) could not be read%ls.", unread,
                                   IsElevated() ? L"" : L" without administrator rights (run elevated to see them)"));
    }
    LogReport(WhatIfText(rows, notes));
    if (!options.json) return 0;
    Json notesJson = Json::Array();
    for (const std::wstring& note : notes) notesJson.Push(note);
    Json result = Json::Object();
    result.Set("applies_to", flow ? std::wstring(L"default flow") : CommandSwitch(command));
    result.Set("steps", ChangeStepsJson(rows, true));
    result.Set("unread", unread);
    result.Set("notes", std::move(notesJson));
    return PrintJsonDocument(std::move(result), L"what-if", 0);
}
