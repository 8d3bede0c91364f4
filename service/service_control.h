#pragma once
// Looking at, stopping and starting the timer service (and the older build's "Brevitron").
#include <cstdint>

#include "foundation/feed.h"

inline constexpr const wchar_t* kServiceName = L"Quorvantis";
inline constexpr const wchar_t* kLegacyServiceName = L"Brevitron";

// The older build's service counts only when ours does not exist.
TimerServiceState QueryTimerServiceState();
bool TimerServiceInstalled();
// The process the service manager says runs the service; 0 when none does.
uint32_t ServiceProcessId(const wchar_t* name);
// True when the service stopped within 15 s, or does not exist at all.
bool StopServiceByName(const wchar_t* name);
// Stops and deletes the older build's service; true when it is gone (or going).
bool RemoveLegacyService();
void StartTimerServiceNoWait();
// Starts the service (or finds it running) and waits until it runs; false when it does not
// exist, did not start, or did not reach running in time.
bool StartServiceAndWait(const wchar_t* name, uint32_t timeoutMs);
// The --start and --stop commands; returns the exit code.
int StartOrStopCommand(bool start);
