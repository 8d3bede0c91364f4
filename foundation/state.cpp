#include "foundation/state.h"

#include "foundation/system.h"

void WriteStateDword(const std::wstring& name, uint32_t value) {
    WriteDword(RegRoot::LocalMachine, kStateKey, name, value);
}

bool ReadStateDword(const std::wstring& name, uint32_t& value) { return ReadDword(kStateKey, name, value); }

bool WriteStateString(const std::wstring& name, const std::wstring& value) {
    return WriteString(RegRoot::LocalMachine, kStateKey, name, value);
}

bool ReadStateString(const std::wstring& name, std::wstring& value) {
    return ReadString(RegRoot::LocalMachine, kStateKey, name, value);
}
