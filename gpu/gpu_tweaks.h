#pragma once
// GPU Config: Windows graphics values, NVIDIA and AMD driver values in every adapter key of
// their vendor, NVIDIA control-panel values and the NVIDIA telemetry service, each recorded
// before it changes so the uninstall can put it back.
#include <string>

bool ApplyGpuTweaks();
bool RestoreGpuTweaks();
// Records the machine-wide value's previous state under "Gpu_<id>...".
void RecordGpuValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName);
// Puts one record back; counts one restored setting on success.
void RestoreGpuValue(const std::wstring& id, int& counter);
