#pragma once
// Services a step turns off, with what they were before: the start type
// ("GpuSvc_<name>_start", -1 when unknown) and, once the startup guard pinned them, the
// restart-on-failure actions ("GpuSvc_<name>_failure"). Each is recorded once, before the
// first change.
#include <string>
#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

// The change that turns a service off: stopped and Disabled, its start type on record first.
// A service that is not installed is listed as left alone; one that cannot be read is still
// tried (and fails when it refuses).
void PlanServiceDisabled(StepPlan& plan, const std::wstring& id, const std::wstring& serviceName, size_t item);
// Disabled and without failure actions, so the service manager never restarts it.
void PinServiceDisabled(const std::wstring& serviceName);
// Puts the recorded start type (and failure actions) back and starts the service when it was
// not disabled. A service that is gone, or whose start type could not be read when it was
// recorded, has nothing to put back; one that refuses stays on record.
void RestoreServiceStartType(const std::wstring& id, const std::wstring& serviceName, RestoreLedger& ledger);
// The service's record beside its start type now; nothing when there is no record.
void LedgerServiceChange(const std::wstring& step, const std::wstring& id, const std::wstring& serviceName,
                         std::vector<ChangeRow>& out);
