#include "tweaks/tweak_walk.h"

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "timer/sampling.h"

namespace {

constexpr GUID kUltimatePerformance = ParseGuid("e9a42b02-d5df-448d-aa00-03a2192483d7");
constexpr GUID kHighPerformance = ParseGuid("8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c");

std::wstring BackupName(const wchar_t* prefix, const wchar_t* alias, const wchar_t* suffix) {
    return FormatText(L"%ls%ls_%ls", prefix, alias, suffix);
}

bool ReadBackup(const wchar_t* prefix, const wchar_t* alias, const wchar_t* had, const wchar_t* value, uint32_t& out) {
    uint32_t flag = 0;
    return ReadStateDword(BackupName(prefix, alias, had), flag) && flag != 0 &&
           ReadStateDword(BackupName(prefix, alias, value), out);
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
    const std::wstring key = FormatText(L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\%ls\\%ls",
                                        GuidText(subgroup).c_str(), GuidText(setting).c_str());
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

bool SwitchToUltimatePlan(std::wstring& text) {
    const std::wstring ultimate = GuidText(kUltimatePerformance);
    if (RunPowercfg(L"/setactive " + ultimate) == 0) {
        text = L"Ultimate Performance is now the active plan";
        return true;
    }
    // Editions that ship the plan hidden accept it once it is duplicated under its own GUID.
    RunPowercfg(L"/duplicatescheme " + ultimate);
    if (RunPowercfg(L"/setactive " + ultimate) == 0) {
        text = L"duplicated Ultimate Performance and set it active";
        return true;
    }
    if (RunPowercfg(L"/setactive " + GuidText(kHighPerformance)) == 0) {
        text = L"Ultimate Performance is not on this SKU; High Performance is active instead";
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
        if (acRead) {
            WriteStateDword(BackupName(style.backupPrefix, row.alias, L"ac"), ac);
            WriteStateDword(BackupName(style.backupPrefix, row.alias, L"hadAc"), 1);
        }
        if (dcRead) {
            WriteStateDword(BackupName(style.backupPrefix, row.alias, L"dc"), dc);
            WriteStateDword(BackupName(style.backupPrefix, row.alias, L"hadDc"), 1);
        }
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

int RestorePowerRows(const GUID& scheme, std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix) {
    int restored = 0;
    for (const PowerSettingRow& row : rows) {
        uint32_t value = 0;
        if (ReadBackup(backupPrefix, row.alias, L"hadAc", L"ac", value) &&
            WritePowerValue(scheme, row.subgroup, row.setting, PowerSource::Ac, value)) {
            ++restored;
        }
        if (ReadBackup(backupPrefix, row.alias, L"hadDc", L"dc", value)) {
            WritePowerValue(scheme, row.subgroup, row.setting, PowerSource::Dc, value);
        }
    }
    return restored;
}
