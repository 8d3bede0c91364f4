#include "foundation/system.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <sddl.h>

#include "foundation/unique_handle.h"

namespace {

// The system's own folders, never the environment: an elevated copy inherits variables that a
// standard user can set (HKCU\Environment), and must not be steered by them.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path != nullptr && path[0] != L'\0') {
        result = path;
    }
    CoTaskMemFree(path);
    return result;
}

// Should the known folder ever be unavailable, the same folder on the drive Windows runs from.
std::wstring KnownFolderOr(REFKNOWNFOLDERID id, const wchar_t* onSystemDrive) {
    const std::wstring known = KnownFolder(id);
    return known.empty() ? SystemDrive() + onSystemDrive : known;
}

std::wstring g_dataRootOverride;
std::wstring g_programFilesOverride;

HKEY RootKey(RegRoot root) {
    switch (root) {
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::Users: return HKEY_USERS;
    case RegRoot::LocalMachine: break;
    }
    return HKEY_LOCAL_MACHINE;
}

bool SetValue(RegRoot root, const std::wstring& subkey, const std::wstring& name, DWORD type, const void* data,
              DWORD size) {
    UniqueKey key;
    if (RegCreateKeyExW(RootKey(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace

std::wstring SystemDrive() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return length >= 2 && length < MAX_PATH && buffer[1] == L':' ? std::wstring(buffer, 2) : std::wstring();
}

std::wstring SystemFolderPath(SystemFolder folder) {
    switch (folder) {
    case SystemFolder::ProgramData: return KnownFolder(FOLDERID_ProgramData);
    case SystemFolder::ProgramFiles: return KnownFolder(FOLDERID_ProgramFiles);
    case SystemFolder::ProgramFilesX86: return KnownFolder(FOLDERID_ProgramFilesX86);
    }
    return {};
}

std::wstring DataDirectory() {
    const std::wstring root = g_dataRootOverride.empty() ? KnownFolderOr(FOLDERID_ProgramData, L"\\ProgramData") : g_dataRootOverride;
    return root + L"\\Quorvantis";
}

std::wstring InstallDirectory() {
    const std::wstring root =
        g_programFilesOverride.empty() ? KnownFolderOr(FOLDERID_ProgramFiles, L"\\Program Files") : g_programFilesOverride;
    return root + L"\\Quorvantis";
}

void OverrideProgramFolders(const std::wstring& dataRoot, const std::wstring& programFilesRoot) {
    g_dataRootOverride = dataRoot;
    g_programFilesOverride = programFilesRoot;
}
std::wstring InstalledExePath() { return InstallDirectory() + L"\\Quorvantis.exe"; }

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring RunningExecutablePath(size_t capacity) {
    std::wstring buffer(capacity, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(capacity));
    if (length == 0 || length >= capacity) return {};
    buffer.resize(length);
    return buffer;
}

std::vector<std::wstring> WithElevatedFlag(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> result = arguments;
    result.emplace_back(L"--elevated");
    return result;
}

bool WriteDword(RegRoot root, const std::wstring& subkey, const std::wstring& name, uint32_t value) {
    const DWORD data = value;
    return SetValue(root, subkey, name, REG_DWORD, &data, sizeof(data));
}

bool ReadDwordIn(RegRoot root, const std::wstring& subkey, const std::wstring& name, uint32_t& value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueW(RootKey(root), subkey.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &data, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    value = data;
    return true;
}

bool ReadDword(const std::wstring& subkey, const std::wstring& name, uint32_t& value) {
    return ReadDwordIn(RegRoot::LocalMachine, subkey, name, value);
}

bool WriteString(RegRoot root, const std::wstring& subkey, const std::wstring& name, const std::wstring& value) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return SetValue(root, subkey, name, REG_SZ, value.c_str(), bytes);
}

bool ReadString(RegRoot root, const std::wstring& subkey, const std::wstring& name, std::wstring& value) {
    DWORD size = 0;
    if (RegGetValueW(RootKey(root), subkey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(RootKey(root), subkey.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    value = buffer;
    return true;
}

bool ReadRawValue(RegRoot root, const std::wstring& subkey, const std::wstring& name, RegistryValue& value) {
    UniqueKey key;
    if (RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    // The value may change size between the two calls; ask again until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        std::vector<uint8_t> bytes(size);
        const LSTATUS status =
            RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, size > 0 ? bytes.data() : nullptr, &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        bytes.resize(size);
        value.type = type;
        value.bytes = std::move(bytes);
        return true;
    }
    return false;
}

bool WriteRawValue(RegRoot root, const std::wstring& subkey, const std::wstring& name, const RegistryValue& value) {
    return SetValue(root, subkey, name, value.type, value.bytes.empty() ? nullptr : value.bytes.data(),
                    static_cast<DWORD>(value.bytes.size()));
}

bool DeleteRegistryValue(RegRoot root, const std::wstring& subkey, const std::wstring& name) {
    UniqueKey key;
    const LSTATUS opened = RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, KEY_SET_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    const LSTATUS status = RegDeleteValueW(key.get(), name.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RegistryKeyExists(RegRoot root, const std::wstring& subkey) {
    UniqueKey key;
    return RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

bool RegistryKeyRefused(RegRoot root, const std::wstring& subkey) {
    UniqueKey key;
    return RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_ACCESS_DENIED;
}

std::wstring FirstMissingKey(RegRoot root, const std::wstring& subkey) {
    for (size_t end = subkey.find(L'\\');; end = subkey.find(L'\\', end + 1)) {
        const std::wstring part = subkey.substr(0, end);
        if (!part.empty() && !RegistryKeyExists(root, part)) return part;
        if (end == std::wstring::npos) return {};
    }
}

void RemoveEmptyKeysUpTo(RegRoot root, const std::wstring& subkey, const std::wstring& top) {
    if (top.empty()) return;
    std::wstring key = subkey;
    while (key.size() >= top.size() && _wcsnicmp(key.c_str(), top.c_str(), top.size()) == 0) {
        DWORD subkeys = 0, values = 0;
        {
            UniqueKey opened;
            if (RegOpenKeyExW(RootKey(root), key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) return;
            if (RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                return;
            }
        }
        if (subkeys != 0 || values != 0) return;
        if (RegDeleteKeyW(RootKey(root), key.c_str()) != ERROR_SUCCESS) return;
        const size_t slash = key.rfind(L'\\');
        if (slash == std::wstring::npos) return;
        key.resize(slash);
    }
}

std::vector<std::wstring> RegistryValueNames(RegRoot root, const std::wstring& subkey) {
    std::vector<std::wstring> names;
    UniqueKey key;
    if (RegOpenKeyExW(RootKey(root), subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

std::wstring CurrentAccountSid() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    std::vector<BYTE> buffer(256);
    DWORD needed = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        buffer.resize(needed);
        if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) return {};
    }
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

std::wstring AccountNameOfSid(const std::wstring& sid) {
    PSID binary = nullptr;
    if (!ConvertStringSidToSidW(sid.c_str(), &binary)) return sid;
    wchar_t name[256] = {}, domain[256] = {};
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use{};
    const bool named = LookupAccountSidW(nullptr, binary, name, &nameLength, domain, &domainLength, &use) != FALSE;
    LocalFree(binary);
    if (!named) return sid;
    return domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

bool AccountHiveLoaded(const std::wstring& sid) {
    UniqueKey key;
    return !sid.empty() && RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t buffer[64] = {};
    StringFromGUID2(guid, buffer, 64);
    std::wstring text = buffer;
    if (text.size() > 1 && text.front() == L'{') text = text.substr(1, text.size() - 2);
    return text;
}

std::wstring SystemDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring SystemToolPath(const std::wstring& toolFileName) {
    const std::wstring folder = SystemDirectory();
    return folder.empty() ? std::wstring() : folder + L"\\" + toolFileName;
}

std::wstring PowerShellPath() { return SystemToolPath(L"WindowsPowerShell\\v1.0\\powershell.exe"); }

void RestrictDllSearchToSystemFolder() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

bool SetWorkingFolderToSystemFolder() {
    const std::wstring folder = SystemDirectory();
    return !folder.empty() && SetCurrentDirectoryW(folder.c_str()) != FALSE;
}

void* LoadSystemLibrary(const wchar_t* fileName) { return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

void KeepResolutionRequestsHonoured() {
    // Declared here: older SDK headers lack the power-throttling record, and older systems the call.
    struct PowerThrottlingState {
        ULONG version;
        ULONG controlMask;
        ULONG stateMask;
    };
    constexpr int kProcessPowerThrottling = 4;
    constexpr ULONG kIgnoreTimerResolution = 0x4;
    using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto setInformation =
        reinterpret_cast<SetProcessInformationFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")));
    if (setInformation == nullptr) return;
    PowerThrottlingState state{1, kIgnoreTimerResolution, 0};
    setInformation(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof(state));
}
