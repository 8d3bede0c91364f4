#pragma once
// Memory (system-managed pagefile, memory compression off) and Storage (power rows, TRIM,
// SysMain, hibernate, disk write cache, last-access updates).

// The write cache of one physical disk; the boundary tests cannot reach on a real machine.
enum class DiskCacheOutcome { Absent, AlreadyOn, Enabled, Failed };
class PhysicalDiskCache {
public:
    virtual ~PhysicalDiskCache() = default;
    virtual DiskCacheOutcome EnableWriteCache(int diskNumber) = 0;
};
PhysicalDiskCache& CurrentPhysicalDiskCache();
void SetPhysicalDiskCache(PhysicalDiskCache* disks);

bool EnableDiskWriteCache(int& enabled, int& failed);

class RestoreLedger;

bool ApplyMemory();
// Turns memory compression off, recording whether it was on before the first change.
bool TurnOffMemoryCompression();
// Each restore puts back what its records hold, whether or not a run completed, and notes in
// the ledger what it could not put back.
bool RestoreMemory(RestoreLedger& ledger);
bool ApplyStorage();
bool RestoreStorage(RestoreLedger& ledger);
