#include "support/test_support.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "foundation/unique_handle.h"

void RecordingFeed::LogLine(const std::wstring& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
}

std::vector<std::wstring> RecordingFeed::Lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

ScopedFeed::ScopedFeed(Feed* feed) { SetCurrentFeed(feed); }
ScopedFeed::~ScopedFeed() { SetCurrentFeed(nullptr); }

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    hadPrevious_ = length > 0 && length < 32768;
    if (hadPrevious_) previous_.assign(buffer, length);
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), hadPrevious_ ? previous_.c_str() : nullptr);
}

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"qvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++) + L"-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { DeleteTree(path_); }

void DeleteTree(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(L'\0');  // the shell wants a double-null-terminated list
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::wstring BinDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path = buffer;
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring ChildPath() { return BinDirectory() + L"\\qv_child.exe"; }

std::string ReadFileBytes(const std::wstring& path) {
    const UniqueKernelHandle file = AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

ProgramRun RunProgram(const std::wstring& executable, const std::wstring& arguments, uint32_t timeoutMs) {
    ProgramRun run;
    TempFolder folder;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto openOutput = [&](const wchar_t* name) {
        return AdoptFileHandle(CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    {
        const UniqueKernelHandle out = openOutput(L"out.txt");
        const UniqueKernelHandle err = openOutput(L"err.txt");
        const UniqueKernelHandle in = AdoptFileHandle(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        std::wstring commandLine = L"\"" + executable + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        startup.hStdInput = in.get();
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &info)) {
            run.exitCode = 0xFFFFFFFF;
            return run;
        }
        const UniqueKernelHandle process(info.hProcess);
        const UniqueKernelHandle thread(info.hThread);
        if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) TerminateProcess(process.get(), 0xDEAD);
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        run.exitCode = code;
    }
    run.out = ReadFileBytes(folder.File(L"out.txt"));
    run.err = ReadFileBytes(folder.File(L"err.txt"));
    return run;
}
