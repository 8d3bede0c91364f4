#include "gpu/gpu_tweaks.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "foundation/log.h"
#include "foundation/pacing.h"
#include "foundation/service_backup.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "gpu/adapters.h"
#include "gpu/driver_profile.h"
#include "gpu/gpu_catalogue.h"
#include "tweaks/tweak_walk.h"

namespace {

constexpr const wchar_t* kGpuStep = L"GPU Config";

std::wstring Name(const wchar_t* format, const std::wstring& id) { return FormatText(format, id.c_str()); }

ValueRecordNames RecordOf(const std::wstring& id) {
    return {Name(L"Gpu_%ls_had", id), Name(L"Gpu_%ls", id), Name(L"Gpu_%ls_created", id)};
}

std::vector<std::wstring> AllRecordNames(const std::wstring& id) {
    std::vector<std::wstring> names = RecordOf(id).All();
    names.push_back(Name(L"Gpu_%ls_key", id));
    names.push_back(Name(L"Gpu_%ls_name", id));
    names.push_back(Name(L"Gpu_%ls_sid", id));
    return names;
}

bool Recorded(const std::wstring& id) { return StateValueExists(RecordOf(id).had); }

// The change ids of a registry row: "gpu.<alias>" machine-wide, ".user" in the user's hive,
// ".adapterNN" in one adapter's key.
std::wstring MachineId(const GpuTweak& row) { return std::wstring(L"gpu.") + row.alias; }
std::wstring UserId(const GpuTweak& row) { return MachineId(row) + L".user"; }
std::wstring AdapterId(const GpuTweak& row, const std::wstring& index) { return MachineId(row) + L".adapter" + index; }

// The per-user copies of the Game Bar and Game DVR switches live in the user's hive too.
bool HasUserCopy(const GpuTweak& row) {
    const std::wstring key = row.keyPath != nullptr ? row.keyPath : L"";
    return key.find(L"GameBar") != std::wstring::npos || key.find(L"CurrentVersion\\GameDVR") != std::wstring::npos;
}

// Where a registry record's value lives: its key and name, and for a per-user value the account
// it came from. False when there is no complete record under the id.
struct RecordPlace {
    std::wstring key, name, sid;
};
bool ReadRecordPlace(RegRoot root, const std::wstring& id, RecordPlace& place) {
    if (!Recorded(id)) return false;
    if (!ReadStateString(Name(L"Gpu_%ls_key", id), place.key) || !ReadStateString(Name(L"Gpu_%ls_name", id), place.name)) return false;
    place.sid.clear();
    if (root == RegRoot::CurrentUser) ReadStateString(Name(L"Gpu_%ls_sid", id), place.sid);
    return true;
}

// The value's place in lower case, so records naming one value are told apart from the rest.
std::wstring SameValueKey(RegRoot root, const std::wstring& key, const std::wstring& name) {
    return LowerCase(RegistryValuePlace(root, key, name));
}

// The first record of a value wins: what a later run finds is already our own value. A per-user
// value also records whose it is: with over-the-shoulder elevation this process's own hive is an
// administrator's, and a later uninstall may run as yet another account.
void RecordValueIn(RegRoot root, const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName) {
    if (Recorded(id)) return;
    WriteStateString(Name(L"Gpu_%ls_key", id), keyPath);
    WriteStateString(Name(L"Gpu_%ls_name", id), valueName);
    if (root == RegRoot::CurrentUser) WriteStateString(Name(L"Gpu_%ls_sid", id), CurrentAccountSid());
    RecordValueOnce(root, keyPath, valueName, RecordOf(id));
}

bool AllDigits(const std::wstring& text) {
    if (text.empty()) return false;
    for (const wchar_t c : text) {
        if (!iswdigit(c)) return false;
    }
    return true;
}

// The positions of a per-adapter row's records ("Gpu_<alias>_03_had" is position "03"), however many.
std::vector<std::wstring> AdapterRecordIndexes(const GpuTweak& row, const std::vector<std::wstring>& stateNames) {
    const std::wstring prefix = Name(L"Gpu_%ls_", row.alias);
    const std::wstring suffix = L"_had";
    std::vector<std::wstring> indexes;
    for (const std::wstring& name : stateNames) {
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::wstring index = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (AllDigits(index)) indexes.push_back(index);
    }
    return indexes;
}

// A per-adapter value keeps the position it was first recorded under, even when the adapter
// list has changed since; a new adapter key takes the first position neither on record nor given
// to another key of this plan, however many there are.
std::wstring AdapterRecordIndex(const GpuTweak& row, const std::wstring& adapterKey, const std::vector<std::wstring>& stateNames,
                                std::vector<std::wstring>& assigned) {
    std::vector<std::wstring> taken = AdapterRecordIndexes(row, stateNames);
    for (const std::wstring& index : taken) {
        std::wstring recordedKey;
        if (ReadStateString(Name(L"Gpu_%ls_key", Name(L"%ls_", row.alias) + index), recordedKey) &&
            _wcsicmp(recordedKey.c_str(), adapterKey.c_str()) == 0) {
            return index;
        }
    }
    taken.insert(taken.end(), assigned.begin(), assigned.end());
    for (unsigned k = 0;; ++k) {
        const std::wstring index = FormatText(L"%02u", k);
        bool used = false;
        for (const std::wstring& t : taken) used = used || _wtoi(t.c_str()) == static_cast<int>(k);
        if (used) continue;
        assigned.push_back(index);
        return index;
    }
}

// The driver's settings store, opened once for a plan and closed with its last user.
struct ProfileStore {
    DriverProfileSession session;
    bool open = false;
    int written = 0;
    ~ProfileStore() {
        if (written > 0) SaveDriverProfiles(session);
        CloseDriverProfileSession(session);
    }
};

std::wstring DrsName(const wchar_t* format, uint32_t settingId) { return FormatText(format, settingId); }

// What the record of a profile setting holds, in the ledger's words; false without one.
bool ProfileOriginal(uint32_t settingId, std::wstring& original) {
    uint32_t had = 0, previous = 0;
    if (!ReadStateDword(DrsName(L"GpuDrs_%08X_had", settingId), had)) return false;
    original = had == 0                                                        ? std::wstring(L"absent (driver default)")
               : ReadStateDword(DrsName(L"GpuDrs_%08X", settingId), previous) ? FormatText(L"%lu", static_cast<unsigned long>(previous))
                                                                              : std::wstring(L"(not a number)");
    return true;
}

// What a profile setting holds now, in the same words.
void ProfileCurrent(ProfileRead read, uint32_t value, ChangeRow& change) {
    change.currentRead = read != ProfileRead::Failed;
    switch (read) {
    case ProfileRead::Dword: change.current = FormatText(L"%lu", static_cast<unsigned long>(value)); break;
    case ProfileRead::NotFound: change.current = L"absent (driver default)"; break;
    case ProfileRead::OtherType: change.current = L"(not a number)"; break;
    case ProfileRead::Failed: break;
    }
}

void PlanRegistryValue(StepPlan& plan, size_t item, RegRoot root, const std::wstring& changeId, const std::wstring& recordId,
                       const std::wstring& key, const GpuTweak& row) {
    ChangeRow change = DescribeRegistryChange(kGpuStep, root, key, row.valueName, RecordOf(recordId), DwordValue(row.value), true);
    change.id = changeId;
    const std::wstring name = row.valueName;
    const uint32_t value = row.value;
    // An older build recorded the machine-wide Game Bar value a second time, under "_LM".
    const std::wstring legacy = recordId + L"_LM";
    plan.Add(std::move(change), item,
             [root, recordId, legacy, key, name] {
                 if (root == RegRoot::LocalMachine && Recorded(legacy)) return;
                 RecordValueIn(root, recordId, key, name);
             },
             [root, key, name, value] { return WriteDword(root, key, name, value); });
}

void PlanRegistryRow(StepPlan& plan, size_t item, const GpuTweak& row, const std::vector<std::wstring>& stateNames) {
    if (row.perAdapter) {
        std::vector<std::wstring> assigned;
        for (const std::wstring& key : AdapterKeysForVendor(row.vendor)) {
            const std::wstring index = AdapterRecordIndex(row, key, stateNames, assigned);
            PlanRegistryValue(plan, item, RegRoot::LocalMachine, AdapterId(row, index), Name(L"%ls_", row.alias) + index, key, row);
        }
        return;
    }
    if (HasUserCopy(row)) PlanRegistryValue(plan, item, RegRoot::CurrentUser, UserId(row), Name(L"%ls_CU", row.alias), row.keyPath, row);
    PlanRegistryValue(plan, item, RegRoot::LocalMachine, MachineId(row), row.alias, row.keyPath, row);
}

// A setting the driver cannot read has no original to put back: it is never written. One that
// holds something other than a number is the user's own, and stays.
void PlanProfileRow(StepPlan& plan, size_t item, const GpuTweak& row, const std::shared_ptr<ProfileStore>& store) {
    ChangeRow change;
    change.id = MachineId(row);
    change.setting = FormatText(L"NVIDIA profile setting 0x%08X (%ls)", row.settingId, row.title);
    change.ours = FormatText(L"%lu", static_cast<unsigned long>(row.value));
    const std::wstring hadName = DrsName(L"GpuDrs_%08X_had", row.settingId);
    const std::wstring valueName = DrsName(L"GpuDrs_%08X", row.settingId);
    change.recorded = ProfileOriginal(row.settingId, change.original);
    const uint32_t id = row.settingId, value = row.value;
    uint32_t now = 0;
    const ProfileRead read = store->open ? ReadProfileSetting(store->session, id, now) : ProfileRead::Failed;
    ProfileCurrent(read, now, change);
    if (read == ProfileRead::OtherType) {
        plan.LeaveAlone(std::move(change), item,
                        FormatText(L"NVIDIA setting 0x%08X holds a value that is not a number; it is left unchanged.", id));
        return;
    }
    if (read == ProfileRead::Failed) {
        change.state = ChangeState::Unreadable;
        plan.Add(std::move(change), item, nullptr, [store, id] {
            if (store->open) LogInfo(FormatText(L"    NVIDIA setting 0x%08X could not be read; it is left unchanged.", id));
            else LogInfo(L"    NVAPI SetSetting failed (driver too old, or this ID is not in the profile).");
            return false;
        });
        return;
    }
    change.state = JudgePlanned(change);
    plan.Add(std::move(change), item,
             [store, id, hadName, valueName] {
                 if (StateValueExists(hadName)) return;
                 uint32_t original = 0;
                 switch (ReadProfileSetting(store->session, id, original)) {
                 case ProfileRead::Dword:
                     WriteStateDword(valueName, original);
                     WriteStateDword(hadName, 1);
                     break;
                 case ProfileRead::NotFound:
                     // Not in the profile: the uninstall takes ours out again, back to the driver default.
                     WriteStateDword(hadName, 0);
                     break;
                 case ProfileRead::OtherType:
                 case ProfileRead::Failed:
                     break;
                 }
             },
             [store, id, hadName, value] {
                 // Never written blind: without the original on record there is nothing to put back.
                 if (!StateValueExists(hadName) || !WriteProfileDword(store->session, id, value)) {
                     LogInfo(L"    NVAPI SetSetting failed (driver too old, or this ID is not in the profile).");
                     return false;
                 }
                 ++store->written;
                 return true;
             });
}

struct GpuPlan {
    StepPlan plan;
    std::vector<const GpuTweak*> rows;  // item i is rows[i]
    std::shared_ptr<ProfileStore> store;
    GpuProbeView probe;
};

bool RowApplies(const GpuTweak& row, const GpuProbeView& probe) {
    return row.vendor == GpuAny || (row.vendor == GpuNvidia && probe.hasNvidia) || (row.vendor == GpuAmd && probe.hasAmd);
}

GpuPlan MakeGpuPlan() {
    GpuPlan made;
    made.plan.step = kGpuStep;
    made.probe = ProbeGpu();
    made.store = std::make_shared<ProfileStore>();
    if (made.probe.hasNvidia) made.store->open = OpenDriverProfileSession(made.store->session);
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    for (const GpuTweak& row : GpuCatalogue()) {
        if (!RowApplies(row, made.probe)) continue;
        const size_t item = made.rows.size();
        made.rows.push_back(&row);
        switch (row.kind) {
        case GpuTweakKind::Registry:
            PlanRegistryRow(made.plan, item, row, stateNames);
            break;
        case GpuTweakKind::Service:
            PlanServiceDisabled(made.plan, MachineId(row), row.serviceName, item);
            break;
        case GpuTweakKind::DriverProfile:
            PlanProfileRow(made.plan, item, row, made.store);
            break;
        }
    }
    if (made.rows.empty()) made.plan.blocked = L"No GPU tweaks apply to the adapters on this machine.";
    return made;
}

// One restore pass over the records.
struct GpuRestore {
    RestoreLedger& ledger;
    int restored = 0;
    int profileChanges = 0;
    bool driverGoneLogged = false;
    std::set<std::wstring> targets;  // values already put back in this pass
};

// Puts one record back. Several records may name the same value (an older build recorded the
// Game Bar row's machine-wide value twice); it is restored and counted once.
void RestoreRecord(RegRoot root, const std::wstring& id, const std::wstring& changeId, GpuRestore& pass) {
    RecordPlace place;
    if (!ReadRecordPlace(root, id, place) || !pass.ledger.Includes(changeId)) return;
    std::wstring& key = place.key;
    const std::wstring& name = place.name;
    const std::wstring& sid = place.sid;
    // A per-user value goes back into the hive of the account it came from (records from before
    // accounts were recorded go to this one's).
    if (!sid.empty()) {
        if (!AccountHiveLoaded(sid)) {
            LogError(FormatText(L"%ls\\%ls of %ls could not be put back: that account is not signed in. Its record is kept for "
                                L"the next uninstall.",
                                key.c_str(), name.c_str(), AccountNameOfSid(sid).c_str()));
            pass.ledger.Failed(AllRecordNames(id));
            return;
        }
        root = RegRoot::Users;
        key = sid + L"\\" + key;
    }
    // An adapter that is gone took its values with it; recreating its key would leave a stray one.
    if (_wcsnicmp(key.c_str(), kDisplayClassKey, wcslen(kDisplayClassKey)) == 0 && !RegistryKeyExists(root, key)) {
        pass.ledger.Dropped(AllRecordNames(id));
        return;
    }
    if (!pass.targets.insert(SameValueKey(root, key, name)).second) {
        pass.ledger.Dropped(AllRecordNames(id));
        return;
    }
    // The ledger keeps the whole record, its place and account included.
    switch (RestoreRecordedValue(root, key, name, RecordOf(id), root == RegRoot::Users ? sid + L"\\" : std::wstring())) {
    case RestoreResult::Restored:
        ++pass.restored;
        pass.ledger.Restored(AllRecordNames(id));
        break;
    case RestoreResult::Failed:
        LogError(FormatText(L"%ls\\%ls could not be restored.", key.c_str(), name.c_str()));
        pass.ledger.Failed(AllRecordNames(id));
        break;
    case RestoreResult::NothingRecorded:
        pass.ledger.Dropped(AllRecordNames(id));
        break;
    }
}

void RestoreDriverProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen, GpuRestore& pass) {
    const std::wstring hadName = DrsName(L"GpuDrs_%08X_had", row.settingId);
    const std::wstring valueName = DrsName(L"GpuDrs_%08X", row.settingId);
    uint32_t had = 0, previous = 0;
    if (!ReadStateDword(hadName, had) || !pass.ledger.Includes(MachineId(row))) return;
    if (had != 0 && !ReadStateDword(valueName, previous)) {
        pass.ledger.Dropped({hadName, valueName});
        return;
    }
    if (session.library == nullptr) {
        // Without nvapi64.dll the NVIDIA driver is gone, and its settings store with it.
        if (!pass.driverGoneLogged) {
            LogInfo(L"nvapi64.dll is not available: the NVIDIA driver and its control-panel settings are gone, so "
                    L"there are none to restore.");
            pass.driverGoneLogged = true;
        }
        pass.ledger.Dropped({hadName, valueName});
        return;
    }
    const bool ok = sessionOpen && (had != 0 ? WriteProfileDword(session, row.settingId, previous)
                                             : DeleteProfileSetting(session, row.settingId));
    if (ok) {
        ++pass.restored;
        ++pass.profileChanges;
        pass.ledger.Restored({hadName, valueName});
        return;
    }
    LogError(FormatText(L"NVIDIA setting 0x%08X could not be restored.", row.settingId));
    pass.ledger.Failed({hadName, valueName});
}

// The registry records of a row with their change ids: machine-wide (and the older "_LM"
// copy), per user, and every adapter position on record.
std::vector<std::tuple<RegRoot, std::wstring, std::wstring>> RegistryRecordsOf(const GpuTweak& row,
                                                                               const std::vector<std::wstring>& stateNames) {
    const std::wstring alias = row.alias;
    std::vector<std::tuple<RegRoot, std::wstring, std::wstring>> records{
        {RegRoot::LocalMachine, alias, MachineId(row)},
        {RegRoot::LocalMachine, alias + L"_LM", MachineId(row)},
        {RegRoot::CurrentUser, alias + L"_CU", UserId(row)},
    };
    for (const std::wstring& index : AdapterRecordIndexes(row, stateNames)) {
        records.emplace_back(RegRoot::LocalMachine, alias + L"_" + index, AdapterId(row, index));
    }
    return records;
}

}  // namespace

StepPlan PlanGpuTweaks(const PlanContext&) { return MakeGpuPlan().plan; }

bool ApplyGpuTweaks() {
    GpuPlan made = MakeGpuPlan();
    PrintGpuProbe(made.probe);
    FeedExplanation(L"GPU driver optimization",
                    L"HAGS, overlays off, NVIDIA global 3D (max performance, high-performance filtering, VSync off, "
                    L"ultra low latency, ReBAR, P2 off) and AMD Anti-Lag / ULPS.");
    FeedStage(L"GPU", L"writing Windows / driver graphics settings");
    LogInfo(L"Applying GPU driver optimization tweaks.");
    if (!made.plan.blocked.empty()) {
        LogError(made.plan.blocked);
        return false;
    }
    std::vector<TweakItem> list;
    for (const GpuTweak* row : made.rows) list.push_back({row->alias, row->title, row->description, row->detail, TweakPending});
    ItemList items(std::move(list));
    items.Publish();
    DwellCancellable(1600);
    if (made.probe.hasNvidia && !made.store->open) {
        LogInfo(L"  nvapi64.dll could not open a DRS session; NVIDIA control-panel (DRS) values will be retried via "
                L"registry only.");
    }
    int written = 0;
    int failed = 0;
    for (size_t i = 0; i < made.rows.size(); ++i) {
        const GpuTweak& row = *made.rows[i];
        if (IsCancelled()) return false;
        items.Begin(i);
        FeedStage(L"GPU", FormatText(L"%ls  %ls", row.alias, row.detail));
        LogInfo(L"");
        LogInfo(FormatText(L"  %ls (%ls)", row.title, row.alias));
        LogInfo(FormatText(L"    %ls", row.description));
        LogInfo(FormatText(L"    %ls", row.detail));
        DwellCancellable(row.pause);
        if (IsCancelled()) return false;
        CommitCounts counts;
        CommitItem(made.plan, i, counts);
        for (const PlannedChange& change : made.plan.changes) {
            if (change.item == i && change.row.state == ChangeState::LeftAlone && row.kind == GpuTweakKind::DriverProfile) {
                LogInfo(L"    " + change.row.reason);
            }
        }
        if (row.kind == GpuTweakKind::Registry && row.perAdapter && counts.written > 0) {
            LogInfo(FormatText(L"    wrote on %d adapter key(s).", counts.written));
        }
        if (row.kind == GpuTweakKind::Service && counts.leftAlone > 0) {
            LogInfo(L"    service not present (already gone, or this driver did not install it).");
        }
        // A row with nothing to write on this machine (no adapter key of its vendor) did not take.
        const bool ok = counts.failed == 0 && (counts.written > 0 || row.kind == GpuTweakKind::Service);
        const int status = ok ? TweakWritten : counts.failed == 0 && counts.leftAlone > 0 ? TweakSkipped : TweakFailed;
        items.Finish(i, status);
        if (status == TweakWritten) {
            LogInfo(L"    written.");
            ++written;
        } else if (status == TweakFailed) {
            ++failed;
        }
        DwellCancellable(500);
    }
    if (written == 0) {
        LogError(L"No GPU setting could be written.");
        return false;
    }
    WriteStateDword(L"GpuApplied", 1);
    FeedExplanation(L"GPU tweaks applied",
                    FormatText(L"Wrote %d graphics setting(s)%ls. Restart so HAGS and ReBAR take effect.", written,
                               failed != 0 ? FormatText(L", %d did not confirm", failed).c_str() : L""));
    LogInfo(FormatText(L"Applied %d GPU tweak(s)%ls. Reboot for HAGS / ReBAR. Uninstall restores the previous values.",
                       written, failed != 0 ? FormatText(L", %d failed", failed).c_str() : L""));
    DwellCancellable(1600);
    return true;
}

bool RestoreGpuTweaks(RestoreLedger& ledger) {
    DriverProfileSession session;
    const bool sessionOpen = OpenDriverProfileSession(session);
    GpuRestore pass{ledger, 0, 0, false, {}};
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    for (const GpuTweak& row : GpuCatalogue()) {
        switch (row.kind) {
        case GpuTweakKind::DriverProfile:
            RestoreDriverProfileRow(row, session, sessionOpen, pass);
            break;
        case GpuTweakKind::Service: {
            const int before = ledger.RestoredCount();
            RestoreServiceStartType(MachineId(row), row.serviceName, ledger);
            pass.restored += ledger.RestoredCount() - before;
            break;
        }
        case GpuTweakKind::Registry:
            for (const auto& [root, id, changeId] : RegistryRecordsOf(row, stateNames)) RestoreRecord(root, id, changeId, pass);
            break;
        }
    }
    if (pass.profileChanges > 0) SaveDriverProfiles(session);
    CloseDriverProfileSession(session);
    uint32_t applied = 0;
    if (pass.restored > 0 || (!ledger.Scoped() && ReadStateDword(L"GpuApplied", applied) && applied != 0)) {
        LogInfo(FormatText(L"Restored %d GPU setting(s) to their previous values.", pass.restored));
    }
    return true;
}

namespace {

// One registry record as the ledger shows it, in the hive of the account it came from; each
// value once, as the restore puts it back once.
void LedgerRecord(RegRoot root, const std::wstring& id, const std::wstring& changeId, const GpuTweak& row,
                  std::set<std::wstring>& seen, std::vector<ChangeRow>& out) {
    RecordPlace place;
    if (!ReadRecordPlace(root, id, place)) return;
    const std::wstring sid = place.sid;
    if (!sid.empty()) {
        root = RegRoot::Users;
        place.key = sid + L"\\" + place.key;
    }
    if (!seen.insert(SameValueKey(root, place.key, place.name)).second) return;
    ChangeRow change = DescribeRegistryChange(kGpuStep, root, place.key, place.name, RecordOf(id), DwordValue(row.value), false);
    change.id = changeId;
    if (!sid.empty() && !AccountHiveLoaded(sid)) {
        // Not loaded: nothing to read, and the uninstall keeps the record for a later run.
        change.currentRead = false;
        change.current.clear();
        change.state = ChangeState::AccountAway;
        change.reason = AccountNameOfSid(sid);
    } else if (_wcsnicmp(place.key.c_str(), kDisplayClassKey, wcslen(kDisplayClassKey)) == 0 &&
               !RegistryKeyExists(root, place.key)) {
        change.currentRead = false;
        change.current.clear();
        change.state = ChangeState::Gone;
        change.reason = L"adapter removed";
    }
    out.push_back(std::move(change));
}

void LedgerProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen, std::vector<ChangeRow>& out) {
    ChangeRow change;
    if (!ProfileOriginal(row.settingId, change.original)) return;
    change.id = MachineId(row);
    change.step = kGpuStep;
    change.setting = FormatText(L"NVIDIA profile setting 0x%08X (%ls)", row.settingId, row.title);
    change.recorded = true;
    change.ours = FormatText(L"%lu", static_cast<unsigned long>(row.value));
    uint32_t value = 0;
    ProfileCurrent(sessionOpen ? ReadProfileSetting(session, row.settingId, value) : ProfileRead::Failed, value, change);
    change.state = JudgeRecorded(change);
    if (session.library == nullptr) {
        change.state = ChangeState::Gone;
        change.reason = L"NVIDIA driver removed";
    }
    out.push_back(std::move(change));
}

}  // namespace

void LedgerGpuTweaks(std::vector<ChangeRow>& out) {
    DriverProfileSession session;
    bool sessionOpen = false;
    bool sessionTried = false;
    std::set<std::wstring> seen;
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    for (const GpuTweak& row : GpuCatalogue()) {
        switch (row.kind) {
        case GpuTweakKind::Registry:
            for (const auto& [root, id, changeId] : RegistryRecordsOf(row, stateNames)) LedgerRecord(root, id, changeId, row, seen, out);
            break;
        case GpuTweakKind::Service:
            LedgerServiceChange(kGpuStep, MachineId(row), row.serviceName, out);
            break;
        case GpuTweakKind::DriverProfile:
            // The driver's settings store is opened once, and only when a row needs it.
            if (!sessionTried && StateValueExists(DrsName(L"GpuDrs_%08X_had", row.settingId))) {
                sessionTried = true;
                sessionOpen = OpenDriverProfileSession(session);
            }
            LedgerProfileRow(row, session, sessionOpen, out);
            break;
        }
    }
    if (sessionTried) CloseDriverProfileSession(session);
}

void HardenGpu() {
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind == GpuTweakKind::Service) PinServiceDisabled(row.serviceName);
    }
    // The Game DVR policy row's own value and record.
    for (const GpuTweak& row : GpuCatalogue()) {
        if (std::wstring(row.alias) != L"GAMEDVR") continue;
        RecordValueIn(RegRoot::LocalMachine, row.alias, row.keyPath, row.valueName);
        WriteDword(RegRoot::LocalMachine, row.keyPath, row.valueName, row.value);
    }
}
