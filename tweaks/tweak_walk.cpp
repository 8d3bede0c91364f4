#include "tweaks/tweak_walk.h"

#include <windows.h>

#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <string_view>

#include "foundation/log.h"
#include "foundation/pacing.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"

namespace {

constexpr GUID kBalanced = ParseGuid("381b4222-f694-41f0-9685-ff5bb260df2e");
constexpr GUID kHighPerformance = ParseGuid("8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c");
// Windows' Ultimate Performance plan is a template it keeps hidden; a plan is made from it by
// duplicating it.
constexpr GUID kUltimatePerformance = ParseGuid("e9a42b02-d5df-448d-aa00-03f14749eb61");
constexpr GUID kOurCopy = ParseGuid("5f0c8d3e-9a41-4b6e-8c2d-7e1a4b9f3c65");

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

std::wstring PowerSettingKey(const PowerSettingRow& row) {
    return FormatText(L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\%ls\\%ls", GuidText(row.subgroup).c_str(),
                      GuidText(row.setting).c_str());
}

ValueRecordNames AttributesRecord(const PowerRowSet& set, const PowerSettingRow& row) {
    const std::wstring base = std::wstring(set.backupPrefix) + row.alias;
    return {base + L"_attrHad", base + L"_attr", base + L"_attrKey"};
}

const wchar_t* SourceWord(PowerSource source) { return source == PowerSource::Ac ? L"ac" : L"dc"; }

// One scheme's record of one row: the first scheme's under "<prefix><alias>_...", others under
// names that carry their scheme. Each source is recorded on its own, just before its write.
struct PowerRecord {
    std::wstring base;
    std::wstring Name(const wchar_t* suffix) const { return base + L"_" + suffix; }
    std::wstring HadName(PowerSource source) const { return Name(source == PowerSource::Ac ? L"hadAc" : L"hadDc"); }
    std::wstring ValueName(PowerSource source) const { return Name(SourceWord(source)); }
    std::vector<std::wstring> Names(PowerSource source) const { return {HadName(source), ValueName(source)}; }
    bool Has(PowerSource source) const { return StateValueExists(HadName(source)); }
    bool Exists() const { return Has(PowerSource::Ac) || Has(PowerSource::Dc); }
};

bool IsGuidText(std::wstring_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != L'-' : !iswxdigit(text[i])) return false;
    }
    return true;
}

// The record a write into this scheme goes under: the plain names when they are free or already
// this scheme's (or from before schemes were recorded), else names that carry the scheme.
PowerRecord PowerRecordFor(const PowerRowSet& set, const PowerSettingRow& row, const GUID& scheme) {
    PowerRecord plain{std::wstring(set.backupPrefix) + row.alias};
    if (!plain.Exists()) return plain;
    std::wstring recorded;
    GUID recordedScheme{};
    if (!ReadStateString(plain.Name(L"scheme"), recorded) || !ParseGuidText(recorded, recordedScheme) ||
        SameGuid(recordedScheme, scheme)) {
        return plain;
    }
    return {plain.base + L"_" + GuidText(scheme)};
}

// "power.PERFCHECK.ac", or "power.PERFCHECK.ac.5F0C8D3E" for a record that names its scheme.
std::wstring ValueId(const PowerRowSet& set, const PowerSettingRow& row, const PowerRecord& record, PowerSource source) {
    const size_t plainSize = wcslen(set.backupPrefix) + wcslen(row.alias);
    std::wstring id = std::wstring(set.idPrefix) + row.alias + L"." + SourceWord(source);
    if (record.base.size() > plainSize + 1) id += L"." + record.base.substr(plainSize + 1, 8);
    return id;
}

std::wstring AttributesId(const PowerRowSet& set, const PowerSettingRow& row) {
    return std::wstring(set.idPrefix) + row.alias + L".attributes";
}

// Every record of the row: the first scheme's under the plain names, others under names that
// carry their scheme.
std::vector<PowerRecord> RecordsOfRow(const PowerRowSet& set, const PowerSettingRow& row,
                                      const std::vector<std::wstring>& stateNames) {
    const std::wstring base = std::wstring(set.backupPrefix) + row.alias;
    std::vector<PowerRecord> records;
    if (PowerRecord{base}.Exists()) records.push_back({base});
    for (const std::wstring& name : stateNames) {
        for (const wchar_t* suffix : {L"_hadAc", L"_hadDc"}) {
            const size_t suffixSize = wcslen(suffix);
            if (name.size() != base.size() + 1 + 36 + suffixSize) continue;
            if (name.compare(0, base.size() + 1, base + L"_") != 0 || name.compare(name.size() - suffixSize, suffixSize, suffix) != 0) {
                continue;
            }
            if (!IsGuidText(std::wstring_view(name).substr(base.size() + 1, 36))) continue;
            const PowerRecord record{name.substr(0, name.size() - suffixSize)};
            bool seen = false;
            for (const PowerRecord& known : records) seen = seen || known.base == record.base;
            if (!seen) records.push_back(record);
        }
    }
    return records;
}

// The scheme a record belongs to; records from before schemes were recorded belong to the
// fallback, or to the active plan.
bool SchemeOfRecord(const PowerRecord& record, const GUID* fallback, GUID& scheme) {
    std::wstring text;
    if (ReadStateString(record.Name(L"scheme"), text) && ParseGuidText(text, scheme)) return true;
    if (fallback != nullptr) {
        scheme = *fallback;
        return true;
    }
    return CurrentPowerStore().GetActiveScheme(scheme);
}

// The values' state before their first change, each unless it is on record already: both
// sources are read before either record is written, and both records before the row's first
// write, so a run that dies between them leaves nothing half recorded. A value that could not be
// read is recorded as absent, so a later run cannot record the value this one wrote.
void RecordPowerValuesOnce(const PowerRowSet& set, const PowerSettingRow& row, const GUID& scheme,
                           std::initializer_list<PowerSource> sources) {
    const PowerRecord record = PowerRecordFor(set, row, scheme);
    struct Read {
        PowerSource source;
        bool read;
        uint32_t value;
    };
    std::vector<Read> reads;
    for (const PowerSource source : sources) {
        if (record.Has(source)) continue;
        Read r{source, false, 0};
        r.read = ReadPowerValue(scheme, row.subgroup, row.setting, source, r.value);
        reads.push_back(r);
    }
    if (reads.empty()) return;
    if (!StateValueExists(record.Name(L"scheme"))) WriteStateString(record.Name(L"scheme"), BracedGuidText(scheme));
    for (const Read& r : reads) {
        if (r.read) WriteStateDword(record.ValueName(r.source), r.value);
        // The "had" value goes last: it is what says the record is complete.
        WriteStateDword(record.HadName(r.source), r.read ? 1 : 0);
    }
}

// Into that scheme by name: powercfg's SCHEME_CURRENT would write the active plan, whichever it is.
bool PowercfgSetValue(const GUID& scheme, const PowerSettingRow& row, PowerSource source, uint32_t value) {
    return RunPowercfg(FormatText(L"/%ls %ls %ls %ls %lu", source == PowerSource::Ac ? L"setacvalueindex" : L"setdcvalueindex",
                                  GuidText(scheme).c_str(), GuidText(row.subgroup).c_str(), GuidText(row.setting).c_str(),
                                  static_cast<unsigned long>(value))) == 0;
}

// Windows keeps a setting's visibility in its "Attributes" value; bit 0 hides it from Power
// Options. Unhiding clears that bit and keeps the rest (2 marks a setting shown on Modern
// Standby PCs).
constexpr uint32_t kHideBit = 1;

bool DwordOf(const RegistryValue& value, uint32_t& number) {
    if (value.type != REG_DWORD || value.bytes.size() != 4) return false;
    memcpy(&number, value.bytes.data(), 4);
    return true;
}

void PlanUnhide(StepPlan& plan, const PowerRowSet& set, const PowerSettingRow& row, size_t item) {
    const std::wstring key = PowerSettingKey(row);
    RegistryValue now;
    uint32_t attributes = 0;
    if (!ReadRawValue(RegRoot::LocalMachine, key, L"Attributes", now) || !DwordOf(now, attributes) ||
        (attributes & kHideBit) == 0) {
        return;  // shown already (or not a setting Windows describes): nothing to change
    }
    const uint32_t shown = attributes & ~kHideBit;
    const ValueRecordNames record = AttributesRecord(set, row);
    ChangeRow change;
    change.id = AttributesId(set, row);
    change.setting = RegistryValuePlace(RegRoot::LocalMachine, key, L"Attributes");
    uint32_t had = 0;
    RegistryValue previous;
    if (ReadStateDword(record.had, had)) {
        change.recorded = had == 0 || ReadStateRaw(record.previous, previous);
        if (change.recorded) change.original = RegistryValueText(had != 0, previous);
    }
    change.currentRead = true;
    change.current = RegistryValueText(now);
    change.ours = RegistryValueText(DwordValue(shown));
    change.state = JudgePlanned(change);
    const GUID subgroup = row.subgroup, setting = row.setting;
    plan.Add(std::move(change), item, [key, record] { RecordValueOnce(RegRoot::LocalMachine, key, L"Attributes", record); },
             [subgroup, setting, key, shown] {
                 // powrprof writes the value itself; where it lacks the call, the same value goes in directly.
                 return CurrentPowerStore().WriteSettingAttributes(subgroup, setting, shown) ||
                        WriteDword(RegRoot::LocalMachine, key, L"Attributes", shown);
             });
}

std::wstring ValuePlace(const PowerSettingRow& row, const GUID& scheme, PowerSource source) {
    return FormatText(L"power setting %ls (%ls), %ls, plan %ls", row.title, row.alias,
                      source == PowerSource::Ac ? L"plugged in" : L"on battery", BracedGuidText(scheme).c_str());
}

// What the record holds, in the ledger's words.
bool RecordedOriginal(const PowerRecord& record, const PowerSettingRow& row, PowerSource source, std::wstring& original) {
    uint32_t had = 0, value = 0;
    if (!ReadStateDword(record.HadName(source), had)) return false;
    original = had != 0 && ReadStateDword(record.ValueName(source), value) ? PowerValueText(value, row.unit)
               : had != 0                                                  ? std::wstring(L"(not a number)")
                                                                           : std::wstring(L"absent");
    return true;
}

void PlanValue(StepPlan& plan, const PowerRowSet& set, const PowerSettingRow& row, const GUID& scheme, bool schemeMade,
               PowerSource source, size_t item) {
    const PowerRecord record = PowerRecordFor(set, row, scheme);
    ChangeRow change;
    change.id = ValueId(set, row, record, source);
    change.setting = ValuePlace(row, scheme, source);
    change.recorded = RecordedOriginal(record, row, source, change.original);
    uint32_t value = 0;
    if (schemeMade) {
        change.currentRead = true;
        change.current = L"(plan not made yet)";
    } else {
        change.currentRead = ReadPowerValue(scheme, row.subgroup, row.setting, source, value);
        if (change.currentRead) change.current = PowerValueText(value, row.unit);
    }
    change.ours = PowerValueText(row.value, row.unit);
    change.state = JudgePlanned(change);
    const PowerSettingRow* target = &row;
    // The plugged-in change is the row's first write: it puts both sources on record.
    plan.Add(std::move(change), item,
             [set, target, scheme, source] {
                 if (source == PowerSource::Ac) RecordPowerValuesOnce(set, *target, scheme, {PowerSource::Ac, PowerSource::Dc});
                 else RecordPowerValuesOnce(set, *target, scheme, {PowerSource::Dc});
             },
             [target, scheme, source] {
                 return WritePowerValue(scheme, target->subgroup, target->setting, source, target->value) ||
                        PowercfgSetValue(scheme, *target, source, target->value);
             });
}

// One recorded value put back: the value as it was, or, where the plan had none of its own, the
// plan's value taken away again so the setting's default applies.
bool RestorePowerValue(const PowerRecord& record, const PowerSettingRow& row, const GUID& scheme, PowerSource source) {
    uint32_t had = 0, value = 0;
    if (!ReadStateDword(record.HadName(source), had)) return true;
    if (had == 0) return CurrentPowerStore().ResetValue(scheme, row.subgroup, row.setting, source);
    // A copy that is not a number (changed by hand) restores nothing; the setting stays as it is.
    if (!ReadStateDword(record.ValueName(source), value)) return true;
    return WritePowerValue(scheme, row.subgroup, row.setting, source, value);
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

const GUID& BalancedScheme() { return kBalanced; }
const GUID& HighPerformanceScheme() { return kHighPerformance; }
const GUID& UltimateTemplateScheme() { return kUltimatePerformance; }
const GUID& UltimateCopyScheme() { return kOurCopy; }

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

PowerRowSet CpuTuneRowSet() { return {CpuTuneRows(), L"Ppm_", L"power."}; }
PowerRowSet StorageRowSet() { return {StoragePowerRows(), L"Pwr_", L"storage."}; }

void PlanPowerRows(StepPlan& plan, const PowerRowSet& set, const GUID& scheme, bool schemeMade, size_t firstItem) {
    for (size_t r = 0; r < set.rows.size(); ++r) {
        const PowerSettingRow& row = set.rows[r];
        const size_t item = firstItem + r;
        PlanUnhide(plan, set, row, item);
        PlanValue(plan, set, row, scheme, schemeMade, PowerSource::Ac, item);
        PlanValue(plan, set, row, scheme, schemeMade, PowerSource::Dc, item);
    }
}

bool WalkPowerRows(const StepPlan& plan, const PowerRowSet& set, const GUID& scheme, ItemList& items, size_t firstItem,
                   const RowWalkStyle& style, RowWalkCounts& counts) {
    for (size_t r = 0; r < set.rows.size(); ++r) {
        const PowerSettingRow& row = set.rows[r];
        const size_t item = firstItem + r;
        if (IsCancelled()) return false;
        // What the row shows is read as its turn comes: an earlier item may have made the plan.
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

        CommitCounts committed;
        CommitItem(plan, item, committed);
        uint32_t readBack = 0;
        const bool confirmed = ReadPowerValue(scheme, row.subgroup, row.setting, PowerSource::Ac, readBack) &&
                               readBack == row.value;
        if (committed.failed == 0 || confirmed) {
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

std::vector<GUID> ListedPowerSchemes() {
    PowerStore& store = CurrentPowerStore();
    std::vector<GUID> schemes;
    GUID listed{};
    for (uint32_t index = 0; index < 64 && store.EnumerateScheme(index, listed); ++index) schemes.push_back(listed);
    return schemes;
}

bool PowerSchemeListed(const GUID& scheme) {
    const std::vector<GUID> schemes = ListedPowerSchemes();
    for (const GUID& listed : schemes) {
        if (SameGuid(listed, scheme)) return true;
    }
    // When the plans cannot be listed, assume the scheme is there, so its record is kept.
    return schemes.empty();
}

int RestorePowerRows(const PowerRowSet& set, const GUID* fallbackScheme, RestoreLedger& ledger) {
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    int restored = 0;
    for (const PowerSettingRow& row : set.rows) {
        for (const PowerRecord& record : RecordsOfRow(set, row, stateNames)) {
            std::vector<PowerSource> sources;
            for (const PowerSource source : {PowerSource::Ac, PowerSource::Dc}) {
                if (record.Has(source) && ledger.Includes(ValueId(set, row, record, source))) sources.push_back(source);
            }
            if (sources.empty()) continue;
            std::vector<std::wstring> names;
            for (const PowerSource source : sources) {
                for (const std::wstring& name : record.Names(source)) names.push_back(name);
            }
            // The scheme's name goes with the last of its values.
            const bool whole = sources.size() == 2 || !record.Has(sources[0] == PowerSource::Ac ? PowerSource::Dc : PowerSource::Ac);
            if (whole) names.push_back(record.Name(L"scheme"));
            GUID scheme{};
            if (!SchemeOfRecord(record, fallbackScheme, scheme)) {
                ledger.Failed(names);
                continue;
            }
            // A scheme the user deleted since has nothing left to restore (and a write into it
            // could make a phantom plan): its record is dropped.
            if (!PowerSchemeListed(scheme)) {
                LogInfo(FormatText(L"The power plan %ls no longer exists; its recorded %ls values are dropped.",
                                   BracedGuidText(scheme).c_str(), row.alias));
                ledger.Dropped(names);
                continue;
            }
            bool ok = true;
            for (const PowerSource source : sources) ok = RestorePowerValue(record, row, scheme, source) && ok;
            if (!ok) {
                ledger.Failed(names);
                continue;
            }
            ledger.Restored(names);
            ++restored;
        }
        const ValueRecordNames attributes = AttributesRecord(set, row);
        if (ledger.Includes(AttributesId(set, row))) {
            RestoreRecordedValue(RegRoot::LocalMachine, PowerSettingKey(row), L"Attributes", attributes, ledger);
        }
    }
    return restored;
}

std::wstring PowerValueText(uint32_t value, const wchar_t* unit) {
    return *unit != L'\0' ? FormatText(L"%lu %ls", static_cast<unsigned long>(value), unit)
                          : FormatText(L"%lu", static_cast<unsigned long>(value));
}

void LedgerPowerRows(const std::wstring& step, const PowerRowSet& set, std::vector<ChangeRow>& out) {
    const std::vector<std::wstring> stateNames = RegistryValueNames(RegRoot::LocalMachine, kStateKey);
    for (const PowerSettingRow& row : set.rows) {
        const ValueRecordNames attributes = AttributesRecord(set, row);
        uint32_t hadAttributes = 0;
        if (ReadStateDword(attributes.had, hadAttributes)) {
            // Unhiding wrote the original without its hide bit.
            RegistryValue original;
            uint32_t number = 0;
            const bool present = hadAttributes != 0 && ReadStateRaw(attributes.previous, original);
            ChangeRow change = DescribeRegistryChange(step, RegRoot::LocalMachine, PowerSettingKey(row), L"Attributes",
                                                      attributes,
                                                      DwordValue(present && DwordOf(original, number) ? number & ~kHideBit : 0),
                                                      false);
            change.id = AttributesId(set, row);
            out.push_back(std::move(change));
        }
        for (const PowerRecord& record : RecordsOfRow(set, row, stateNames)) {
            GUID scheme{};
            const bool known = SchemeOfRecord(record, nullptr, scheme);
            const bool listed = known && PowerSchemeListed(scheme);
            for (const PowerSource source : {PowerSource::Ac, PowerSource::Dc}) {
                ChangeRow change;
                if (!RecordedOriginal(record, row, source, change.original)) continue;
                change.id = ValueId(set, row, record, source);
                change.step = step;
                change.setting = known ? ValuePlace(row, scheme, source) : FormatText(L"power setting %ls (%ls), %ls", row.title,
                                                                                     row.alias, SourceWord(source));
                change.recorded = true;
                change.ours = PowerValueText(row.value, row.unit);
                uint32_t value = 0;
                if (known && !listed) {
                    change.state = ChangeState::Gone;
                    change.reason = L"plan deleted";
                    out.push_back(std::move(change));
                    continue;
                }
                change.currentRead = known && ReadPowerValue(scheme, row.subgroup, row.setting, source, value);
                if (change.currentRead) change.current = PowerValueText(value, row.unit);
                change.state = JudgeRecorded(change);
                out.push_back(std::move(change));
            }
        }
    }
}
