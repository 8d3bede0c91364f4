// Where Windows defines a power setting: under one subgroup of ...\Control\Power\PowerSettings.
// Shared by the stand-in power library and the stand-in powercfg, which both refuse a setting
// named under a subgroup other than its own, as Windows does.
#pragma once

#include <windows.h>

#include <string>

inline bool PowerKeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// True when the setting is defined, but under another subgroup than the one named; a setting
// defined nowhere is not refused here (the prefix carries only the definitions tests make).
inline bool SettingUnderAnotherSubgroup(const std::wstring& subgroup, const std::wstring& setting) {
    const std::wstring definitions = L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings";
    if (PowerKeyExists(definitions + L"\\" + subgroup + L"\\" + setting)) return false;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, definitions.c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS) return false;
    bool elsewhere = false;
    wchar_t group[64];
    for (DWORD i = 0; !elsewhere; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(root, i, group, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        elsewhere = PowerKeyExists(definitions + L"\\" + group + L"\\" + setting);
    }
    RegCloseKey(root);
    return elsewhere;
}
