#pragma once
// NVIDIA control-panel (driver settings store) values through nvapi64.dll, loaded at run time.
#include <cstdint>

struct DriverProfileSession {
    void* library = nullptr;  // HMODULE of nvapi64.dll
    void* session = nullptr;
    void* profile = nullptr;
    // Entry points by NVIDIA's published interface ids; null when the library lacks one.
    using StatusFn = int(__cdecl*)();
    using SessionOutFn = int(__cdecl*)(void** session);
    using SessionFn = int(__cdecl*)(void* session);
    using ProfileOutFn = int(__cdecl*)(void* session, void** profile);
    using SetSettingFn = int(__cdecl*)(void* session, void* profile, void* setting);
    using GetSettingFn = int(__cdecl*)(void* session, void* profile, uint32_t settingId, void* setting);
    StatusFn initialize = nullptr;
    StatusFn unload = nullptr;
    SessionOutFn createSession = nullptr;
    SessionFn destroySession = nullptr;
    SessionFn loadSettings = nullptr;
    SessionFn saveSettings = nullptr;
    ProfileOutFn getBaseProfile = nullptr;
    SetSettingFn setSetting = nullptr;
    GetSettingFn getSetting = nullptr;
    using DeleteSettingFn = int(__cdecl*)(void* session, void* profile, uint32_t settingId);
    DeleteSettingFn deleteSetting = nullptr;  // optional: takes a setting back to the driver's default
};

// What the base profile holds for one setting.
enum class ProfileRead { Dword, OtherType, NotFound, Failed };

bool OpenDriverProfileSession(DriverProfileSession& session);
ProfileRead ReadProfileSetting(DriverProfileSession& session, uint32_t settingId, uint32_t& value);
// True only when the setting holds a DWORD.
bool ReadProfileDword(DriverProfileSession& session, uint32_t settingId, uint32_t& value);
bool WriteProfileDword(DriverProfileSession& session, uint32_t settingId, uint32_t value);
// Removes the setting from the base profile, so the driver's own default applies again.
bool DeleteProfileSetting(DriverProfileSession& session, uint32_t settingId);
void SaveDriverProfiles(DriverProfileSession& session);
// Safe on a record that never opened, or opened only partly.
void CloseDriverProfileSession(DriverProfileSession& session);
