#include "foundation/setting_record.h"

#include <windows.h>

#include <cwctype>

#include "foundation/state.h"
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

void RestoreLedger::Failed(const std::vector<std::wstring>& recordNames) {
    ++failed_;
    kept_.insert(recordNames.begin(), recordNames.end());
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
