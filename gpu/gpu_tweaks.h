#pragma once
// GPU Config: Windows graphics values, NVIDIA and AMD driver values in every adapter key of
// their vendor, NVIDIA control-panel values and the NVIDIA telemetry service, each recorded
// before it first changes so the uninstall can put it back.
#include <string>
#include <vector>

#include "foundation/change_ledger.h"

class RestoreLedger;

bool ApplyGpuTweaks();
// Puts back every record, whether or not a run completed.
bool RestoreGpuTweaks(RestoreLedger& ledger);
// Records the machine-wide value's state under "Gpu_<id>...", unless it is on record already.
void RecordGpuValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName);

// Every graphics setting GPU Config would write on this machine's adapters (planned), or has on
// record: Windows and driver registry values (per adapter, per user), NVIDIA profile values
// and services.
void DescribeGpuTweaks(bool planned, std::vector<ChangeRow>& out);
