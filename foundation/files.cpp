#include "foundation/files.h"

#include <windows.h>

#include <vector>

#include <utility>

#include "foundation/protected_folder.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool Inside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path[folder.size()] == L'\\' && SamePath(path.substr(0, folder.size()), folder);
}

// Opening a name inside a folder through the folder's handle: the name is looked up in that very
// folder, so nothing renamed or swapped for a link on the way there can send the walk elsewhere.
using NtCreateFileFn = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, void*, void*, LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);

struct CountedName {
    USHORT length;
    USHORT capacity;
    const wchar_t* text;
};
struct ObjectName {
    ULONG size;
    HANDLE folder;
    CountedName* name;
    ULONG attributes;
    void* descriptor;
    void* qos;
};
struct IoResult {
    LONG_PTR status;
    ULONG_PTR information;
};

constexpr ACCESS_MASK kRemoveAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

UniqueKernelHandle OpenInside(HANDLE folder, const std::wstring& name) {
    static const auto create = reinterpret_cast<NtCreateFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    if (create == nullptr || name.size() > 32767) return {};
    CountedName counted{static_cast<USHORT>(name.size() * sizeof(wchar_t)), static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        name.c_str()};
    ObjectName object{sizeof(ObjectName), folder, &counted, 0x40 /* case-insensitive */, nullptr, nullptr};
    IoResult io{};
    HANDLE handle = nullptr;
    constexpr ULONG kOpen = 1, kSynchronous = 0x20, kOpenReparsePoint = 0x00200000, kOpenForBackup = 0x00004000;
    if (create(&handle, kRemoveAccess, &object, &io, nullptr, 0, kShareAll, kOpen, kSynchronous | kOpenReparsePoint | kOpenForBackup,
               nullptr, 0) < 0) {
        return {};
    }
    return UniqueKernelHandle(handle);
}

DWORD AttributesOf(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ? basic.FileAttributes : INVALID_FILE_ATTRIBUTES;
}

// Marks the open file, folder or link itself for deletion (a read-only file first loses that
// attribute); it goes when its last handle closes.
bool DeleteOpened(HANDLE handle, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

std::vector<std::wstring> NamesInside(HANDLE folder) {
    std::vector<std::wstring> names;
    alignas(8) BYTE buffer[16384];
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
        kind = FileFullDirectoryInfo;
        for (size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer + at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(name);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    return names;
}

// Everything inside the open folder, each entry opened through it and never through a link: a
// junction or link inside is removed as the link it is, never followed out of the tree.
void RemoveInside(HANDLE folder, int depth) {
    for (const std::wstring& name : NamesInside(folder)) {
        const UniqueKernelHandle entry = OpenInside(folder, name);
        if (!entry) continue;
        const DWORD attributes = AttributesOf(entry.get());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        const bool folderEntry = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (folderEntry && depth < 64) RemoveInside(entry.get(), depth + 1);
        DeleteOpened(entry.get(), attributes);
    }
}

}  // namespace

bool EnsureFolder(const std::wstring& path) {
    if (path.empty() || path.find(L'"') != std::wstring::npos) return false;
    const std::wstring data = DataDirectory();
    if ((SamePath(path, data) || Inside(path, data)) && PrepareDataDirectory() == FolderSafety::Unsafe) return false;
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring parent = path.substr(0, at);
        if (!SamePath(parent, data)) CreateDirectoryW(parent.c_str(), nullptr);
    }
    if (!SamePath(path, data)) CreateDirectoryW(path.c_str(), nullptr);
    return IsFolder(path);
}

bool RemoveTree(const std::wstring& path) {
    if (path.size() < 4) return false;  // never a drive root
    // A program that has just exited may hold its image or its working folder for a moment longer.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const UniqueKernelHandle top = AdoptFileHandle(CreateFileW(path.c_str(), kRemoveAccess, kShareAll, nullptr, OPEN_EXISTING,
                                                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!top) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
            Sleep(100);
            continue;
        }
        const DWORD attributes = AttributesOf(top.get());
        if (attributes == INVALID_FILE_ATTRIBUTES) return false;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            RemoveInside(top.get(), 0);
        }
        if (DeleteOpened(top.get(), attributes)) {
            // The name goes when this handle closes, unless another process still holds it open.
            return true;
        }
        Sleep(100);
    }
    return false;
}

bool CreateFreshFolder(const std::wstring& path, std::wstring& error) {
    error.clear();
    if (!RemoveTree(path)) {
        error = FormatText(L"The work folder %ls could not be emptied, so nothing was put there. Close any program using "
                           L"it and try again.",
                           path.c_str());
        return false;
    }
    const size_t slash = path.find_last_of(L'\\');
    // The folder must be made by this call: one that appeared since the removal is someone else's.
    if (slash == std::wstring::npos || !EnsureFolder(path.substr(0, slash)) || !CreateDirectoryW(path.c_str(), nullptr)) {
        error = FormatText(L"The work folder %ls could not be created.", path.c_str());
        return false;
    }
    return true;
}

void* CreateNewFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return nullptr;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool WriteNewFile(const std::wstring& path, std::string_view bytes) {
    const HANDLE file = static_cast<HANDLE>(CreateNewFile(path));
    if (file == nullptr) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool IsExecutableFile(const std::wstring& path) {
    const HeldFile file(path);
    return file.Held() && file.Kind() != ExecutableKind::NotExecutable;
}

bool ReadFileAt(void* file, uint64_t offset, void* into, uint32_t length, uint32_t& read) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const bool ok = ReadFile(static_cast<HANDLE>(file), into, length, &got, &position) || GetLastError() == ERROR_HANDLE_EOF;
    read = ok ? got : 0;
    return ok;
}

bool ReadFileChunks(void* file, const std::function<bool(const uint8_t* bytes, size_t count)>& sink) {
    if (file == nullptr) return false;
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t at = 0;
    for (;;) {
        uint32_t read = 0;
        if (!ReadFileAt(file, at, buffer.data(), static_cast<uint32_t>(buffer.size()), read)) return false;
        if (read == 0) return true;
        if (!sink(buffer.data(), read)) return false;
        at += read;
    }
}

ExecutableKind ExecutableKindOf(void* file) {
    const auto readAt = [file](uint64_t offset, void* into, uint32_t length) {
        uint32_t read = 0;
        return ReadFileAt(file, offset, into, length, read) && read == length;
    };
    uint8_t head[64]{};
    if (file == nullptr || !readAt(0, head, sizeof(head)) || head[0] != 'M' || head[1] != 'Z') {
        // Two bytes are enough to be called an executable; a stub this short has no PE header.
        uint8_t magic[2]{};
        return file != nullptr && readAt(0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z' ? ExecutableKind::NotPe
                                                                                             : ExecutableKind::NotExecutable;
    }
    uint32_t offset = 0;
    memcpy(&offset, head + 60, 4);
    uint8_t pe[6]{};
    if (!readAt(offset, pe, sizeof(pe)) || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return ExecutableKind::NotPe;
    return (pe[4] | (pe[5] << 8)) == 0x8664 ? ExecutableKind::X64 : ExecutableKind::OtherMachine;
}

HeldFile::HeldFile(const std::wstring& path) : path_(path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) handle_ = file;
}

HeldFile::~HeldFile() { Release(); }

HeldFile::HeldFile(HeldFile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

void HeldFile::Release() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool HeldFile::Size(uint64_t& size) const {
    LARGE_INTEGER value{};
    if (handle_ == nullptr || !GetFileSizeEx(static_cast<HANDLE>(handle_), &value)) return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

std::wstring HeldFile::Sha256() const { return Sha256OfFile(handle_); }

ExecutableKind HeldFile::Kind() const { return ExecutableKindOf(handle_); }
