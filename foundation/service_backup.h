#pragma once
// Services a step turns off, with what they were before: the start type
// ("GpuSvc_<name>_start", -1 when unknown) and, once the startup guard pinned them, the
// restart-on-failure actions ("GpuSvc_<name>_failure"). Each is recorded once, before the
// first change.
#include <string>
#include <vector>

#include "foundation/change_ledger.h"

class RestoreLedger;

// Stops the service and sets it to Disabled; true when it was set to Disabled.
bool DisableServiceWithBackup(const std::wstring& serviceName);
// Disabled and without failure actions, so the service manager never restarts it.
void PinServiceDisabled(const std::wstring& serviceName);
// False when the service does not exist (or the service manager cannot be reached).
bool ServiceExists(const std::wstring& serviceName);
// Puts the recorded start type (and failure actions) back and starts the service when it was
// not disabled. A service that is gone has nothing to restore; one that refuses stays on record.
void RestoreServiceStartType(const std::wstring& serviceName, RestoreLedger& ledger, int& restored);

// The service's start type as a step would leave it (disabled) beside its record. Nothing is
// added for a service that neither exists nor has a record.
void DescribeServiceChange(const std::wstring& step, const std::wstring& serviceName, bool planned,
                           std::vector<ChangeRow>& out);
