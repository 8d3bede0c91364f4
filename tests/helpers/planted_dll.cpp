// A library an attacker would plant beside the program (as powrprof.dll or nvapi64.dll): when
// anything loads it, it leaves a marker file at the path in QV_PLANTED_MARKER.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QV_PLANTED_MARKER", path, MAX_PATH) == 0) return TRUE;
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    // Which library was loaded, by its file name.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(instance, self, MAX_PATH);
    char name[MAX_PATH * 3] = {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, self, -1, name, sizeof(name), nullptr, nullptr);
    DWORD written = 0;
    if (length > 1) WriteFile(file, name, static_cast<DWORD>(length - 1), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
