#include "tweaks/memory_storage.h"

#include <windows.h>
#include <winioctl.h>

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

bool StateFlag(const wchar_t* name) {
    uint32_t value = 0;
    return ReadStateDword(name, value) && value != 0;
}

constexpr const wchar_t* kMemoryManagementKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
const ValueRecordNames kPagingFilesRecord{L"PagefileHad", L"PagefilePrevious", L""};

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

// The pagefile item: a paging file the user set up is theirs; only a machine with none at all
// gets one managed by Windows, with what was there on record first. False when it failed.
bool PagefileItem(ItemList& items, size_t index) {
    bool written = false;
    std::vector<std::wstring> entries;
    const bool read = ReadPagingFiles(entries);
    const PagefileSetup setup = read ? ClassifyPagingFiles(entries) : PagefileSetup::Manual;
    std::wstring detail;
    int status = TweakSkipped;
    if (!read) {
        detail = L"the paging file setup could not be read, so it is left alone";
    } else if (setup == PagefileSetup::SystemManaged) {
        detail = L"already managed by Windows";
        status = TweakWritten;
    } else if (setup == PagefileSetup::Manual) {
        detail = L"a manual pagefile is set (" + PagingFilesText(entries) + L"); it is left alone";
    } else {
        RecordValueOnce(RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles", kPagingFilesRecord);
        written = SetSystemManagedPagefile();
        status = written ? TweakWritten : TweakFailed;
        detail = written ? L"AutomaticManagedPagefile = True" : L"the pagefile could not be set to system-managed";
    }
    items.Finish(index, status, &detail);
    LogInfo(FormatText(L"  pagefile: %ls", detail.c_str()));
    return status != TweakFailed;
}

// One storage item that runs a tool: explained, run, and marked by the tool's exit code.
void RunToolItem(ItemList& items, size_t item, uint32_t exitCode, const wchar_t* written, const wchar_t* failed,
                 RowWalkCounts& counts) {
    const std::wstring detail = exitCode == 0 ? written : failed;
    items.Finish(item, exitCode == 0 ? TweakWritten : TweakFailed, &detail);
    if (exitCode == 0) ++counts.written;
    else ++counts.failed;
    DwellCancellable(400);
}

void BeginItem(ItemList& items, size_t item, uint32_t dwell) {
    items.Begin(item);
    DwellCancellable(dwell);
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

bool EnableDiskWriteCache(int& enabled, int& failed, int& skipped) {
    enabled = 0;
    failed = 0;
    skipped = 0;
    PhysicalDiskCache& disks = CurrentPhysicalDiskCache();
    for (int disk = 0; disk < 16; ++disk) {
        DiskDescription description;
        if (!disks.Describe(disk, description)) continue;
        if (!WriteCacheSuitsDisk(description)) {
            ++skipped;
            continue;
        }
        switch (disks.EnableWriteCache(disk)) {
        case DiskCacheOutcome::Absent:
            break;
        case DiskCacheOutcome::AlreadyOn:
        case DiskCacheOutcome::Enabled:
            ++enabled;
            break;
        case DiskCacheOutcome::Failed:
            ++failed;
            break;
        }
    }
    return enabled > 0;
}

bool ApplyMemory() {
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
    const bool pagefile = PagefileItem(items, 0);
    DwellCancellable(500);

    BeginItem(items, 1, 1600);
    const bool compression = TurnOffMemoryCompression();
    const std::wstring compressionText =
        compression ? L"MemoryCompression  \u2192  off" : L"Disable-MMAgent failed (MMAgent cmdlet missing?)";
    items.Finish(1, compression ? TweakWritten : TweakFailed, &compressionText);
    LogInfo(FormatText(L"  memory compression: %ls", compressionText.c_str()));
    DwellCancellable(600);

    WriteStateDword(L"MemoryApplied", 1);
    return pagefile || compression;
}

bool TurnOffMemoryCompression() {
    // The exit code carries the state it found: 10 already off, 11 was on and is off now. The
    // cmdlet missing (3) or compression still on afterwards (4) is a failure.
    const uint32_t exitCode = RunPowerShell(
        L"$a = Get-MMAgent -ErrorAction SilentlyContinue; if (-not $a) { exit 3 }; "
        L"$was = [int]$a.MemoryCompression; Disable-MMAgent -MemoryCompression -ErrorAction SilentlyContinue; "
        L"if ($was -and (Get-MMAgent).MemoryCompression) { exit 4 }; exit (10 + $was)",
        40000);
    if (exitCode != 10 && exitCode != 11) return false;
    // Only the state before the first change counts: a later run finds it off because of us.
    if (!StateValueExists(L"MemCompDisabled")) WriteStateDword(L"MemCompDisabled", exitCode == 11 ? 1 : 0);
    return true;
}

bool RestoreMemory(RestoreLedger& ledger) {
    // The paging file as it was, read again by Windows at the next boot.
    switch (RestoreRecordedValue(RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles", kPagingFilesRecord)) {
    case RestoreResult::NothingRecorded: break;
    case RestoreResult::Restored:
        LogInfo(L"Restored the paging file setup; it takes effect after a restart.");
        ledger.Restored();
        break;
    case RestoreResult::Failed:
        LogError(L"The paging file setup could not be put back.");
        ledger.Failed(kPagingFilesRecord.All());
        break;
    }
    if (!StateFlag(L"MemCompDisabled")) return true;
    if (RunPowerShell(L"Enable-MMAgent -MemoryCompression -ErrorAction Stop; exit 0", 30000) != 0) {
        LogError(L"Memory compression could not be turned back on.");
        ledger.Failed({L"MemCompDisabled"});
        return false;
    }
    LogInfo(L"Re-enabled memory compression.");
    ledger.Restored();
    return true;
}

bool ApplyStorage() {
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
    PowerStore& store = CurrentPowerStore();
    GUID scheme{};
    bool walked = store.GetActiveScheme(scheme);
    if (walked) {
        walked = WalkPowerRows(scheme, StoragePowerRows(), items, 0, RowWalkStyle{L"STORAGE", L"Pwr_", false}, counts);
        store.SetActiveScheme(scheme);
    }
    if (!walked) LogError(L"Could not open the active power scheme for storage tweaks.");

    const std::wstring fsutil = SystemToolPath(L"fsutil.exe");
    const std::wstring powercfg = SystemToolPath(L"powercfg.exe");
    BeginItem(items, 3, 1400);
    RunToolItem(items, 3, RunProcess(fsutil, L"behavior set DisableDeleteNotify 0", 20000),
                L"DisableDeleteNotify  \u2192  0 (TRIM on)", L"fsutil TRIM set failed", counts);

    BeginItem(items, 4, 1600);
    // An absent SysMain is as good as disabled; one that refuses the change is a failure.
    const bool sysMainDisabled = DisableServiceWithBackup(L"SysMain");
    const bool sysMainRefused = !sysMainDisabled && ServiceExists(L"SysMain");
    const std::wstring sysMain = sysMainDisabled  ? L"SysMain stopped and disabled"
                                 : sysMainRefused ? L"SysMain refused the change; it stays as it was"
                                                  : L"SysMain already absent or could not be changed";
    items.Finish(4, sysMainRefused ? TweakFailed : TweakWritten, &sysMain);
    if (sysMainRefused) ++counts.failed;
    else ++counts.written;
    DwellCancellable(400);

    BeginItem(items, 5, 1400);
    RunToolItem(items, 5, RunProcess(powercfg, L"-h off", 20000), L"hibernate off, hiberfil.sys removed",
                L"powercfg -h off failed", counts);

    BeginItem(items, 6, 1600);
    int enabled = 0, failedDisks = 0, removable = 0;
    const bool cached = EnableDiskWriteCache(enabled, failedDisks, removable);
    const std::wstring cacheText =
        FormatText(L"write cache on for %d disk(s)%ls%ls", enabled,
                   failedDisks != 0 ? FormatText(L", %d could not be changed", failedDisks).c_str() : L"",
                   removable != 0 ? FormatText(L", %d removable left alone", removable).c_str() : L"");
    // Only removable disks there: nothing to do is not a failure.
    const int cacheStatus = cached ? TweakWritten : (enabled == 0 && failedDisks == 0 && removable > 0 ? TweakSkipped : TweakFailed);
    items.Finish(6, cacheStatus, &cacheText);
    if (cacheStatus == TweakWritten) ++counts.written;
    else if (cacheStatus == TweakFailed) ++counts.failed;
    DwellCancellable(400);

    BeginItem(items, 7, 1200);
    RunToolItem(items, 7, RunProcess(fsutil, L"behavior set disablelastaccess 1", 20000),
                L"disablelastaccess  \u2192  1", L"fsutil last-access set failed", counts);

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
    const int restored = RestorePowerRows(StoragePowerRows(), L"Pwr_", nullptr, ledger);
    PowerStore& store = CurrentPowerStore();
    GUID active{};
    if (restored > 0 && store.GetActiveScheme(active)) store.SetActiveScheme(active);
    int services = 0;
    RestoreServiceStartType(L"SysMain", ledger, services);
    if (services > 0) LogInfo(L"Restored SysMain start type.");
    if (restored > 0 || StateFlag(L"StorageApplied")) {
        LogInfo(L"Restored storage power settings. Hibernate and TRIM were not reverted.");
    }
    return true;
}

namespace {

RegistryValue SystemManagedPagingFiles() {
    const wchar_t automatic[] = L"?:\\pagefile.sys\0";
    RegistryValue value{REG_MULTI_SZ, std::vector<uint8_t>(sizeof(automatic))};
    memcpy(value.bytes.data(), automatic, sizeof(automatic));
    return value;
}

// A row of a change that keeps no record: what is there now and what the step writes.
ChangeRow UnrecordedRow(const std::wstring& step, const std::wstring& setting, bool read, const std::wstring& current,
                        const std::wstring& ours) {
    ChangeRow row;
    row.step = step;
    row.setting = setting + L" (not recorded; the uninstall leaves it)";
    row.currentRead = read;
    row.current = current;
    row.ours = ours;
    row.state = JudgePlanned(row);
    return row;
}

constexpr const wchar_t* kFileSystemKey = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";

}  // namespace

void DescribeMemory(bool planned, std::vector<ChangeRow>& out) {
    const std::wstring step = L"Memory";
    std::vector<std::wstring> entries;
    // Only a machine without any paging file gets one; every other setup is left alone.
    const bool wouldWrite = ReadPagingFiles(entries) && ClassifyPagingFiles(entries) == PagefileSetup::None;
    if (StateValueExists(kPagingFilesRecord.had) || (planned && wouldWrite)) {
        out.push_back(DescribeRegistryChange(step, RegRoot::LocalMachine, kMemoryManagementKey, L"PagingFiles",
                                             kPagingFilesRecord, SystemManagedPagingFiles(), planned));
    }
    uint32_t wasOn = 0;
    const bool recorded = ReadStateDword(L"MemCompDisabled", wasOn);
    if (!planned && !recorded) return;
    ChangeRow row;
    row.step = step;
    row.setting = L"memory compression (MMAgent)";
    row.recorded = recorded;
    if (recorded) row.original = wasOn != 0 ? L"on" : L"off";
    const uint32_t state = RunPowerShell(L"$a = Get-MMAgent -ErrorAction SilentlyContinue; if (-not $a) { exit 3 }; "
                                         L"exit (10 + [int]$a.MemoryCompression)",
                                         30000);
    row.currentRead = state == 10 || state == 11;
    if (row.currentRead) row.current = state == 11 ? L"on" : L"off";
    row.ours = L"off";
    row.state = planned ? JudgePlanned(row) : JudgeRecorded(row);
    out.push_back(std::move(row));
}

void DescribeStorage(bool planned, std::vector<ChangeRow>& out) {
    const std::wstring step = L"Storage";
    GUID active{};
    const bool activeRead = CurrentPowerStore().GetActiveScheme(active);
    if (!planned || activeRead) DescribePowerRows(step, StoragePowerRows(), L"Pwr_", planned ? &active : nullptr, out);
    DescribeServiceChange(step, L"SysMain", planned, out);
    if (!planned) return;
    uint32_t value = 0;
    bool read = ReadDword(kFileSystemKey, L"DisableDeleteNotify", value);
    out.push_back(UnrecordedRow(step, L"TRIM (fsutil DisableDeleteNotify)", read, FormatText(L"%lu", value & 1u), L"0"));
    read = ReadDword(L"SYSTEM\\CurrentControlSet\\Control\\Power", L"HibernateEnabled", value);
    out.push_back(UnrecordedRow(step, L"hibernate", read, value != 0 ? L"on" : L"off", L"off"));
    out.push_back(UnrecordedRow(step, L"write cache of each fixed disk", false, L"", L"on"));
    read = ReadDword(kFileSystemKey, L"NtfsDisableLastAccessUpdate", value);
    out.push_back(UnrecordedRow(step, L"NTFS last-access updates (fsutil disablelastaccess)", read,
                                FormatText(L"%lu", value & 1u), L"1"));
}
