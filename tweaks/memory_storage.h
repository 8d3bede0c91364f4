#pragma once
// Memory (system-managed pagefile, memory compression off) and Storage (power rows, TRIM,
// SysMain, hibernate, disk write cache, last-access updates).

// What a physical disk says of itself (its storage device descriptor) and its write cache; the
// boundary tests cannot reach on a real machine.
struct DiskDescription {
    bool removable = false;   // removable media
    unsigned busType = 0;     // STORAGE_BUS_TYPE: 7 USB, 12 SD, 13 MMC, 11 SATA, 17 NVMe, ...
};
enum class DiskCacheOutcome { Absent, AlreadyOn, Enabled, Failed };
class PhysicalDiskCache {
public:
    virtual ~PhysicalDiskCache() = default;
    // False when there is no such disk (or it cannot be asked).
    virtual bool Describe(int diskNumber, DiskDescription& description) = 0;
    // Whether the disk caches writes now; false when it cannot be asked.
    virtual bool WriteCacheOn(int diskNumber, bool& on) = 0;
    virtual DiskCacheOutcome EnableWriteCache(int diskNumber) = 0;
};
PhysicalDiskCache& CurrentPhysicalDiskCache();
void SetPhysicalDiskCache(PhysicalDiskCache* disks);

// A disk that can be pulled out (removable media, or on a USB, SD or MMC bus) keeps quick
// removal: with write caching on, pulling it loses data.
bool WriteCacheSuitsDisk(const DiskDescription& description);
#include <vector>

#include "foundation/change_plan.h"

class RestoreLedger;

// What Memory would change now: the paging file (only where there is none) and memory compression.
StepPlan PlanMemory(const PlanContext& context);
bool ApplyMemory();
// Memory compression off, its state on record first (the hardening's way to keep it off).
bool TurnOffMemoryCompression();
// What Storage would change now: the power rows in the plan active by then (the context's, when
// an earlier step of the run switches plans), SysMain, and the one-way TRIM, hibernate, write
// cache and last-access changes.
StepPlan PlanStorage(const PlanContext& context);
bool ApplyStorage();
// Each restore puts back what its records hold, whether or not a run completed, and notes in
// the ledger what it could not put back.
bool RestoreMemory(RestoreLedger& ledger);
bool RestoreStorage(RestoreLedger& ledger);
// What Memory and Storage have on record.
void LedgerMemory(std::vector<ChangeRow>& out);
void LedgerStorage(std::vector<ChangeRow>& out);
// Hardening: the storage rows in every listed plan and SysMain pinned off.
void HardenStorage();
