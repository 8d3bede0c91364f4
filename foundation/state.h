#pragma once
// The machine-wide state key: what the service must hold, which steps were applied, and the
// backup of every setting a step changed, so the uninstall can put each one back.
// Nothing is cached; every reader sees every writer's values at once.
#include <cstdint>
#include <string>

inline constexpr const wchar_t* kStateKey = L"SOFTWARE\\Quorvantis";
inline constexpr const wchar_t* kLegacyStateKey = L"SOFTWARE\\Brevitron";

// Creates the key on first use; failures are ignored (a missing backup leaves its setting alone).
bool WriteStateDword(const std::wstring& name, uint32_t value);
// Sets the value only in a state key that exists: never creates it (a key an uninstall deleted
// stays deleted). False when there is no key.
bool UpdateStateDword(const std::wstring& name, uint32_t value);
// True only when a REG_DWORD was read; values of another type read as missing.
bool ReadStateDword(const std::wstring& name, uint32_t& value);

bool WriteStateString(const std::wstring& name, const std::wstring& value);
bool ReadStateString(const std::wstring& name, std::wstring& value);
