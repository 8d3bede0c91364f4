#pragma once
// The records that let the uninstall put back exactly what a step changed, and the ledger of
// what an uninstall could and could not put back.
//
// A record is written once, before the first change of its setting, and never refreshed: a
// second run, a repair or the startup guard finds the setting already changed by us, and
// recording that would make the uninstall "restore" our own value.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "foundation/change_ledger.h"
#include "foundation/system.h"

// Raw access to the state key, for records that keep a value's own type and bytes.
bool ReadStateRaw(const std::wstring& name, RegistryValue& value);
bool WriteStateRaw(const std::wstring& name, const RegistryValue& value);
bool StateValueExists(const std::wstring& name);
void DeleteStateValue(const std::wstring& name);

// Where one registry value's record lives in the state key.
struct ValueRecordNames {
    std::wstring had;       // DWORD 1 when the value existed, 0 when it did not
    std::wstring previous;  // a copy of the value as it was: same type, same bytes
    std::wstring created;   // REG_SZ: the first key the change created, when it created one; empty: not tracked
    std::vector<std::wstring> All() const;
};

// Records the value's state unless its record exists already. False when nothing was recorded
// because a record was there before.
bool RecordValueOnce(RegRoot root, const std::wstring& key, const std::wstring& name, const ValueRecordNames& record);

enum class RestoreResult { NothingRecorded, Restored, Failed };
// Writes the recorded copy back, or deletes the value when it did not exist, then removes the
// keys the change created when they are empty again. createdPrefix: put before the recorded key
// a change created (an account's SID when the value is restored through HKEY_USERS).
RestoreResult RestoreRecordedValue(RegRoot root, const std::wstring& key, const std::wstring& name,
                                   const ValueRecordNames& record, const std::wstring& createdPrefix = {});

// What an uninstall (or a --revert) achieved. A setting that could not be put back keeps its
// records, so a later uninstall can try again; everything else in the state key goes. A revert
// names the changes it puts back: only those are restored, and only their records removed.
class RestoreLedger {
public:
    RestoreLedger() = default;
    // Only the changes whose id the scope accepts are put back; no scope: every change.
    explicit RestoreLedger(std::function<bool(const std::wstring& id)> scope) : scope_(std::move(scope)) {}
    bool Includes(const std::wstring& id) const { return !scope_ || scope_(id); }
    // A revert of some changes, not the whole uninstall.
    bool Scoped() const { return static_cast<bool>(scope_); }
    // One setting put back; the named state values held its record and can go.
    void Restored(const std::vector<std::wstring>& recordNames);
    // A record whose setting is gone (plan deleted, service removed, adapter removed): nothing
    // was put back, and the record goes.
    void Dropped(const std::vector<std::wstring>& recordNames);
    // One setting that stays changed; the named state values hold what it needs to be retried.
    void Failed(const std::vector<std::wstring>& recordNames);
    int RestoredCount() const { return restored_; }
    int FailedCount() const { return failed_; }
    const std::set<std::wstring>& Kept() const { return kept_; }
    // The records of what was put back or dropped: a revert removes exactly these.
    const std::set<std::wstring>& Done() const { return done_; }

private:
    std::function<bool(const std::wstring&)> scope_;
    int restored_ = 0;
    int failed_ = 0;
    std::set<std::wstring> kept_;
    std::set<std::wstring> done_;
};

// The same, with the outcome noted in the ledger under the record's names: restored, failed
// (kept for a retry), or dropped when a "had" value is there without its copy. The outcome is
// returned for the caller's own words.
RestoreResult RestoreRecordedValue(RegRoot root, const std::wstring& key, const std::wstring& name,
                                   const ValueRecordNames& record, RestoreLedger& ledger, const std::wstring& createdPrefix = {});

// Deletes the whole state key, or, when the ledger kept records, every value but those.
void ClearStateKeepingRecords(const RestoreLedger& ledger);
// A revert's end: removes the records of what it put back or dropped, and nothing else.
void ClearRevertedRecords(const RestoreLedger& ledger);

// A value in the words the ledger compares: "absent", "REG_DWORD 0", "REG_SZ \"text\"", ...
std::wstring RegistryValueText(const RegistryValue& value);
std::wstring RegistryValueText(bool present, const RegistryValue& value);
RegistryValue DwordValue(uint32_t value);
// "HKLM\<key>\<name>"
std::wstring RegistryValuePlace(RegRoot root, const std::wstring& key, const std::wstring& name);

// One registry value a step writes, as it stands now beside its record (when there is one).
// planned: judged as a step about to write ours; otherwise as a record of a change made.
ChangeRow DescribeRegistryChange(const std::wstring& step, RegRoot root, const std::wstring& key, const std::wstring& name,
                                 const ValueRecordNames& record, const RegistryValue& ours, bool planned);
