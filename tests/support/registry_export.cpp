#include "support/registry_export.h"

#include <windows.h>

#include <algorithm>

#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

HKEY Root(RegRoot root) { return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

void ExportInto(HKEY key, const std::wstring& path, RegistryExport& out) {
    out.keys.push_back(path);
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        DWORD type = 0, size = 0;
        if (RegEnumValueW(key, index, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        RegistryValue value{type, std::vector<uint8_t>(size)};
        length = 16384;
        RegEnumValueW(key, index, name, &length, nullptr, &type, size > 0 ? value.bytes.data() : nullptr, &size);
        value.bytes.resize(size);
        out.values[path + L":" + std::wstring(name, length)] = value;
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, length);
    }
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::wstring& subkey : subkeys) {
        UniqueKey child;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, child.put()) != ERROR_SUCCESS) continue;
        ExportInto(child.get(), path.empty() ? subkey : path + L"\\" + subkey, out);
    }
}

std::wstring Describe(const RegistryValue& value) {
    std::wstring text = FormatText(L"type %lu, %zu bytes:", static_cast<unsigned long>(value.type), value.bytes.size());
    for (const uint8_t b : value.bytes) text += FormatText(L" %02X", b);
    return text;
}

}  // namespace

RegistryExport ExportRegistry(RegRoot root, const std::wstring& key) {
    RegistryExport out;
    UniqueKey opened;
    if (RegOpenKeyExW(Root(root), key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return out;
    ExportInto(opened.get(), L"", out);
    return out;
}

std::wstring DescribeDifference(const RegistryExport& before, const RegistryExport& after) {
    std::wstring text;
    for (const std::wstring& key : before.keys) {
        if (std::find(after.keys.begin(), after.keys.end(), key) == after.keys.end()) text += L"key gone: " + key + L"\n";
    }
    for (const std::wstring& key : after.keys) {
        if (std::find(before.keys.begin(), before.keys.end(), key) == before.keys.end()) text += L"key added: " + key + L"\n";
    }
    for (const auto& [name, value] : before.values) {
        const auto it = after.values.find(name);
        if (it == after.values.end()) text += L"value gone: " + name + L" (" + Describe(value) + L")\n";
        else if (!(it->second == value)) text += L"value changed: " + name + L" from " + Describe(value) + L" to " + Describe(it->second) + L"\n";
    }
    for (const auto& [name, value] : after.values) {
        if (before.values.find(name) == before.values.end()) text += L"value added: " + name + L" (" + Describe(value) + L")\n";
    }
    return text;
}

const wchar_t* SeedKindName(SeedKind kind) {
    switch (kind) {
    case SeedKind::Absent: return L"Absent";
    case SeedKind::Dword: return L"Dword";
    case SeedKind::String: return L"String";
    case SeedKind::Binary: return L"Binary";
    case SeedKind::Qword: return L"Qword";
    case SeedKind::ShortDword: return L"ShortDword";
    }
    return L"";
}

void SeedValue(RegRoot root, const std::wstring& key, const std::wstring& name, SeedKind kind, uint32_t number) {
    if (kind == SeedKind::Absent) {
        RegDeleteKeyValueW(Root(root), key.c_str(), name.c_str());
        return;
    }
    RegistryValue value;
    switch (kind) {
    case SeedKind::Dword:
        value = {REG_DWORD, std::vector<uint8_t>(4)};
        memcpy(value.bytes.data(), &number, 4);
        break;
    case SeedKind::String: {
        const std::wstring text = std::to_wstring(number);
        value = {REG_SZ, std::vector<uint8_t>((text.size() + 1) * sizeof(wchar_t))};
        memcpy(value.bytes.data(), text.c_str(), value.bytes.size());
        break;
    }
    case SeedKind::Binary:
        value = {REG_BINARY, {static_cast<uint8_t>(number), 0xA5, 0x5A}};
        break;
    case SeedKind::Qword: {
        const uint64_t wide = 0x100000000ull + number;
        value = {REG_QWORD, std::vector<uint8_t>(8)};
        memcpy(value.bytes.data(), &wide, 8);
        break;
    }
    case SeedKind::ShortDword:
        value = {REG_DWORD, {static_cast<uint8_t>(number), 0x01}};
        break;
    case SeedKind::Absent:
        break;
    }
    WriteRawValue(root, key, name, value);
}
