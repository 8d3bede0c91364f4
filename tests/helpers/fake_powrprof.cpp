// A stand-in powrprof.dll for end-to-end runs of the program under Wine, whose own power
// library is a stub. Placed beside a copy of the program, it keeps the power plan in the
// registry (HKCU\Software\QuorvantisTests\FakePower) so that a later process (the uninstall)
// sees what an earlier one wrote, exactly as the real store would.
#include <windows.h>

#include <cstdio>

namespace {

constexpr const wchar_t* kRoot = L"Software\\QuorvantisTests\\FakePower";

void GuidString(const GUID* g, wchar_t (&out)[40]) {
    swprintf(out, 40, L"%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g->Data1, g->Data2, g->Data3, g->Data4[0],
             g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
}

void ValueKey(const GUID* scheme, const GUID* setting, wchar_t (&out)[128]) {
    wchar_t s[40], t[40];
    GuidString(scheme, s);
    GuidString(setting, t);
    swprintf(out, 128, L"%ls\\%ls\\%ls", kRoot, s, t);
}

DWORD ReadIndex(const GUID* scheme, const GUID* setting, const wchar_t* name, LPDWORD value) {
    wchar_t key[128];
    ValueKey(scheme, setting, key);
    DWORD size = sizeof(DWORD);
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS
               ? ERROR_SUCCESS
               : ERROR_FILE_NOT_FOUND;
}

DWORD WriteIndex(const GUID* scheme, const GUID* setting, const wchar_t* name, DWORD value) {
    wchar_t key[128];
    ValueKey(scheme, setting, key);
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_DWORD, &value, sizeof(value));
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI PowerGetActiveScheme(HKEY, GUID** active) {
    GUID scheme{};
    DWORD size = sizeof(scheme);
    if (RegGetValueW(HKEY_CURRENT_USER, kRoot, L"Active", RRF_RT_REG_BINARY, nullptr, &scheme, &size) != ERROR_SUCCESS) {
        return ERROR_FILE_NOT_FOUND;
    }
    *active = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
    **active = scheme;
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI PowerSetActiveScheme(HKEY, const GUID* scheme) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, kRoot, L"Active", REG_BINARY, scheme, sizeof(GUID));
}

__declspec(dllexport) DWORD WINAPI PowerReadACValueIndex(HKEY, const GUID* scheme, const GUID*, const GUID* setting,
                                                         LPDWORD value) {
    return ReadIndex(scheme, setting, L"ac", value);
}

__declspec(dllexport) DWORD WINAPI PowerReadDCValueIndex(HKEY, const GUID* scheme, const GUID*, const GUID* setting,
                                                         LPDWORD value) {
    return ReadIndex(scheme, setting, L"dc", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteACValueIndex(HKEY, const GUID* scheme, const GUID*, const GUID* setting,
                                                          DWORD value) {
    return WriteIndex(scheme, setting, L"ac", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteDCValueIndex(HKEY, const GUID* scheme, const GUID*, const GUID* setting,
                                                          DWORD value) {
    return WriteIndex(scheme, setting, L"dc", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteSettingAttributes(const GUID*, const GUID*, DWORD) { return ERROR_SUCCESS; }

// A locked 3600 MHz processor.
__declspec(dllexport) LONG WINAPI CallNtPowerInformation(int level, PVOID, ULONG, PVOID output, ULONG outputLength) {
    if (level != 11) return static_cast<LONG>(0xC0000002);
    auto* info = static_cast<ULONG*>(output);
    for (ULONG i = 0; i + 24 <= outputLength; i += 24, info += 6) {
        info[0] = i / 24;
        info[1] = 3600;
        info[2] = 3600;
        info[3] = 3600;
        info[4] = 0;
        info[5] = 0;
    }
    return 0;
}

}  // extern "C"
