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
// A task (the guard at boot as SYSTEM, the tray at sign-in) must never run a file a user could
// replace (a copy in Downloads, say): it runs the copy under Program Files, put there first from
// the image this process started from. True when that copy is in place.
bool PlaceInstalledCopy(const std::wstring& installed);

// The executable named in a service's binary path: the quoted text, or the text up to the first space.
std::wstring ExecutableFromBinaryPath(const std::wstring& binaryPath);
