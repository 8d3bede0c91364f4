#include "foundation/protected_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <mutex>
#include <vector>

#include "foundation/elevation.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

// Owner Administrators; a protected list: SYSTEM and Administrators full control, Users read
// and execute, inherited by everything below. OWNER RIGHTS read and execute takes the place of
// what an owner may always do, so whoever ends up owning a file made inside (the administrator's
// own account, where Windows is set to make the creator the owner) cannot change its list.
constexpr const wchar_t* kProtectedSddl =
    L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;OW)";

struct LocalMemory {
    HLOCAL memory = nullptr;
    ~LocalMemory() { LocalFree(memory); }
};

std::vector<BYTE> TokenUserSid() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    std::vector<BYTE> buffer(256);
    DWORD needed = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

// Wine records no owners or permissions on files: every file reads as owned by the user running
// it, with a list made from its Unix mode bits, whoever made it. There that user is all the
// system can name for the administrators who made our folders. Windows never takes this path
// (its ntdll has no such export), and nothing a user can do makes it.
bool SystemKeepsNoFileOwners() {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// NT SERVICE\TrustedInstaller, the service that installs Windows itself and owns its folders.
bool IsTrustedInstaller(PSID sid) {
    static BYTE trustedInstaller[SECURITY_MAX_SID_SIZE] = {};
    static const bool made = [] {
        PSID converted = nullptr;
        if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &converted)) return false;
        const bool copied = CopySid(sizeof(trustedInstaller), trustedInstaller, converted) != FALSE;
        LocalFree(converted);
        return copied;
    }();
    return made && EqualSid(sid, trustedInstaller);
}

Principal Classify(PSID sid, const std::vector<BYTE>& user) {
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsTrustedInstaller(sid)) return Principal::System;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Principal::Administrators;
    if (IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) return Principal::OwnerRights;
    if (IsWellKnownSid(sid, WinCreatorOwnerSid)) return Principal::CreatorOwner;
    if (!user.empty() && EqualSid(sid, const_cast<BYTE*>(user.data()))) {
        return SystemKeepsNoFileOwners() ? Principal::Administrators : Principal::ThisUser;
    }
    return Principal::Other;
}

// Every allow entry the system knows; conditional and object entries carry their SID after
// fields of their own, so only the plain and conditional ones (which share a layout) name theirs.
AccessEntry EntryOf(const ACE_HEADER* header, const std::vector<BYTE>& user) {
    AccessEntry entry;
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE: entry.kind = EntryKind::Allow; break;
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: entry.kind = EntryKind::AllowConditional; break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE: entry.kind = EntryKind::AllowObject; break;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: entry.kind = EntryKind::Deny; break;
    default: entry.kind = EntryKind::Other; break;
    }
    // The mask sits right after the header in every layout.
    entry.mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (entry.kind == EntryKind::Allow || entry.kind == EntryKind::AllowConditional) {
        entry.who = Classify(const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart), user);
    }
    return entry;
}

bool ProtectedDescriptor(LocalMemory& descriptor) {
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(
               kProtectedSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory), nullptr) !=
           FALSE;
}

bool ApplyProtection(const std::wstring& path) {
    LocalMemory descriptor;
    if (!ProtectedDescriptor(descriptor)) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    GetSecurityDescriptorOwner(descriptor.memory, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor.memory, &present, &dacl, &defaulted);
    return SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Administrators may take any object over and set any owner, whatever its list says, once the
// privileges are switched on in their token.
void EnableOwnershipPrivileges() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
            AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
}

class WindowsFolderSecurity final : public FolderSecurity {
public:
    bool Read(const std::wstring& path, FolderFacts& facts) override {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        LocalMemory descriptor;
        if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr,
                                  reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory)) != ERROR_SUCCESS) {
            return false;
        }
        const std::vector<BYTE> user = TokenUserSid();
        facts = FolderFacts{};
        facts.owner = owner != nullptr ? Classify(owner, user) : Principal::Other;
        facts.hasList = dacl != nullptr;
        for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) return false;
            facts.entries.push_back(EntryOf(static_cast<const ACE_HEADER*>(ace), user));
        }
        return true;
    }
    bool Protect(const std::wstring& path) override { return ApplyProtection(path); }
    bool CreateProtected(const std::wstring& path) override {
        LocalMemory descriptor;
        if (!ProtectedDescriptor(descriptor)) return false;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.memory, FALSE};
        return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
    }
    bool TakeOwnership(const std::wstring& path) override {
        EnableOwnershipPrivileges();
        return ApplyProtection(path);
    }
    bool MoveAside(const std::wstring& from, const std::wstring& to) override {
        return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
    }
};

WindowsFolderSecurity g_windowsSecurity;
FolderSecurity* g_security = &g_windowsSecurity;

bool IsProtected(const std::wstring& path) {
    FolderFacts facts;
    if (!CurrentFolderSecurity().Read(path, facts)) return false;
    const FolderAccess access = JudgeFolder(facts);
    return access.ownerTrusted && !access.othersCanWrite;
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
    if (!IsProtected(path)) return false;
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
    // A file in the folder's place is someone else's as surely as a folder that is not ours.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && TreeIsOurs(path, 0)) return FolderSafety::Safe;
    SYSTEMTIME t{};
    GetLocalTime(&t);
    const std::wstring aside = path + FormatText(L".untrusted-%04u%02u%02u-%02u%02u%02u-%lu", t.wYear, t.wMonth, t.wDay, t.wHour,
                                                 t.wMinute, t.wSecond, GetCurrentProcessId());
    FolderSecurity& security = CurrentFolderSecurity();
    // A list that shuts administrators out (of opening it to move it) gives way to their
    // privilege to take anything over.
    if (!security.MoveAside(path, aside) && !(security.TakeOwnership(path) && security.MoveAside(path, aside))) {
        return FolderSafety::Unsafe;
    }
    if (!security.CreateProtected(path)) return FolderSafety::Unsafe;
    g_movedAside = aside;
    return FolderSafety::Replaced;
}

}  // namespace

bool FolderTreeIsOurs(const std::wstring& path) { return TreeIsOurs(path, 0); }

bool ProgramIsProtected(const std::wstring& program) {
    const size_t slash = program.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash < 3) return false;
    const std::wstring folder = program.substr(0, slash);
    if (!IsProtected(program) || !IsProtected(folder)) return false;
    // Every folder above, up to the root of the drive: nobody else may move the program's folder
    // away and put one of theirs in its place.
    for (std::wstring above = folder;;) {
        const size_t up = above.find_last_of(L'\\');
        if (up == std::wstring::npos) return false;
        above.resize(up);
        const bool root = above.size() == 2 && above[1] == L':';
        FolderFacts facts;
        if (!CurrentFolderSecurity().Read(root ? above + L"\\" : above, facts) || !GuardsWhatIsInside(facts)) return false;
        if (root) return true;
    }
}

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
