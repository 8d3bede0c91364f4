#include "support/fakes.h"

#include <windows.h>
#include <objbase.h>

#include "foundation/system.h"
#include "foundation/text.h"
#include "support/test_support.h"

namespace {
int SourceIndex(PowerSource s) { return s == PowerSource::Ac ? 0 : 1; }
}  // namespace

namespace {
// Where Windows keeps its plans, and where the fake powercfg looks for them.
constexpr const wchar_t* kPowerUser = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User";

bool Same(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
}  // namespace

const GUID FakePowerStore::kUltimateTemplate{0xe9a42b02, 0xd5df, 0x448d, {0xaa, 0x00, 0x03, 0xf1, 0x47, 0x49, 0xeb, 0x61}};

FakePowerStore::FakePowerStore() {
    active = GUID{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};  // Balanced
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
    SetPowerStore(this);
}
FakePowerStore::~FakePowerStore() {
    SetPowerStore(nullptr);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
    for (const std::wstring& key : settingKeys_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

namespace {
std::wstring SettingKey(const GUID& subgroup, const GUID& setting) {
    return L"SYSTEM\\CurrentControlSet\\Control\\Power\\PowerSettings\\" + GuidText(subgroup) + L"\\" + GuidText(setting);
}
}  // namespace

void FakePowerStore::Hide(const GUID& subgroup, const GUID& setting, uint32_t attributes) {
    const std::wstring key = SettingKey(subgroup, setting);
    WriteDword(RegRoot::LocalMachine, key, L"Attributes", attributes);
    settingKeys_.push_back(key);
}

bool FakePowerStore::Listed(const GUID& scheme) const {
    if (schemes.empty()) return Same(scheme, active);
    for (const GUID& listed : schemes) {
        if (Same(listed, scheme)) return true;
    }
    return false;
}

void FakePowerStore::MirrorPlans() {
    if (!followPowercfg) return;
    const std::wstring root = std::wstring(kPowerUser) + L"\\PowerSchemes";
    for (const GUID& plan : schemes.empty() ? std::vector<GUID>{active} : schemes) {
        WriteDword(RegRoot::LocalMachine, root + L"\\" + GuidText(plan), L"FakePlan", 1);
    }
    for (const GUID& plan : templates) {
        WriteDword(RegRoot::LocalMachine, std::wstring(kPowerUser) + L"\\Default\\PowerSchemes\\" + GuidText(plan), L"FakePlan", 1);
    }
}

bool FakePowerStore::GetActiveScheme(GUID& scheme) {
    if (activeSchemeFails) return false;
    MirrorPlans();
    std::wstring switched;
    GUID parsed{};
    const std::wstring root = std::wstring(kPowerUser) + L"\\PowerSchemes";
    if (followPowercfg && ReadString(RegRoot::LocalMachine, root, L"ActivePowerScheme", switched) &&
        IIDFromString((L"{" + switched + L"}").c_str(), &parsed) == S_OK) {
        // A plan powercfg made (duplicated) is in the list from now on.
        if (!Listed(parsed) && !schemes.empty()) schemes.push_back(parsed);
        active = parsed;
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, root.c_str(), L"ActivePowerScheme");
    }
    scheme = active;
    return true;
}

bool FakePowerStore::SetActiveScheme(const GUID& scheme) {
    if (!Listed(scheme)) return false;
    constexpr GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
    active = modernStandby && Listed(kBalanced) ? kBalanced : scheme;
    ++activations;
    return true;
}

bool FakePowerStore::ReadValue(const GUID& scheme, const GUID&, const GUID& setting, PowerSource source,
                               uint32_t& value) {
    const std::wstring id = GuidText(setting);
    if (!Listed(scheme) || unreadable.count(id)) return false;
    const auto it = values_.find({GuidText(scheme), id, SourceIndex(source)});
    if (it == values_.end()) return false;
    value = it->second;
    return true;
}

bool FakePowerStore::WriteValue(const GUID& scheme, const GUID&, const GUID& setting, PowerSource source,
                                uint32_t value) {
    if (beforeWrite) beforeWrite(setting);
    if (!Listed(scheme)) {
        ++unknownPlanWrites;
        return false;
    }
    if (unwritable.count(GuidText(setting))) return false;
    values_[{GuidText(scheme), GuidText(setting), SourceIndex(source)}] = value;
    return true;
}

bool FakePowerStore::WriteSettingAttributes(const GUID& subgroup, const GUID& setting, uint32_t attributes) {
    ++attributeWrites;
    const std::wstring key = SettingKey(subgroup, setting);
    if (!RegistryKeyExists(RegRoot::LocalMachine, key)) return false;
    return WriteDword(RegRoot::LocalMachine, key, L"Attributes", attributes);
}

bool FakePowerStore::TemplateExists(const GUID& scheme) {
    for (const GUID& t : templates) {
        if (Same(t, scheme)) return true;
    }
    return false;
}

bool FakePowerStore::EnumerateScheme(uint32_t index, GUID& scheme) {
    MirrorPlans();
    if (schemes.empty()) {
        if (index != 0) return false;
        scheme = active;
        return true;
    }
    if (index >= schemes.size()) return false;
    scheme = schemes[index];
    return true;
}

bool FakePowerStore::DuplicateScheme(const GUID& source, const GUID& destination) {
    if (beforeDuplicate) beforeDuplicate();
    if (Listed(destination)) return false;
    bool isTemplate = false;
    for (const GUID& t : templates) isTemplate = isTemplate || Same(t, source);
    if (!isTemplate && !Listed(source)) return false;
    if (schemes.empty()) schemes.push_back(active);
    schemes.push_back(destination);
    const std::wstring from = GuidText(source), to = GuidText(destination);
    std::map<std::tuple<std::wstring, std::wstring, int>, uint32_t> copies;
    for (const auto& [where, value] : values_) {
        if (std::get<0>(where) == from) copies[{to, std::get<1>(where), std::get<2>(where)}] = value;
    }
    values_.insert(copies.begin(), copies.end());
    return true;
}

bool FakePowerStore::DeleteScheme(const GUID& scheme) {
    if (!Listed(scheme) || Same(scheme, active)) return false;
    for (auto it = schemes.begin(); it != schemes.end(); ++it) {
        if (Same(*it, scheme)) {
            schemes.erase(it);
            break;
        }
    }
    const std::wstring id = GuidText(scheme);
    for (auto it = values_.begin(); it != values_.end();) it = std::get<0>(it->first) == id ? values_.erase(it) : std::next(it);
    return true;
}

bool FakePowerStore::ResetValue(const GUID& scheme, const GUID&, const GUID& setting, PowerSource source) {
    if (!Listed(scheme)) {
        ++unknownPlanWrites;
        return false;
    }
    if (unwritable.count(GuidText(setting))) return false;
    values_.erase({GuidText(scheme), GuidText(setting), SourceIndex(source)});
    return true;
}

uint32_t FakePowerStore::ValueIn(const GUID& scheme, const GUID& setting, PowerSource source) const {
    const auto it = values_.find({GuidText(scheme), GuidText(setting), SourceIndex(source)});
    return it == values_.end() ? 0xFFFFFFFFu : it->second;
}

void FakePowerStore::SetIn(const GUID& scheme, const GUID& setting, PowerSource source, uint32_t value) {
    values_[{GuidText(scheme), GuidText(setting), SourceIndex(source)}] = value;
}

uint32_t FakePowerStore::Value(const GUID& setting, PowerSource source) const {
    const auto it = values_.find({GuidText(active), GuidText(setting), SourceIndex(source)});
    return it == values_.end() ? 0xFFFFFFFFu : it->second;
}

void FakePowerStore::Set(const GUID& setting, PowerSource source, uint32_t value) {
    values_[{GuidText(active), GuidText(setting), SourceIndex(source)}] = value;
}

FakeDisks::FakeDisks(std::vector<DiskCacheOutcome> outcomes) {
    for (const DiskCacheOutcome outcome : outcomes) disks_.push_back(Disk{outcome});
    SetPhysicalDiskCache(this);
}
FakeDisks::FakeDisks(std::vector<Disk> disks) : disks_(std::move(disks)) { SetPhysicalDiskCache(this); }
FakeDisks::~FakeDisks() { SetPhysicalDiskCache(nullptr); }
bool FakeDisks::Describe(int diskNumber, DiskDescription& description) {
    if (diskNumber >= static_cast<int>(disks_.size()) || disks_[diskNumber].outcome == DiskCacheOutcome::Absent) return false;
    description = disks_[diskNumber].description;
    return true;
}
bool FakeDisks::WriteCacheOn(int diskNumber, bool& on) {
    if (diskNumber >= static_cast<int>(disks_.size()) || disks_[diskNumber].outcome == DiskCacheOutcome::Absent) return false;
    on = disks_[diskNumber].outcome == DiskCacheOutcome::AlreadyOn;
    return true;
}

DiskCacheOutcome FakeDisks::EnableWriteCache(int diskNumber) {
    enabledAsked.push_back(diskNumber);
    return diskNumber < static_cast<int>(disks_.size()) ? disks_[diskNumber].outcome : DiskCacheOutcome::Absent;
}

FakeRestoreClient::FakeRestoreClient() { SetSystemRestoreClient(this); }
FakeRestoreClient::~FakeRestoreClient() { SetSystemRestoreClient(nullptr); }

bool FakeRestoreClient::SetRestorePoint(uint32_t eventType, int64_t& sequence, uint32_t& status) {
    events.push_back(eventType);
    sequencesGiven.push_back(sequence);
    if (eventType == 100) {
        uint32_t frequency = 0;
        frequencyDuringCall = ReadDword(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                                        L"SystemRestorePointCreationFrequency", frequency)
                                  ? frequency
                                  : -1;
    }
    if (!succeed) {
        status = refusalStatus;
        return false;
    }
    status = 0;
    if (eventType == 100) sequence = 42;
    return true;
}

FakeTool::FakeTool(const std::wstring& path, const std::wstring& log, const std::wstring& standIn) : path_(path) {
    // Wine runs its own builtin for a tool in the system folder unless its override says to
    // load the file (the key means nothing to Windows).
    tool_ = path.substr(path.find_last_of(L'\\') + 1);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", tool_.c_str(), REG_SZ, L"native",
                    sizeof(L"native"));
    hadOriginal_ = FileExists(path);
    if (hadOriginal_) MoveFileExW(path.c_str(), (path + L".qvtest").c_str(), MOVEFILE_REPLACE_EXISTING);
    CopyFileW((standIn.empty() ? ChildPath() : BinDirectory() + L"\\" + standIn).c_str(), path.c_str(), FALSE);
    SetFakeSwitch(L"QV_FAKE_TOOL_LOG", log.c_str());
}

FakeTool::~FakeTool() {
    DeleteFileW(path_.c_str());
    if (hadOriginal_) MoveFileExW((path_ + L".qvtest").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    SetFakeSwitch(L"QV_FAKE_TOOL_LOG", nullptr);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", tool_.c_str());
}

FakeLibrary::FakeLibrary(const std::wstring& standIn, const std::wstring& libraryName)
    : path_(SystemToolPath(libraryName)), module_(libraryName.substr(0, libraryName.rfind(L'.'))) {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", module_.c_str(), REG_SZ, L"native",
                    sizeof(L"native"));
    hadOriginal_ = FileExists(path_);
    if (hadOriginal_) MoveFileExW(path_.c_str(), (path_ + L".qvtest").c_str(), MOVEFILE_REPLACE_EXISTING);
    CopyFileW((BinDirectory() + L"\\" + standIn).c_str(), path_.c_str(), FALSE);
}

FakeLibrary::~FakeLibrary() {
    DeleteFileW(path_.c_str());
    if (hadOriginal_) MoveFileExW((path_ + L".qvtest").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", module_.c_str());
}

std::vector<std::wstring> ToolCalls(const std::wstring& log) {
    std::vector<std::wstring> calls;
    const std::wstring text = FromUtf8(ReadFileBytes(log));
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        calls.push_back(text.substr(start, end - start));
    }
    return calls;
}

namespace {
constexpr const wchar_t* kFakeMMAgentKey = L"Software\\QuorvantisTests\\FakeMMAgent";
}  // namespace

void SetFakeMemoryCompression(FakeCompression state) {
    if (state == FakeCompression::Absent) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kFakeMMAgentKey, L"MemoryCompression");
        return;
    }
    const DWORD on = state == FakeCompression::On ? 1 : 0;
    RegSetKeyValueW(HKEY_CURRENT_USER, kFakeMMAgentKey, L"MemoryCompression", REG_DWORD, &on, sizeof(on));
}

FakeCompression FakeMemoryCompression() {
    uint32_t on = 0;
    if (!ReadDwordIn(RegRoot::CurrentUser, kFakeMMAgentKey, L"MemoryCompression", on)) return FakeCompression::Absent;
    return on != 0 ? FakeCompression::On : FakeCompression::Off;
}

FolderFacts FakeFolderSecurity::Protected() {
    FolderFacts facts;
    facts.owner = Principal::Administrators;
    facts.entries = {{Principal::System, EntryKind::Allow, 0x1F01FF},
                     {Principal::Administrators, EntryKind::Allow, 0x1F01FF},
                     {Principal::Other, EntryKind::Allow, 0x1200A9},
                     {Principal::OwnerRights, EntryKind::Allow, 0x1200A9}};
    return facts;
}

FolderFacts FakeFolderSecurity::MadeBy(Principal owner, bool ownerMayWrite) {
    FolderFacts facts;
    facts.owner = owner;
    facts.entries = {{Principal::System, EntryKind::Allow, 0x1F01FF}, {Principal::Administrators, EntryKind::Allow, 0x1F01FF}};
    if (ownerMayWrite) facts.entries.push_back({owner, EntryKind::Allow, 0x1F01FF});
    return facts;
}

bool FakeFolderSecurity::CreateProtected(const std::wstring& path) {
    if (refuse || !CreateDirectoryW(path.c_str(), nullptr)) return false;
    folders[path] = Protected();
    return true;
}

bool FakeFolderSecurity::MoveAside(const std::wstring& from, const std::wstring& to) {
    if (denied.count(from) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!MoveFileExW(from.c_str(), to.c_str(), 0)) return false;
    if (const auto it = folders.find(from); it != folders.end()) {
        folders[to] = it->second;
        folders.erase(it);
    }
    return true;
}
