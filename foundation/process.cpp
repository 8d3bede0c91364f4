#include <windows.h>

#include <string>

#include "foundation/system.h"
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
    std::wstring commandLine = ChildCommandLine(executable, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return StartFailure();
    }
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);

    if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 1);
        return kChildTimedOut;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) return 1;
    return exitCode;
}

uint32_t RunPowerShell(const std::wstring& command, uint32_t timeoutMs) {
    return RunProcess(PowerShellPath(), L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"" + command + L"\"",
                      timeoutMs);
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

    std::wstring commandLine = ChildCommandLine(executable, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nothing.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return {};
    }
    const UniqueKernelHandle process(info.hProcess);
    const UniqueKernelHandle thread(info.hThread);
    writeEnd.reset();

    if (WaitForSingleObject(process.get(), 8000) == WAIT_TIMEOUT) {
        // A child still running after 8 s is left alone, but a read from its silent pipe would
        // block until it writes or exits: read only what it already wrote.
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) return {};
    }
    char bytes[2047];
    DWORD read = 0;
    if (!ReadFile(readEnd.get(), bytes, sizeof(bytes), &read, nullptr) || read == 0) return {};

    const int length = MultiByteToWideChar(CP_OEMCP, 0, bytes, static_cast<int>(read), nullptr, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_OEMCP, 0, bytes, static_cast<int>(read), text.data(), length);
    return text;
}
