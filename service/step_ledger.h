#pragma once
// What the step catalogue's rows have on record, taken together: the ledger --changes and the
// Health screen list, the uninstall's restores in their order, and what an uninstall or a
// revert would do.
#include <string>
#include <vector>

#include "service/step_catalogue.h"

// Every step's restore, in the uninstall's order; each acts on whatever records exist and only
// on the changes the ledger's scope includes.
void RestoreRecordedSteps(RestoreLedger& ledger);
// Every record in the state key, step by step, with the one-way changes made beside their step.
std::vector<ChangeRow> RecordedChanges();
// What the uninstall (wholeUninstall) or a revert of these rows would do now, in its order.
std::vector<std::wstring> UninstallPlan(const std::vector<ChangeRow>& rows, bool wholeUninstall);

// A change --revert can put back: one with a record this program restores (its own service,
// copy and tasks go only with --uninstall, and a one-way change cannot be taken back).
bool Revertible(const ChangeRow& row);

struct RevertOutcome {
    std::vector<std::wstring> putBack;    // ids whose original is back
    std::vector<std::wstring> dropped;    // ids whose record went, with nothing to put back
    std::vector<std::wstring> failed;     // ids still changed, their records kept
    std::vector<std::wstring> stepsUndone;  // steps undone whole, now counted as not applied
};
// Puts back exactly these rows' recorded originals, each step's in the uninstall's order, and
// removes their records and nothing else. A step none of whose changes is left on record
// counts as not applied any more: its applied and guard markers go, so drift repair and the
// startup guard leave it alone.
RevertOutcome RevertRecorded(const std::vector<ChangeRow>& rows);

// The Afterburner step's own changes: its two logon tasks.
StepPlan PlanAfterburner(const PlanContext& context);
void LedgerAfterburner(std::vector<ChangeRow>& out);
void RemoveAfterburnerTasks(RestoreLedger& ledger);
