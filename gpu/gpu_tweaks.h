#pragma once
// GPU Config: Windows graphics values, NVIDIA and AMD driver values in every adapter key of
// their vendor, NVIDIA control-panel values and the NVIDIA telemetry service, each recorded
// before it first changes so the uninstall can put it back.
#include <string>
#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

// Every graphics setting GPU Config would write on this machine's adapters: Windows and driver
// registry values (per adapter, per user), NVIDIA profile values and services. A profile value
// that is not a number is left alone, and listed so.
StepPlan PlanGpuTweaks(const PlanContext& context);
// Plans, then carries out exactly that plan, paced.
bool ApplyGpuTweaks();
// Puts back every record, whether or not a run completed.
bool RestoreGpuTweaks(RestoreLedger& ledger);
// Every graphics setting GPU Config has on record, each once, in the hive it came from.
void LedgerGpuTweaks(std::vector<ChangeRow>& out);
// Hardening: the graphics services pinned off and the Game DVR policy locked off.
void HardenGpu();
