#pragma once
// Disables a Windows service after recording its start type ("GpuSvc_<name>_start", -1 when
// unknown) in the state key; true when it was set to Disabled.
#include <string>

bool DisableServiceWithBackup(const std::wstring& serviceName);
