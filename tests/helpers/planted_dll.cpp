// A library an attacker would plant beside the program (as powrprof.dll or nvapi64.dll): when
// anything loads it, it leaves a marker file at the path in QV_PLANTED_MARKER.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QV_PLANTED_MARKER", path, MAX_PATH) == 0) return TRUE;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
