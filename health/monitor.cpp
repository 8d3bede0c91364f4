#include "health/monitor.h"

#include <windows.h>

#include <algorithm>

#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/unique_handle.h"
#include "service/service_control.h"

namespace {

bool ReadMonitor(const std::wstring& name, uint32_t& value) {
    return ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, name, value);
}

void ReadFlag(const wchar_t* name, bool& field) {
    uint32_t value = 0;
    if (ReadMonitor(name, value)) field = value != 0;
}

void AddOnce(std::vector<std::wstring>& list, const std::wstring& area) {
    if (std::find(list.begin(), list.end(), area) == list.end()) list.push_back(area);
}

}  // namespace

MonitorSettings LoadMonitorSettings() {
    MonitorSettings s;
    ReadFlag(L"CloseToTray", s.closeToTray);
    ReadFlag(L"StartMinimized", s.startMinimized);
    ReadFlag(L"LaunchAtLogin", s.launchAtLogin);
    ReadFlag(L"TrayPrompted", s.trayPrompted);
    ReadFlag(L"StartupAsked", s.startupAsked);
    ReadFlag(L"Notify", s.notify);
    ReadFlag(L"Paused", s.paused);
    ReadFlag(L"MaintainTiming", s.maintainTiming);
    ReadFlag(L"MaintainAsked", s.maintainAsked);
    uint32_t hours = 0;
    if (ReadMonitor(L"ScanHours", hours) && static_cast<int>(hours) >= 1 && static_cast<int>(hours) <= 168) {
        s.scanHours = static_cast<int>(hours);
    }
    return s;
}

bool SaveMonitorSettings(const MonitorSettings& s) {
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMonitorKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool all = true;
    const auto put = [&](const wchar_t* name, DWORD value) {
        all = RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS && all;
    };
    put(L"CloseToTray", s.closeToTray);
    put(L"StartMinimized", s.startMinimized);
    put(L"LaunchAtLogin", s.launchAtLogin);
    put(L"TrayPrompted", s.trayPrompted);
    put(L"StartupAsked", s.startupAsked);
    put(L"Notify", s.notify);
    put(L"Paused", s.paused);
    put(L"MaintainTiming", s.maintainTiming);
    put(L"MaintainAsked", s.maintainAsked);
    put(L"ScanHours", static_cast<DWORD>(s.scanHours <= 0 ? 6 : s.scanHours));
    return all;
}

bool IsSetupComplete() {
    uint32_t value = 0;
    return ReadMonitor(L"SetupComplete", value) && value != 0;
}

StepWants ReadStepWants() {
    StepWants wants{};
    for (const StepEntry& step : StepCatalogue()) wants[static_cast<size_t>(step.slot)] = IsStepWanted(step.wantName);
    return wants;
}

bool WriteStepWants(const StepWants& wants) {
    bool all = true;
    for (const StepEntry& step : StepCatalogue()) {
        all = WriteDword(RegRoot::CurrentUser, kMonitorKey, std::wstring(L"Want_") + step.wantName,
                         wants[static_cast<size_t>(step.slot)] ? 1 : 0) &&
              all;
    }
    // Setup counts as done only once the choice it made is stored.
    return all && WriteDword(RegRoot::CurrentUser, kMonitorKey, L"SetupComplete", 1);
}

bool IsCheckDisabled(const std::wstring& checkId) {
    uint32_t value = 0;
    return ReadMonitor(L"Disabled_" + checkId, value) && value != 0;
}

bool IsStepWanted(const std::wstring& step) {
    uint32_t value = 1;
    return !ReadMonitor(L"Want_" + step, value) || value != 0;
}

void RecordDrift(const std::wstring& checkId, int count) {
    if (count > 0) {
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Drift_" + checkId, static_cast<uint32_t>(count));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kMonitorKey, (L"Drift_" + checkId).c_str());
    }
}

bool IsAreaApplied(const std::wstring& area) {
    if (area == L"timer") return TimerServiceInstalled();
    // The state values each area's records go under.
    struct AreaRecords {
        const wchar_t* area;
        std::vector<const wchar_t*> prefixes;
    };
    static const AreaRecords kAreas[] = {
        {L"ppm", {L"Ppm_", L"PpmPreviousScheme", L"PpmScheme", L"ThreadDpc"}},
        {L"gpu", {L"Gpu_", L"GpuDrs_", L"GpuSvc_"}},
        {L"memory", {L"MemCompDisabled", L"Pagefile"}},
        {L"storage", {L"Pwr_", L"GpuSvc_SysMain"}},
    };
    const StepEntry* step = StepOfArea(area);
    for (const AreaRecords& entry : kAreas) {
        if (area != entry.area || step == nullptr) continue;
        uint32_t marker = 0;
        if (step->appliedMarker != nullptr && ReadStateDword(step->appliedMarker, marker) && marker != 0) return true;
        // Records an uninstall could not restore stay for the next uninstall; they are not a
        // tune to keep up.
        if (StateValueExists(L"RestorePending")) return false;
        for (const std::wstring& name : RegistryValueNames(RegRoot::LocalMachine, kStateKey)) {
            for (const wchar_t* prefix : entry.prefixes) {
                // SysMain's start type is storage's, though it sits among the graphics services' records.
                if (area == L"gpu" && name.rfind(L"GpuSvc_SysMain", 0) == 0) continue;
                if (name.rfind(prefix, 0) == 0) return true;
            }
        }
        return false;
    }
    return false;
}

void StopMaintaining() {
    const MonitorSettings settings = LoadMonitorSettings();
    if (settings.maintainTiming) WriteDword(RegRoot::CurrentUser, kMonitorKey, L"MaintainTiming", 0);
    if (settings.launchAtLogin) WriteDword(RegRoot::CurrentUser, kMonitorKey, L"LaunchAtLogin", 0);
    for (const std::wstring& name : RegistryValueNames(RegRoot::CurrentUser, kMonitorKey)) {
        if (name.rfind(L"Drift_", 0) == 0) RegDeleteKeyValueW(HKEY_CURRENT_USER, kMonitorKey, name.c_str());
    }
}

DriftPlan PlanDriftRepair(const std::vector<HealthCheck>& results) {
    DriftPlan plan;
    for (const HealthCheck& check : results) {
        if (check.status == HealthPassing) {
            RecordDrift(check.id, 0);
            continue;
        }
        const bool drifted = IsAttentionStatus(check.status);
        // Afterburner cannot be repaired unattended; checks without an area have nothing to re-run.
        if (!drifted || check.repairStep.empty() || check.repairStep == L"afterburner") continue;
        // Never re-run a step the user left off, nor one this program has not applied (never ran,
        // or was uninstalled): those are reported, and changed only when the user asks.
        const StepEntry* step = StepOfArea(check.repairStep);
        if (step == nullptr || !IsStepWanted(step->wantName) || !IsAreaApplied(check.repairStep)) continue;
        uint32_t previous = 0;
        ReadMonitor(L"Drift_" + check.id, previous);
        const int count = static_cast<int>(previous) + 1;
        RecordDrift(check.id, count);
        AddOnce(plan.repair, check.repairStep);
        if (count >= 2) AddOnce(plan.harden, check.repairStep);
    }
    return plan;
}

void DriftRepair(const std::vector<HealthCheck>& results, const std::function<void(const std::wstring&)>& harden,
                 const std::function<void(const std::wstring&)>& repair) {
    const DriftPlan plan = PlanDriftRepair(results);
    for (const std::wstring& area : plan.harden) harden(area);
    for (const std::wstring& area : plan.repair) repair(area);
}
