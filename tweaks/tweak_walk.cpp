#include "tweaks/tweak_walk.h"

#include <windows.h>

#include <cstring>
#include <cwctype>
#include <string_view>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/pacing.h"

namespace {

// Windows' Ultimate Performance plan is a template it keeps hidden; a plan is made from it by
// duplicating it. Ours always goes under one GUID of our own, so a second run finds it again
// instead of making another copy, and the uninstall knows which plan to take away.
constexpr GUID kUltimatePerformance = ParseGuid("e9a42b02-d5df-448d-aa00-03f14749eb61");
constexpr GUID kHighPerformance = ParseGuid("8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c");

std::wstring BackupName(const wchar_t* prefix, const wchar_t* alias, const wchar_t* suffix) {
    return FormatText(L"%ls%ls_%ls", prefix, alias, suffix);
}

std::wstring PowerSettingKey(const GUID& subgroup, const GUID& setting) {
    return FormatText(L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\%ls\\%ls",
                      GuidText(subgroup).c_str(), GuidText(setting).c_str());
}
std::wstring PowerSettingKey(const PowerSettingRow& row) { return PowerSettingKey(row.subgroup, row.setting); }

ValueRecordNames AttributesRecord(const wchar_t* prefix, const PowerSettingRow& row) {
    return {BackupName(prefix, row.alias, L"attrHad"), BackupName(prefix, row.alias, L"attr"),
            BackupName(prefix, row.alias, L"attrKey")};
}

// One scheme's record of one row: the names under base + "_hadAc" and so on.
struct PowerRecord {
    std::wstring base;
    std::wstring Name(const wchar_t* suffix) const { return base + L"_" + suffix; }
    std::vector<std::wstring> Names() const {
        return {Name(L"hadAc"), Name(L"ac"), Name(L"hadDc"), Name(L"dc"), Name(L"scheme")};
    }
    bool Exists() const { return StateValueExists(Name(L"hadAc")) || StateValueExists(Name(L"hadDc")); }
};

bool IsGuidText(std::wstring_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return false;
    }
    return true;
}

// Every record of the row: the first scheme's under the plain names, others under names that
// carry their scheme.
std::vector<PowerRecord> RecordsOfRow(const wchar_t* prefix, const PowerSettingRow& row,
                                      const std::vector<std::wstring>& stateNames) {
    const std::wstring base = std::wstring(prefix) + row.alias;
    std::vector<PowerRecord> records;
    if (PowerRecord{base}.Exists()) records.push_back({base});
    const std::wstring suffix = L"_hadAc";
    for (const std::wstring& name : stateNames) {
        if (name.size() != base.size() + 1 + 36 + suffix.size()) continue;
        if (name.compare(0, base.size() + 1, base + L"_") != 0 || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
        if (IsGuidText(std::wstring_view(name).substr(base.size() + 1, 36))) records.push_back({name.substr(0, name.size() - suffix.size())});
    }
    return records;
}

// One recorded value put back: the value as it was, or, where the plan had none of its own, the
// plan's value taken away again so the setting's default applies.
bool RestorePowerValue(const PowerRecord& record, const PowerSettingRow& row, const GUID& scheme, PowerSource source) {
    const bool ac = source == PowerSource::Ac;
    uint32_t had = 0, value = 0;
    if (!ReadStateDword(record.Name(ac ? L"hadAc" : L"hadDc"), had)) return true;
    if (had == 0) return CurrentPowerStore().ResetValue(scheme, row.subgroup, row.setting, source);
    // A copy that is not a number (changed by hand) restores nothing; the setting stays as it is.
    if (!ReadStateDword(record.Name(ac ? L"ac" : L"dc"), value)) return true;
    return WritePowerValue(scheme, row.subgroup, row.setting, source, value);
}

// Writes one scheme's recorded values back. A scheme the user deleted since has nothing left to
// restore (and a write into it could make a phantom plan): its record is dropped. Any other
// failure keeps the record for the next uninstall.
bool RestorePowerRecord(const PowerRecord& record, const PowerSettingRow& row, const GUID& scheme,
                        RestoreLedger& ledger) {
    if (!PowerSchemeListed(scheme)) {
        LogInfo(FormatText(L"The power plan %ls no longer exists; its recorded %ls values are dropped.",
                           BracedGuidText(scheme).c_str(), row.alias));
        return false;
    }
    const bool acRestored = RestorePowerValue(record, row, scheme, PowerSource::Ac);
    const bool dcRestored = RestorePowerValue(record, row, scheme, PowerSource::Dc);
    if (!acRestored || !dcRestored) {
        ledger.Failed(record.Names());
        return false;
    }
    ledger.Restored();
    return true;
}

}  // namespace

void ItemList::Begin(size_t index) {
    items_[index].status = TweakApplying;
    Publish();
    FeedExplanation(items_[index].title, items_[index].description);
}

void ItemList::Finish(size_t index, int status, const std::wstring* detail) {
    items_[index].status = status;
    if (detail != nullptr) items_[index].detail = *detail;
    Publish();
}

void AppendRowItems(std::vector<TweakItem>& items, std::span<const PowerSettingRow> rows) {
    for (const PowerSettingRow& row : rows) items.push_back(TweakItem{row.alias, row.title, row.description, L"", 0});
}

bool ReadPowerValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source, uint32_t& value) {
    return CurrentPowerStore().ReadValue(scheme, subgroup, setting, source, value);
}

bool WritePowerValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source, uint32_t value) {
    return CurrentPowerStore().WriteValue(scheme, subgroup, setting, source, value);
}

void UnhidePowerSetting(const GUID& subgroup, const GUID& setting) {
    CurrentPowerStore().WriteSettingAttributes(subgroup, setting, 0);
    const std::wstring key = PowerSettingKey(subgroup, setting);
    uint32_t attributes = 0;
    attributes = ReadDword(key, L"Attributes", attributes) ? attributes & ~1u : 2u;
    WriteDword(RegRoot::LocalMachine, key, L"Attributes", attributes);
    RunPowercfg(FormatText(L"/attributes %ls %ls -ATTRIB_HIDE", GuidText(subgroup).c_str(), GuidText(setting).c_str()));
}

bool PowercfgSetValue(const GUID& subgroup, const GUID& setting, uint32_t value, PowerSource source) {
    return RunPowercfg(FormatText(L"/%ls SCHEME_CURRENT %ls %ls %lu",
                                  source == PowerSource::Ac ? L"setacvalueindex" : L"setdcvalueindex",
                                  GuidText(subgroup).c_str(), GuidText(setting).c_str(),
                                  static_cast<unsigned long>(value))) == 0;
}

namespace {

// Activated, and seen active: the call's word alone is not believed.
bool ActivatePlan(const GUID& scheme) {
    PowerStore& store = CurrentPowerStore();
    if (!store.SetActiveScheme(scheme)) RunPowercfg(L"/setactive " + GuidText(scheme));
    GUID active{};
    return store.GetActiveScheme(active) && memcmp(&active, &scheme, sizeof(GUID)) == 0;
}

}  // namespace

const GUID& UltimateCopyScheme() {
    static constexpr GUID kOurCopy = ParseGuid("5f0c8d3e-9a41-4b6e-8c2d-7e1a4b9f3c65");
    return kOurCopy;
}

bool SwitchToUltimatePlan(std::wstring& text) {
    const GUID& copy = UltimateCopyScheme();
    if (!PowerSchemeListed(copy)) {
        const bool made = CurrentPowerStore().DuplicateScheme(kUltimatePerformance, copy) ||
                          RunPowercfg(L"/duplicatescheme " + GuidText(kUltimatePerformance) + L" " + GuidText(copy)) == 0;
        // The copy is ours to take away at uninstall, and only if this run made it.
        if (made && PowerSchemeListed(copy) && !StateValueExists(L"PpmCreatedScheme")) {
            WriteStateString(L"PpmCreatedScheme", BracedGuidText(copy));
        }
    }
    if (PowerSchemeListed(copy) && ActivatePlan(copy)) {
        text = L"Ultimate Performance is now the active plan";
        return true;
    }
    if (ActivatePlan(kHighPerformance)) {
        text = L"this PC does not offer Ultimate Performance (Modern Standby PCs do not); High Performance is active instead";
        return true;
    }
    text = L"could not switch the Windows power plan";
    return false;
}

std::wstring ChangeDetail(bool oldRead, uint32_t oldValue, uint32_t newValue, const wchar_t* unit) {
    const auto value = static_cast<unsigned long>(newValue);
    if (!oldRead) {
        return *unit != L'\0' ? FormatText(L"(hidden/unread)  \u2192  %lu%ls", value, unit)
                              : FormatText(L"(hidden/unread)  \u2192  %lu", value);
    }
    const auto old = static_cast<unsigned long>(oldValue);
    return *unit != L'\0' ? FormatText(L"%lu%ls  \u2192  %lu%ls", old, unit, value, unit)
                          : FormatText(L"%lu  \u2192  %lu", old, value);
}

bool WalkPowerRows(const GUID& scheme, std::span<const PowerSettingRow> rows, ItemList& items, size_t firstItem,
                   const RowWalkStyle& style, RowWalkCounts& counts) {
    for (size_t r = 0; r < rows.size(); ++r) {
        const PowerSettingRow& row = rows[r];
        const size_t item = firstItem + r;
        if (IsCancelled()) return false;

        RecordPowerAttributesOnce(style.backupPrefix, row);
        UnhidePowerSetting(row.subgroup, row.setting);
        uint32_t ac = 0, dc = 0;
        const bool acRead = ReadPowerValue(scheme, row.subgroup, row.setting, PowerSource::Ac, ac);
        const bool dcRead = ReadPowerValue(scheme, row.subgroup, row.setting, PowerSource::Dc, dc);
        const std::wstring detail = ChangeDetail(acRead || dcRead, acRead ? ac : dc, row.value, row.unit);
        items[item].detail = detail;
        items.Begin(item);
        FeedStage(style.tag, FormatText(L"%ls  %ls", row.alias, detail.c_str()));
        LogInfo(L"");
        LogInfo(FormatText(L"  %ls (%ls)", row.title, row.alias));
        LogInfo(FormatText(L"    %ls", row.description));
        LogInfo(FormatText(L"    %ls", detail.c_str()));
        DwellCancellable(row.dwell);
        if (style.cpuTune && IsCancelled()) return false;

        // The previous values are on record before anything changes.
        RecordPowerRowOnce(style.backupPrefix, row, scheme, acRead, ac, dcRead, dc);
        const bool acWritten = WritePowerValue(scheme, row.subgroup, row.setting, PowerSource::Ac, row.value) ||
                               PowercfgSetValue(row.subgroup, row.setting, row.value, PowerSource::Ac);
        const bool dcWritten = WritePowerValue(scheme, row.subgroup, row.setting, PowerSource::Dc, row.value) ||
                               PowercfgSetValue(row.subgroup, row.setting, row.value, PowerSource::Dc);
        uint32_t readBack = 0;
        const bool confirmed = ReadPowerValue(scheme, row.subgroup, row.setting, PowerSource::Ac, readBack) &&
                               readBack == row.value;

        if (acWritten || dcWritten || confirmed) {
            if (style.cpuTune) {
                LogInfo(FormatText(L"    written%ls.", confirmed ? FormatText(L" (confirmed %lu)",
                                                                             static_cast<unsigned long>(readBack)).c_str()
                                                                 : L""));
            } else {
                LogInfo(L"    written.");
            }
            ++counts.written;
            items.Finish(item, TweakWritten);
            DwellCancellable(style.cpuTune ? 500 : 400);
        } else {
            ++counts.failed;
            if (style.cpuTune) {
                LogError(FormatText(L"  write failed for %ls (API and powercfg). Continuing with the rest.", row.alias));
                const std::wstring failed = detail + L"  (write failed)";
                items.Finish(item, TweakFailed, &failed);
                DwellCancellable(600);
            } else {
                items.Finish(item, TweakFailed);
                DwellCancellable(400);
            }
        }
    }
    return true;
}

bool ParseGuidText(const std::wstring& text, GUID& guid) {
    std::wstring bare = text;
    if (bare.size() == 38 && bare.front() == L'{' && bare.back() == L'}') bare = bare.substr(1, 36);
    if (!IsGuidText(bare)) return false;
    guid = GuidFromHexText(bare.c_str());
    return true;
}

std::wstring BracedGuidText(const GUID& guid) { return L"{" + GuidText(guid) + L"}"; }

bool PowerSchemeListed(const GUID& scheme) {
    PowerStore& store = CurrentPowerStore();
    GUID listed{};
    uint32_t index = 0;
    for (; index < 64 && store.EnumerateScheme(index, listed); ++index) {
        if (memcmp(&listed, &scheme, sizeof(GUID)) == 0) return true;
    }
    // When the plans cannot be listed, assume the scheme is there, so its record is kept.
    return index == 0;
}

void RecordPowerRowOnce(const wchar_t* backupPrefix, const PowerSettingRow& row, const GUID& scheme, bool acRead,
                        uint32_t ac, bool dcRead, uint32_t dc) {
    PowerRecord record{std::wstring(backupPrefix) + row.alias};
    if (record.Exists()) {
        std::wstring recorded;
        GUID recordedScheme{};
        // A record from before schemes were recorded counts as this scheme's.
        if (!ReadStateString(record.Name(L"scheme"), recorded) || !ParseGuidText(recorded, recordedScheme) ||
            memcmp(&recordedScheme, &scheme, sizeof(GUID)) == 0) {
            return;
        }
        record.base += L"_" + GuidText(scheme);
        if (record.Exists()) return;
    }
    WriteStateString(record.Name(L"scheme"), BracedGuidText(scheme));
    if (acRead) WriteStateDword(record.Name(L"ac"), ac);
    WriteStateDword(record.Name(L"hadAc"), acRead ? 1 : 0);
    if (dcRead) WriteStateDword(record.Name(L"dc"), dc);
    WriteStateDword(record.Name(L"hadDc"), dcRead ? 1 : 0);
}

void RecordPowerAttributesOnce(const wchar_t* backupPrefix, const PowerSettingRow& row) {
    RecordValueOnce(RegRoot::LocalMachine, PowerSettingKey(row), L"Attributes", AttributesRecord(backupPrefix, row));
}

int RestorePowerRows(std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix, const GUID* fallbackScheme,
                     RestoreLedger& ledger) {
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    GUID active{};
    const bool activeRead = CurrentPowerStore().GetActiveScheme(active);
    int restored = 0;
    for (const PowerSettingRow& row : rows) {
        for (const PowerRecord& record : RecordsOfRow(backupPrefix, row, stateNames)) {
            std::wstring text;
            GUID scheme{};
            if (!ReadStateString(record.Name(L"scheme"), text) || !ParseGuidText(text, scheme)) {
                if (fallbackScheme != nullptr) {
                    scheme = *fallbackScheme;
                } else if (activeRead) {
                    scheme = active;
                } else {
                    ledger.Failed(record.Names());
                    continue;
                }
            }
            if (RestorePowerRecord(record, row, scheme, ledger)) ++restored;
        }
        const ValueRecordNames attributes = AttributesRecord(backupPrefix, row);
        switch (RestoreRecordedValue(RegRoot::LocalMachine, PowerSettingKey(row), L"Attributes", attributes)) {
        case RestoreResult::Failed:
            ledger.Failed(attributes.All());
            break;
        case RestoreResult::Restored:
        case RestoreResult::NothingRecorded:
            break;
        }
    }
    return restored;
}

std::wstring PowerValueText(uint32_t value, const wchar_t* unit) {
    return *unit != L'\0' ? FormatText(L"%lu %ls", static_cast<unsigned long>(value), unit)
                          : FormatText(L"%lu", static_cast<unsigned long>(value));
}

namespace {

// The attributes value unhiding leaves: the hide bit taken off what was there, or "shown".
uint32_t UnhiddenAttributes(bool present, const RegistryValue& value) {
    uint32_t attributes = 0;
    if (!present || value.type != REG_DWORD || value.bytes.size() != 4) return 2;
    memcpy(&attributes, value.bytes.data(), 4);
    return attributes & ~1u;
}

void DescribePowerValue(const std::wstring& step, const PowerSettingRow& row, const GUID& scheme, bool schemeExists,
                        const PowerRecord* record, PowerSource source, bool planned, std::vector<ChangeRow>& out) {
    const bool ac = source == PowerSource::Ac;
    ChangeRow change;
    change.step = step;
    change.setting = FormatText(L"power setting %ls (%ls), %ls, plan %ls", row.title, row.alias,
                                ac ? L"plugged in" : L"on battery", BracedGuidText(scheme).c_str());
    uint32_t had = 0, value = 0;
    if (record != nullptr && ReadStateDword(record->Name(ac ? L"hadAc" : L"hadDc"), had)) {
        change.recorded = true;
        change.original = had != 0 && ReadStateDword(record->Name(ac ? L"ac" : L"dc"), value) ? PowerValueText(value, row.unit)
                          : had != 0 ? std::wstring(L"(not a number)")
                                     : std::wstring(L"absent");
    }
    if (!record && !planned) return;
    if (!schemeExists) {
        change.currentRead = true;
        change.current = planned ? L"(plan not made yet)" : L"(plan deleted)";
    } else {
        change.currentRead = ReadPowerValue(scheme, row.subgroup, row.setting, source, value);
        if (change.currentRead) change.current = PowerValueText(value, row.unit);
    }
    change.ours = PowerValueText(row.value, row.unit);
    change.state = planned ? JudgePlanned(change) : JudgeRecorded(change);
    out.push_back(std::move(change));
}

}  // namespace

void DescribePowerRows(const std::wstring& step, std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix,
                       const GUID* plannedScheme, std::vector<ChangeRow>& out) {
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    GUID active{};
    const bool activeRead = CurrentPowerStore().GetActiveScheme(active);
    const bool planned = plannedScheme != nullptr;
    for (const PowerSettingRow& row : rows) {
        const ValueRecordNames attributes = AttributesRecord(backupPrefix, row);
        RegistryValue attributesNow, attributesBefore;
        const std::wstring key = PowerSettingKey(row);
        uint32_t hadAttributes = 0;
        const bool attributesRecorded = ReadStateDword(attributes.had, hadAttributes);
        if (planned || attributesRecorded) {
            // Unhiding writes what it found without the hide bit: the record's original, or now's.
            const bool basePresent = attributesRecorded ? hadAttributes != 0 && ReadStateRaw(attributes.previous, attributesBefore)
                                                        : ReadRawValue(RegRoot::LocalMachine, key, L"Attributes", attributesBefore);
            out.push_back(DescribeRegistryChange(step, RegRoot::LocalMachine, key, L"Attributes", attributes,
                                                 DwordValue(UnhiddenAttributes(basePresent, attributesBefore)), planned));
        }
        const PowerRecord* plannedRecord = nullptr;
        const std::vector<PowerRecord> records = RecordsOfRow(backupPrefix, row, stateNames);
        for (const PowerRecord& record : records) {
            std::wstring text;
            GUID scheme{};
            // A record from before schemes were recorded belongs to the plan that was active.
            if (!ReadStateString(record.Name(L"scheme"), text) || !ParseGuidText(text, scheme)) {
                if (!activeRead) continue;
                scheme = active;
            }
            if (planned) {
                if (memcmp(&scheme, plannedScheme, sizeof(GUID)) == 0) plannedRecord = &record;
                continue;
            }
            const bool listed = PowerSchemeListed(scheme);
            DescribePowerValue(step, row, scheme, listed, &record, PowerSource::Ac, false, out);
            DescribePowerValue(step, row, scheme, listed, &record, PowerSource::Dc, false, out);
        }
        if (planned) {
            const bool listed = PowerSchemeListed(*plannedScheme);
            DescribePowerValue(step, row, *plannedScheme, listed, plannedRecord, PowerSource::Ac, true, out);
            DescribePowerValue(step, row, *plannedScheme, listed, plannedRecord, PowerSource::Dc, true, out);
        }
    }
}
