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
};

PowerStore& CurrentPowerStore();
// Installs a replacement (null puts the real store back).
void SetPowerStore(PowerStore* store);
