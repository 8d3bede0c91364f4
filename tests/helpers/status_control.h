#pragma once
// The test stand-in for reading the scanner's status through UI Automation (which Wine lacks):
// the text of control 1007, asked for with WM_GETTEXT across the process boundary.
#include <windows.h>

#include <string>

inline std::wstring ReadStatusControl(HWND scannerWindow) {
    const HWND status = GetDlgItem(scannerWindow, 1007);
    if (status == nullptr) return {};
    wchar_t text[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(status, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied)) return {};
    return std::wstring(text, copied);
}
