#include "foundation/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <userenv.h>

#include <vector>

#include "foundation/child_process.h"
#include "foundation/product.h"
#include "foundation/system.h"
#include "foundation/unique_handle.h"

namespace {

bool TokenIsElevated() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
    return elevation.TokenIsElevated != 0;
}

bool ShellRunAs(const std::wstring& executable, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return false;
    // Nobody waits for the elevated copy: it reports through its own console or window and the log.
    const UniqueKernelHandle process(info.hProcess);
    return true;
}

void RealMessageBox(const std::wstring& text, const std::wstring& caption, bool error) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | (error ? MB_ICONERROR : MB_ICONWARNING));
}

bool ProcessTokenElevated(HANDLE process, bool& elevated) {
    UniqueKernelHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
    elevated = elevation.TokenIsElevated != 0;
    return true;
}

// Whether the privilege could be switched on; `was` says whether it already was, so it is put
// back as it was found.
bool EnablePrivilege(const wchar_t* name, bool enable, bool& was) {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return false;
    wanted.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    TOKEN_PRIVILEGES previous{};
    DWORD size = sizeof(previous);
    if (!AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof(previous), &previous, &size) ||
        GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        return false;
    }
    was = previous.PrivilegeCount == 0 || (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    return true;
}

void* RealUnelevatedShell() {
    const HWND shell = GetShellWindow();
    DWORD id = 0;
    if (shell == nullptr || GetWindowThreadProcessId(shell, &id) == 0 || id == 0) return nullptr;
    constexpr DWORD kAccess = PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE process = OpenProcess(kAccess, FALSE, id);
    if (process == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        // Under over-the-shoulder elevation the shell belongs to another account, whose processes
        // an administrator opens only with the debug privilege; it is on just for this open.
        bool was = true;
        if (EnablePrivilege(SE_DEBUG_NAME, true, was)) {
            process = OpenProcess(kAccess, FALSE, id);
            bool ignored = false;
            if (!was) EnablePrivilege(SE_DEBUG_NAME, false, ignored);
        }
    }
    UniqueKernelHandle opened(process);
    bool elevated = true;
    if (!opened || !ProcessTokenElevated(opened.get(), elevated) || elevated) return nullptr;
    return opened.release();
}

const ElevationSeam kRealSeam{TokenIsElevated, ShellRunAs, RealMessageBox, RealUnelevatedShell};
const ElevationSeam* g_seam = &kRealSeam;

}  // namespace

void SetElevationSeam(const ElevationSeam* seam) { g_seam = seam != nullptr ? seam : &kRealSeam; }

bool IsElevated() { return g_seam->isElevated(); }

std::wstring ElevationParameterText(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) text += L' ';
        text += L'"';
        size_t backslashes = 0;
        for (const wchar_t c : argument) {
            if (c == L'\\') {
                ++backslashes;
            } else {
                // Backslashes stay as they are, except a run right before a quote: the
                // elevated copy's argument splitter would otherwise eat one of them.
                if (c == L'"') text.append(backslashes + 1, L'\\');
                backslashes = 0;
            }
            text += c;
        }
        // The same holds for a run before the closing quote, or it would escape that quote.
        text.append(backslashes, L'\\');
        text += L'"';
    }
    return text;
}

bool RelaunchElevated(const std::vector<std::wstring>& arguments) {
    return g_seam->shellRunAs(RunningExecutablePath(520), ElevationParameterText(arguments));
}

bool StartAsDesktopUser(const std::wstring& program, std::wstring commandLine) {
    PROCESS_INFORMATION process{};
    if (!IsElevated()) {
        STARTUPINFOW plain{};
        plain.cb = sizeof(plain);
        ChildLaunch launch;
        launch.KeepTemporaryFolder();  // it stays open after we return
        if (!launch.Start(program, commandLine, L"", 0, plain, false, process)) return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
    // The extended form only with the flag that says so: the attribute list names the parent.
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    const auto unelevatedShell = g_seam->unelevatedShell != nullptr ? g_seam->unelevatedShell : RealUnelevatedShell;
    const UniqueKernelHandle shell(static_cast<HANDLE>(unelevatedShell()));
    const std::wstring folder = SystemDirectory();
    if (!shell || !IsFullPath(program) || folder.empty()) return false;
    // The shell's own environment (its account's); the machine's alone when its token cannot be read.
    UniqueKernelHandle token;
    OpenProcessToken(shell.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, token.put());
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, token.get(), FALSE)) environment = nullptr;
    if (environment == nullptr && !CreateEnvironmentBlock(&environment, nullptr, FALSE)) return false;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> list(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    HANDLE parent = shell.get();
    bool started = false;
    if (InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
        started = UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof(parent),
                                            nullptr, nullptr) &&
                  CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                 EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(),
                                 &startup.StartupInfo, &process);
        DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    DestroyEnvironmentBlock(environment);
    if (!started) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void ShowRightsMessage(const std::wstring& text, bool error) { g_seam->messageBox(text, kProductName, error); }
