#include "afterburner/process_windows.h"

namespace {

struct WindowSearch {
    DWORD process;
    std::wstring_view titlePrefix;
    bool visibleOnly;
    bool closeAll;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process) return TRUE;
    if (search->closeAll) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
    wchar_t title[128] = {};
    const int length = GetWindowTextW(window, title, 128);
    if (std::wstring_view(title, static_cast<size_t>(length > 0 ? length : 0)).starts_with(search->titlePrefix)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD process, std::wstring_view titlePrefix, bool visibleOnly) {
    WindowSearch search{process, titlePrefix, visibleOnly, false, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void CloseProcessWindows(DWORD process) {
    WindowSearch search{process, {}, false, true, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
}
