#pragma once
// Hardening: making drifted settings harder to undo, and the startup task that re-applies every
// hardened area at each start of Windows.
#include <string>

void HardenArea(const std::wstring& area);
void HardenTimer();
void HardenPowerPlans(const std::wstring& area);  // "ppm" or "storage"
void HardenGpu();
void HardenMemory();
int RunGuard();
void RemoveStaleServices();
void MarkGuard(const wchar_t* name);
bool IsGuardSet(const wchar_t* name);
void EnsureGuardTask();

// The executable named in a service's binary path: the quoted text, or the text up to the first space.
std::wstring ExecutableFromBinaryPath(const std::wstring& binaryPath);
