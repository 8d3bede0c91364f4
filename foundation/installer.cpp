#include "foundation/installer.h"

#include <windows.h>

#include "foundation/child_process.h"
#include "foundation/unique_handle.h"

InstallerRunResult RunInstaller(const std::wstring& program, const std::wstring& commandLine, const std::wstring& workingFolder,
                                uint32_t timeLimitMs, bool killOnTimeout, bool noConsoleWindow) {
    InstallerRunResult result;
    if (program.find(L'"') != std::wstring::npos || workingFolder.find(L'"') != std::wstring::npos) return result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    ChildLaunch launch;
    // A program written a moment ago may still be held by whoever wrote or is scanning it.
    bool created = false;
    for (int attempt = 0; attempt < 10 && !created; ++attempt) {
        std::wstring line = commandLine;
        created = launch.Start(program, line, workingFolder, noConsoleWindow ? CREATE_NO_WINDOW : 0, startup, false, process);
        const DWORD error = created ? 0 : GetLastError();
        result.startError = error;
        if (!created && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        if (!created) Sleep(200);
    }
    if (!created) return result;
    const UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    result.started = true;
    uint64_t waited = 0;
    while (WaitForSingleObject(process.hProcess, 500) == WAIT_TIMEOUT) {
        waited += 500;
        if (waited >= timeLimitMs) {
            result.timedOut = true;
            if (killOnTimeout) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, 5000);
            } else {
                launch.KeepTemporaryFolder();
            }
            break;
        }
    }
    DWORD code = 0xFFFFFFFF;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exitCode = code;
    return result;
}
