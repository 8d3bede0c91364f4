#include "support/machine_state.h"

#include <windows.h>

#include "foundation/feed.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "health/monitor.h"

namespace {
constexpr const wchar_t* kRestoreKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
}  // namespace

ScopedMachineState::ScopedMachineState(std::initializer_list<const wchar_t*> fakeSwitches)
    : fakeSwitches_(fakeSwitches.begin(), fakeSwitches.end()) {
    Clear(fakeSwitches_);
}

ScopedMachineState::~ScopedMachineState() { Clear(fakeSwitches_); }

void ScopedMachineState::Clear(const std::vector<std::wstring>& fakeSwitches) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"GlobalTimerResolutionRequests");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRestoreKey, L"SystemRestorePointCreationFrequency");
    for (const std::wstring& name : fakeSwitches) SetEnvironmentVariableW(name.c_str(), nullptr);
    SetDwellEnabled(false);
}
