#include "app/console_changes.h"

#include <vector>

#include "app/console_benchmark.h"
#include "app/console_tweaks.h"
#include "app/json_output.h"
#include "app/options.h"
#include "foundation/change_ledger.h"
#include "foundation/console.h"
#include "foundation/elevation.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "service/step_catalogue.h"
#include "service/step_ledger.h"
#include "tweaks/cpu_probe.h"

namespace {

// A report as one log message: the log keeps its lines together, and so does the console.
void LogReport(std::wstring text) {
    if (!text.empty() && text.back() == L'\n') text.pop_back();
    LogInfo(text);
}

Json TextList(const std::vector<std::wstring>& lines) {
    Json list = Json::Array();
    for (const std::wstring& line : lines) list.Push(line);
    return list;
}

// Whether the default flow runs this step with these options, as the console decides it when
// nobody answers its questions (each question's default): --no-... leaves a step out, CPU Tune
// runs for a locked CPU or with --ppm, Afterburner with --afterburner or --yes.
bool FlowIncludes(const StepEntry& step, const Options& options, std::vector<std::wstring>& notes) {
    if (step.leaveOut != nullptr && options.leaveOut[static_cast<size_t>(step.slot)]) return false;
    if (step.slot == SlotCpu) {
        const CpuProbe probe = ProbeCpu();
        if (CpuTuneByDefault(options, probe.cpuClass)) return true;
        notes.push_back(L"CPU Tune: this CPU does not look locked, so the default flow leaves it out (add --ppm to "
                        L"include it).");
        return false;
    }
    if (step.slot == SlotAfterburner) return options.afterburner || options.yes;
    return true;
}

}  // namespace

int ChangesReport(const Options& options) {
    const std::vector<ChangeRow> rows = RecordedChanges();
    const std::vector<std::wstring> uninstall = UninstallPlan(rows, true);
    LogReport(LedgerText(rows, uninstall));
    if (!options.json) return 0;
    return PrintJsonDocument(Json::Object().Set("steps", ChangeStepsJson(rows, false)).Set("uninstall", TextList(uninstall)),
                             L"changes", 0);
}

bool WhatIfAccepts(const std::wstring& command) {
    if (command.empty() || command == L"revert") return true;
    const StepEntry* step = FindStep(command);
    return step != nullptr && step->plan != nullptr && step->word == command;
}

namespace {

std::vector<StepPlan> PlannedSteps(const Options& options, std::vector<std::wstring>& notes) {
    // --install runs the default flow too, only without asking before the install.
    const bool flow = options.command.empty() || options.command == L"install";
    PlanContext context;
    context.resolution = options.resolution;
    std::vector<StepPlan> plans;
    // Each step's plan reads the machine as the steps before it leave it: Storage's power rows go
    // into the plan CPU Tune makes active, even one it has not made yet.
    for (const StepEntry& step : StepCatalogue()) {
        if (step.plan == nullptr) continue;
        if (flow ? !FlowIncludes(step, options, notes) : options.command != step.word) continue;
        StepPlan plan = step.plan(context);
        if (!plan.blocked.empty()) notes.push_back(plan.step + L": " + plan.blocked);
        for (const std::wstring& note : plan.notes) notes.push_back(note);
        if (plan.setsScheme) {
            context.chainedScheme = true;
            context.scheme = plan.scheme;
            context.schemeMade = plan.schemeMade;
        }
        plans.push_back(std::move(plan));
    }
    return plans;
}

}  // namespace

int WhatIfReport(const Options& options) {
    if (options.command == L"revert") return RevertReport(options);
    const bool flow = options.command.empty();
    std::vector<std::wstring> notes;
    std::vector<ChangeRow> rows;
    for (const StepPlan& plan : PlannedSteps(options, notes)) {
        for (ChangeRow& row : plan.Rows()) rows.push_back(std::move(row));
    }
    int unread = 0;
    for (const ChangeRow& row : rows) unread += row.currentRead || row.state == ChangeState::LeftAlone ? 0 : 1;
    if (unread > 0) {
        notes.push_back(FormatText(L"%d current value(s) could not be read%ls.", unread,
                                   IsElevated() ? L"" : L" without administrator rights (run elevated to see them)"));
    }
    LogReport(WhatIfText(rows, notes));
    if (!options.json) return 0;
    Json result = Json::Object();
    result.Set("applies_to", flow ? std::wstring(L"default flow") : CommandSwitch(options.command));
    result.Set("steps", ChangeStepsJson(rows, true));
    result.Set("unread", unread);
    result.Set("notes", TextList(notes));
    return PrintJsonDocument(std::move(result), L"what-if", 0);
}

namespace {

// The recorded changes a --revert target names: the change of that id, or every change of that step.
std::vector<ChangeRow> RowsNamed(const std::wstring& target) {
    std::vector<ChangeRow> rows;
    for (const ChangeRow& row : RecordedChanges()) {
        if (ChangeMatches(row.id, target)) rows.push_back(row);
    }
    return rows;
}

std::wstring Joined(const std::vector<std::wstring>& ids) {
    std::wstring text;
    for (const std::wstring& id : ids) text += (text.empty() ? L"" : L", ") + id;
    return text;
}

// What the revert did, in words; false when something stayed changed.
bool DescribeOutcome(const RevertOutcome& outcome, std::wstring& text) {
    if (!outcome.putBack.empty()) text += L"Put back " + Joined(outcome.putBack) + L".";
    if (!outcome.dropped.empty()) text += (text.empty() ? L"" : L" ") + (L"Dropped the records of " + Joined(outcome.dropped) + L": nothing to put back.");
    if (!outcome.failed.empty()) {
        text += (text.empty() ? L"" : L" ") + (L"Could not put back " + Joined(outcome.failed) + L"; their records are kept.");
    }
    for (const std::wstring& step : outcome.stepsUndone) {
        text += (text.empty() ? L"" : L" ") + FormatText(L"%ls is undone and counts as not applied.", step.c_str());
    }
    if (text.empty()) text = L"Nothing was put back.";
    return outcome.failed.empty();
}

}  // namespace

int RevertReport(const Options& options) {
    const std::wstring& target = options.revertTarget;
    std::vector<ChangeRow> rows = RowsNamed(target);
    std::vector<std::wstring> notes;
    std::vector<ChangeRow> chosen;
    for (const ChangeRow& row : rows) {
        if (!Revertible(row)) {
            notes.push_back(row.state == ChangeState::OneWayMade
                                ? FormatText(L"%ls is a one-way change: nothing can put it back.", row.id.c_str())
                                : FormatText(L"%ls is this program's own: --uninstall removes it.", row.id.c_str()));
            continue;
        }
        chosen.push_back(row);
    }
    if (chosen.empty()) {
        const std::wstring error =
            rows.empty() ? FormatText(L"No change on record matches \"%ls\"; --changes lists each change's id.", target.c_str())
                         : FormatText(L"Nothing on record for \"%ls\" can be put back.", target.c_str());
        for (const std::wstring& note : notes) LogInfo(note);
        LogError(error);
        if (!options.json) return 1;
        return PrintJsonDocument(Json::Object().Set("target", target).Set("changes", Json::Array()).Set("notes", TextList(notes)),
                                 options.whatIf ? L"what-if" : L"revert", 1, error);
    }
    // Someone else's value since: said, and asked about, unless --yes.
    std::vector<ChangeRow> approved;
    for (const ChangeRow& row : chosen) {
        if (row.state == ChangeState::ChangedSince && !options.whatIf) {
            LogInfo(FormatText(L"%ls was changed since by someone else: it is %ls now; Quorvantis wrote %ls and found %ls.",
                               row.id.c_str(), row.current.c_str(), row.ours.c_str(), row.original.c_str()));
            if (options.yes) {
                LogInfo(FormatText(L"Putting %ls back to %ls anyway (--yes).", row.id.c_str(), row.original.c_str()));
            } else if (!Confirm(options, FormatText(L"Put %ls back to %ls anyway?", row.id.c_str(), row.original.c_str()), false)) {
                notes.push_back(FormatText(L"%ls is left as it is.", row.id.c_str()));
                continue;
            }
        }
        approved.push_back(row);
    }
    const std::vector<std::wstring> plan = UninstallPlan(approved, false);
    if (options.whatIf) {
        std::wstring text = LedgerText(approved, plan);
        const std::wstring heading = L"\n--uninstall would:\n";
        text.replace(text.rfind(heading), heading.size(), L"\n--revert " + target + L" would:\n");
        for (const std::wstring& note : notes) text += note + L"\n";
        LogReport(text + L"Nothing was changed.\n");
        if (!options.json) return 0;
        return PrintJsonDocument(Json::Object()
                                     .Set("target", target)
                                     .Set("steps", ChangeStepsJson(approved, false))
                                     .Set("revert", TextList(plan))
                                     .Set("notes", TextList(notes)),
                                 L"what-if", 0);
    }
    for (const std::wstring& note : notes) LogInfo(note);
    const RevertOutcome outcome = RevertRecorded(approved);
    std::wstring text;
    const bool ok = DescribeOutcome(outcome, text);
    if (ok) LogInfo(text);
    else LogError(text);
    const int exitCode = ok ? 0 : 1;
    if (!options.json) return exitCode;
    return PrintJsonDocument(Json::Object()
                                 .Set("target", target)
                                 .Set("put_back", TextList(outcome.putBack))
                                 .Set("dropped", TextList(outcome.dropped))
                                 .Set("failed", TextList(outcome.failed))
                                 .Set("steps_undone", TextList(outcome.stepsUndone))
                                 .Set("notes", TextList(notes)),
                             L"revert", exitCode);
}

bool RevertFromWindow(const std::wstring& id, std::wstring& outcomeText) {
    // The window asked first, showing whose value it is now.
    std::vector<ChangeRow> rows;
    for (const ChangeRow& row : RowsNamed(id)) {
        if (Revertible(row)) rows.push_back(row);
    }
    if (rows.empty()) {
        outcomeText = FormatText(L"%ls cannot be put back from here.", id.c_str());
        return false;
    }
    const bool ok = DescribeOutcome(RevertRecorded(rows), outcomeText);
    AppendLogLine(L"Put back from the Health screen: " + outcomeText);
    return ok;
}
