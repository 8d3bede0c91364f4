#include "gpu/driver_profile.h"

#include <windows.h>

#include <cstddef>
#include <memory>

#include "foundation/system.h"

namespace {

// NVDRS_SETTING version 1, declared from NVIDIA's public interface: a 2048-character name,
// then the id, type, location and predefined flags, then two value unions whose largest
// member is a 4-byte length plus 4096 bytes of binary data.
struct NvdrsSettingV1 {
    uint32_t version;
    uint16_t settingName[2048];
    uint32_t settingId;
    uint32_t settingType;
    uint32_t settingLocation;
    uint32_t isCurrentPredefined;
    uint32_t isPredefinedValid;
    union {
        uint32_t u32PredefinedValue;
        struct {
            uint32_t valueLength;
            uint8_t valueData[4096];
        } binaryPredefinedValue;
    };
    union {
        uint32_t u32CurrentValue;
        struct {
            uint32_t valueLength;
            uint8_t valueData[4096];
        } binaryCurrentValue;
    };
};
static_assert(sizeof(NvdrsSettingV1) == 12320, "NVDRS_SETTING v1 is 12320 bytes");
static_assert(offsetof(NvdrsSettingV1, u32CurrentValue) == 8220);

constexpr uint32_t kSettingVersion1 = sizeof(NvdrsSettingV1) | (1u << 16);  // 0x13020
constexpr uint32_t kDwordType = 0;
constexpr int kSettingNotFound = -160;  // NVAPI_SETTING_NOT_FOUND

using QueryInterfaceFn = void*(__cdecl*)(uint32_t id);

template <typename Fn>
Fn Resolve(QueryInterfaceFn query, uint32_t id) {
    return reinterpret_cast<Fn>(query(id));
}

std::unique_ptr<NvdrsSettingV1> BlankSetting(uint32_t settingId) {
    auto setting = std::make_unique<NvdrsSettingV1>();  // value-initialised: all zero
    setting->version = kSettingVersion1;
    setting->settingId = settingId;
    return setting;
}

}  // namespace

bool OpenDriverProfileSession(DriverProfileSession& s) {
    const HMODULE library = static_cast<HMODULE>(LoadSystemLibrary(L"nvapi64.dll"));
    if (library == nullptr) return false;
    s.library = library;
    const auto query = reinterpret_cast<QueryInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "nvapi_QueryInterface")));
    if (query == nullptr) return false;
    s.initialize = Resolve<DriverProfileSession::StatusFn>(query, 0x0150E828);
    s.unload = Resolve<DriverProfileSession::StatusFn>(query, 0xD22BDD7E);
    s.createSession = Resolve<DriverProfileSession::SessionOutFn>(query, 0x0694D52E);
    s.destroySession = Resolve<DriverProfileSession::SessionFn>(query, 0xDAD9CFF8);
    s.loadSettings = Resolve<DriverProfileSession::SessionFn>(query, 0x375DBD6B);
    s.saveSettings = Resolve<DriverProfileSession::SessionFn>(query, 0xFCBC7E14);
    s.getBaseProfile = Resolve<DriverProfileSession::ProfileOutFn>(query, 0xDA8466A0);
    s.setSetting = Resolve<DriverProfileSession::SetSettingFn>(query, 0x577DD202);
    s.getSetting = Resolve<DriverProfileSession::GetSettingFn>(query, 0x73BF8338);
    s.deleteSetting = Resolve<DriverProfileSession::DeleteSettingFn>(query, 0xE4A26362);
    if (s.initialize == nullptr || s.createSession == nullptr || s.loadSettings == nullptr ||
        s.getBaseProfile == nullptr || s.setSetting == nullptr) {
        return false;
    }
    if (s.initialize() != 0) return false;
    if (s.createSession(&s.session) != 0) return false;
    if (s.loadSettings(s.session) != 0) return false;
    if (s.getBaseProfile(s.session, &s.profile) != 0) return false;
    return s.session != nullptr && s.profile != nullptr;
}

ProfileRead ReadProfileSetting(DriverProfileSession& s, uint32_t settingId, uint32_t& value) {
    if (s.getSetting == nullptr || s.session == nullptr || s.profile == nullptr) return ProfileRead::Failed;
    const auto setting = BlankSetting(settingId);
    const int status = s.getSetting(s.session, s.profile, settingId, setting.get());
    if (status == kSettingNotFound) return ProfileRead::NotFound;
    if (status != 0) return ProfileRead::Failed;
    if (setting->settingType != kDwordType) return ProfileRead::OtherType;
    value = setting->u32CurrentValue;
    return ProfileRead::Dword;
}

bool ReadProfileDword(DriverProfileSession& s, uint32_t settingId, uint32_t& value) {
    return ReadProfileSetting(s, settingId, value) == ProfileRead::Dword;
}

bool DeleteProfileSetting(DriverProfileSession& s, uint32_t settingId) {
    if (s.deleteSetting == nullptr || s.session == nullptr || s.profile == nullptr) return false;
    const int status = s.deleteSetting(s.session, s.profile, settingId);
    return status == 0 || status == kSettingNotFound;
}

bool WriteProfileDword(DriverProfileSession& s, uint32_t settingId, uint32_t value) {
    if (s.setSetting == nullptr || s.session == nullptr || s.profile == nullptr) return false;
    const auto setting = BlankSetting(settingId);
    setting->settingType = kDwordType;
    setting->u32CurrentValue = value;
    return s.setSetting(s.session, s.profile, setting.get()) == 0;
}

void SaveDriverProfiles(DriverProfileSession& s) {
    if (s.session != nullptr && s.saveSettings != nullptr) s.saveSettings(s.session);
}

void CloseDriverProfileSession(DriverProfileSession& s) {
    if (s.session != nullptr && s.destroySession != nullptr) s.destroySession(s.session);
    if (s.library != nullptr && s.unload != nullptr) s.unload();
    if (s.library != nullptr) FreeLibrary(static_cast<HMODULE>(s.library));
    s = DriverProfileSession{};
}
