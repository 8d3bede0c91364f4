#pragma once
// Hardening: making drifted settings harder to undo, and the startup task that re-applies every
// hardened area at each start of Windows.
#include <string>

// Re-applies the area's step the hardened way, marks it for the startup guard and makes sure the
// guard task exists.
void HardenArea(const std::wstring& area);
int RunGuard();
void RemoveStaleServices();
void MarkGuard(const wchar_t* name);
bool IsGuardSet(const wchar_t* name);
void EnsureGuardTask();

// The executable named in a service's binary path: the quoted text, or the text up to the first space.
std::wstring ExecutableFromBinaryPath(const std::wstring& binaryPath);
