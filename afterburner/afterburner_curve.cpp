// Making the running Afterburner apply the scanned curve through its control shared memory, and
// copying that curve onto profile 1 of the GPU's profile file.
#include <windows.h>

#include "afterburner/afterburner.h"
#include "afterburner/afterburner_text.h"
#include "foundation/unique_handle.h"

namespace {

// An abandoned mutex still hands over ownership: Afterburner may have died holding it.
bool TakeMutex(HANDLE mutex) {
    const DWORD wait = WaitForSingleObject(mutex, 5000);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

struct AfterburnerWindowSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindAfterburnerWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<AfterburnerWindowSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (process == search->process && wcsncmp(title, L"MSI Afterburner", 15) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string ReadWhole(const std::wstring& path, bool& ok) {
    ok = false;
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x1000000) return {};
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) || read != text.size())) {
        return {};
    }
    ok = true;
    return text;
}

std::wstring ProfileFile(const std::wstring& folder, const std::string& identifier) {
    const std::wstring profiles = folder + L"\\Profiles";
    if (!identifier.empty()) {
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
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (newest.empty() || CompareFileTime(&entry.ftLastWriteTime, &newestTime) >= 0) {
            newest = profiles + L"\\" + entry.cFileName;
            newestTime = entry.ftLastWriteTime;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return newest;
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
    if (view == nullptr || !MacmHeaderValid(bytes, size)) {
        if (view != nullptr) UnmapViewOfFile(view);
        ReleaseMutex(mutex.get());
        return false;
    }
    MacmNvidiaEntry(bytes, size, identifier);
    const uint32_t command = kMacmApplyCommand;
    memcpy(bytes + kMacmCommandOffset, &command, sizeof(command));
    ReleaseMutex(mutex.get());

    const UINT notification = RegisterWindowMessageW(L"MACMCmdNotification");
    AfterburnerWindowSearch search{afterburnerProcess, nullptr};
    EnumWindows(FindAfterburnerWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr && notification != 0) PostMessageW(search.found, notification, 0, 0);

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
    bool read = false;
    const std::string text = ReadWhole(path, read);
    std::string copied;
    if (!read || !CopyStartupToProfile1(text, copied, resultLine)) return false;
    if (copied == text) return true;
    // Written beside and moved over, so a failed write never leaves half a profile behind.
    const std::wstring temporary = path + L".quorvantis";
    {
        const UniqueKernelHandle file =
            AdoptFileHandle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
