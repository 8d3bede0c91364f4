#include "foundation/protected_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <mutex>
#include <vector>

#include "foundation/elevation.h"
#include "foundation/system.h"
#include "foundation/text.h"

namespace {

// Owner Administrators; a protected list: SYSTEM and Administrators full control, Users read
// and execute, inherited by everything below.
constexpr const wchar_t* kProtectedSddl = L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE |
                               FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct LocalMemory {
    HLOCAL memory = nullptr;
    ~LocalMemory() { LocalFree(memory); }
};

// This process's user, when it is an elevated administrator: what it creates is owned by it
// rather than by the Administrators group on some systems (and on Wine, always).
std::vector<BYTE> ElevatedUserSid() {
    if (!IsElevated()) return {};
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::vector<BYTE> buffer(256);
    DWORD needed = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
    CloseHandle(token);
    if (!ok) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

bool IsTrusted(PSID sid, const std::vector<BYTE>& elevatedUser) {
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
    return !elevatedUser.empty() && EqualSid(sid, const_cast<BYTE*>(elevatedUser.data()));
}

bool ProtectedDescriptor(LocalMemory& descriptor) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(
               kProtectedSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory), nullptr) !=
           FALSE;
}

class WindowsFolderSecurity final : public FolderSecurity {
public:
    bool Read(const std::wstring& path, FolderAccess& access) override {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        LocalMemory descriptor;
        if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr,
                                  reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory)) != ERROR_SUCCESS) {
            return false;
        }
        const std::vector<BYTE> user = ElevatedUserSid();
        access.ownerTrusted = owner != nullptr && IsTrusted(owner, user);
        access.othersCanWrite = dacl == nullptr;  // a null list lets everyone in
        for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) return false;
            if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if ((allowed->Mask & kWriteRights) != 0 && !IsTrusted(&allowed->SidStart, user)) access.othersCanWrite = true;
        }
        return true;
    }
    bool Protect(const std::wstring& path) override {
        LocalMemory descriptor;
        if (!ProtectedDescriptor(descriptor)) return false;
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL defaulted = FALSE, present = FALSE;
        GetSecurityDescriptorOwner(descriptor.memory, &owner, &defaulted);
        GetSecurityDescriptorDacl(descriptor.memory, &present, &dacl, &defaulted);
        return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                         PROTECTED_DACL_SECURITY_INFORMATION,
                                     owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }
    bool CreateProtected(const std::wstring& path) override {
        LocalMemory descriptor;
        if (!ProtectedDescriptor(descriptor)) return false;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.memory, FALSE};
        return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
    }
};

WindowsFolderSecurity g_windowsSecurity;
FolderSecurity* g_security = &g_windowsSecurity;

bool IsProtected(const std::wstring& path) {
    FolderAccess access;
    return CurrentFolderSecurity().Read(path, access) && access.ownerTrusted && !access.othersCanWrite;
}

}  // namespace

FolderSecurity& CurrentFolderSecurity() { return *g_security; }
void SetFolderSecurity(FolderSecurity* security) { g_security = security != nullptr ? security : &g_windowsSecurity; }

FolderSafety EnsureProtectedFolder(const std::wstring& path) {
    if (!IsElevated()) {
        CreateDirectoryW(path.c_str(), nullptr);
        return FolderSafety::Safe;
    }
    DWORD attributes = GetFileAttributesW(path.c_str());
    // A junction or link in the folder's place would send every write somewhere else.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str())) return FolderSafety::Unsafe;
        attributes = INVALID_FILE_ATTRIBUTES;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (CurrentFolderSecurity().CreateProtected(path)) return FolderSafety::Created;
        attributes = GetFileAttributesW(path.c_str());  // another process may have just made it
        if (attributes == INVALID_FILE_ATTRIBUTES) return FolderSafety::Unsafe;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderSafety::Unsafe;
    if (IsProtected(path)) return FolderSafety::Safe;
    return CurrentFolderSecurity().Protect(path) && IsProtected(path) ? FolderSafety::Repaired : FolderSafety::Unsafe;
}

namespace {

std::wstring g_movedAside;

bool TreeIsOurs(const std::wstring& path, int depth) {
    FolderAccess access;
    if (!CurrentFolderSecurity().Read(path, access) || !access.ownerTrusted || access.othersCanWrite) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    if (depth > 32) return false;
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ours = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        ours = TreeIsOurs(path + L"\\" + name, depth + 1);
    } while (ours && FindNextFileW(find, &entry));
    FindClose(find);
    return ours;
}

// An elevated process's own data folder: made new, or checked whole and moved aside when any of it
// is someone else's.
FolderSafety PrepareOwnFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str())) return FolderSafety::Unsafe;
        attributes = INVALID_FILE_ATTRIBUTES;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return CurrentFolderSecurity().CreateProtected(path) ? FolderSafety::Created : FolderSafety::Unsafe;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderSafety::Unsafe;
    if (TreeIsOurs(path, 0)) return FolderSafety::Safe;
    SYSTEMTIME t{};
    GetLocalTime(&t);
    const std::wstring aside = path + FormatText(L".untrusted-%04u%02u%02u-%02u%02u%02u-%lu", t.wYear, t.wMonth, t.wDay, t.wHour,
                                                 t.wMinute, t.wSecond, GetCurrentProcessId());
    if (!MoveFileExW(path.c_str(), aside.c_str(), 0)) return FolderSafety::Unsafe;
    if (!CurrentFolderSecurity().CreateProtected(path)) return FolderSafety::Unsafe;
    g_movedAside = aside;
    return FolderSafety::Replaced;
}

}  // namespace

bool FolderTreeIsOurs(const std::wstring& path) { return TreeIsOurs(path, 0); }

FolderSafety PrepareDataDirectory() {
    static std::mutex mutex;
    static std::wstring prepared;
    static FolderSafety safety = FolderSafety::Safe;
    const std::wstring folder = DataDirectory();
    const std::lock_guard<std::mutex> lock(mutex);
    // Once per folder; only tests ever move it within one process.
    if (folder != prepared || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (IsElevated()) {
            safety = PrepareOwnFolder(folder);
        } else {
            // A process without the rights writes nothing a standard user could not.
            CreateDirectoryW(folder.c_str(), nullptr);
            safety = FolderSafety::Safe;
        }
        prepared = folder;
    }
    return safety;
}

std::wstring DataFolderMovedAside() { return g_movedAside; }

std::wstring FolderReplacedNote(const std::wstring& path, const std::wstring& aside) {
    return FormatText(L"Files in %ls were not made by Quorvantis, and other users could change them; they were moved to %ls "
                      L"and the folder was made anew, writable only by Administrators and SYSTEM.",
                      path.c_str(), aside.c_str());
}

std::wstring FolderRepairNote(const std::wstring& path) {
    return FormatText(L"Other users could change %ls; its owner and permissions were reset so that only "
                      L"Administrators and SYSTEM can write there.",
                      path.c_str());
}
