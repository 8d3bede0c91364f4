#pragma once
// The service that holds the chosen timer resolution from boot until it is stopped.
#include <windows.h>

#include <cstdint>

// Target from the stored values (0 or missing counts as absent), else the kernel's finest;
// kept within the kernel's range (a coarsest of 0 means "not reported").
uint32_t ChooseServiceTarget(uint32_t desired, uint32_t legacyDesired, uint32_t finest, uint32_t coarsest);

// The job, apart from the service protocol: request the stored resolution and publish what
// the kernel reports. False when the request failed.
bool StartHolding(uint32_t& target);
// Re-asserts the request every interval until the event is signalled.
void KeepHolding(HANDLE stopEvent, uint32_t target, uint32_t intervalMs);
// Releases the request and publishes 0.
void StopHolding(uint32_t target);

void ReportServiceStatus(DWORD state, DWORD exitCode);
DWORD WINAPI TimerServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
void WINAPI TimerServiceMain(DWORD argc, LPWSTR* argv);

inline constexpr uint32_t kReassertIntervalMs = 30000;
