#pragma once
// GPU Config: Windows graphics values, NVIDIA and AMD driver values in every adapter key of
// their vendor, NVIDIA control-panel values and the NVIDIA telemetry service, each recorded
// before it first changes so the uninstall can put it back.
#include <string>

class RestoreLedger;

bool ApplyGpuTweaks();
// Puts back every record, whether or not a run completed.
bool RestoreGpuTweaks(RestoreLedger& ledger);
// Records the machine-wide value's state under "Gpu_<id>...", unless it is on record already.
void RecordGpuValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName);

