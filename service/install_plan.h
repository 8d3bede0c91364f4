#pragma once
// The timer service step as the step catalogue sees it: what the install writes, what it has
// on record, how it is put back and how it is hardened.
#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

// What the install writes for that resolution (0: the one the benchmark picks): the service,
// the program's copy it runs and GlobalTimerResolutionRequests.
StepPlan PlanInstall(const PlanContext& context);
// The service and its copy while they are there, and the global flag's record.
void LedgerInstall(std::vector<ChangeRow>& out);
// Puts GlobalTimerResolutionRequests back as it was before the first install.
void RestoreInstall(RestoreLedger& ledger);
// Hardening: automatic start, restart on failure, and started now; false when not installed.
bool HardenTimerService();
