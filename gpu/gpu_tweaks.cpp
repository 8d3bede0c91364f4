#include "gpu/gpu_tweaks.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <set>
#include <vector>

#include "foundation/log.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"
#include "gpu/driver_profile.h"
#include "gpu/gpu_catalogue.h"
#include "foundation/service_backup.h"
#include "foundation/pacing.h"
#include "tweaks/tweak_walk.h"

namespace {

// One restore pass over the records.
struct GpuRestore {
    RestoreLedger& ledger;
    int restored = 0;
    int profileChanges = 0;
    bool driverGoneLogged = false;
    std::set<std::wstring> targets;  // values already put back in this pass
};

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

// Where a registry record's value lives: its key and name, and for a per-user value the account
// it came from. False when there is no complete record under the id.
struct RecordPlace {
    std::wstring key, name, sid;
};
bool ReadRecordPlace(RegRoot root, const std::wstring& id, RecordPlace& place) {
    if (!StateValueExists(RecordOf(id).had)) return false;
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
    if (StateValueExists(RecordOf(id).had)) return;
    WriteStateString(Name(L"Gpu_%ls_key", id), keyPath);
    WriteStateString(Name(L"Gpu_%ls_name", id), valueName);
    if (root == RegRoot::CurrentUser) WriteStateString(Name(L"Gpu_%ls_sid", id), CurrentAccountSid());
    RecordValueOnce(root, keyPath, valueName, RecordOf(id));
}

// A per-adapter value keeps the position it was first recorded under, even when the adapter
// list has changed since; a new adapter key takes the first free position.
std::wstring AdapterRecordId(const GpuTweak& row, const std::wstring& adapterKey) {
    std::wstring firstFree;
    for (unsigned k = 0; k < 32; ++k) {
        const std::wstring id = FormatText(L"%ls_%02u", row.alias, k);
        std::wstring recordedKey;
        if (!StateValueExists(RecordOf(id).had)) {
            if (firstFree.empty()) firstFree = id;
        } else if (ReadStateString(Name(L"Gpu_%ls_key", id), recordedKey) && _wcsicmp(recordedKey.c_str(), adapterKey.c_str()) == 0) {
            return id;
        }
    }
    return firstFree;
}

// Puts one record back. Several records may name the same value (the Game Bar row records the
// machine-wide value twice); it is restored and counted once.
void RestoreRecord(RegRoot root, const std::wstring& id, GpuRestore& pass) {
    RecordPlace place;
    if (!ReadRecordPlace(root, id, place)) return;
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
    if (_wcsnicmp(key.c_str(), kDisplayClassKey, wcslen(kDisplayClassKey)) == 0 && !RegistryKeyExists(root, key)) return;
    if (!pass.targets.insert(SameValueKey(root, key, name)).second) return;
    switch (RestoreRecordedValue(root, key, name, RecordOf(id), root == RegRoot::Users ? sid + L"\\" : std::wstring())) {
    case RestoreResult::Restored:
        ++pass.restored;
        pass.ledger.Restored();
        break;
    case RestoreResult::Failed:
        LogError(FormatText(L"%ls\\%ls could not be restored.", key.c_str(), name.c_str()));
        pass.ledger.Failed(AllRecordNames(id));
        break;
    case RestoreResult::NothingRecorded:
        break;
    }
}

bool ApplyRegistryRow(const GpuTweak& row) {
    const std::wstring alias = row.alias;
    if (row.perAdapter) {
        const std::vector<std::wstring> keys = AdapterKeysForVendor(row.vendor);
        int written = 0;
        for (const std::wstring& key : keys) {
            const std::wstring id = AdapterRecordId(row, key);
            if (!id.empty()) RecordGpuValue(id, key, row.valueName);
            if (WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value)) ++written;
        }
        if (written > 0) LogInfo(FormatText(L"    wrote on %d adapter key(s).", written));
        return written > 0;
    }
    const std::wstring key = row.keyPath;
    // The per-user copies of the Game Bar and Game DVR switches are recorded as well (under
    // "<alias>_CU"), so the uninstall puts back what this step changed in the user's hive too.
    if (key.find(L"GameBar") != std::wstring::npos) {
        RecordGpuValue(alias, key, row.valueName);
        RecordValueIn(RegRoot::CurrentUser, alias + L"_CU", key, row.valueName);
        const bool written = WriteDword(RegRoot::CurrentUser, key, row.valueName, row.value);
        RecordGpuValue(alias + L"_LM", key, row.valueName);
        WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
        return written;
    }
    if (key.find(L"CurrentVersion\\GameDVR") != std::wstring::npos) {
        RecordValueIn(RegRoot::CurrentUser, alias + L"_CU", key, row.valueName);
        const bool written = WriteDword(RegRoot::CurrentUser, key, row.valueName, row.value);
        RecordGpuValue(alias, key, row.valueName);
        WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
        return written;
    }
    RecordGpuValue(alias, key, row.valueName);
    return WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
}

bool ApplyServiceRow(const GpuTweak& row) {
    if (DisableServiceWithBackup(row.serviceName)) return true;
    LogInfo(L"    service not present (already gone, or this driver did not install it).");
    // A service that is not there is as good as disabled; one that refused stays a failure.
    return !ServiceExists(row.serviceName);
}

std::wstring DrsName(const wchar_t* format, uint32_t settingId) { return FormatText(format, settingId); }

bool ApplyDriverProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen) {
    if (sessionOpen) {
        const std::wstring had = DrsName(L"GpuDrs_%08X_had", row.settingId);
        uint32_t previous = 0;
        switch (ReadProfileSetting(session, row.settingId, previous)) {
        case ProfileRead::OtherType:
            LogInfo(FormatText(L"    NVIDIA setting 0x%08X holds a value that is not a number; it is left unchanged.",
                               row.settingId));
            return false;
        case ProfileRead::Dword:
            if (!StateValueExists(had)) {
                WriteStateDword(DrsName(L"GpuDrs_%08X", row.settingId), previous);
                WriteStateDword(had, 1);
            }
            break;
        case ProfileRead::NotFound:
            // Not in the profile: the uninstall takes ours out again, back to the driver default.
            if (!StateValueExists(had)) WriteStateDword(had, 0);
            break;
        case ProfileRead::Failed:
            // Without the value as it was there is nothing to put back later: never written blind.
            LogInfo(FormatText(L"    NVIDIA setting 0x%08X could not be read; it is left unchanged.", row.settingId));
            return false;
        }
        if (WriteProfileDword(session, row.settingId, row.value)) return true;
    }
    LogInfo(L"    NVAPI SetSetting failed (driver too old, or this ID is not in the profile).");
    return false;
}

void RestoreDriverProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen, GpuRestore& pass) {
    const std::wstring hadName = DrsName(L"GpuDrs_%08X_had", row.settingId);
    const std::wstring valueName = DrsName(L"GpuDrs_%08X", row.settingId);
    uint32_t had = 0, previous = 0;
    if (!ReadStateDword(hadName, had)) return;
    if (had != 0 && !ReadStateDword(valueName, previous)) return;
    if (session.library == nullptr) {
        // Without nvapi64.dll the NVIDIA driver is gone, and its settings store with it.
        if (!pass.driverGoneLogged) {
            LogInfo(L"nvapi64.dll is not available: the NVIDIA driver and its control-panel settings are gone, so "
                    L"there are none to restore.");
            pass.driverGoneLogged = true;
        }
        return;
    }
    const bool ok = sessionOpen && (had != 0 ? WriteProfileDword(session, row.settingId, previous)
                                             : DeleteProfileSetting(session, row.settingId));
    if (ok) {
        ++pass.restored;
        ++pass.profileChanges;
        pass.ledger.Restored();
        return;
    }
    LogError(FormatText(L"NVIDIA setting 0x%08X could not be restored.", row.settingId));
    pass.ledger.Failed({hadName, valueName});
}

}  // namespace

void RecordGpuValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName) {
    RecordValueIn(RegRoot::LocalMachine, id, keyPath, valueName);
}

bool ApplyGpuTweaks() {
    const GpuProbeView probe = ProbeGpu();
    PrintGpuProbe(probe);
    FeedExplanation(L"GPU driver optimization",
                    L"HAGS, overlays off, NVIDIA global 3D (max performance, high-performance filtering, VSync off, "
                    L"ultra low latency, ReBAR, P2 off) and AMD Anti-Lag / ULPS.");
    FeedStage(L"GPU", L"writing Windows / driver graphics settings");
    LogInfo(L"Applying GPU driver optimization tweaks.");

    std::vector<const GpuTweak*> rows;
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.vendor == GpuAny || (row.vendor == GpuNvidia && probe.hasNvidia) || (row.vendor == GpuAmd && probe.hasAmd)) {
            rows.push_back(&row);
        }
    }
    if (rows.empty()) {
        LogError(L"No GPU tweaks apply to the adapters on this machine.");
        return false;
    }
    std::vector<TweakItem> list;
    for (const GpuTweak* row : rows) list.push_back({row->alias, row->title, row->description, row->detail, TweakPending});
    ItemList items(std::move(list));
    items.Publish();
    DwellCancellable(1600);

    DriverProfileSession session;
    bool sessionOpen = false;
    if (probe.hasNvidia) {
        sessionOpen = OpenDriverProfileSession(session);
        if (!sessionOpen) {
            LogInfo(L"  nvapi64.dll could not open a DRS session; NVIDIA control-panel (DRS) values will be retried via "
                    L"registry only.");
        }
    }
    int written = 0;
    int failed = 0;
    const auto finishSession = [&] {
        if (written > 0) SaveDriverProfiles(session);
        CloseDriverProfileSession(session);
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const GpuTweak& row = *rows[i];
        if (IsCancelled()) {
            finishSession();
            return false;
        }
        items.Begin(i);
        FeedStage(L"GPU", FormatText(L"%ls  %ls", row.alias, row.detail));
        LogInfo(L"");
        LogInfo(FormatText(L"  %ls (%ls)", row.title, row.alias));
        LogInfo(FormatText(L"    %ls", row.description));
        LogInfo(FormatText(L"    %ls", row.detail));
        DwellCancellable(row.pause);
        if (IsCancelled()) {
            finishSession();
            return false;
        }
        bool ok = false;
        switch (row.kind) {
        case GpuTweakKind::Registry:
            ok = ApplyRegistryRow(row);
            break;
        case GpuTweakKind::Service:
            ok = ApplyServiceRow(row);
            break;
        case GpuTweakKind::DriverProfile:
            ok = ApplyDriverProfileRow(row, session, sessionOpen);
            break;
        }
        items.Finish(i, ok ? TweakWritten : TweakFailed);
        if (ok) {
            LogInfo(L"    written.");
            ++written;
        } else {
            ++failed;
        }
        DwellCancellable(500);
    }
    finishSession();
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
    const std::wstring schtasks = SystemToolPath(L"schtasks.exe");
    RunProcess(schtasks, L"/Delete /F /TN \"Quorvantis Afterburner\"", 15000);
    RunProcess(schtasks, L"/Delete /F /TN \"Quorvantis RivaTuner\"", 15000);

    DriverProfileSession session;
    const bool sessionOpen = OpenDriverProfileSession(session);
    GpuRestore pass{ledger, 0, 0, false, {}};
    for (const GpuTweak& row : GpuCatalogue()) {
        switch (row.kind) {
        case GpuTweakKind::DriverProfile:
            RestoreDriverProfileRow(row, session, sessionOpen, pass);
            break;
        case GpuTweakKind::Service:
            RestoreServiceStartType(row.serviceName, ledger, pass.restored);
            break;
        case GpuTweakKind::Registry: {
            const std::wstring alias = row.alias;
            RestoreRecord(RegRoot::LocalMachine, alias, pass);
            RestoreRecord(RegRoot::LocalMachine, alias + L"_LM", pass);
            RestoreRecord(RegRoot::CurrentUser, alias + L"_CU", pass);
            for (unsigned k = 0; k < 32; ++k) RestoreRecord(RegRoot::LocalMachine, FormatText(L"%ls_%02u", row.alias, k), pass);
            break;
        }
        }
    }
    if (pass.profileChanges > 0) SaveDriverProfiles(session);
    CloseDriverProfileSession(session);
    if (pass.restored > 0 || StateValueExists(L"GpuApplied")) {
        LogInfo(FormatText(L"Restored %d GPU setting(s) to their previous values.", pass.restored));
    }
    return true;
}

namespace {

constexpr const wchar_t* kGpuStep = L"GPU Config";

// One registry record as the ledger shows it, in the hive of the account it came from; each
// value once, as the restore puts it back once.
void DescribeRecord(RegRoot root, const std::wstring& id, const GpuTweak& row, std::set<std::wstring>& seen,
                    std::vector<ChangeRow>& out) {
    RecordPlace place;
    if (!ReadRecordPlace(root, id, place)) return;
    if (!place.sid.empty()) {
        root = RegRoot::Users;
        place.key = place.sid + L"\\" + place.key;
    }
    if (!seen.insert(SameValueKey(root, place.key, place.name)).second) return;
    out.push_back(DescribeRegistryChange(kGpuStep, root, place.key, place.name, RecordOf(id), DwordValue(row.value), false));
}

void DescribePlannedRegistryRow(const GpuTweak& row, std::vector<ChangeRow>& out) {
    const std::wstring alias = row.alias;
    const auto add = [&](RegRoot root, const std::wstring& id, const std::wstring& key) {
        out.push_back(DescribeRegistryChange(kGpuStep, root, key, row.valueName, RecordOf(id), DwordValue(row.value), true));
    };
    if (row.perAdapter) {
        for (const std::wstring& key : AdapterKeysForVendor(row.vendor)) {
            const std::wstring id = AdapterRecordId(row, key);
            add(RegRoot::LocalMachine, id.empty() ? alias : id, key);
        }
        return;
    }
    const std::wstring key = row.keyPath;
    if (key.find(L"GameBar") != std::wstring::npos || key.find(L"CurrentVersion\\GameDVR") != std::wstring::npos) {
        add(RegRoot::CurrentUser, alias + L"_CU", key);
    }
    add(RegRoot::LocalMachine, alias, key);
}

void DescribeProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen, bool planned,
                        std::vector<ChangeRow>& out) {
    ChangeRow change;
    change.step = kGpuStep;
    change.setting = FormatText(L"NVIDIA profile setting 0x%08X (%ls)", row.settingId, row.title);
    uint32_t had = 0, previous = 0;
    if (ReadStateDword(DrsName(L"GpuDrs_%08X_had", row.settingId), had)) {
        change.recorded = true;
        change.original = had == 0 ? std::wstring(L"absent (driver default)")
                          : ReadStateDword(DrsName(L"GpuDrs_%08X", row.settingId), previous)
                              ? FormatText(L"%lu", static_cast<unsigned long>(previous))
                              : std::wstring(L"(not a number)");
    }
    if (!planned && !change.recorded) return;
    uint32_t value = 0;
    switch (sessionOpen ? ReadProfileSetting(session, row.settingId, value) : ProfileRead::Failed) {
    case ProfileRead::Dword:
        change.currentRead = true;
        change.current = FormatText(L"%lu", static_cast<unsigned long>(value));
        break;
    case ProfileRead::NotFound:
        change.currentRead = true;
        change.current = L"absent (driver default)";
        break;
    case ProfileRead::OtherType:
        change.currentRead = true;
        change.current = L"(not a number)";
        break;
    case ProfileRead::Failed:
        break;
    }
    change.ours = FormatText(L"%lu", static_cast<unsigned long>(row.value));
    change.state = planned ? JudgePlanned(change) : JudgeRecorded(change);
    out.push_back(std::move(change));
}

}  // namespace

void DescribeGpuTweaks(bool planned, std::vector<ChangeRow>& out) {
    const GpuProbeView probe = planned ? ProbeGpu() : GpuProbeView{};
    const auto applies = [&](const GpuTweak& row) {
        return !planned || row.vendor == GpuAny || (row.vendor == GpuNvidia && probe.hasNvidia) ||
               (row.vendor == GpuAmd && probe.hasAmd);
    };
    DriverProfileSession session;
    bool sessionOpen = false;
    bool sessionTried = false;
    std::set<std::wstring> seen;
    for (const GpuTweak& row : GpuCatalogue()) {
        if (!applies(row)) continue;
        switch (row.kind) {
        case GpuTweakKind::Registry:
            if (planned) {
                DescribePlannedRegistryRow(row, out);
            } else {
                const std::wstring alias = row.alias;
                DescribeRecord(RegRoot::LocalMachine, alias, row, seen, out);
                DescribeRecord(RegRoot::LocalMachine, alias + L"_LM", row, seen, out);
                DescribeRecord(RegRoot::CurrentUser, alias + L"_CU", row, seen, out);
                for (unsigned k = 0; k < 32; ++k) DescribeRecord(RegRoot::LocalMachine, FormatText(L"%ls_%02u", row.alias, k), row, seen, out);
            }
            break;
        case GpuTweakKind::Service:
            DescribeServiceChange(kGpuStep, row.serviceName, planned, out);
            break;
        case GpuTweakKind::DriverProfile:
            // The driver's settings store is opened once, and only when a row needs it.
            if (!sessionTried && (planned || StateValueExists(DrsName(L"GpuDrs_%08X_had", row.settingId)))) {
                sessionTried = true;
                sessionOpen = OpenDriverProfileSession(session);
            }
            DescribeProfileRow(row, session, sessionOpen, planned, out);
            break;
        }
    }
    if (sessionTried) CloseDriverProfileSession(session);
}
