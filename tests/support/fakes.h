#pragma once
// Stand-ins for what Wine cannot show: the power-plan store, physical disks, the System Restore
// client, and Windows tools (a copy of qv_child placed where the product looks for the tool).
// Each fake here is a row of docs/outside-world.md: change the row with the fake.
#include <guiddef.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/named_objects.h"
#include "foundation/protected_folder.h"
#include "tweaks/memory_storage.h"
#include "tweaks/power_store.h"
#include "tweaks/restore_point.h"

// Windows' power plans in memory, as strict as Windows: a plan that is not in the list cannot be
// read, written or made active; templates Windows keeps hidden (Ultimate Performance) become a
// plan only when duplicated, under the GUID asked for; the active plan cannot be deleted. A
// setting's visibility is where Windows keeps it, the "Attributes" value of its key under
// ...\Control\Power\PowerSettings in the prefix's registry, which PowerWriteSettingAttributes
// sets to exactly the value it is given, and only for a setting whose key exists.
class FakePowerStore final : public PowerStore {
public:
    FakePowerStore();
    ~FakePowerStore() override;
    // Windows' hidden Ultimate Performance template.
    static const GUID kUltimateTemplate;

    bool GetActiveScheme(GUID& scheme) override;
    bool SetActiveScheme(const GUID& scheme) override;
    bool ReadValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                   uint32_t& value) override;
    bool WriteValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source,
                    uint32_t value) override;
    bool WriteSettingAttributes(const GUID& subgroup, const GUID& setting, uint32_t attributes) override;
    bool EnumerateScheme(uint32_t index, GUID& scheme) override;
    bool DuplicateScheme(const GUID& source, const GUID& destination) override;
    bool DeleteScheme(const GUID& scheme) override;
    bool TemplateExists(const GUID& scheme) override;
    bool ResetValue(const GUID& scheme, const GUID& subgroup, const GUID& setting, PowerSource source) override;
    // The value in a given scheme; 0xFFFFFFFF when it was never set.
    uint32_t ValueIn(const GUID& scheme, const GUID& setting, PowerSource source) const;
    void SetIn(const GUID& scheme, const GUID& setting, PowerSource source, uint32_t value);
    bool Listed(const GUID& scheme) const;

    // The value in the active scheme; 0xFFFFFFFF when it was never set.
    uint32_t Value(const GUID& setting, PowerSource source) const;
    void Set(const GUID& setting, PowerSource source, uint32_t value);

    GUID active{};
    std::vector<GUID> schemes;  // the machine's plan list; empty means just the active one
    std::vector<GUID> templates{kUltimateTemplate};  // hidden templates; empty: a Modern Standby PC
    // A Modern Standby PC: PowerSetActiveScheme answers success for a plan other than Balanced and
    // Balanced stays in force (powercfg /setactive, followed with followPowercfg, still holds).
    bool modernStandby = false;
    int unknownPlanWrites = 0;  // writes aimed at a plan that is not there (Windows would make a phantom)
    bool activeSchemeFails = false;
    std::set<std::wstring> unreadable;     // setting GUIDs (text) that never read
    std::set<std::wstring> unwritable;     // setting GUIDs that refuse writes
    // Gives the setting a key with Attributes = 1, as Windows keeps a setting it hides from Power
    // Options (removed again with the store).
    void Hide(const GUID& subgroup, const GUID& setting, uint32_t attributes = 1);
    int attributeWrites = 0;
    int activations = 0;
    // Follows "powercfg /setactive <GUID>" run through the fake powercfg, as the real store does:
    // the plans are mirrored where Windows keeps them, so the fake powercfg refuses unknown ones.
    bool followPowercfg = false;
    std::function<void(const GUID& setting)> beforeWrite;
    std::function<void()> beforeDuplicate;

private:
    void MirrorPlans();
    std::vector<std::wstring> settingKeys_;
    std::map<std::tuple<std::wstring, std::wstring, int>, uint32_t> values_;
};

// Disks as their descriptors describe them; an outcome alone is a fixed SATA disk.
class FakeDisks final : public PhysicalDiskCache {
public:
    struct Disk {
        DiskCacheOutcome outcome;
        DiskDescription description{false, 11};
    };
    explicit FakeDisks(std::vector<DiskCacheOutcome> outcomes);
    explicit FakeDisks(std::vector<Disk> disks);
    ~FakeDisks() override;
    bool Describe(int diskNumber, DiskDescription& description) override;
    // Answers as the disk's cache information would: an Enabled or Failed disk reads as off
    // (a failed one refuses only the change), AlreadyOn as on.
    bool WriteCacheOn(int diskNumber, bool& on) override;
    DiskCacheOutcome EnableWriteCache(int diskNumber) override;
    std::vector<int> enabledAsked;  // the disks whose write cache the step tried to turn on

private:
    std::vector<Disk> disks_;
};

class FakeRestoreClient final : public SystemRestoreClient {
public:
    FakeRestoreClient();
    ~FakeRestoreClient() override;
    Availability Load() override { return availability; }
    bool SetRestorePoint(uint32_t eventType, int64_t& sequence, uint32_t& status) override;
    void Unload() override { ++unloads; }

    Availability availability = Availability::Ready;
    bool succeed = true;
    uint32_t refusalStatus = 0;
    std::vector<uint32_t> events;
    std::vector<int64_t> sequencesGiven;
    // SystemRestorePointCreationFrequency as the begin call saw it (-1 when absent).
    long long frequencyDuringCall = -2;
    int unloads = 0;
};

// Puts qv_child in place of a Windows tool for the scope (the original is kept aside and
// restored) and records every call in one log.
class FakeTool {
public:
    // standIn: the helper copied into the tool's place (beside the tests), qv_child unless given.
    FakeTool(const std::wstring& path, const std::wstring& log, const std::wstring& standIn = L"");
    ~FakeTool();
    FakeTool(const FakeTool&) = delete;
    FakeTool& operator=(const FakeTool&) = delete;

private:
    std::wstring path_;
    std::wstring tool_;
    bool hadOriginal_ = false;
};

// Puts a stand-in library (built beside the tests) in place of a system library for the scope,
// with a native override so Wine loads the file rather than its builtin.
class FakeLibrary {
public:
    FakeLibrary(const std::wstring& standIn, const std::wstring& libraryName);
    ~FakeLibrary();
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;

private:
    std::wstring path_;
    std::wstring module_;
    bool hadOriginal_ = false;
};

// The calls recorded in a fake tools' log, one command line each.
std::vector<std::wstring> ToolCalls(const std::wstring& log);

// The stand-in PowerShell's memory compression (see qv_child): on, off, or no MMAgent cmdlets.
enum class FakeCompression { Absent, Off, On };
void SetFakeMemoryCompression(FakeCompression state);
FakeCompression FakeMemoryCompression();

// Folder permissions as Windows keeps them; Wine keeps none.
// The program's private namespace as Windows keeps it: objects only the program names, which no
// other program can make first or hold (Wine has no private namespaces). unavailable plays a
// namespace that cannot be made or opened.
class FakeObjectNamespace final : public ObjectNamespace {
public:
    FakeObjectNamespace() { SetObjectNamespace(this); }
    ~FakeObjectNamespace() override { SetObjectNamespace(nullptr); }
    HANDLE OpenMutex(const wchar_t* name) override {
        if (unavailable) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return CreateMutexW(nullptr, FALSE, (std::wstring(L"Global\\QuorvantisTests.Private.") + name).c_str());
    }
    bool unavailable = false;
};

class FakeFolderSecurity final : public FolderSecurity {
public:
    FakeFolderSecurity() { SetFolderSecurity(this); }
    ~FakeFolderSecurity() override { SetFolderSecurity(nullptr); }
    // What Windows keeps on a folder an elevated administrator made with the protected list.
    static FolderFacts Protected();
    // Made by another program, owned by it (the elevating user's own unelevated programs are
    // ThisUser), with or without a list entry that lets that owner write.
    static FolderFacts MadeBy(Principal owner, bool ownerMayWrite);
    // As Windows does: what is made inside a folder inherits its list and is owned by whoever
    // made it, so an entry not listed reads as its nearest listed folder.
    bool Read(const std::wstring& path, FolderFacts& facts) override {
        for (std::wstring at = path;;) {
            if (denied.count(at) != 0) return false;
            const auto it = folders.find(at);
            if (it != folders.end()) {
                facts = it->second;
                return true;
            }
            const size_t slash = at.rfind(L'\\');
            if (slash == std::wstring::npos || at.size() <= 3) return false;
            at.resize(slash == 2 ? 3 : slash);  // "C:\\x" goes up to "C:\\"
        }
    }
    bool Protect(const std::wstring& path) override {
        ++protects;
        if (refuse) return false;
        folders[path] = Protected();
        return true;
    }
    bool CreateProtected(const std::wstring& path) override;
    // Administrators' privilege to take anything over works whatever the list said.
    bool TakeOwnership(const std::wstring& path) override {
        ++takenOver;
        if (refuse) return false;
        denied.erase(path);
        folders[path] = Protected();
        return true;
    }
    // A list that shuts administrators out keeps them from opening it to rename it, as on Windows.
    bool MoveAside(const std::wstring& from, const std::wstring& to) override;
    FolderAccess Judged(const std::wstring& path) {
        FolderFacts facts;
        return Read(path, facts) ? JudgeFolder(facts) : FolderAccess{};
    }
    std::map<std::wstring, FolderFacts> folders;
    std::set<std::wstring> denied;  // lists that deny administrators everything
    bool refuse = false;
    int protects = 0;
    int takenOver = 0;
};
