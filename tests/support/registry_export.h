#pragma once
// Every key and value under a registry key, exactly (types and bytes), so a test can prove the
// machine is back where it started.
#include <map>
#include <string>
#include <vector>

#include "foundation/system.h"

struct RegistryExport {
    std::vector<std::wstring> keys;                  // relative paths, the root key itself as ""
    std::map<std::wstring, RegistryValue> values;    // "relative\\path:name"
    bool operator==(const RegistryExport&) const = default;
};

// Empty when the key does not exist.
RegistryExport ExportRegistry(RegRoot root, const std::wstring& key);
// What differs, one line each, for failure messages; empty when equal.
std::wstring DescribeDifference(const RegistryExport& before, const RegistryExport& after);

// A registry value of a given kind, for seeding prior state.
enum class SeedKind { Absent, Dword, String, Binary, Qword, ShortDword };
const wchar_t* SeedKindName(SeedKind kind);
// Sets (or, for Absent, deletes) the value with a recognisable content of that kind.
void SeedValue(RegRoot root, const std::wstring& key, const std::wstring& name, SeedKind kind, uint32_t number);
