#include "foundation/files.h"

#include <windows.h>

#include <vector>

#include <utility>

#include "foundation/protected_folder.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool Inside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path[folder.size()] == L'\\' && SamePath(path.substr(0, folder.size()), folder);
}

// Everything below the folder, never following a junction or link out of the tree.
void RemoveContents(const std::wstring& path) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L"\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) RemoveDirectoryW(child.c_str());
            else RemoveTree(child);
        } else {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.c_str());
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
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
    const DWORD top = GetFileAttributesW(path.c_str());
    if (top == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if ((top & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str()) != FALSE;
    }
    if ((top & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveDirectoryW(path.c_str()) != FALSE;
    RemoveContents(path);
    // A program that has just exited may hold its image or its working folder for a moment longer.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (RemoveDirectoryW(path.c_str())) return true;
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) return true;
        Sleep(100);
        RemoveContents(path);
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
