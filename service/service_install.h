#pragma once
// Putting the timer service in place and taking everything away again, and the one-off hold.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/change_plan.h"
#include "foundation/setting_record.h"
#include "service/install_plan.h"
#include "foundation/system.h"

inline constexpr const wchar_t* kGlobalTimerValue = L"GlobalTimerResolutionRequests";
inline constexpr const wchar_t* kServiceDisplayName = L"Quorvantis (timer resolution)";
inline constexpr const wchar_t* kServiceDescription =
    L"Holds the system timer resolution at the value chosen by Quorvantis so Sleep()/wait timers fire with the lowest "
    L"measured latency on this machine.";

// Creates Program Files\Quorvantis protected (or repairs it); false, with the error logged, when
// it could not be made safe to run a SYSTEM service from.
bool PrepareInstallDirectory();
// Installed, running, and the kernel verified to report the resolution (or finer).
bool InstallTimerService(uint32_t resolution);
// Stops and deletes the service (and the older build's); false when ours could not be deleted.
bool RemoveTimerService();
// False when deleting the service failed or a setting could not be restored (its record stays
// for the next uninstall); every step runs regardless.
bool UninstallEverything();
// The --apply command: holds the resolution (0: the finest) in this console until it is closed
// or interrupted.
int HoldResolutionInConsole(uint32_t resolution);
// Releases a console hold; registered for every console control event.
BOOL WINAPI ConsoleHoldControlHandler(DWORD controlType);
