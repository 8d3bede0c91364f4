// Making the running Afterburner apply the scanned curve through its control shared memory, and
// copying that curve onto profile 1 of the GPU's profile file.
#include <windows.h>

#include "afterburner/afterburner.h"
#include "afterburner/afterburner_text.h"
#include "afterburner/process_windows.h"
#include "foundation/files.h"
#include "foundation/unique_handle.h"

namespace {

// An abandoned mutex still hands over ownership: Afterburner may have died holding it.
bool TakeMutex(HANDLE mutex) {
    const DWORD wait = WaitForSingleObject(mutex, 5000);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

std::string ReadWhole(HANDLE file, bool& ok) {
    ok = false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x1000000) return {};
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) || read != text.size())) {
        return {};
    }
    ok = true;
    return text;
}

// The folder or file a handle really reaches, links and junctions followed; empty when unknown.
std::wstring FinalPath(HANDLE handle) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring FinalFolderPath(const std::wstring& folder) {
    const UniqueKernelHandle handle = AdoptFileHandle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle ? FinalPath(handle.get()) : std::wstring();
}

// The profile file for the GPU: named after an identifier that can only name a file in Profiles,
// else the newest NVIDIA profile there.
std::wstring ProfileFile(const std::wstring& folder, const std::string& identifier) {
    const std::wstring profiles = folder + L"\\Profiles";
    if (SafeProfileIdentifier(identifier)) {
        std::wstring named(identifier.begin(), identifier.end());
        const std::wstring path = profiles + L"\\" + named + L".cfg";
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    }
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((profiles + L"\\VEN_10DE*.cfg").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return {};
    std::wstring newest;
    FILETIME newestTime{};
    do {
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
        if (newest.empty() || CompareFileTime(&entry.ftLastWriteTime, &newestTime) >= 0) {
            newest = profiles + L"\\" + entry.cFileName;
            newestTime = entry.ftLastWriteTime;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return newest;
}

// Whether the file, as the system resolves it, lies directly in the Profiles folder.
bool InProfilesFolder(const std::wstring& folder, HANDLE file) {
    const std::wstring profiles = FinalFolderPath(folder + L"\\Profiles");
    const std::wstring resolved = FinalPath(file);
    const size_t slash = resolved.find_last_of(L'\\');
    return !profiles.empty() && slash != std::wstring::npos && _wcsicmp(resolved.substr(0, slash).c_str(), profiles.c_str()) == 0;
}

}  // namespace

bool ApplyCurveThroughSharedMemory(uint32_t afterburnerProcess, std::string& identifier) {
    identifier.clear();
    const UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, L"Global\\Access_MACMSharedMemory"));
    if (!mutex || !TakeMutex(mutex.get())) return false;
    const UniqueKernelHandle mapping(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, L"MACMSharedMemory"));
    void* view = mapping ? MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    MEMORY_BASIC_INFORMATION region{};
    const size_t size = view != nullptr && VirtualQuery(view, &region, sizeof(region)) != 0 ? region.RegionSize : 0;
    auto* bytes = static_cast<uint8_t*>(view);
    MacmHeader header;
    if (view == nullptr || !ReadMacmHeader(bytes, size, header)) {
        if (view != nullptr) UnmapViewOfFile(view);
        ReleaseMutex(mutex.get());
        return false;
    }
    MacmNvidiaEntry(header, bytes, size, identifier);
    const uint32_t command = kMacmApplyCommand;
    memcpy(bytes + kMacmCommandOffset, &command, sizeof(command));
    ReleaseMutex(mutex.get());

    const UINT notification = RegisterWindowMessageW(L"MACMCmdNotification");
    const HWND window = FindProcessWindow(afterburnerProcess, L"MSI Afterburner", false);
    if (window != nullptr && notification != 0) PostMessageW(window, notification, 0, 0);

    bool acknowledged = false;
    for (int poll = 0; poll < 80 && !acknowledged; ++poll) {
        Sleep(100);
        if (!TakeMutex(mutex.get())) continue;
        uint32_t word = 1;
        memcpy(&word, bytes + kMacmCommandOffset, sizeof(word));
        ReleaseMutex(mutex.get());
        acknowledged = word == 0;
    }
    UnmapViewOfFile(view);
    return acknowledged;
}

bool CopyScannedCurve(const std::wstring& afterburnerFolder, const std::string& identifier, std::wstring& resultLine) {
    const std::wstring path = ProfileFile(afterburnerFolder, identifier);
    if (path.empty()) return false;
    std::string text;
    {
        // Read, and its place confirmed, through one handle: the file written below is this one.
        const UniqueKernelHandle file = AdoptFileHandle(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        bool read = false;
        if (file && InProfilesFolder(afterburnerFolder, file.get())) text = ReadWhole(file.get(), read);
        if (!read) return false;
    }
    std::string copied;
    if (!CopyStartupToProfile1(text, copied, resultLine)) return false;
    if (copied == text) return true;
    // Written beside, as a file made new, and moved over, so a failed write never leaves half a
    // profile behind.
    const std::wstring temporary = path + L".quorvantis";
    {
        const UniqueKernelHandle file(static_cast<HANDLE>(CreateNewFile(temporary)));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), copied.data(), static_cast<DWORD>(copied.size()), &written, nullptr) ||
            written != copied.size()) {
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
