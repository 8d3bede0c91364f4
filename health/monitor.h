#pragma once
// The per-user Monitor key: the window's and tray monitor's settings, the step choice, per-check
// switches and drift counters, and the drift repair that decides what is hardened and repaired.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "health/health_check.h"
#include "service/step_catalogue.h"

inline constexpr const wchar_t* kMonitorKey = L"Software\\Quorvantis\\Monitor";

struct MonitorSettings {
    bool closeToTray = true;
    bool startMinimized = true;
    bool launchAtLogin = true;
    bool trayPrompted = false;
    bool startupAsked = false;
    bool notify = true;
    bool paused = false;
    bool maintainTiming = false;
    bool maintainAsked = false;
    int scanHours = 6;
};

MonitorSettings LoadMonitorSettings();
// The settings only: "Start with Windows" itself is made by SetLaunchAtLogin (autostart.h),
// which starts a program and is run off the window's thread.
// False when any value could not be written.
bool SaveMonitorSettings(const MonitorSettings& settings);

// The user's choice of steps, one per slot of the step catalogue ("Want_<its stored name>").
using StepWants = std::array<bool, kSlotCount>;
bool IsSetupComplete();
StepWants ReadStepWants();
bool WriteStepWants(const StepWants& wants);
bool IsCheckDisabled(const std::wstring& checkId);
bool IsStepWanted(const std::wstring& step);
void RecordDrift(const std::wstring& checkId, int count);

// Whether this program has applied the area and not undone it: its step's applied marker is in
// the state key, or records of its settings are (a cancelled run) and no uninstall left them
// behind. Only such areas are ever repaired or hardened without the user pressing a button.
bool IsAreaApplied(const std::wstring& area);

// What an uninstall does to the per-user monitor: it stops maintaining, forgets drift and no
// longer starts with Windows (the uninstall removed the sign-in task and the copy it started;
// opening the window must not bring them back).
void StopMaintaining();

struct DriftPlan {
    std::vector<std::wstring> harden;  // areas, in order of first sight
    std::vector<std::wstring> repair;
};
// Counts consecutive drifts per check (in the Monitor key) and lists the areas to harden
// (drifted twice or more in a row) and to repair: only areas the user wants and this program
// applied; anything else is reported and left alone.
DriftPlan PlanDriftRepair(const std::vector<HealthCheck>& results);
// Hardens, then repairs, through the caller's operations.
void DriftRepair(const std::vector<HealthCheck>& results, const std::function<void(const std::wstring&)>& harden,
                 const std::function<void(const std::wstring&)>& repair);
