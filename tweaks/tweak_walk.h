#pragma once
// What every paced tweak step shares: the item list it publishes, and the walk that writes
// power-plan rows with their backups.
#include <guiddef.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "foundation/feed.h"
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
bool SwitchToUltimatePlan(std::wstring& text);

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

// Puts back each row's recorded AC and DC values; returns how many AC values were restored.
int RestorePowerRows(const GUID& scheme, std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix);
