// A stand-in powrprof.dll for end-to-end runs of the program under Wine, whose own power library
// is a stub. It keeps the plans where Windows keeps them (HKLM\SYSTEM\CurrentControlSet\Control\
// Power\User\PowerSchemes): a key per plan, "ActivePowerScheme" naming the active one, and each
// plan's own values as <subgroup>\<setting>\ACSettingIndex and DCSettingIndex, so a later process
// (the uninstall) sees what an earlier one wrote, and a value taken away from that key is gone as
// it is on Windows. As on Windows:
//   - a plan that does not exist cannot be read, written or activated;
//   - hidden templates (Ultimate Performance) live under ...\Power\User\Default\PowerSchemes and
//     appear in the plan list only once duplicated, under the GUID the caller asks for;
//   - the active plan cannot be deleted;
//   - a setting written under a subgroup other than the one its definition (PowerSettings) puts
//     it in does not exist there, and is refused;
//   - PowerWriteSettingAttributes sets the setting's "Attributes" value under
//     ...\Control\Power\PowerSettings\<subgroup>\<setting> to exactly the value given (so 0 also
//     clears the bit that shows it on Modern Standby PCs), for a setting whose key exists;
//   - on a Modern Standby PC (the test sets ModernStandby under HKCU\Software\QuorvantisTests\
//     FakePowrProf), PowerSetActiveScheme for a plan other than Balanced answers success and
//     Balanced stays in force, as users of such PCs report (powercfg /setactive still holds).
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "power_setting_home.h"

namespace {

constexpr const wchar_t* kSchemes = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const wchar_t* kTemplates = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\Default\\PowerSchemes";

std::wstring Text(const GUID* g) {
    wchar_t out[40];
    swprintf(out, 40, L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g->Data1, g->Data2, g->Data3, g->Data4[0], g->Data4[1],
             g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
    return out;
}

bool Parse(const std::wstring& text, GUID& g) {
    const std::wstring braced = L"{" + text + L"}";
    return braced.size() == 38 && IIDFromString(braced.c_str(), &g) == S_OK;
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

std::wstring PlanKey(const GUID* scheme) { return std::wstring(kSchemes) + L"\\" + Text(scheme); }
bool PlanExists(const GUID* scheme) { return scheme != nullptr && KeyExists(PlanKey(scheme)); }

DWORD ReadIndex(const GUID* scheme, const GUID* subgroup, const GUID* setting, const wchar_t* name, LPDWORD value) {
    if (!PlanExists(scheme)) return ERROR_FILE_NOT_FOUND;
    const std::wstring key = PlanKey(scheme) + L"\\" + Text(subgroup) + L"\\" + Text(setting);
    DWORD size = sizeof(DWORD);
    return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS
               ? ERROR_SUCCESS
               : ERROR_FILE_NOT_FOUND;
}

DWORD WriteIndex(const GUID* scheme, const GUID* subgroup, const GUID* setting, const wchar_t* name, DWORD value) {
    if (!PlanExists(scheme)) return ERROR_FILE_NOT_FOUND;
    if (subgroup == nullptr || setting == nullptr || SettingUnderAnotherSubgroup(Text(subgroup), Text(setting))) return ERROR_FILE_NOT_FOUND;
    const std::wstring key = PlanKey(scheme) + L"\\" + Text(subgroup) + L"\\" + Text(setting);
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI PowerGetActiveScheme(HKEY, GUID** active) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    GUID scheme{};
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSchemes, L"ActivePowerScheme", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS ||
        !Parse(text, scheme)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *active = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
    **active = scheme;
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI PowerSetActiveScheme(HKEY, const GUID* scheme) {
    if (!PlanExists(scheme)) return ERROR_FILE_NOT_FOUND;
    DWORD modernStandby = 0, size = sizeof(modernStandby);
    RegGetValueW(HKEY_CURRENT_USER, L"Software\\QuorvantisTests\\FakePowrProf", L"ModernStandby", RRF_RT_REG_DWORD, nullptr,
                 &modernStandby, &size);
    constexpr GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
    const std::wstring text = Text(modernStandby != 0 && PlanExists(&kBalanced) ? &kBalanced : scheme);
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSchemes, L"ActivePowerScheme", REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

__declspec(dllexport) DWORD WINAPI PowerReadACValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                                                         LPDWORD value) {
    return ReadIndex(scheme, subgroup, setting, L"ACSettingIndex", value);
}

__declspec(dllexport) DWORD WINAPI PowerReadDCValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                                                         LPDWORD value) {
    return ReadIndex(scheme, subgroup, setting, L"DCSettingIndex", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteACValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                                                          DWORD value) {
    return WriteIndex(scheme, subgroup, setting, L"ACSettingIndex", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteDCValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                                                          DWORD value) {
    return WriteIndex(scheme, subgroup, setting, L"DCSettingIndex", value);
}

__declspec(dllexport) DWORD WINAPI PowerWriteSettingAttributes(const GUID* subgroup, const GUID* setting, DWORD attributes) {
    if (subgroup == nullptr || setting == nullptr) return ERROR_INVALID_PARAMETER;
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\" + Text(subgroup) + L"\\" + Text(setting);
    if (!KeyExists(key)) return ERROR_FILE_NOT_FOUND;
    return static_cast<DWORD>(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Attributes", REG_DWORD, &attributes, sizeof(attributes)));
}

// Schemes only (ACCESS_SCHEME, 16): the plans in key order.
__declspec(dllexport) DWORD WINAPI PowerEnumerate(HKEY, const GUID*, const GUID*, int access, ULONG index, UCHAR* buffer,
                                                  DWORD* size) {
    if (access != 16 || size == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY plans = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSchemes, 0, KEY_READ, &plans) != ERROR_SUCCESS) return ERROR_NO_MORE_ITEMS;
    wchar_t name[64];
    DWORD length = 64;
    const LONG found = RegEnumKeyExW(plans, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(plans);
    GUID scheme{};
    if (found != ERROR_SUCCESS || !Parse(name, scheme)) return ERROR_NO_MORE_ITEMS;
    if (buffer == nullptr || *size < sizeof(GUID)) {
        *size = sizeof(GUID);
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, &scheme, sizeof(GUID));
    *size = sizeof(GUID);
    return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI PowerDuplicateScheme(HKEY, const GUID* source, GUID** destination) {
    if (source == nullptr || destination == nullptr || *destination == nullptr) return ERROR_INVALID_PARAMETER;
    if (PlanExists(*destination)) return ERROR_ALREADY_EXISTS;
    const std::wstring from = PlanExists(source) ? PlanKey(source) : std::wstring(kTemplates) + L"\\" + Text(source);
    if (!KeyExists(from)) return ERROR_FILE_NOT_FOUND;
    HKEY target = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, PlanKey(*destination).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) !=
        ERROR_SUCCESS) {
        return ERROR_ACCESS_DENIED;
    }
    const LONG copied = RegCopyTreeW(HKEY_LOCAL_MACHINE, from.c_str(), target);
    RegCloseKey(target);
    return copied == ERROR_SUCCESS ? ERROR_SUCCESS : static_cast<DWORD>(copied);
}

__declspec(dllexport) DWORD WINAPI PowerDeleteScheme(HKEY, const GUID* scheme) {
    if (!PlanExists(scheme)) return ERROR_FILE_NOT_FOUND;
    GUID* active = nullptr;
    if (PowerGetActiveScheme(nullptr, &active) == ERROR_SUCCESS) {
        const bool isActive = memcmp(active, scheme, sizeof(GUID)) == 0;
        LocalFree(active);
        if (isActive) return ERROR_ACCESS_DENIED;
    }
    return static_cast<DWORD>(RegDeleteTreeW(HKEY_LOCAL_MACHINE, PlanKey(scheme).c_str()) == ERROR_SUCCESS &&
                                      RegDeleteKeyW(HKEY_LOCAL_MACHINE, PlanKey(scheme).c_str()) == ERROR_SUCCESS
                                  ? ERROR_SUCCESS
                                  : ERROR_ACCESS_DENIED);
}

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
