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
    virtual DiskCacheOutcome EnableWriteCache(int diskNumber) = 0;
};
PhysicalDiskCache& CurrentPhysicalDiskCache();
void SetPhysicalDiskCache(PhysicalDiskCache* disks);

// A disk that can be pulled out (removable media, or on a USB, SD or MMC bus) keeps quick
// removal: with write caching on, pulling it loses data.
bool WriteCacheSuitsDisk(const DiskDescription& description);
// Turns write caching on for every fixed disk; removable ones are counted as skipped.
bool EnableDiskWriteCache(int& enabled, int& failed, int& skipped);

#include <vector>

#include "foundation/change_ledger.h"

class RestoreLedger;

bool ApplyMemory();
// Turns memory compression off, recording whether it was on before the first change.
bool TurnOffMemoryCompression();
// Each restore puts back what its records hold, whether or not a run completed, and notes in
// the ledger what it could not put back.
bool RestoreMemory(RestoreLedger& ledger);
bool ApplyStorage();
bool RestoreStorage(RestoreLedger& ledger);
// What Memory and Storage write (planned) or have on record. Storage's TRIM, hibernate, write
// cache and last-access changes keep no record (the uninstall leaves them), and say so.
void DescribeMemory(bool planned, std::vector<ChangeRow>& out);
void DescribeStorage(bool planned, std::vector<ChangeRow>& out);
