#include "foundation/state.h"

#include <windows.h>

#include "foundation/system.h"
#include "foundation/unique_handle.h"

bool WriteStateDword(const std::wstring& name, uint32_t value) {
    return WriteDword(RegRoot::LocalMachine, kStateKey, name, value);
}

bool UpdateStateDword(const std::wstring& name, uint32_t value) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
    const DWORD data = value;
    // Set through the open key: a key deleted meanwhile refuses the value rather than coming back.
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) == ERROR_SUCCESS;
}

bool ReadStateDword(const std::wstring& name, uint32_t& value) { return ReadDword(kStateKey, name, value); }

bool WriteStateString(const std::wstring& name, const std::wstring& value) {
    return WriteString(RegRoot::LocalMachine, kStateKey, name, value);
}

bool ReadStateString(const std::wstring& name, std::wstring& value) {
    return ReadString(RegRoot::LocalMachine, kStateKey, name, value);
}
