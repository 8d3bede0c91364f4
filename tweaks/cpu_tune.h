#pragma once
// CPU Tune: the Ultimate Performance plan, 22 processor power settings and threaded DPCs off,
// every previous value recorded first so the uninstall can put it back.
#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

// What CPU Tune would change on this machine now: the plan it makes and activates (Ultimate
// Performance made from Windows' template, or High Performance where there is none), every
// processor power value in that plan, and ThreadDpcEnable. The plan it leaves active is
// handed on to the steps after it.
StepPlan PlanCpuTune(const PlanContext& context);
// Plans, then carries out exactly that plan, paced.
bool ApplyCpuTune();
// Puts back every recorded PPM value and ThreadDpcEnable, whether or not a run completed;
// returns how many settings were restored. The plan switch is undone separately, last.
int RestoreCpuTune(RestoreLedger& ledger);
// Activates the plan that was active before the first CPU Tune run (Balanced, or another listed
// plan, when that one was deleted since), then removes the Ultimate Performance plan CPU Tune
// made. Called after every power value is back, so no restore writes into a plan that just
// stopped being the active one.
void RestorePowerPlan(RestoreLedger& ledger);
// Every setting CPU Tune has on record: the active plan, the plan it made, each processor power
// value in its plan, and ThreadDpcEnable.
void LedgerCpuTune(std::vector<ChangeRow>& out);
// Hardening: the rows in every plan the machine lists, each plan's own values on record first,
// so a plan change cannot bring the defaults back.
void HardenCpuTune();
