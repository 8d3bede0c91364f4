#include "support/test_support.h"

#include <windows.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <chrono>

#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "support/wait.h"

void RecordingFeed::System(const SystemView& view) { systems.push_back(view); }

void RecordingFeed::Stage(const std::wstring& tag, const std::wstring& text) {
    stages.emplace_back(tag, text);
    if (onStage != nullptr) onStage(tag, onStageContext);
}

void RecordingFeed::Progress(double fraction, double, double) { progressFractions.push_back(fraction); }

void RecordingFeed::LogLine(const std::wstring& line) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }
    lineAdded_.notify_all();
}

bool RecordingFeed::WaitUntilLogged(const std::wstring& text, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return lineAdded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::wstring& line : lines_) {
            if (line.find(text) != std::wstring::npos) return true;
        }
        return false;
    });
}

void RecordingFeed::Baseline(const StatsBrief& stats, uint32_t currentPeriod) {
    baseline = stats;
    baselinePeriod = currentPeriod;
}

void RecordingFeed::Sample(uint32_t period, double overshootMs, bool idleGap) {
    ++sampleCount;
    if (storeSamples) samples.push_back(SampleCall{period, overshootMs, idleGap});
}

void RecordingFeed::SweepTable(const std::vector<CandidateSummary>& candidates, const std::vector<double>& smoothed,
                               int best, int first, int target, int margin, int pass, int passCount, int number,
                               int justMeasured) {
    sweeps.push_back(SweepCall{candidates.size(), smoothed.size(), best, first, target, margin, pass, passCount, number,
                               justMeasured});
}

void RecordingFeed::VerificationTable(const std::vector<CandidateSummary>&, int justMeasured, int marginTarget) {
    verificationMeasured.push_back(justMeasured);
    verificationTarget = marginTarget;
}

void RecordingFeed::Explanation(const std::wstring& title, const std::wstring& paragraph) {
    explanations.emplace_back(title, paragraph);
}

void RecordingFeed::Items(const std::vector<TweakItem>& items) { itemLists.push_back(items); }

bool RecordingFeed::CancelQuery() {
    const long long query = cancelQueries++;
    return cancelFrom >= 0 && query >= cancelFrom;
}

std::vector<std::wstring> RecordingFeed::Lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool RecordingFeed::Logged(const std::wstring& text) {
    for (const std::wstring& line : Lines()) {
        if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
}

ScopedFeed::ScopedFeed(Feed* feed) { SetCurrentFeed(feed); }
ScopedFeed::~ScopedFeed() { SetCurrentFeed(nullptr); }

namespace {

constexpr const wchar_t* kFakeSwitchesKey = L"Software\\QuorvantisTests\\Switches";

void SetVariable(const wchar_t* name, const wchar_t* value) {
    if (wcsncmp(name, L"QV_", 3) == 0) {
        SetFakeSwitch(name, value);
    } else {
        SetEnvironmentVariableW(name, value);
    }
}

}  // namespace

void SetFakeSwitch(const wchar_t* name, const wchar_t* value) {
    SetEnvironmentVariableW(name, value);
    if (value != nullptr) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kFakeSwitchesKey, name, REG_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kFakeSwitchesKey, name);
    }
}

void SyncFakeSwitches() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kFakeSwitchesKey);
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1);
        if (text.rfind(L"QV_", 0) != 0 || equals == std::wstring::npos) continue;
        SetFakeSwitch(text.substr(0, equals).c_str(), text.substr(equals + 1).c_str());
    }
    if (strings != nullptr) FreeEnvironmentStringsW(strings);
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    hadPrevious_ = length > 0 && length < 32768;
    if (hadPrevious_) previous_.assign(buffer, length);
    SetVariable(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetVariable(name_.c_str(), hadPrevious_ ? previous_.c_str() : nullptr); }

PlantedEnvironment::PlantedEnvironment() {
    const std::wstring planted = folder_.Path();
    CreateDirectoryW((planted + L"\\bin").c_str(), nullptr);
    CreateDirectoryW((planted + L"\\temp").c_str(), nullptr);
    wchar_t path[32768] = {};
    GetEnvironmentVariableW(L"PATH", path, 32768);
    const std::pair<const wchar_t*, std::wstring> variables[] = {
        {L"COR_ENABLE_PROFILING", L"1"},
        {L"COR_PROFILER", L"{6E3A3C5A-0B1D-4C8E-9E4F-2A5B7C9D1E3F}"},
        {L"COR_PROFILER_PATH", planted + L"\\profiler.dll"},
        {L"PATH", planted + L"\\bin;" + path},
        {L"TEMP", planted + L"\\temp"},
        {L"TMP", planted + L"\\temp"},
        {L"QV_FAKE_ENV_LOG", planted + L"\\environment.log"},
    };
    for (const auto& [name, value] : variables) variables_.push_back(std::make_unique<ScopedEnvironment>(name, value.c_str()));
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    previousFolder_ = current;
    SetCurrentDirectoryW(planted.c_str());
}

PlantedEnvironment::~PlantedEnvironment() {
    SetCurrentDirectoryW(previousFolder_.c_str());
    variables_.clear();
}

std::string PlantedEnvironment::Record() const { return ReadFileBytes(folder_.Path() + L"\\environment.log"); }

std::wstring PlantedEnvironment::Seen() const {
    const std::wstring record = FromUtf8(Record());
    const std::wstring planted = LowerCase(folder_.Path());
    const std::wstring ownTemp = LowerCase(DataDirectory() + L"\\temp\\");
    std::wstring seen;
    size_t start = 0;
    while (start < record.size()) {
        size_t end = record.find(L'\n', start);
        if (end == std::wstring::npos) end = record.size();
        const std::wstring line = record.substr(start, end - start);
        start = end + 1;
        const std::wstring lower = LowerCase(line);
        const size_t space = lower.find(L' ');
        const std::wstring entry = space == std::wstring::npos ? lower : lower.substr(space + 1);
        const bool temp = entry.rfind(L"temp=", 0) == 0 || entry.rfind(L"tmp=", 0) == 0;
        if (lower.find(planted) != std::wstring::npos || entry.rfind(L"cor_", 0) == 0 ||
            (temp && entry.find(ownTemp) != entry.find(L'=') + 1)) {
            seen += line + L"\n";
        }
    }
    return seen;
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

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const UniqueKernelHandle file =
        AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    for (size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 24));
        if (!WriteFile(file.get(), bytes.data() + at, part, &written, nullptr) || written == 0) return false;
        at += written;
    }
    return true;
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

RunningProgram::RunningProgram(const std::wstring& executable, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + executable + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

RunningProgram::~RunningProgram() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

bool RunningProgram::WaitForExit(uint32_t timeoutMs, uint32_t& exitCode) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exitCode = code;
    return true;
}

HWND WaitForProgramWindow(DWORD process, uint32_t timeoutMs) {
    struct Search {
        DWORD process;
        HWND found;
    } search{process, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(
                [](HWND window, LPARAM context) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(context);
                    DWORD owner = 0;
                    wchar_t name[64] = {};
                    GetWindowThreadProcessId(window, &owner);
                    if (owner != s->process || GetClassNameW(window, name, 64) == 0 || std::wstring(name) != L"Quorvantis.Gui") {
                        return TRUE;
                    }
                    s->found = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs, 100);
    return search.found;
}

void CreateTestService(const wchar_t* name, const std::wstring& binaryPath, unsigned long startType) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    WaitUntil(
        [&] {
            const UniqueServiceHandle service(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                                             SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                                             binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
            return service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE;
        },
        5000, 100);
}

void DeleteTestService(const wchar_t* name) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    {
        const UniqueServiceHandle service(OpenServiceW(manager.get(), name, DELETE | SERVICE_STOP));
        if (!service) return;
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        DeleteService(service.get());
    }
    WaitUntil([&] { return !UniqueServiceHandle(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS)); }, 5000, 100);
}

namespace {
constexpr const wchar_t* kAdaptersClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}";
constexpr const wchar_t* kAdaptersBackup = L"SOFTWARE\\QuorvantisTests\\DisplayBackup";

// Wine keeps its own adapter at 0000, and a process that finds that key missing rebuilds the whole
// class key, wiping whatever a test planted there. The planted adapters therefore live above it, and
// Wine's key is never touched.
constexpr int kFirstPlantedAdapter = 4;

void ClearAdapterKeys() {
    for (int i = 0; i + kFirstPlantedAdapter < 40; ++i) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, ScopedDisplayAdapters::Key(i).c_str());
    }
}
}  // namespace

std::wstring ScopedDisplayAdapters::Key(int index) {
    wchar_t suffix[8];
    swprintf(suffix, 8, L"\\%04d", index + kFirstPlantedAdapter);
    return std::wstring(kAdaptersClassKey) + suffix;
}

ScopedDisplayAdapters::ScopedDisplayAdapters() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAdaptersBackup);
    UniqueKey classKey, backup;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAdaptersClassKey, 0, KEY_READ, classKey.put());
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAdaptersBackup, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, backup.put(), nullptr);
    RegCopyTreeW(classKey.get(), nullptr, backup.get());
    ClearAdapterKeys();
}

ScopedDisplayAdapters::~ScopedDisplayAdapters() {
    ClearAdapterKeys();
    UniqueKey classKey, backup;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAdaptersClassKey, 0, KEY_ALL_ACCESS, classKey.put());
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAdaptersBackup, 0, KEY_READ, backup.put());
    RegCopyTreeW(backup.get(), nullptr, classKey.get());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAdaptersBackup);
}

ScopedProgramFolders::ScopedProgramFolders(const std::wstring& dataRoot, const std::wstring& programFilesRoot) {
    OverrideProgramFolders(dataRoot, programFilesRoot);
}
ScopedProgramFolders::~ScopedProgramFolders() { OverrideProgramFolders(L"", L""); }

std::wstring ProgramLogPath() {
    PWSTR path = nullptr;
    std::wstring root = L"C:\\ProgramData";
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path) == S_OK) root = path;
    CoTaskMemFree(path);
    return root + L"\\Quorvantis\\Quorvantis.log";
}

std::string ReadProgramLog() { return ReadFileBytes(ProgramLogPath()); }
void ClearProgramLog() { DeleteFileW(ProgramLogPath().c_str()); }

ChangeRow LedgerRow(const std::wstring& id, const std::wstring& step, const std::wstring& setting, const std::wstring& original,
                    const std::wstring& current, const std::wstring& ours) {
    ChangeRow row;
    row.id = id;
    row.step = step;
    row.setting = setting;
    row.recorded = true;
    row.original = original;
    row.currentRead = true;
    row.current = current;
    row.ours = ours;
    row.state = JudgeRecorded(row);
    return row;
}
