#pragma once
// The Windows power-plan store (powrprof): the active scheme and the AC/DC value indexes of
// its settings. The real binding resolves powrprof at run time, since Wine and older systems
// lack several of its exports; tests install an in-memory store.
#include <guiddef.h>

#include <cstdint>

enum class PowerSource { Ac, Dc };

class PowerStore {
public:
    virtual ~PowerStore() = default;
    virtual bool GetActiveScheme(GUID& scheme) = 0;
    virtual bool SetActiveScheme(const GUID& scheme) = 0;
    virtual bool ReadValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                           uint32_t& value) = 0;
    virtual bool WriteValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                            uint32_t value) = 0;
    virtual bool WriteSettingAttributes(const GUID& subgroup, const GUID& setting, uint32_t attributes) = 0;
    // The scheme at this position of the machine's list; false past its end or on failure.
    virtual bool EnumerateScheme(uint32_t index, GUID& scheme) = 0;
    // A copy of the source scheme (a listed plan, or a template Windows keeps hidden, such as
    // Ultimate Performance) under the given GUID; false when there is no such source or the
    // destination exists already.
    virtual bool DuplicateScheme(const GUID& source, const GUID& destination) = 0;
    virtual bool DeleteScheme(const GUID& scheme) = 0;
    // Whether Windows keeps the hidden template a plan can be duplicated from.
    virtual bool TemplateExists(const GUID& scheme) = 0;
    // Takes the scheme's own value of the setting away, so the setting's default applies again.
    virtual bool ResetValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source) = 0;
};

// Where Windows keeps the plans (HKEY_LOCAL_MACHINE): one key per plan, its values per
// subgroup and setting as ACSettingIndex and DCSettingIndex.
inline constexpr const wchar_t* kPowerSchemesKey = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
// Where Windows keeps the plans' defaults, hidden templates such as Ultimate Performance among them.
inline constexpr const wchar_t* kDefaultPowerSchemesKey = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\Default\\PowerSchemes";

PowerStore& CurrentPowerStore();
// Installs a replacement (null puts the real store back).
void SetPowerStore(PowerStore* store);
