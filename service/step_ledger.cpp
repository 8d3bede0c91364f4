#include "service/step_ledger.h"

#include <algorithm>
#include <cwchar>
#include <set>

#include "foundation/log.h"
#include "foundation/scheduled_task.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "gpu/gpu_tweaks.h"
#include "service/install_plan.h"
#include "service/service_control.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

namespace {

// The Afterburner step's logon tasks: registered by the step (each on record first), removed by
// the uninstall.
struct OwnTask {
    const wchar_t* id;
    const wchar_t* name;
};
constexpr OwnTask kAfterburnerTasks[] = {
    {L"afterburner.task.afterburner", L"Quorvantis Afterburner"},
    {L"afterburner.task.rivatuner", L"Quorvantis RivaTuner"},
};

std::wstring TaskPlace(const OwnTask& task) { return FormatText(L"scheduled task \"%ls\" (at logon, highest run level)", task.name); }

// Windows keeps each registered task as a file of that name under System32\Tasks.
bool TaskExists(const OwnTask& task) { return FileExists(SystemToolPath(std::wstring(L"Tasks\\") + task.name)); }

}  // namespace

StepPlan PlanAfterburner(const PlanContext&) {
    StepPlan plan;
    plan.step = L"Afterburner";
    for (const OwnTask& task : kAfterburnerTasks) {
        ChangeRow row;
        row.id = task.id;
        row.setting = TaskPlace(task);
        row.keeping = ChangeKeeping::Own;
        row.currentRead = true;
        row.current = TaskExists(task) ? L"present" : L"absent";
        row.ours = L"present";
        row.state = JudgePlanned(row);
        plan.Add(std::move(row), 0, nullptr, nullptr);
    }
    plan.notes.push_back(L"Afterburner: installs MSI Afterburner and RivaTuner where missing and writes the scanned curve to "
                         L"profile 1; those are the programs' own files and are not listed here.");
    return plan;
}

void LedgerAfterburner(std::vector<ChangeRow>& out) {
    for (const OwnTask& task : kAfterburnerTasks) {
        if (!StateValueExists(OwnTaskRecord(task.name))) continue;
        ChangeRow row;
        row.id = task.id;
        row.step = L"Afterburner";
        row.setting = TaskPlace(task);
        row.keeping = ChangeKeeping::Own;
        row.recorded = true;
        row.original = L"absent";
        row.currentRead = true;
        row.current = TaskExists(task) ? L"present" : L"absent";
        row.ours = L"present";
        row.state = JudgeRecorded(row);
        out.push_back(std::move(row));
    }
}

// The tasks go at every uninstall, recorded or not: a build that kept no record made them too.
void RemoveAfterburnerTasks(RestoreLedger& ledger) {
    for (const OwnTask& task : kAfterburnerTasks) {
        if (!ledger.Includes(task.id)) continue;
        const bool recorded = StateValueExists(OwnTaskRecord(task.name));
        if (!recorded && ledger.Scoped()) continue;
        RunProcess(SystemToolPath(L"schtasks.exe"), FormatText(L"/Delete /F /TN \"%ls\"", task.name), 15000);
        if (recorded) ledger.Restored({OwnTaskRecord(task.name)});
    }
}

void RestoreRecordedSteps(RestoreLedger& ledger) {
    std::vector<const StepEntry*> order;
    for (const StepEntry& step : StepCatalogue()) {
        if (step.restore != nullptr) order.push_back(&step);
    }
    std::stable_sort(order.begin(), order.end(), [](const StepEntry* a, const StepEntry* b) { return a->restoreOrder < b->restoreOrder; });
    for (const StepEntry* step : order) step->restore(ledger);
    for (const StepEntry* step : order) {
        if (step->restoreLast != nullptr) step->restoreLast(ledger);
    }
}

std::vector<ChangeRow> RecordedChanges() {
    std::vector<ChangeRow> oneWay;
    OneWayChangesMade(oneWay);
    std::vector<ChangeRow> rows;
    for (const StepEntry& step : StepCatalogue()) {
        if (step.ledger != nullptr) step.ledger(rows);
        for (const ChangeRow& row : oneWay) {
            if (step.idPrefix != nullptr && row.id.rfind(step.idPrefix, 0) == 0) rows.push_back(row);
        }
    }
    return rows;
}

namespace {

// "a, b and c"
std::wstring Listed(const std::vector<std::wstring>& items) {
    std::wstring text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? L" and " : L", ";
        text += items[i];
    }
    return text;
}

void AddOnce(std::vector<std::wstring>& list, const std::wstring& item) {
    for (const std::wstring& known : list) {
        if (known == item) return;
    }
    list.push_back(item);
}

}  // namespace

std::vector<std::wstring> UninstallPlan(const std::vector<ChangeRow>& rows, bool wholeUninstall) {
    std::vector<std::wstring> plan;
    const ChangeRow* service = nullptr;
    const ChangeRow* copy = nullptr;
    const ChangeRow* activePlan = nullptr;
    const ChangeRow* madePlan = nullptr;
    int putBack = 0, changedSince = 0, restoredAlready = 0;
    std::vector<std::wstring> gone, away, oneWay, tasks;
    int goneCount = 0, awayCount = 0;
    for (const ChangeRow& row : rows) {
        if (row.id == L"timer.service") service = &row;
        else if (row.id == L"timer.copy") copy = &row;
        else if (row.id == L"power.plan") activePlan = &row;
        else if (row.id == L"power.plan.created") madePlan = &row;
        else if (row.id.rfind(L"afterburner.task.", 0) == 0 && row.state != ChangeState::AlreadyRestored) tasks.push_back(row.setting);
        else if (row.state == ChangeState::OneWayMade) oneWay.push_back(row.id);
        else if (row.state == ChangeState::Gone) {
            ++goneCount;
            AddOnce(gone, row.reason);
        } else if (row.state == ChangeState::AccountAway) {
            ++awayCount;
            AddOnce(away, row.reason);
        } else if (row.state == ChangeState::AlreadyRestored) {
            ++restoredAlready;
        } else if (PutBackOnRestore(row)) {
            ++putBack;
            if (row.state == ChangeState::ChangedSince) ++changedSince;
        }
    }
    if (wholeUninstall && (service != nullptr || TimerServiceInstalled())) {
        plan.push_back(FormatText(L"stop and remove the %ls service", kServiceName));
    }
    if (wholeUninstall) {
        bool guarded = false;
        for (const StepEntry& step : StepCatalogue()) guarded = guarded || (step.guardMark != nullptr && StateValueExists(step.guardMark));
        if (guarded) plan.push_back(FormatText(L"remove the startup guard task \"%ls\"", kGuardTask));
        for (const std::wstring& task : RecordedTrayTasks()) plan.push_back(L"remove the sign-in task \"" + task + L"\" that starts the tray");
    } else if (service != nullptr) {
        plan.push_back(FormatText(L"stop and remove the %ls service", kServiceName));
    }
    for (const std::wstring& task : tasks) plan.push_back(L"remove the " + task);
    if (putBack > 0) {
        plan.push_back(FormatText(L"put back %d setting(s) to the values on record%ls", putBack,
                                  changedSince > 0
                                      ? FormatText(L" (%d changed since by someone else also get their recorded value back)",
                                                   changedSince)
                                            .c_str()
                                      : L""));
    }
    if (restoredAlready > 0) plan.push_back(FormatText(L"drop %d record(s) whose setting is already back", restoredAlready));
    if (goneCount > 0) {
        plan.push_back(FormatText(L"drop %d record(s) whose setting is gone (%ls): nothing to put back", goneCount, Listed(gone).c_str()));
    }
    if (awayCount > 0) {
        plan.push_back(FormatText(L"keep %d record(s) of %ls, not signed in, for a later --uninstall", awayCount, Listed(away).c_str()));
    }
    if (activePlan != nullptr) {
        if (activePlan->state == ChangeState::Gone) {
            plan.push_back(activePlan->current == activePlan->ours
                               ? L"make Balanced (or another listed plan) active: power plan " + activePlan->original +
                                     L", active before, was deleted"
                               : L"leave the active plan: power plan " + activePlan->original + L", active before, was deleted");
        } else if (activePlan->state != ChangeState::AlreadyRestored) {
            plan.push_back(L"make power plan " + activePlan->original + L" active again");
        }
    }
    if (madePlan != nullptr && madePlan->state != ChangeState::AlreadyRestored) {
        const size_t open = madePlan->setting.find(L'{'), close = madePlan->setting.find(L'}');
        plan.push_back(L"delete the Ultimate Performance plan it made, " +
                       (open != std::wstring::npos && close != std::wstring::npos ? madePlan->setting.substr(open, close - open + 1)
                                                                                   : madePlan->setting));
    }
    if (!oneWay.empty()) {
        plan.push_back(FormatText(L"leave %d one-way change(s) as they are (%ls)", static_cast<int>(oneWay.size()),
                                  Listed(oneWay).c_str()));
    }
    if (wholeUninstall) {
        if (copy != nullptr || FileExists(InstalledExePath())) plan.push_back(L"delete " + InstalledExePath());
        plan.push_back(awayCount > 0 ? L"turn \"Maintain timing\" off and delete HKLM\\" + std::wstring(kStateKey) +
                                           L", all but the records it keeps"
                                     : L"turn \"Maintain timing\" off and delete HKLM\\" + std::wstring(kStateKey));
    } else {
        plan.push_back(L"remove the records of what it puts back or drops, and nothing else");
    }
    return plan;
}

bool Revertible(const ChangeRow& row) { return row.keeping == ChangeKeeping::Recorded || row.keeping == ChangeKeeping::Temporary; }

RevertOutcome RevertRecorded(const std::vector<ChangeRow>& rows) {
    std::set<std::wstring> ids;
    for (const ChangeRow& row : rows) {
        if (Revertible(row)) ids.insert(row.id);
    }
    RevertOutcome outcome;
    if (ids.empty()) return outcome;
    RestoreLedger ledger([&ids](const std::wstring& id) { return ids.count(id) != 0; });
    RestoreRecordedSteps(ledger);
    ClearRevertedRecords(ledger);
    // What is still on record afterwards was not put back.
    std::set<std::wstring> left;
    for (const ChangeRow& row : RecordedChanges()) {
        if (Revertible(row)) left.insert(row.id);
    }
    for (const ChangeRow& row : rows) {
        if (!Revertible(row)) continue;
        if (left.count(row.id) != 0) outcome.failed.push_back(row.id);
        else if (row.state == ChangeState::Gone || row.state == ChangeState::AlreadyRestored) outcome.dropped.push_back(row.id);
        else outcome.putBack.push_back(row.id);
    }
    for (const StepEntry& step : StepCatalogue()) {
        if (step.idPrefix == nullptr || step.slot == SlotService) continue;
        bool touched = false, remaining = false;
        for (const ChangeRow& row : rows) touched = touched || StepOfChange(row.id) == &step;
        for (const std::wstring& id : left) remaining = remaining || StepOfChange(id) == &step;
        if (!touched || remaining) continue;
        if (step.appliedMarker != nullptr) DeleteStateValue(step.appliedMarker);
        if (step.guardMark != nullptr) DeleteStateValue(step.guardMark);
        outcome.stepsUndone.push_back(step.name);
    }
    return outcome;
}
