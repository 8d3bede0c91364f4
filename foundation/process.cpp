#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/child_process.h"
#include "foundation/elevation.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

// The executable in quotes and the caller's argument text as given: callers do their own inner quoting.
std::wstring ChildCommandLine(const std::wstring& executable, const std::wstring& arguments) {
    return L"\"" + executable + L"\" " + arguments;
}

uint32_t StartFailure() {
    const DWORD error = GetLastError();
    return error == 0 ? 1u : error;
}

}  // namespace

uint32_t RunProcess(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs) {
    return RunProcessUntil(executable, arguments, timeoutMs, nullptr);
}

uint32_t RunProcessUntil(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs,
                         const std::atomic<bool>* stop) {
    std::wstring commandLine = ChildCommandLine(executable, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    ChildLaunch launch;
    if (!launch.Start(executable, commandLine, L"", CREATE_NO_WINDOW, startup, false, info)) return StartFailure();
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);

    // Without a stop flag one wait does; with one, the flag is looked at every 100 ms.
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD waited = WAIT_TIMEOUT;
    while (true) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0xFFFFFFFEull));
        waited = WaitForSingleObject(process.get(), stop != nullptr ? std::min<DWORD>(left, 100) : left);
        if (waited != WAIT_TIMEOUT || left == 0 || (stop != nullptr && stop->load())) break;
    }
    if (waited == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return stop != nullptr && stop->load() ? kChildStopped : kChildTimedOut;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) return 1;
    return exitCode;
}

namespace {

BOOL CALLBACK CollectWindowProgram(HWND window, LPARAM into) {
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr ||
        (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0 || GetWindowTextLengthW(window) == 0) {
        return TRUE;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == 0 || process == GetCurrentProcessId()) return TRUE;
    const UniqueKernelHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    if (!handle) return TRUE;
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(handle.get(), 0, path, &length)) return TRUE;
    const std::wstring full(path, length);
    reinterpret_cast<std::vector<std::wstring>*>(into)->push_back(full.substr(full.find_last_of(L'\\') + 1));
    return TRUE;
}

}  // namespace

std::vector<std::wstring> ProgramsWithWindows() {
    std::vector<std::wstring> programs;
    EnumWindows(CollectWindowProgram, reinterpret_cast<LPARAM>(&programs));
    const auto lower = [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; };
    std::sort(programs.begin(), programs.end(), lower);
    programs.erase(std::unique(programs.begin(), programs.end(),
                               [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }),
                   programs.end());
    return programs;
}

bool ProcessRunning(const std::wstring& exeName) {
    const UniqueKernelHandle snapshot = AdoptFileHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) return true;
    }
    return false;
}

namespace {

std::wstring PowerShellArguments(const std::wstring& command) {
    return L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"" + command + L"\"";
}

}  // namespace

uint32_t RunPowerShell(const std::wstring& command, uint32_t timeoutMs) {
    return RunProcess(PowerShellPath(), PowerShellArguments(command), timeoutMs);
}

std::wstring CapturePowerShell(const std::wstring& command) {
    return RunCapture(PowerShellPath(), PowerShellArguments(command));
}

bool OpenInNotepad(const std::wstring& file) {
    if (file.find(L'"') != std::wstring::npos) return false;
    const std::wstring notepad = SystemToolPath(L"notepad.exe");
    // Never with our rights: Notepad's Open dialog is a file browser for whoever sits at the desk.
    return StartAsDesktopUser(notepad, L"\"" + notepad + L"\" \"" + file + L"\"");
}

uint32_t RunPowercfg(const std::wstring& arguments) {
    return RunProcess(SystemToolPath(L"powercfg.exe"), arguments, 20000);
}

std::wstring RunCapture(const std::wstring& executable, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueKernelHandle readEnd;
    UniqueKernelHandle writeEnd;
    {
        HANDLE r = nullptr;
        HANDLE w = nullptr;
        if (!CreatePipe(&r, &w, &inheritable, 0)) return {};
        readEnd.reset(r);
        writeEnd.reset(w);
    }
    // Only the child's end may be inherited, or our own read end would keep the pipe open.
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    // A child that reads its input gets an immediate end of file rather than an unset handle.
    const UniqueKernelHandle nothing = AdoptFileHandle(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr));

    // The child inherits exactly its two handles, never another inheritable handle this
    // process (or another thread of it) happens to hold.
    HANDLE inherited[2] = {writeEnd.get(), nothing.get()};
    const DWORD inheritedCount = nothing ? 2 : 1;
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<BYTE> listMemory(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return {};
    struct ListOwner {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~ListOwner() { DeleteProcThreadAttributeList(list); }
    } listOwner{list};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, inheritedCount * sizeof(HANDLE),
                                   nullptr, nullptr)) {
        return {};
    }

    std::wstring commandLine = ChildCommandLine(executable, arguments);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = nothing.get();
    startup.StartupInfo.hStdOutput = writeEnd.get();
    startup.StartupInfo.hStdError = writeEnd.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info{};
    ChildLaunch launch;
    if (!launch.Start(executable, commandLine, L"", CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, startup.StartupInfo, true,
                      info)) {
        return {};
    }
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    writeEnd.reset();

    // Read while the child runs, so output larger than the pipe's buffer cannot stall it: the
    // first 2047 bytes are kept, the rest is drained and dropped. A child still running after
    // 8 s is left alone with what it wrote so far.
    std::string bytes;
    const ULONGLONG end = GetTickCount64() + 8000;
    ULONGLONG exitedAt = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) break;  // closed and drained
        if (available > 0) {
            char chunk[4096];
            DWORD read = 0;
            if (!ReadFile(readEnd.get(), chunk, std::min<DWORD>(available, sizeof(chunk)), &read, nullptr)) break;
            bytes.append(chunk, std::min<size_t>(read, 2047 - std::min<size_t>(bytes.size(), 2047)));
            continue;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        if (WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) {
            // Exited: what is left in the pipe is read on the next turns, until it reports closed.
            // Its last words may reach the pipe a moment after the exit (Wine delivers them so
            // under load), so an empty pipe that is still open gets a short grace; one a
            // grandchild keeps open is not waited for longer than that.
            if (exitedAt == 0) exitedAt = now;
            if (now - exitedAt > 250) break;
            Sleep(10);
        }
    }
    // A child still running keeps its temporary folder.
    if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) launch.KeepTemporaryFolder();
    if (bytes.empty()) return {};
    const int length = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

bool RestartWindows(const std::wstring& message, std::wstring& error) {
    error.clear();
    UniqueKernelHandle token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    std::wstring text = message;
    if (InitiateSystemShutdownExW(nullptr, text.data(), 0, TRUE, TRUE,
                                  SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE)) {
        return true;
    }
    const DWORD code = GetLastError();
    wchar_t* words = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring said = length > 0 && words != nullptr ? std::wstring(words, length) : std::wstring();
    if (words != nullptr) LocalFree(words);
    while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' ')) said.pop_back();
    error = said.empty() ? FormatText(L"error %lu.", static_cast<unsigned long>(code))
                         : said + FormatText(L" (error %lu)", static_cast<unsigned long>(code));
    return false;
}
