#pragma once
// What every paced tweak step shares: the item list it publishes, and the power-plan rows with
// their records, planned, written, listed and put back through one description.
#include <guiddef.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "foundation/change_plan.h"
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

// Windows' own plans and the Ultimate Performance plan this program makes from Windows' template
// under a GUID of its own (so a second run finds it again and the uninstall knows which to take).
const GUID& BalancedScheme();
const GUID& HighPerformanceScheme();
const GUID& UltimateTemplateScheme();
const GUID& UltimateCopyScheme();

// "15ms  →  5000ms", "0  →  1", or "(hidden/unread)  →  100%" when nothing could be read.
std::wstring ChangeDetail(bool oldRead, uint32_t oldValue, uint32_t newValue, const wchar_t* unit);

// A step's power rows: CPU Tune's or Storage's, with the names of their records and changes.
struct PowerRowSet {
    std::span<const PowerSettingRow> rows;
    const wchar_t* backupPrefix;  // "Ppm_" or "Pwr_": the records' names
    const wchar_t* idPrefix;      // "power." or "storage.": the changes' ids
};
PowerRowSet CpuTuneRowSet();
PowerRowSet StorageRowSet();

// Plans every row into the scheme from the given item on (one item per row): unhiding a setting
// Windows hides, then its plugged-in and on-battery values, each recorded before it is written.
// schemeMade: an earlier change of the same run makes the scheme, so nothing in it can be read yet.
void PlanPowerRows(StepPlan& plan, const PowerRowSet& set, const GUID& scheme, bool schemeMade, size_t firstItem);

struct RowWalkStyle {
    const wchar_t* tag;  // tag line of each row
    bool cpuTune;        // CPU Tune's confirmation notes, error lines and dwells; else storage's
};
struct RowWalkCounts {
    int written = 0;
    int failed = 0;
};
// Carries out the planned rows, paced: each row explained, held for its dwell and written with
// its records first. False when a cancel request ended the walk (what was written stays
// written, with its records).
bool WalkPowerRows(const StepPlan& plan, const PowerRowSet& set, const GUID& scheme, ItemList& items, size_t firstItem,
                   const RowWalkStyle& style, RowWalkCounts& counts);

// Puts back every recorded value of the rows into the scheme it came from, and each row's
// attributes. Rows recorded before schemes were recorded go into the fallback scheme, or the
// active one when there is none. Returns how many values were restored.
int RestorePowerRows(const PowerRowSet& set, const GUID* fallbackScheme, RestoreLedger& ledger);

// Each recorded visibility and plugged-in and on-battery value, beside what it is now.
void LedgerPowerRows(const std::wstring& step, const PowerRowSet& set, std::vector<ChangeRow>& out);
// "5000 ms", "100 %", "1"
std::wstring PowerValueText(uint32_t value, const wchar_t* unit);

// "{xxxxxxxx-...}" or the bare form to a GUID; false for anything else.
bool ParseGuidText(const std::wstring& text, GUID& guid);
std::wstring BracedGuidText(const GUID& guid);
// Whether the machine still has the plan; true when the plans cannot be listed at all.
bool PowerSchemeListed(const GUID& scheme);
// Every plan the machine lists, in its order.
std::vector<GUID> ListedPowerSchemes();
