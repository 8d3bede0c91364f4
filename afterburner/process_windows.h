#pragma once
// The top-level windows of another program, found by its process id first: asking every window
// for its title would send WM_GETTEXT to our own GUI thread too, and stall for as long as that
// thread waits.
#include <windows.h>

#include <string_view>

// The first top-level window of the process whose title starts with the prefix (only a visible
// one when asked); null when there is none.
HWND FindProcessWindow(DWORD process, std::wstring_view titlePrefix, bool visibleOnly);
// Asks every top-level window of the process to close.
void CloseProcessWindows(DWORD process);
