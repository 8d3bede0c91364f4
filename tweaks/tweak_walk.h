#pragma once
// What every paced tweak step shares: the item list it publishes, and the walk that writes
// power-plan rows with their backups.
#include <guiddef.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "foundation/feed.h"
#include "foundation/setting_record.h"
#include "tweaks/power_rows.h"
#include "tweaks/power_store.h"

// The step's items; every change is published whole to the current feed.
class ItemList {
public:
    explicit ItemList(std::vector<TweakItem> items) : items_(std::move(items)) {}
    void Publish() const { FeedItems(items_); }
    TweakItem& operator[](size_t index) { return items_[index]; }
    const std::vector<TweakItem>& Items() const { return items_; }
    // Marks the item as being applied, publishes, and explains it in the heading.
    void Begin(size_t index);
    // Sets the outcome (and the detail, when given) and publishes.
    void Finish(size_t index, int status, const std::wstring* detail = nullptr);

private:
    std::vector<TweakItem> items_;
};

// One pending item per row, with an empty detail.
void AppendRowItems(std::vector<TweakItem>& items, std::span<const PowerSettingRow> rows);

bool ReadPowerValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source, uint32_t& value);
bool WritePowerValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source, uint32_t value);
void UnhidePowerSetting(const GUID& subgroup, const GUID& setting);
bool PowercfgSetValue(const GUID& subgroup, const GUID& setting, uint32_t value, PowerSource source);
// Ultimate Performance, made from Windows' template under our own GUID (or found again there)
// and activated; High Performance where Windows offers no such plan.
bool SwitchToUltimatePlan(std::wstring& text);
// The GUID of the Ultimate Performance plan this program makes.
const GUID& UltimateCopyScheme();

// "15ms  →  5000ms", "0  →  1", or "(hidden/unread)  →  100%" when nothing could be read.
std::wstring ChangeDetail(bool oldRead, uint32_t oldValue, uint32_t newValue, const wchar_t* unit);

struct RowWalkStyle {
    const wchar_t* tag;           // tag line of each row
    const wchar_t* backupPrefix;  // "Ppm_" or "Pwr_"
    bool cpuTune;                 // CPU Tune's confirmation notes, error lines and dwells; else storage's
};

struct RowWalkCounts {
    int written = 0;
    int failed = 0;
};

// Writes each row for AC and DC after recording the previous values. False when a cancel
// request ended the walk (what was written stays written, with its backup).
bool WalkPowerRows(const GUID& scheme, std::span<const PowerSettingRow> rows, ItemList& items, size_t firstItem,
                   const RowWalkStyle& style, RowWalkCounts& counts);

// Records a row's AC and DC values in one scheme before the first write into that scheme
// ("<prefix><alias>_..." for the first scheme, "<prefix><alias>_<scheme>_..." for others).
// A value that could not be read is recorded as absent, so a later run cannot record ours.
void RecordPowerRowOnce(const wchar_t* backupPrefix, const PowerSettingRow& row, const GUID& scheme, bool acRead,
                        uint32_t ac, bool dcRead, uint32_t dc);
// The setting's "Attributes" registry value, which unhiding changes.
void RecordPowerAttributesOnce(const wchar_t* backupPrefix, const PowerSettingRow& row);

// Puts back every recorded value of the rows into the scheme it came from, and each row's
// attributes. Rows recorded before schemes were recorded go into the fallback scheme, or the
// active one when there is none. Returns how many AC values were restored.
int RestorePowerRows(std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix, const GUID* fallbackScheme,
                     RestoreLedger& ledger);

// Each row's visibility and its plugged-in and on-battery values: as recorded, in the scheme of
// each record (plannedScheme null), or as a step would write them into plannedScheme, which
// need not exist yet (a plan the step will make).
void DescribePowerRows(const std::wstring& step, std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix,
                       const GUID* plannedScheme, std::vector<ChangeRow>& out);
// "5000 ms", "100 %", "1"
std::wstring PowerValueText(uint32_t value, const wchar_t* unit);

// "{xxxxxxxx-...}" or the bare form to a GUID; false for anything else.
bool ParseGuidText(const std::wstring& text, GUID& guid);
std::wstring BracedGuidText(const GUID& guid);
// Whether the machine still has the plan; true when the plans cannot be listed at all.
bool PowerSchemeListed(const GUID& scheme);
