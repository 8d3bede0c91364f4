#include "foundation/setting_record.h"

#include <windows.h>

#include <cstring>
#include <cwctype>

#include "foundation/state.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool ReadStateRaw(const std::wstring& name, RegistryValue& value) {
    return ReadRawValue(RegRoot::LocalMachine, kStateKey, name, value);
}

bool WriteStateRaw(const std::wstring& name, const RegistryValue& value) {
    return WriteRawValue(RegRoot::LocalMachine, kStateKey, name, value);
}

bool StateValueExists(const std::wstring& name) {
    RegistryValue ignored;
    return ReadStateRaw(name, ignored);
}

void DeleteStateValue(const std::wstring& name) { DeleteRegistryValue(RegRoot::LocalMachine, kStateKey, name); }

std::vector<std::wstring> ValueRecordNames::All() const {
    std::vector<std::wstring> names{had, previous};
    if (!created.empty()) names.push_back(created);
    return names;
}

bool RecordValueOnce(RegRoot root, const std::wstring& key, const std::wstring& name, const ValueRecordNames& record) {
    if (StateValueExists(record.had)) return false;
    RegistryValue previous;
    const bool had = ReadRawValue(root, key, name, previous);
    // The copy goes first: a "had" record without its copy would restore nothing.
    if (had) WriteStateRaw(record.previous, previous);
    if (!record.created.empty()) {
        const std::wstring missing = FirstMissingKey(root, key);
        if (!missing.empty()) WriteStateString(record.created, missing);
    }
    WriteStateDword(record.had, had ? 1 : 0);
    return true;
}

RestoreResult RestoreRecordedValue(RegRoot root, const std::wstring& key, const std::wstring& name,
                                   const ValueRecordNames& record, const std::wstring& createdPrefix) {
    uint32_t had = 0;
    if (!ReadStateDword(record.had, had)) return RestoreResult::NothingRecorded;
    if (had != 0) {
        RegistryValue previous;
        if (!ReadStateRaw(record.previous, previous)) return RestoreResult::NothingRecorded;
        return WriteRawValue(root, key, name, previous) ? RestoreResult::Restored : RestoreResult::Failed;
    }
    if (!DeleteRegistryValue(root, key, name)) return RestoreResult::Failed;
    std::wstring created;
    if (!record.created.empty() && ReadStateString(record.created, created)) RemoveEmptyKeysUpTo(root, key, createdPrefix + created);
    return RestoreResult::Restored;
}

RestoreResult RestoreRecordedValue(RegRoot root, const std::wstring& key, const std::wstring& name,
                                   const ValueRecordNames& record, RestoreLedger& ledger, const std::wstring& createdPrefix) {
    const bool recorded = StateValueExists(record.had);
    const RestoreResult result = RestoreRecordedValue(root, key, name, record, createdPrefix);
    switch (result) {
    case RestoreResult::Restored: ledger.Restored(record.All()); break;
    case RestoreResult::Failed: ledger.Failed(record.All()); break;
    case RestoreResult::NothingRecorded:
        if (recorded) ledger.Dropped(record.All());
        break;
    }
    return result;
}

void RestoreLedger::Restored(const std::vector<std::wstring>& recordNames) {
    ++restored_;
    done_.insert(recordNames.begin(), recordNames.end());
}

void RestoreLedger::Dropped(const std::vector<std::wstring>& recordNames) {
    done_.insert(recordNames.begin(), recordNames.end());
}

void RestoreLedger::Failed(const std::vector<std::wstring>& recordNames) {
    ++failed_;
    kept_.insert(recordNames.begin(), recordNames.end());
}

void ClearRevertedRecords(const RestoreLedger& ledger) {
    for (const std::wstring& name : ledger.Done()) {
        bool keep = false;
        for (const std::wstring& kept : ledger.Kept()) keep = keep || SameName(kept, name);
        if (!keep) DeleteStateValue(name);
    }
}

void ClearStateKeepingRecords(const RestoreLedger& ledger) {
    if (ledger.Kept().empty()) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
        return;
    }
    for (const std::wstring& name : RegistryValueNames(RegRoot::LocalMachine, kStateKey)) {
        bool keep = false;
        for (const std::wstring& kept : ledger.Kept()) keep = keep || SameName(kept, name);
        if (!keep) DeleteStateValue(name);
    }
    // Subkeys hold nothing a retry needs.
    UniqueKey state;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_READ | KEY_WRITE, state.put()) != ERROR_SUCCESS) return;
    for (;;) {
        wchar_t subkey[256];
        DWORD length = 256;
        if (RegEnumKeyExW(state.get(), 0, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteTreeW(state.get(), subkey) != ERROR_SUCCESS) break;
    }
}

std::wstring RegistryValueText(const RegistryValue& value) {
    const auto* wide = reinterpret_cast<const wchar_t*>(value.bytes.data());
    const size_t chars = value.bytes.size() / sizeof(wchar_t);
    switch (value.type) {
    case REG_DWORD:
        if (value.bytes.size() == 4) {
            uint32_t number = 0;
            memcpy(&number, value.bytes.data(), 4);
            return FormatText(L"REG_DWORD %lu", static_cast<unsigned long>(number));
        }
        break;
    case REG_QWORD:
        if (value.bytes.size() == 8) {
            uint64_t number = 0;
            memcpy(&number, value.bytes.data(), 8);
            return FormatText(L"REG_QWORD %llu", static_cast<unsigned long long>(number));
        }
        break;
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::wstring text(wide, chars);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return (value.type == REG_SZ ? L"REG_SZ \"" : L"REG_EXPAND_SZ \"") + text + L"\"";
    }
    case REG_MULTI_SZ: {
        std::wstring text = L"REG_MULTI_SZ";
        std::wstring entry;
        for (size_t i = 0; i < chars; ++i) {
            if (wide[i] != L'\0') {
                entry += wide[i];
                continue;
            }
            if (!entry.empty()) text += L" \"" + entry + L"\"";
            entry.clear();
        }
        if (!entry.empty()) text += L" \"" + entry + L"\"";
        return text;
    }
    default:
        break;
    }
    std::wstring text = FormatText(L"type %lu,", static_cast<unsigned long>(value.type));
    for (size_t i = 0; i < value.bytes.size() && i < 32; ++i) text += FormatText(L" %02X", value.bytes[i]);
    if (value.bytes.size() > 32) text += FormatText(L" ... (%zu bytes)", value.bytes.size());
    return text;
}

std::wstring RegistryValueText(bool present, const RegistryValue& value) {
    return present ? RegistryValueText(value) : std::wstring(L"absent");
}

RegistryValue DwordValue(uint32_t value) {
    RegistryValue v{REG_DWORD, std::vector<uint8_t>(4)};
    memcpy(v.bytes.data(), &value, 4);
    return v;
}

std::wstring RegistryValuePlace(RegRoot root, const std::wstring& key, const std::wstring& name) {
    const wchar_t* hive = root == RegRoot::LocalMachine ? L"HKLM\\" : root == RegRoot::CurrentUser ? L"HKCU\\" : L"HKU\\";
    return hive + key + L"\\" + name;
}

ChangeRow DescribeRegistryChange(const std::wstring& step, RegRoot root, const std::wstring& key, const std::wstring& name,
                                 const ValueRecordNames& record, const RegistryValue& ours, bool planned) {
    ChangeRow row;
    row.step = step;
    row.setting = RegistryValuePlace(root, key, name);
    uint32_t had = 0;
    if (ReadStateDword(record.had, had)) {
        RegistryValue previous;
        row.recorded = had == 0 || ReadStateRaw(record.previous, previous);
        if (row.recorded) row.original = RegistryValueText(had != 0, previous);
    }
    RegistryValue current;
    const bool present = ReadRawValue(root, key, name, current);
    // A value that is not there reads as absent; a key we may not open is not known to be absent.
    row.currentRead = present || !RegistryKeyRefused(root, key);
    row.current = RegistryValueText(present, current);
    row.ours = RegistryValueText(ours);
    row.state = planned ? JudgePlanned(row) : JudgeRecorded(row);
    return row;
}
