#include "foundation/child_process.h"

#include <userenv.h>

#include <atomic>

#include "foundation/elevation.h"
#include "foundation/environment_block.h"
#include "foundation/files.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

std::wstring WindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// The machine's variables, as Windows gives them to a process of no particular account: only
// administrators can set them.
std::wstring SystemVariables() {
    void* block = nullptr;
    if (!CreateEnvironmentBlock(&block, nullptr, FALSE) || block == nullptr) return {};
    const auto* start = static_cast<const wchar_t*>(block);
    const wchar_t* end = start;
    while (*end != L'\0') end += wcslen(end) + 1;
    std::wstring text(start, end);
    DestroyEnvironmentBlock(block);
    return text;
}

void AccountPlaces(ChildPlaces& places) {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return;
    wchar_t profile[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (GetUserProfileDirectoryW(token.get(), profile, &length)) places.profile = profile;
    wchar_t name[257] = {};
    DWORD nameLength = 257;
    if (GetUserNameW(name, &nameLength)) places.userName = name;
}

std::wstring TemporaryRoot() { return DataDirectory() + L"\\temp"; }

bool ProcessIsRunning(DWORD id) {
    const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    // A process we may not open is running; one that is gone cannot be opened at all.
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// A process with our rights gets a folder under the data folder, made new for it; one without
// them writes nothing a standard user could not, so its own temporary folder serves.
std::wstring MakeTemporaryFolder(bool& own) {
    own = false;
    if (!IsElevated()) {
        wchar_t buffer[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
        if (length == 0 || length > MAX_PATH) return {};
        std::wstring path(buffer, length);
        if (path.size() > 3 && path.back() == L'\\') path.pop_back();
        return path;
    }
    static std::atomic<unsigned> counter{0};
    const std::wstring path = TemporaryRoot() + FormatText(L"\\%lu-%u", GetCurrentProcessId(), counter++);
    std::wstring error;
    if (!CreateFreshFolder(path, error)) return {};
    own = true;
    return path;
}

}  // namespace

bool IsFullPath(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' && iswalpha(path[0])) return true;
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

ChildLaunch::ChildLaunch() {
    temp_ = MakeTemporaryFolder(ownTemp_);
    if (temp_.empty()) return;
    ChildPlaces places;
    places.systemFolder = SystemDirectory();
    places.windowsFolder = WindowsFolder();
    places.temp = temp_;
    places.programData = SystemFolderPath(SystemFolder::ProgramData);
    AccountPlaces(places);
    if (places.systemFolder.empty() || places.windowsFolder.empty()) return;
    block_ = ChildBlock(SystemVariables(), places);
}

ChildLaunch::~ChildLaunch() {
    if (ownTemp_ && !keep_) RemoveTree(temp_);
}

bool ChildLaunch::Start(const std::wstring& program, std::wstring& commandLine, const std::wstring& workingFolder,
                        DWORD flags, STARTUPINFOW& startup, bool inheritHandles, PROCESS_INFORMATION& process) {
    if (!IsFullPath(program) || (!workingFolder.empty() && !IsFullPath(workingFolder))) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    const std::wstring folder = workingFolder.empty() ? SystemDirectory() : workingFolder;
    if (block_.empty() || folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                          flags | CREATE_UNICODE_ENVIRONMENT, const_cast<wchar_t*>(block_.data()), folder.c_str(), &startup,
                          &process) != FALSE;
}

void RemoveStaleChildFolders() {
    if (!IsElevated()) return;
    const std::wstring root = TemporaryRoot();
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const DWORD owner = wcstoul(name.c_str(), nullptr, 10);
        if (owner == 0 || owner == GetCurrentProcessId() || !ProcessIsRunning(owner)) RemoveTree(root + L"\\" + name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}
