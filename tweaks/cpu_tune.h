#pragma once
// CPU Tune: the Ultimate Performance plan, 22 processor power settings and threaded DPCs off,
// every previous value recorded first so the uninstall can put it back.
#include <vector>

#include "foundation/change_ledger.h"

class RestoreLedger;

bool ApplyCpuTune();
// Puts back every recorded PPM value and ThreadDpcEnable, whether or not a run completed;
// returns how many settings were restored. The plan switch is undone separately, last.
int RestoreCpuTune(RestoreLedger& ledger);
// Activates the plan that was active before the first CPU Tune run, then removes the Ultimate
// Performance plan CPU Tune made. Called after every power value is back, so no restore writes
// into a plan that just stopped being the active one.
void RestorePowerPlan(RestoreLedger& ledger);
void SwitchBackToPreviousPlan(RestoreLedger& ledger);
// Every setting CPU Tune writes (planned) or has on record: the active plan, each processor power
// value in its plan, and ThreadDpcEnable.
void DescribeCpuTune(bool planned, std::vector<ChangeRow>& out);
