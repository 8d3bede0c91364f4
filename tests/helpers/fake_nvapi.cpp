// A stand-in nvapi64.dll: answers nvapi_QueryInterface for the nine driver-settings ids with a
// base profile kept in the registry (HKCU\Software\QuorvantisTests\FakeNvapi), so a later
// process (the uninstall) sees what an earlier one saved. Its configuration values there:
//   OmitInterface (DWORD)  an interface id to answer with null
//   FailInitialize (DWORD) non-zero: NvAPI_Initialize fails
//   Reject\<id as 8 hex digits> (any value): SetSetting rejects that setting id
//   Unreadable\<id as 8 hex digits> (any value): GetSetting fails for that id with NVAPI_ERROR
//                                                (as a driver that cannot read it does); writing works
// Settings live under Profile (committed by SaveSettings) and Session (set but not saved). A
// setting stored as REG_BINARY or REG_SZ there reads back with the binary or string type.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr const wchar_t* kRoot = L"Software\\QuorvantisTests\\FakeNvapi";
int g_session = 1;
int g_profile = 2;

struct Setting {  // the leading members of NVDRS_SETTING v1 the program uses
    uint32_t version;
    uint16_t name[2048];
    uint32_t settingId;
    uint32_t settingType;
    uint32_t location;
    uint32_t isCurrentPredefined;
    uint32_t isPredefinedValid;
    uint32_t predefined[1025];
    uint32_t current;
};

DWORD Config(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    RegGetValueW(HKEY_CURRENT_USER, kRoot, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

void IdText(uint32_t id, wchar_t (&out)[16]) { swprintf(out, 16, L"%08X", id); }

bool Read(const wchar_t* area, uint32_t id, DWORD& value) {
    wchar_t key[96], name[16];
    swprintf(key, 96, L"%ls\\%ls", kRoot, area);
    IdText(id, name);
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

int Initialize() { return Config(L"FailInitialize") != 0 ? -1 : 0; }
int Unload() { return 0; }
int CreateSession(void** session) {
    *session = &g_session;
    return 0;
}
int DestroySession(void*) { return 0; }
int LoadSettings(void*) {
    // The session starts as a copy of the saved profile.
    wchar_t session[96];
    swprintf(session, 96, L"%ls\\Session", kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, session);
    wchar_t profile[96];
    swprintf(profile, 96, L"%ls\\Profile", kRoot);
    HKEY from = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, profile, 0, KEY_READ, &from) == ERROR_SUCCESS) {
        HKEY to = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, session, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr);
        RegCopyTreeW(from, nullptr, to);
        RegCloseKey(to);
        RegCloseKey(from);
    }
    return 0;
}
int SaveSettings(void*) {
    wchar_t session[96], profile[96];
    swprintf(session, 96, L"%ls\\Session", kRoot);
    swprintf(profile, 96, L"%ls\\Profile", kRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, profile);
    HKEY from = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, session, 0, KEY_READ, &from) != ERROR_SUCCESS) return 0;
    HKEY to = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, profile, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr);
    RegCopyTreeW(from, nullptr, to);
    RegCloseKey(to);
    RegCloseKey(from);
    return 0;
}
int GetBaseProfile(void*, void** profile) {
    *profile = &g_profile;
    return 0;
}
int GetSetting(void*, void*, uint32_t id, Setting* setting) {
    wchar_t key[96], name[16];
    IdText(id, name);
    swprintf(key, 96, L"%ls\\Unreadable", kRoot);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return -1;
    swprintf(key, 96, L"%ls\\Session", kRoot);
    DWORD type = 0;
    BYTE data[64] = {};
    DWORD size = sizeof(data);
    if (setting->version != 0x13020u ||
        RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) {
        return -160;  // NVAPI_SETTING_NOT_FOUND
    }
    setting->settingType = type == REG_DWORD ? 0 : type == REG_BINARY ? 1 : 3;
    if (type == REG_DWORD) memcpy(&setting->current, data, sizeof(DWORD));
    return 0;
}
int DeleteSetting(void*, void*, uint32_t id) {
    wchar_t key[96], name[16];
    swprintf(key, 96, L"%ls\\Session", kRoot);
    IdText(id, name);
    return RegDeleteKeyValueW(HKEY_CURRENT_USER, key, name) == ERROR_SUCCESS ? 0 : -160;
}
int SetSetting(void*, void*, Setting* setting) {
    wchar_t name[16], reject[96], session[96];
    IdText(setting->settingId, name);
    swprintf(reject, 96, L"%ls\\Reject", kRoot);
    DWORD ignored = 0, size = sizeof(ignored);
    if (setting->version != 0x13020u || setting->settingType != 0 ||
        RegGetValueW(HKEY_CURRENT_USER, reject, name, RRF_RT_ANY, nullptr, &ignored, &size) == ERROR_SUCCESS) {
        return -160;
    }
    swprintf(session, 96, L"%ls\\Session", kRoot);
    const DWORD value = setting->current;
    return RegSetKeyValueW(HKEY_CURRENT_USER, session, name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS ? 0 : -1;
}

}  // namespace

extern "C" __declspec(dllexport) void* __cdecl nvapi_QueryInterface(uint32_t id) {
    if (id == Config(L"OmitInterface")) return nullptr;
    switch (id) {
    case 0x0150E828: return reinterpret_cast<void*>(Initialize);
    case 0xD22BDD7E: return reinterpret_cast<void*>(Unload);
    case 0x0694D52E: return reinterpret_cast<void*>(CreateSession);
    case 0xDAD9CFF8: return reinterpret_cast<void*>(DestroySession);
    case 0x375DBD6B: return reinterpret_cast<void*>(LoadSettings);
    case 0xFCBC7E14: return reinterpret_cast<void*>(SaveSettings);
    case 0xDA8466A0: return reinterpret_cast<void*>(GetBaseProfile);
    case 0x577DD202: return reinterpret_cast<void*>(SetSetting);
    case 0x73BF8338: return reinterpret_cast<void*>(GetSetting);
    case 0xE4A26362: return reinterpret_cast<void*>(DeleteSetting);
    default: return nullptr;
    }
}
