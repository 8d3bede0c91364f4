#include "support/fakes.h"

#include <windows.h>

#include "foundation/system.h"
#include "foundation/text.h"
#include "support/test_support.h"

namespace {
int SourceIndex(PowerSource s) { return s == PowerSource::Ac ? 0 : 1; }
}  // namespace

namespace {
constexpr const wchar_t* kFakePowerKey = L"Software\\QuorvantisTests\\FakePower";
}  // namespace

FakePowerStore::FakePowerStore() {
    active = GUID{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};  // Balanced
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kFakePowerKey, L"Active");
    SetPowerStore(this);
}
FakePowerStore::~FakePowerStore() {
    SetPowerStore(nullptr);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kFakePowerKey, L"Active");
}

bool FakePowerStore::GetActiveScheme(GUID& scheme) {
    if (activeSchemeFails) return false;
    GUID switched{};
    DWORD size = sizeof(switched);
    if (followPowercfg && RegGetValueW(HKEY_CURRENT_USER, kFakePowerKey, L"Active", RRF_RT_REG_BINARY, nullptr, &switched,
                                       &size) == ERROR_SUCCESS) {
        active = switched;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kFakePowerKey, L"Active");
    }
    scheme = active;
    return true;
}

bool FakePowerStore::SetActiveScheme(const GUID& scheme) {
    active = scheme;
    ++activations;
    return true;
}

bool FakePowerStore::ReadValue(const GUID& scheme, const GUID&, const GUID& setting, PowerSource source,
                               uint32_t& value) {
    const std::wstring id = GuidText(setting);
    if (unreadable.count(id) || hidden.count(id)) return false;
    const auto it = values_.find({GuidText(scheme), id, SourceIndex(source)});
    if (it == values_.end()) return false;
    value = it->second;
    return true;
}

bool FakePowerStore::WriteValue(const GUID& scheme, const GUID&, const GUID& setting, PowerSource source,
                                uint32_t value) {
    if (beforeWrite) beforeWrite(setting);
    if (unwritable.count(GuidText(setting))) return false;
    values_[{GuidText(scheme), GuidText(setting), SourceIndex(source)}] = value;
    return true;
}

bool FakePowerStore::WriteSettingAttributes(const GUID&, const GUID& setting, uint32_t attributes) {
    if (attributes == 0) hidden.erase(GuidText(setting));
    return true;
}

bool FakePowerStore::EnumerateScheme(uint32_t index, GUID& scheme) {
    if (schemes.empty()) {
        if (index != 0) return false;
        scheme = active;
        return true;
    }
    if (index >= schemes.size()) return false;
    scheme = schemes[index];
    return true;
}

uint32_t FakePowerStore::ValueIn(const GUID& scheme, const GUID& setting, PowerSource source) const {
    const auto it = values_.find({GuidText(scheme), GuidText(setting), SourceIndex(source)});
    return it == values_.end() ? 0xFFFFFFFFu : it->second;
}

uint32_t FakePowerStore::Value(const GUID& setting, PowerSource source) const {
    const auto it = values_.find({GuidText(active), GuidText(setting), SourceIndex(source)});
    return it == values_.end() ? 0xFFFFFFFFu : it->second;
}

void FakePowerStore::Set(const GUID& setting, PowerSource source, uint32_t value) {
    values_[{GuidText(active), GuidText(setting), SourceIndex(source)}] = value;
}

FakeDisks::FakeDisks(std::vector<DiskCacheOutcome> disks) : disks_(std::move(disks)) { SetPhysicalDiskCache(this); }
FakeDisks::~FakeDisks() { SetPhysicalDiskCache(nullptr); }
DiskCacheOutcome FakeDisks::EnableWriteCache(int diskNumber) {
    return diskNumber < static_cast<int>(disks_.size()) ? disks_[diskNumber] : DiskCacheOutcome::Absent;
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

FakeTool::FakeTool(const std::wstring& path, const std::wstring& log) : path_(path) {
    // Wine runs its own builtin for a tool in the system folder unless its override says to
    // load the file (the key means nothing to Windows).
    tool_ = path.substr(path.find_last_of(L'\\') + 1);
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", tool_.c_str(), REG_SZ, L"native",
                    sizeof(L"native"));
    hadOriginal_ = FileExists(path);
    if (hadOriginal_) MoveFileExW(path.c_str(), (path + L".qvtest").c_str(), MOVEFILE_REPLACE_EXISTING);
    CopyFileW(ChildPath().c_str(), path.c_str(), FALSE);
    SetEnvironmentVariableW(L"QV_FAKE_TOOL_LOG", log.c_str());
}

FakeTool::~FakeTool() {
    DeleteFileW(path_.c_str());
    if (hadOriginal_) MoveFileExW((path_ + L".qvtest").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    SetEnvironmentVariableW(L"QV_FAKE_TOOL_LOG", nullptr);
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

bool FakeFolderSecurity::CreateProtected(const std::wstring& path) {
    if (refuse || !CreateDirectoryW(path.c_str(), nullptr)) return false;
    folders[path] = FolderAccess{true, false};
    return true;
}
