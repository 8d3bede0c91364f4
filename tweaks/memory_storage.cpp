#include "tweaks/memory_storage.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/service_backup.h"
#include "foundation/pacing.h"
#include "foundation/setting_record.h"
#include "tweaks/pagefile_rules.h"
#include "tweaks/tweak_walk.h"

namespace {

class WindowsPhysicalDiskCache final : public PhysicalDiskCache {
public:
    bool Describe(int diskNumber, DiskDescription& description) override {
        const std::wstring path = FormatText(L"\\\\.\\PhysicalDrive%d", diskNumber);
        // No access needed to ask for the descriptor.
        const UniqueKernelHandle disk = AdoptFileHandle(
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!disk) return false;
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        alignas(8) BYTE buffer[1024] = {};
        DWORD returned = 0;
        if (!DeviceIoControl(disk.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), buffer, sizeof(buffer), &returned,
                             nullptr) ||
            returned < sizeof(STORAGE_DEVICE_DESCRIPTOR) - 1) {
            // A disk that cannot say what it is might be removable: treated as such.
            description = DiskDescription{true, 0};
            return true;
        }
        const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer);
        description.removable = descriptor->RemovableMedia != FALSE;
        description.busType = static_cast<unsigned>(descriptor->BusType);
        return true;
    }
    bool WriteCacheOn(int diskNumber, bool& on) override {
        const std::wstring path = FormatText(L"\\\\.\\PhysicalDrive%d", diskNumber);
        const UniqueKernelHandle disk = AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                                    nullptr, OPEN_EXISTING, 0, nullptr));
        if (!disk) return false;
        DISK_CACHE_INFORMATION cache{};
        DWORD returned = 0;
        if (!DeviceIoControl(disk.get(), IOCTL_DISK_GET_CACHE_INFORMATION, nullptr, 0, &cache, sizeof(cache), &returned,
                             nullptr)) {
            return false;
        }
        on = cache.WriteCacheEnabled != FALSE;
        return true;
    }
    DiskCacheOutcome EnableWriteCache(int diskNumber) override {
        const std::wstring path = FormatText(L"\\\\.\\PhysicalDrive%d", diskNumber);
        const UniqueKernelHandle disk = AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                                    OPEN_EXISTING, 0, nullptr));
        if (!disk) return DiskCacheOutcome::Absent;
        DISK_CACHE_INFORMATION cache{};
        DWORD returned = 0;
        if (!DeviceIoControl(disk.get(), IOCTL_DISK_GET_CACHE_INFORMATION, nullptr, 0, &cache, sizeof(cache), &returned,
                             nullptr)) {
            return DiskCacheOutcome::Failed;
        }
        if (cache.WriteCacheEnabled) return DiskCacheOutcome::AlreadyOn;
        // Only the write-cache flag changes; read cache, retention and prefetch stay as they are.
        cache.WriteCacheEnabled = TRUE;
        return DeviceIoControl(disk.get(), IOCTL_DISK_SET_CACHE_INFORMATION, &cache, sizeof(cache), nullptr, 0, &returned,
                               nullptr)
                   ? DiskCacheOutcome::Enabled
                   : DiskCacheOutcome::Failed;
    }
};

PhysicalDiskCache* g_disks = nullptr;

constexpr const wchar_t* kMemoryStep = L"Memory";
constexpr const wchar_t* kStorageStep = L"Storage";
constexpr const wchar_t* kMemoryManagementKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
constexpr const wchar_t* kFileSystemKey = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const wchar_t* kPowerKey = L"SYSTEM\\CurrentControlSet\\Control\\Power";
const ValueRecordNames kPagingFilesRecord{L"PagefileHad", L"PagefilePrevious", L""};
constexpr const wchar_t* kPagefileId = L"memory.pagefile";
constexpr const wchar_t* kCompressionId = L"memory.compression";
constexpr const wchar_t* kSysMainId = L"storage.sysmain";

// The paging file setup as Windows keeps it (and reads it at boot): PagingFiles.
bool ReadPagingFiles(std::vector<std::wstring>& entries) {
    RegistryValue value;
    entries.clear();
    if (!ReadRawValue(RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles", value)) return false;
    if (value.type != REG_MULTI_SZ && value.type != REG_SZ) return false;
    const std::wstring_view text(reinterpret_cast<const wchar_t*>(value.bytes.data()), value.bytes.size() / sizeof(wchar_t));
    entries = MultiStringEntries(text);
    return true;
}

// What Windows writes when it manages the paging file: "?:\pagefile.sys".
RegistryValue SystemManagedPagingFiles() {
    const wchar_t automatic[] = L"?:\\pagefile.sys\0";
    RegistryValue value{REG_MULTI_SZ, std::vector<uint8_t>(sizeof(automatic))};
    memcpy(value.bytes.data(), automatic, sizeof(automatic));
    return value;
}

// Windows decides the pagefile size itself. Through WMI's own cmdlets first: wmic is gone from
// current Windows 11. CreateProcess expands no environment variables, so wmic gets the computer
// name from the system rather than %computername%, which a user could set to smuggle extra words
// into an elevated command line.
bool SetSystemManagedPagefile() {
    const auto managed = [] {
        std::vector<std::wstring> entries;
        return ReadPagingFiles(entries) && ClassifyPagingFiles(entries) == PagefileSetup::SystemManaged;
    };
    RunPowerShell(L"Get-CimInstance -ClassName Win32_ComputerSystem -ErrorAction Stop | Set-CimInstance "
                  L"-Property @{AutomaticManagedPagefile=$true} -ErrorAction Stop; exit 0",
                  20000);
    if (managed()) return true;
    const std::wstring wmic = SystemToolPath(L"wbem\\wmic.exe");
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!FileExists(wmic) || !GetComputerNameW(name, &size)) return false;
    RunProcess(wmic, FormatText(L"computersystem where name=\"%ls\" set AutomaticManagedPagefile=True", name), 20000);
    return managed();
}

// Only a machine without any paging file gets one managed by Windows; a paging file the user
// set up is theirs.
void PlanPagefile(StepPlan& plan, size_t item) {
    ChangeRow row = DescribeRegistryChange(kMemoryStep, RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles",
                                           kPagingFilesRecord, SystemManagedPagingFiles(), true);
    row.id = kPagefileId;
    std::vector<std::wstring> entries;
    if (!ReadPagingFiles(entries)) {
        plan.LeaveAlone(std::move(row), item, L"the paging file setup could not be read, so it is left alone");
        return;
    }
    switch (ClassifyPagingFiles(entries)) {
    case PagefileSetup::SystemManaged:
        row.state = ChangeState::AlreadySet;
        plan.Add(std::move(row), item, nullptr, nullptr);
        return;
    case PagefileSetup::Manual:
        plan.LeaveAlone(std::move(row), item, L"a manual pagefile is set (" + PagingFilesText(entries) + L"); it is left alone");
        return;
    case PagefileSetup::None:
        break;
    }
    plan.Add(std::move(row), item,
             [] { RecordValueOnce(RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles", kPagingFilesRecord); },
             SetSystemManagedPagefile);
}

// Memory compression as Get-MMAgent reports it: 1 on, 0 off, -1 unknown (no MMAgent cmdlets).
int MemoryCompressionState() {
    const uint32_t state = RunPowerShell(L"$a = Get-MMAgent -ErrorAction SilentlyContinue; if (-not $a) { exit 3 }; "
                                         L"exit (10 + [int]$a.MemoryCompression)",
                                         30000);
    return state == 10 || state == 11 ? static_cast<int>(state - 10) : -1;
}

// The state before the first change, read and put on record before Disable-MMAgent runs: a run
// that times out or dies inside the cmdlet has the original on record all the same.
// readNow: read the state for the plan's row too (the hardening, at every boot, reads it only
// where the record needs it).
void PlanCompression(StepPlan& plan, size_t item, bool readNow) {
    ChangeRow row;
    row.id = kCompressionId;
    row.setting = L"memory compression (MMAgent)";
    uint32_t wasOn = 0;
    row.recorded = ReadStateDword(L"MemCompDisabled", wasOn);
    if (row.recorded) row.original = wasOn != 0 ? L"on" : L"off";
    const int state = readNow ? MemoryCompressionState() : -1;
    row.currentRead = state >= 0;
    if (row.currentRead) row.current = state == 1 ? L"on" : L"off";
    row.ours = L"off";
    row.state = JudgePlanned(row);
    plan.Add(std::move(row), item,
             [] {
                 if (StateValueExists(L"MemCompDisabled")) return;
                 const int now = MemoryCompressionState();
                 if (now >= 0) WriteStateDword(L"MemCompDisabled", now == 1 ? 1 : 0);
             },
             [] {
                 // Never turned off blind: without the state on record the uninstall could not
                 // tell whether to turn it back on.
                 if (!StateValueExists(L"MemCompDisabled")) return false;
                 // 10 already off, 11 was on and is off now; the cmdlet missing (3) or compression
                 // still on afterwards (4) is a failure.
                 const uint32_t exitCode = RunPowerShell(
                     L"$a = Get-MMAgent -ErrorAction SilentlyContinue; if (-not $a) { exit 3 }; "
                     L"$was = [int]$a.MemoryCompression; Disable-MMAgent -MemoryCompression -ErrorAction SilentlyContinue; "
                     L"if ($was -and (Get-MMAgent).MemoryCompression) { exit 4 }; exit (10 + $was)",
                     40000);
                 return exitCode == 10 || exitCode == 11;
             });
}

// One registry value a tool changes and nothing can take back: listed and noted as made.
void PlanOneWayValue(StepPlan& plan, size_t item, const wchar_t* id, const wchar_t* key, const wchar_t* name, const wchar_t* how,
                     uint32_t ours, std::function<bool()> write) {
    RegistryValue now;
    const bool present = ReadRawValue(RegRoot::LocalMachine, key, name, now);
    ChangeRow row;
    row.id = id;
    row.setting = RegistryValuePlace(RegRoot::LocalMachine, key, name) + L" (" + how + L")";
    row.keeping = ChangeKeeping::OneWay;
    row.currentRead = present || !RegistryKeyRefused(RegRoot::LocalMachine, key);
    row.current = RegistryValueText(present, now);
    row.ours = RegistryValueText(DwordValue(ours));
    row.state = JudgePlanned(row);
    plan.Add(std::move(row), item, nullptr, std::move(write));
}

bool RunTool(const wchar_t* tool, const wchar_t* arguments) {
    return RunProcess(SystemToolPath(tool), arguments, 20000) == 0;
}

// Every fixed disk gets its write cache on; a disk that can be pulled out keeps quick removal.
void PlanWriteCache(StepPlan& plan, size_t item) {
    PhysicalDiskCache& disks = CurrentPhysicalDiskCache();
    for (int disk = 0; disk < 16; ++disk) {
        DiskDescription description;
        if (!disks.Describe(disk, description)) continue;
        ChangeRow row;
        row.id = FormatText(L"storage.writecache.disk%d", disk);
        row.setting = FormatText(L"write cache of disk %d (\\\\.\\PhysicalDrive%d)", disk, disk);
        row.keeping = ChangeKeeping::OneWay;
        bool on = false;
        row.currentRead = disks.WriteCacheOn(disk, on);
        if (row.currentRead) row.current = on ? L"on" : L"off";
        row.ours = L"on";
        if (!WriteCacheSuitsDisk(description)) {
            plan.LeaveAlone(std::move(row), item, L"a disk that can be pulled out keeps quick removal");
            continue;
        }
        row.state = JudgePlanned(row);
        plan.Add(std::move(row), item, nullptr, [disk] {
            const DiskCacheOutcome outcome = CurrentPhysicalDiskCache().EnableWriteCache(disk);
            return outcome == DiskCacheOutcome::Enabled || outcome == DiskCacheOutcome::AlreadyOn;
        });
    }
}

void BeginItem(ItemList& items, size_t item, uint32_t dwell) {
    items.Begin(item);
    DwellCancellable(dwell);
}

// One storage item carried out: its changes committed, the outcome shown and counted.
bool CommitStorageItem(const StepPlan& plan, ItemList& items, size_t item, const wchar_t* written, const wchar_t* failed,
                       RowWalkCounts& counts) {
    CommitCounts committed;
    const bool ok = CommitItem(plan, item, committed);
    const std::wstring detail = ok ? written : failed;
    items.Finish(item, ok ? TweakWritten : TweakFailed, &detail);
    if (ok) ++counts.written;
    else ++counts.failed;
    DwellCancellable(400);
    return ok;
}

struct StoragePlan {
    StepPlan plan;
    bool haveScheme = false;
    GUID scheme{};
};

constexpr size_t kTrimItem = 3, kSysMainItem = 4, kHibernateItem = 5, kWriteCacheItem = 6, kLastAccessItem = 7;

StoragePlan MakeStoragePlan(const PlanContext& context) {
    StoragePlan made;
    made.plan.step = kStorageStep;
    bool schemeMade = false;
    if (context.chainedScheme) {
        made.haveScheme = true;
        made.scheme = context.scheme;
        schemeMade = context.schemeMade;
    } else {
        made.haveScheme = CurrentPowerStore().GetActiveScheme(made.scheme);
    }
    if (made.haveScheme) {
        PlanPowerRows(made.plan, StorageRowSet(), made.scheme, schemeMade, 0);
    } else {
        made.plan.notes.push_back(L"Storage: the active power plan could not be read, so its power settings are not listed.");
    }
    PlanOneWayValue(made.plan, kTrimItem, L"storage.trim", kFileSystemKey, L"DisableDeleteNotification",
                    L"fsutil behavior set DisableDeleteNotify 0", 0,
                    [] { return RunTool(L"fsutil.exe", L"behavior set DisableDeleteNotify 0"); });
    PlanServiceDisabled(made.plan, kSysMainId, L"SysMain", kSysMainItem);
    PlanOneWayValue(made.plan, kHibernateItem, L"storage.hibernate", kPowerKey, L"HibernateEnabled", L"powercfg -h off", 0,
                    [] { return RunTool(L"powercfg.exe", L"-h off"); });
    PlanWriteCache(made.plan, kWriteCacheItem);
    // Since Windows 10 1803 the value also says who manages it: 0x80000001 is "user managed, updates off".
    PlanOneWayValue(made.plan, kLastAccessItem, L"storage.lastaccess", kFileSystemKey, L"NtfsDisableLastAccessUpdate",
                    L"fsutil behavior set disablelastaccess 1", 0x80000001u,
                    [] { return RunTool(L"fsutil.exe", L"behavior set disablelastaccess 1"); });
    return made;
}

}  // namespace

PhysicalDiskCache& CurrentPhysicalDiskCache() {
    static WindowsPhysicalDiskCache windowsDisks;
    return g_disks != nullptr ? *g_disks : windowsDisks;
}

void SetPhysicalDiskCache(PhysicalDiskCache* disks) { g_disks = disks; }

bool WriteCacheSuitsDisk(const DiskDescription& description) {
    constexpr unsigned kUsb = 7, kSd = 12, kMmc = 13;
    return !description.removable && description.busType != kUsb && description.busType != kSd && description.busType != kMmc;
}

StepPlan PlanMemory(const PlanContext&) {
    StepPlan plan;
    plan.step = kMemoryStep;
    PlanPagefile(plan, 0);
    PlanCompression(plan, 1, true);
    return plan;
}

bool ApplyMemory() {
    const StepPlan plan = PlanMemory({});
    FeedExplanation(L"Memory", L"XMP/DOCP and timings live in BIOS, listed on the restart screen. In Windows we make sure "
                               L"a pagefile exists so the kernel is not forced into a zero-pagefile panic under load, "
                               L"and we turn off memory compression which trades CPU for RAM and adds jitter.");
    FeedStage(L"MEMORY", L"pagefile and memory compression");
    ItemList items({
        {L"PAGEFILE", L"system-managed pagefile",
         L"A missing pagefile makes Windows refuse large allocations and hitch on commit. System-managed (min/max chosen "
         L"by Windows) is the guide default. If you already set a manual size it is left alone.",
         L"AutomaticManagedPagefile  \u2192  True", TweakPending},
        {L"MEMCOMP", L"memory compression",
         L"The MemCompression store compresses standby pages on a CPU thread. That is extra DPC work on a "
         L"latency-sensitive box. Disabled here; uninstall turns it back on.",
         L"Disable-MMAgent -MemoryCompression", TweakPending},
    });
    items.Publish();
    DwellCancellable(1000);

    BeginItem(items, 0, 1400);
    const ChangeRow& pagefile = plan.changes[0].row;
    CommitCounts pagefileCounts;
    const bool pagefileOk = CommitItem(plan, 0, pagefileCounts);
    std::wstring pagefileText = pagefile.reason;
    int pagefileStatus = TweakSkipped;
    if (pagefile.state == ChangeState::AlreadySet) {
        pagefileText = L"already managed by Windows";
        pagefileStatus = TweakWritten;
    } else if (pagefile.state != ChangeState::LeftAlone) {
        pagefileText = pagefileOk ? L"AutomaticManagedPagefile = True" : L"the pagefile could not be set to system-managed";
        pagefileStatus = pagefileOk ? TweakWritten : TweakFailed;
    }
    items.Finish(0, pagefileStatus, &pagefileText);
    LogInfo(FormatText(L"  pagefile: %ls", pagefileText.c_str()));
    DwellCancellable(500);

    BeginItem(items, 1, 1600);
    CommitCounts compressionCounts;
    const bool compression = CommitItem(plan, 1, compressionCounts);
    const std::wstring compressionText =
        compression ? L"MemoryCompression  \u2192  off" : L"Disable-MMAgent failed (MMAgent cmdlet missing?)";
    items.Finish(1, compression ? TweakWritten : TweakFailed, &compressionText);
    LogInfo(FormatText(L"  memory compression: %ls", compressionText.c_str()));
    DwellCancellable(600);

    WriteStateDword(L"MemoryApplied", 1);
    return pagefileStatus != TweakFailed || compression;
}

bool TurnOffMemoryCompression() {
    StepPlan plan;
    plan.step = kMemoryStep;
    PlanCompression(plan, 0, false);
    return CommitChange(plan.changes[0]);
}

bool RestoreMemory(RestoreLedger& ledger) {
    // The paging file as it was, read again by Windows at the next boot.
    if (ledger.Includes(kPagefileId)) {
        switch (RestoreRecordedValue(RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles", kPagingFilesRecord, ledger)) {
        case RestoreResult::NothingRecorded: break;
        case RestoreResult::Restored: LogInfo(L"Restored the paging file setup; it takes effect after a restart."); break;
        case RestoreResult::Failed: LogError(L"The paging file setup could not be put back."); break;
        }
    }
    uint32_t wasOn = 0;
    if (!ledger.Includes(kCompressionId) || !ReadStateDword(L"MemCompDisabled", wasOn)) return true;
    if (wasOn == 0) {
        ledger.Dropped({L"MemCompDisabled"});  // it was off before: nothing to turn back on
        return true;
    }
    if (RunPowerShell(L"Enable-MMAgent -MemoryCompression -ErrorAction Stop; exit 0", 30000) != 0) {
        LogError(L"Memory compression could not be turned back on.");
        ledger.Failed({L"MemCompDisabled"});
        return false;
    }
    LogInfo(L"Re-enabled memory compression.");
    ledger.Restored({L"MemCompDisabled"});
    return true;
}

StepPlan PlanStorage(const PlanContext& context) { return MakeStoragePlan(context).plan; }

bool ApplyStorage() {
    const StoragePlan made = MakeStoragePlan({});
    const StepPlan& plan = made.plan;
    FeedExplanation(L"Storage",
                    L"PCIe ASPM off, disks never spun down, USB selective suspend off, TRIM on, SysMain/Superfetch "
                    L"disabled, hibernate off, write cache on, last-access timestamps off. Indexing (Windows Search) is "
                    L"left running \u2014 killing WSearch breaks Start-menu search; disable it per-drive in Indexing "
                    L"Options if you want that extra.");
    FeedStage(L"STORAGE", L"SSD, PCIe, USB, TRIM, SysMain");
    std::vector<TweakItem> list;
    AppendRowItems(list, StoragePowerRows());
    list.push_back({L"TRIM", L"TRIM / DisableDeleteNotify",
                    L"TRIM lets the SSD erase unused blocks in the background so random writes stay fast. "
                    L"DisableDeleteNotify=0 is TRIM on.",
                    L"fsutil behavior set DisableDeleteNotify 0", TweakPending});
    list.push_back({L"SYSMAIN", L"SysMain (Superfetch)",
                    L"SysMain prefetches from disk using a background thread. On a fast NVMe that is extra I/O and CPU "
                    L"for little gain. Disabled; uninstall restores the previous start type.",
                    L"SysMain  \u2192  disabled", TweakPending});
    list.push_back({L"HIBER", L"hibernate",
                    L"powercfg -h off deletes hiberfil.sys and stops the kernel from writing a RAM dump on sleep. Fast "
                    L"Startup (which uses hibernate) is a common source of stale GPU state.",
                    L"powercfg -h off", TweakPending});
    list.push_back({L"WRITECACHE", L"disk write caching",
                    L"Device Manager \u2192 Disk \u2192 Policies \u2192 Turn on write caching. The Maldrew guide also "
                    L"turns off buffer flushing (power-loss risk). We enable the cache; leave flush-off to you if you "
                    L"have a UPS.",
                    L"WriteCacheEnabled  \u2192  1", TweakPending});
    list.push_back({L"LASTACCESS", L"NTFS last-access timestamps",
                    L"Updating last-access on every read is extra metadata I/O. Disabled.",
                    L"fsutil behavior set disablelastaccess 1", TweakPending});
    ItemList items(std::move(list));
    items.Publish();
    DwellCancellable(1200);

    RowWalkCounts counts;
    bool walked = made.haveScheme;
    if (walked) {
        walked = WalkPowerRows(plan, StorageRowSet(), made.scheme, items, 0, RowWalkStyle{L"STORAGE", false}, counts);
        CurrentPowerStore().SetActiveScheme(made.scheme);
    }
    if (!walked) LogError(L"Could not open the active power scheme for storage tweaks.");

    BeginItem(items, kTrimItem, 1400);
    CommitStorageItem(plan, items, kTrimItem, L"DisableDeleteNotify  \u2192  0 (TRIM on)", L"fsutil TRIM set failed", counts);

    BeginItem(items, kSysMainItem, 1600);
    // An absent SysMain is as good as disabled; one that refuses the change is a failure.
    CommitCounts sysMainCounts;
    const bool sysMainOk = CommitItem(plan, kSysMainItem, sysMainCounts);
    const std::wstring sysMain = !sysMainOk                      ? L"SysMain refused the change; it stays as it was"
                                 : sysMainCounts.leftAlone > 0 ? L"SysMain already absent or could not be changed"
                                                               : L"SysMain stopped and disabled";
    items.Finish(kSysMainItem, sysMainOk ? TweakWritten : TweakFailed, &sysMain);
    if (sysMainOk) ++counts.written;
    else ++counts.failed;
    DwellCancellable(400);

    BeginItem(items, kHibernateItem, 1400);
    CommitStorageItem(plan, items, kHibernateItem, L"hibernate off, hiberfil.sys removed", L"powercfg -h off failed", counts);

    BeginItem(items, kWriteCacheItem, 1600);
    CommitCounts disks;
    CommitItem(plan, kWriteCacheItem, disks);
    const std::wstring cacheText =
        FormatText(L"write cache on for %d disk(s)%ls%ls", disks.written,
                   disks.failed != 0 ? FormatText(L", %d could not be changed", disks.failed).c_str() : L"",
                   disks.leftAlone != 0 ? FormatText(L", %d removable left alone", disks.leftAlone).c_str() : L"");
    // Only removable disks there: nothing to do is not a failure.
    const int cacheStatus = disks.written > 0 ? TweakWritten
                            : (disks.failed == 0 && disks.leftAlone > 0 ? TweakSkipped : TweakFailed);
    items.Finish(kWriteCacheItem, cacheStatus, &cacheText);
    if (cacheStatus == TweakWritten) ++counts.written;
    else if (cacheStatus == TweakFailed) ++counts.failed;
    DwellCancellable(400);

    BeginItem(items, kLastAccessItem, 1200);
    CommitStorageItem(plan, items, kLastAccessItem, L"disablelastaccess  \u2192  1", L"fsutil last-access set failed", counts);

    RunPowercfg(L"/setactive SCHEME_CURRENT");
    WriteStateDword(L"StorageApplied", 1);
    FeedExplanation(L"Storage tweaks applied",
                    FormatText(L"Wrote %d storage setting(s)%ls. CrystalDiskMark after a reboot is the check.",
                               counts.written,
                               counts.failed != 0 ? FormatText(L", %d did not confirm", counts.failed).c_str() : L""));
    LogInfo(FormatText(L"Applied %d storage tweak(s)%ls.", counts.written,
                       counts.failed != 0 ? FormatText(L", %d failed", counts.failed).c_str() : L""));
    DwellCancellable(1000);
    return counts.written > 0;
}

bool RestoreStorage(RestoreLedger& ledger) {
    const int restored = RestorePowerRows(StorageRowSet(), nullptr, ledger);
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    if (restored > 0 && store.GetActiveScheme(active)) store.SetActiveScheme(active);
    const int before = ledger.RestoredCount();
    RestoreServiceStartType(kSysMainId, L"SysMain", ledger);
    if (ledger.RestoredCount() > before) LogInfo(L"Restored SysMain start type.");
    uint32_t applied = 0;
    if (restored > 0 || (!ledger.Scoped() && ReadStateDword(L"StorageApplied", applied) && applied != 0)) {
        LogInfo(L"Restored storage power settings. TRIM, hibernate, write cache and last-access updates are one-way and "
                L"stay as they are.");
    }
    return true;
}

void LedgerMemory(std::vector<ChangeRow>& out) {
    if (StateValueExists(kPagingFilesRecord.had)) {
        ChangeRow row = DescribeRegistryChange(kMemoryStep, RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles",
                                               kPagingFilesRecord, SystemManagedPagingFiles(), false);
        row.id = kPagefileId;
        out.push_back(std::move(row));
    }
    uint32_t wasOn = 0;
    if (!ReadStateDword(L"MemCompDisabled", wasOn)) return;
    ChangeRow row;
    row.id = kCompressionId;
    row.step = kMemoryStep;
    row.setting = L"memory compression (MMAgent)";
    row.recorded = true;
    row.original = wasOn != 0 ? L"on" : L"off";
    const int state = MemoryCompressionState();
    row.currentRead = state >= 0;
    if (row.currentRead) row.current = state == 1 ? L"on" : L"off";
    row.ours = L"off";
    row.state = JudgeRecorded(row);
    out.push_back(std::move(row));
}

void LedgerStorage(std::vector<ChangeRow>& out) {
    LedgerPowerRows(kStorageStep, StorageRowSet(), out);
    LedgerServiceChange(kStorageStep, kSysMainId, L"SysMain", out);
}

void HardenStorage() {
    for (const GUID& scheme : ListedPowerSchemes()) {
        StepPlan plan;
        plan.step = kStorageStep;
        PlanPowerRows(plan, StorageRowSet(), scheme, false, 0);
        for (const PlannedChange& change : plan.changes) CommitChange(change);
    }
    PinServiceDisabled(L"SysMain");
}
