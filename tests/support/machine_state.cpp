#include "support/machine_state.h"

#include <windows.h>

#include <utility>

#include "foundation/feed.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "gpu/gpu_catalogue.h"
#include "health/monitor.h"
#include "support/test_support.h"

namespace {
constexpr const wchar_t* kRestoreKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
constexpr const wchar_t* kFileSystem = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const wchar_t* kPower = L"SYSTEM\\CurrentControlSet\\Control\\Power";
}  // namespace

ScopedMachineState::ScopedMachineState(std::initializer_list<const wchar_t*> fakeSwitches)
    : fakeSwitches_(fakeSwitches.begin(), fakeSwitches.end()) {
    Clear(fakeSwitches_);
    for (const auto& [key, name] : {std::pair{kFileSystem, L"DisableDeleteNotification"},
                                    std::pair{kFileSystem, L"NtfsDisableLastAccessUpdate"}, std::pair{kPower, L"HibernateEnabled"}}) {
        SavedValue saved{key, name, false, {}};
        saved.present = ReadRawValue(RegRoot::LocalMachine, key, name, saved.value);
        saved_.push_back(saved);
    }
}

ScopedMachineState::~ScopedMachineState() {
    Clear(fakeSwitches_);
    for (const SavedValue& saved : saved_) {
        if (saved.present) WriteRawValue(RegRoot::LocalMachine, saved.key, saved.name, saved.value);
        else DeleteRegistryValue(RegRoot::LocalMachine, saved.key, saved.name);
    }
}

void ScopedMachineState::Clear(const std::vector<std::wstring>& fakeSwitches) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"GlobalTimerResolutionRequests");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRestoreKey, L"SystemRestorePointCreationFrequency");
    // A fresh prefix has none of the graphics step's values. One left applied by an earlier test
    // would make later health checks pass where they should not.
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind != GpuTweakKind::Registry || row.keyPath == nullptr) continue;
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, row.keyPath, row.valueName);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, row.keyPath, row.valueName);
    }
    for (const std::wstring& name : fakeSwitches) SetFakeSwitch(name.c_str(), nullptr);
    SyncFakeSwitches();
    SetDwellEnabled(false);
}
