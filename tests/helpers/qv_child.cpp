// A stand-in child process for tests of the process helpers and for fake system tools.
//   exit N            exit with code N
//   sleep MS [PATH]   sleep, then create PATH (shows whether the child was killed first)
//   bytes N           write N bytes to standard output in one write
//   oem               write three OEM code page 437 bytes: e-acute, pound sign, 'x'
//   stderr TEXT       write TEXT to standard error
//   record PATH       write this process's whole command line (UTF-8) to PATH
// As a fake system tool (copied under the tool's name): when QV_FAKE_TOOL_LOG is set, it
// appends its command line and a line feed to that file, prints QV_FAKE_TOOL_OUTPUT and exits
// with QV_FAKE_EXIT_<tool> (the tool's file name without extension, e.g. QV_FAKE_EXIT_powercfg),
// else QV_FAKE_TOOL_EXIT, else 0; but with 1 whenever its command line contains the text of
// QV_FAKE_FAIL_IF_CONTAINS. Without an exit code set for it, the tool also models what the
// program relies on:
//   powercfg /setactive <GUID>   makes an existing plan active where Windows keeps the plans
//                                (HKLM\...\Control\Power\User\PowerSchemes, "ActivePowerScheme");
//                                an unknown plan is refused
//   powercfg /duplicatescheme    copies a plan, or a hidden template (...\User\Default\PowerSchemes),
//     <GUID> <GUID>              under the second GUID; refused when that exists or the first does not
//   powercfg /delete <GUID>      removes a plan that is not the active one
//   powercfg /setacvalueindex    writes the value into the plan's own values; refused for a plan
//     (/setdcvalueindex) ...     that does not exist or a setting named under another subgroup
//                                than its definition's; any command not listed here fails as
//                                powercfg fails parameters it does not take
//   powercfg /energy ... /output writes the recorded energy report named by QV_FAKE_ENERGY_REPORT,
//     "<file>"                   else one with no timer requests
//   powershell with the MMAgent  memory compression kept in
//   commands                     HKCU\Software\QuorvantisTests\FakeMMAgent "MemoryCompression"
//                                (absent: no MMAgent cmdlets); like the real one, it loads the
//                                MMAgent module from the first folder of its PSModulePath that
//                                holds one, and a module found outside the system's module folder
//                                creates the file named by QV_PLANTED_MARKER; without -NoProfile it
//                                runs the profile named by QV_FAKE_PROFILE (creating the marker);
//                                "(Get-MMAgent).MemoryCompression" prints True or False; any other
//                                script fails as PowerShell fails an unknown command (its message on
//                                standard error, exit code 1)
//   powershell Set-CimInstance   AutomaticManagedPagefile=$true, as Windows does it: PagingFiles
//   or wmic ... set Automatic-   under Memory Management becomes "?:\pagefile.sys"
//   ManagedPagefile=True
//   powercfg -h off              HibernateEnabled = 0 under ...\Control\Power
//   powershell Enable-Computer-  System Protection on for the drive, kept in
//     Restore -Drive 'X:\'       HKCU\Software\QuorvantisTests\FakeSystemRestore "X"
//   fsutil behavior set          DisableDeleteNotification and NtfsDisableLastAccessUpdate under
//     DisableDeleteNotify /      ...\Control\FileSystem, as Windows keeps them (an unknown fsutil
//     disablelastaccess          command fails, as fsutil does); "behavior query
//                                DisableDeleteNotify" prints what is set
#include <windows.h>
#include <psapi.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>

#include "helper_common.h"
#include "power_setting_home.h"

namespace {

void WriteAll(DWORD stdId, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stdId), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void CreateMarker(const wchar_t* path, const std::string& content) {
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(f);
}

using helper::Environment;

constexpr const wchar_t* kFakeMMAgent = L"Software\\QuorvantisTests\\FakeMMAgent";

bool ParseGuid(const std::wstring& text, GUID& guid) {
    std::wstring braced = text.size() == 36 ? L"{" + text + L"}" : text;
    return braced.size() == 38 && IIDFromString(braced.c_str(), &guid) == S_OK;
}

constexpr const wchar_t* kPlans = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr const wchar_t* kTemplates = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\Default\\PowerSchemes";

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// The words after the switch, as powercfg takes them (GUIDs without braces); the one at `skip`.
std::wstring ArgumentAfter(const std::wstring& commandLine, const wchar_t* option, size_t skip = 0) {
    const size_t at = commandLine.find(option);
    if (at == std::wstring::npos) return {};
    size_t start = at + wcslen(option);
    for (size_t word = 0;; ++word) {
        const size_t end = std::min(commandLine.size(), commandLine.find(L' ', start));
        if (word == skip) return commandLine.substr(start, end - start);
        if (end >= commandLine.size()) return {};
        start = end + 1;
    }
}

// powercfg /energy [/xml] /output "<file>" /duration <s>: writes the energy report. The report
// played back is the file named by QV_FAKE_ENERGY_REPORT; without one, a report with no timer
// requests. As the real one, it needs administrator rights.
int ModelEnergyReport(const std::wstring& commandLine) {
    const size_t at = commandLine.find(L"/output \"");
    if (at == std::wstring::npos) return 1;
    const size_t start = at + 9;
    const size_t end = commandLine.find(L'"', start);
    if (end == std::wstring::npos) return 1;
    const std::wstring output = commandLine.substr(start, end - start);
    const std::wstring recorded = Environment(L"QV_FAKE_ENERGY_REPORT");
    if (!recorded.empty()) return CopyFileW(recorded.c_str(), output.c_str(), FALSE) ? 0 : 1;
    static constexpr char kNoRequests[] =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<EnergyReport><Troubleshooter><AnalysisLog></AnalysisLog>"
        "</Troubleshooter></EnergyReport>\r\n";
    const HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, kNoRequests, sizeof(kNoRequests) - 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}

// What Windows keeps for what the fakes below change, where it keeps it.
constexpr const wchar_t* kFileSystem = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
constexpr const wchar_t* kPower = L"SYSTEM\\CurrentControlSet\\Control\\Power";

int SetMachineDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS ? 0 : 1;
}

// fsutil behavior set DisableDeleteNotify 0|1 and disablelastaccess 0|1, as Windows 10 1803 and
// later keep them: DisableDeleteNotification, and NtfsDisableLastAccessUpdate with its
// "user managed" bit (0x80000000) set beside the choice. "behavior query DisableDeleteNotify"
// prints the NTFS line as fsutil does ("is not currently set" without the value).
int ModelFsutil(const std::wstring& commandLine) {
    if (commandLine.find(L"behavior set DisableDeleteNotify ") != std::wstring::npos) {
        const std::wstring value = ArgumentAfter(commandLine, L"behavior set DisableDeleteNotify ");
        if (value != L"0" && value != L"1") return 1;
        return SetMachineDword(kFileSystem, L"DisableDeleteNotification", value == L"1" ? 1 : 0);
    }
    if (commandLine.find(L"behavior set disablelastaccess ") != std::wstring::npos) {
        const std::wstring value = ArgumentAfter(commandLine, L"behavior set disablelastaccess ");
        if (value != L"0" && value != L"1") return 1;
        return SetMachineDword(kFileSystem, L"NtfsDisableLastAccessUpdate", value == L"1" ? 0x80000001u : 0x80000000u);
    }
    if (commandLine.find(L"behavior query DisableDeleteNotify") != std::wstring::npos) {
        DWORD value = 0, size = sizeof(value);
        const bool set = RegGetValueW(HKEY_LOCAL_MACHINE, kFileSystem, L"DisableDeleteNotification", RRF_RT_REG_DWORD, nullptr,
                                      &value, &size) == ERROR_SUCCESS;
        WriteAll(STD_OUTPUT_HANDLE, set ? "NTFS DisableDeleteNotify = " + std::to_string(value) + "\r\n"
                                        : std::string("NTFS DisableDeleteNotify is not currently set\r\n"));
        return 0;
    }
    return 1;
}

int ModelPowercfg(const std::wstring& commandLine) {
    const std::wstring plans = kPlans;
    if (commandLine.find(L"/energy") != std::wstring::npos) return ModelEnergyReport(commandLine);
    // Hibernation off: Windows deletes hiberfil.sys and keeps the choice in HibernateEnabled.
    if (commandLine.find(L" -h off") != std::wstring::npos) return SetMachineDword(kPower, L"HibernateEnabled", 0);
    if (commandLine.find(L"/setactive ") != std::wstring::npos) {
        const std::wstring scheme = ArgumentAfter(commandLine, L"/setactive ");
        GUID guid{};
        if (scheme == L"SCHEME_CURRENT") return 0;
        if (!ParseGuid(scheme, guid) || !KeyExists(plans + L"\\" + scheme)) return 1;
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPlans, L"ActivePowerScheme", REG_SZ, scheme.c_str(),
                        static_cast<DWORD>((scheme.size() + 1) * sizeof(wchar_t)));
        return 0;
    }
    if (commandLine.find(L"/duplicatescheme ") != std::wstring::npos) {
        const std::wstring source = ArgumentAfter(commandLine, L"/duplicatescheme ");
        const std::wstring target = ArgumentAfter(commandLine, L"/duplicatescheme ", 1);
        const std::wstring from = KeyExists(plans + L"\\" + source) ? plans + L"\\" + source : std::wstring(kTemplates) + L"\\" + source;
        if (target.empty() || KeyExists(plans + L"\\" + target) || !KeyExists(from)) return 1;
        HKEY created = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (plans + L"\\" + target).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                            nullptr) != ERROR_SUCCESS) {
            return 1;
        }
        RegCopyTreeW(HKEY_LOCAL_MACHINE, from.c_str(), created);
        RegCloseKey(created);
        return 0;
    }
    // /setacvalueindex|/setdcvalueindex <plan> <subgroup> <setting> <value>: into that plan's own
    // values, as powrprof keeps them; a plan that does not exist, or a setting named under a
    // subgroup other than its own, is refused.
    for (const auto& [verb, name] : {std::pair{L"/setacvalueindex ", L"ACSettingIndex"}, {L"/setdcvalueindex ", L"DCSettingIndex"}}) {
        if (commandLine.find(verb) == std::wstring::npos) continue;
        const std::wstring scheme = ArgumentAfter(commandLine, verb);
        const std::wstring subgroup = ArgumentAfter(commandLine, verb, 1);
        const std::wstring setting = ArgumentAfter(commandLine, verb, 2);
        const std::wstring value = ArgumentAfter(commandLine, verb, 3);
        GUID guid{};
        const bool elsewhere = SettingUnderAnotherSubgroup(subgroup, setting);
        if (!ParseGuid(scheme, guid) || !KeyExists(plans + L"\\" + scheme) || !ParseGuid(subgroup, guid) || !ParseGuid(setting, guid) ||
            value.empty() || elsewhere) {
            WriteAll(STD_OUTPUT_HANDLE, "The power scheme, subgroup or setting specified does not exist.\r\n");
            return 1;
        }
        const DWORD index = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 0));
        return RegSetKeyValueW(HKEY_LOCAL_MACHINE, (plans + L"\\" + scheme + L"\\" + subgroup + L"\\" + setting).c_str(), name,
                               REG_DWORD, &index, sizeof(index)) == ERROR_SUCCESS
                   ? 0
                   : 1;
    }
    if (commandLine.find(L"/delete ") != std::wstring::npos) {
        const std::wstring scheme = ArgumentAfter(commandLine, L"/delete ");
        wchar_t current[64] = {};
        DWORD size = sizeof(current);
        RegGetValueW(HKEY_LOCAL_MACHINE, kPlans, L"ActivePowerScheme", RRF_RT_REG_SZ, nullptr, current, &size);
        if (_wcsicmp(current, scheme.c_str()) == 0 || !KeyExists(plans + L"\\" + scheme)) return 1;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (plans + L"\\" + scheme).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (plans + L"\\" + scheme).c_str());
        return 0;
    }
    // Anything else is a command line powercfg would not take.
    WriteAll(STD_OUTPUT_HANDLE, "Invalid Parameters -- try \"/?\" for help\r\n");
    return 1;
}

// What the real PowerShell would load before running the command: the user's profile unless told
// not to, and the first MMAgent module along its module path.
void LoadLikePowerShell(const std::wstring& commandLine) {
    const std::wstring marker = Environment(L"QV_PLANTED_MARKER");
    if (commandLine.find(L"-NoProfile") == std::wstring::npos && !Environment(L"QV_FAKE_PROFILE").empty() && !marker.empty()) {
        CreateMarker(marker.c_str(), "profile");
    }
    if (commandLine.find(L"MMAgent") == std::wstring::npos) return;
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring systemModules = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\Modules";
    const std::wstring path = Environment(L"PSModulePath");
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || GetFileAttributesW((folder + L"\\MMAgent").c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        if (_wcsicmp(folder.c_str(), systemModules.c_str()) != 0 && !marker.empty()) CreateMarker(marker.c_str(), "module");
        return;
    }
}

// What Windows does when WMI is told to manage the paging file: automatic management is the
// "?:\pagefile.sys" entry in PagingFiles.
int ModelSystemManagedPagefile() {
    const wchar_t automatic[] = L"?:\\pagefile.sys\0";
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                           L"PagingFiles", REG_MULTI_SZ, automatic, sizeof(automatic)) == ERROR_SUCCESS
               ? 0
               : 1;
}

// What PowerShell says of a command it has no cmdlet for, and its exit code with -Command.
int NotRecognized(const std::wstring& name) {
    const std::string term = Utf8(name);
    WriteAll(STD_ERROR_HANDLE, term + " : The term '" + term +
                                   "' is not recognized as the name of a cmdlet, function, script file, or operable program. "
                                   "Check the spelling of the name, or if a path was included, verify that the path is correct "
                                   "and try again.\r\n");
    return 1;
}

// The first command word of the -Command script.
std::wstring FirstCommand(const std::wstring& commandLine) {
    const size_t at = commandLine.find(L"-Command \"");
    if (at == std::wstring::npos) return L"-Command";
    std::wstring script = commandLine.substr(at + 10);
    const size_t start = script.find_first_not_of(L" ($");
    const size_t end = script.find_first_of(L" );\"", start);
    return start == std::wstring::npos ? std::wstring() : script.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

int ModelPowerShell(const std::wstring& commandLine) {
    LoadLikePowerShell(commandLine);
    // System Protection per drive, kept where the fake keeps it: HKCU\...\FakeSystemRestore "<drive>".
    if (commandLine.find(L"Enable-ComputerRestore -Drive '") != std::wstring::npos) {
        const std::wstring drive = ArgumentAfter(commandLine, L"Enable-ComputerRestore -Drive '").substr(0, 1);
        const DWORD on = 1;
        return RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QuorvantisTests\\FakeSystemRestore", drive.c_str(), REG_DWORD, &on,
                               sizeof(on)) == ERROR_SUCCESS
                   ? 0
                   : 1;
    }
    if (commandLine.find(L"Set-CimInstance -Property @{AutomaticManagedPagefile=$true}") != std::wstring::npos) {
        return ModelSystemManagedPagefile();
    }
    DWORD on = 0, size = sizeof(on);
    const bool present =
        RegGetValueW(HKEY_CURRENT_USER, kFakeMMAgent, L"MemoryCompression", RRF_RT_REG_DWORD, nullptr, &on, &size) ==
        ERROR_SUCCESS;
    const auto set = [](DWORD value) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kFakeMMAgent, L"MemoryCompression", REG_DWORD, &value, sizeof(value));
    };
    // Get-MMAgent alone: the state as an exit code (3 without the cmdlets).
    if (commandLine.find(L"exit (10 + [int]$a.MemoryCompression)") != std::wstring::npos) {
        return present ? static_cast<int>(10 + (on != 0 ? 1 : 0)) : 3;
    }
    if (commandLine.find(L"Enable-MMAgent -MemoryCompression") != std::wstring::npos) {
        if (!present) return 1;
        set(1);
        return 0;
    }
    if (commandLine.find(L"Disable-MMAgent -MemoryCompression") != std::wstring::npos) {
        const bool reportsState = commandLine.find(L"exit (10 + $was)") != std::wstring::npos;
        if (!present) return reportsState ? 3 : 0;
        set(0);
        return reportsState ? static_cast<int>(10 + (on != 0 ? 1 : 0)) : 0;
    }
    // The property printed as PowerShell prints a Boolean; without the module the cmdlet is unknown.
    if (commandLine.find(L"(Get-MMAgent).MemoryCompression") != std::wstring::npos) {
        if (!Environment(L"QV_FAKE_TOOL_OUTPUT").empty()) return 0;  // the test says what it prints
        if (!present) return NotRecognized(L"Get-MMAgent");
        WriteAll(STD_OUTPUT_HANDLE, on != 0 ? "True\r\n" : "False\r\n");
        return 0;
    }
    // A script this stand-in does not know is one PowerShell would not run either.
    return NotRecognized(FirstCommand(commandLine));
}

int ActAsFakeTool(const std::wstring& logPath) {
    HANDLE f = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        const std::string line = Utf8(GetCommandLineW()) + "\n";
        DWORD written = 0;
        WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(f);
    }
    WriteAll(STD_OUTPUT_HANDLE, Utf8(Environment(L"QV_FAKE_TOOL_OUTPUT")));
    const std::wstring failIf = Environment(L"QV_FAKE_FAIL_IF_CONTAINS");
    if (!failIf.empty() && std::wstring(GetCommandLineW()).find(failIf) != std::wstring::npos) return 1;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring tool = self;
    tool = tool.substr(tool.find_last_of(L'\\') + 1);
    tool = tool.substr(0, tool.find(L'.'));
    const std::wstring own = Environment((L"QV_FAKE_EXIT_" + tool).c_str());
    const std::wstring chosen = own.empty() ? Environment(L"QV_FAKE_TOOL_EXIT") : own;
    if (!chosen.empty()) return _wtoi(chosen.c_str());
    if (_wcsicmp(tool.c_str(), L"powercfg") == 0) return ModelPowercfg(GetCommandLineW());
    if (_wcsicmp(tool.c_str(), L"powershell") == 0) return ModelPowerShell(GetCommandLineW());
    if (_wcsicmp(tool.c_str(), L"fsutil") == 0 && Environment(L"QV_FAKE_TOOL_OUTPUT").empty()) return ModelFsutil(GetCommandLineW());
    if (_wcsicmp(tool.c_str(), L"wmic") == 0 && std::wstring(GetCommandLineW()).find(L"set AutomaticManagedPagefile=True") != std::wstring::npos) {
        return ModelSystemManagedPagefile();
    }
    return 0;
}

// The process's entries in the system handle table (SystemHandleInformation, class 16).
DWORD SystemTableHandles(DWORD pid) {
    struct Entry {
        USHORT process;
        USHORT creatorBackTrace;
        UCHAR type;
        UCHAR attributes;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    std::string buffer(1 << 20, '\0');
    ULONG needed = 0;
    LONG status = 0;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) == static_cast<LONG>(0xC0000004) &&
           buffer.size() < (256u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return 0;
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof(count));
    const size_t first = sizeof(void*);  // the count, padded to the entries' alignment
    DWORD mine = 0;
    for (ULONG i = 0; i < count && first + (i + 1) * sizeof(Entry) <= buffer.size(); ++i) {
        Entry e;
        std::memcpy(&e, buffer.data() + first + i * sizeof(Entry), sizeof(e));
        if (e.process == static_cast<USHORT>(pid)) ++mine;
    }
    return mine;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Only a copy in a tool's place plays the tool; the helper under its own name (which tests
    // start directly, beside other tests' fakes) never does.
    std::wstring self = helper::SelfPath();
    self = self.substr(self.find_last_of(L'\\') + 1);
    const std::wstring fakeLog = _wcsicmp(self.c_str(), L"qv_child.exe") == 0 ? std::wstring() : Environment(L"QV_FAKE_TOOL_LOG");
    if (!fakeLog.empty()) {
        helper::RecordEnvironment(self.substr(0, self.rfind(L'.')));
        return ActAsFakeTool(fakeLog);
    }
    if (argc < 2) return 100;
    const std::wstring verb = argv[1];
    const wchar_t* value = argc > 2 ? argv[2] : L"";
    if (verb == L"exit") return _wtoi(value);
    if (verb == L"sleep") {
        Sleep(static_cast<DWORD>(_wtoi(value)));
        if (argc > 3) CreateMarker(argv[3], "woke");
        return 0;
    }
    if (verb == L"bytes") {
        std::string bytes;
        for (int i = 0; i < _wtoi(value); ++i) bytes += static_cast<char>('a' + i % 26);
        WriteAll(STD_OUTPUT_HANDLE, bytes);
        return 0;
    }
    // Asks the named service for its state the given number of times, through its control handler.
    if (verb == L"service-interrogate") {
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = scm != nullptr ? OpenServiceW(scm, value, SERVICE_INTERROGATE) : nullptr;
        int answered = 0;
        for (int i = 0; service != nullptr && i < (argc > 3 ? _wtoi(argv[3]) : 1); ++i) {
            SERVICE_STATUS status{};
            if (ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) ++answered;
        }
        if (service != nullptr) CloseServiceHandle(service);
        if (scm != nullptr) CloseServiceHandle(scm);
        WriteAll(STD_OUTPUT_HANDLE, std::to_string(answered) + "\n");
        return answered > 0 ? 0 : 1;
    }
    // The named service's open handles, working set (kB) and process id as Windows itself counts
    // them (the soak).
    if (verb == L"service-figures") {
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = scm != nullptr ? OpenServiceW(scm, value, SERVICE_QUERY_STATUS) : nullptr;
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        const bool queried = service != nullptr && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                                        sizeof(status), &needed);
        if (service != nullptr) CloseServiceHandle(service);
        if (scm != nullptr) CloseServiceHandle(scm);
        if (!queried || status.dwProcessId == 0) return 1;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, status.dwProcessId);
        if (process == nullptr) return 1;
        DWORD handles = 0;
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof(memory);
        const bool ok = GetProcessHandleCount(process, &handles) && GetProcessMemoryInfo(process, &memory, sizeof(memory));
        CloseHandle(process);
        if (!ok) return 1;
        // Wine answers 0 for another process's count; its system handle table has every entry.
        if (handles == 0) handles = SystemTableHandles(status.dwProcessId);
        WriteAll(STD_OUTPUT_HANDLE, std::to_string(handles) + " " + std::to_string(memory.WorkingSetSize / 1024) + " " +
                                        std::to_string(status.dwProcessId) + "\n");
        return 0;
    }
    if (verb == L"oem") {
        WriteAll(STD_OUTPUT_HANDLE, "\x82\x9Cx");
        return 0;
    }
    if (verb == L"stderr") {
        WriteAll(STD_ERROR_HANDLE, Utf8(value));
        return 0;
    }
    if (verb == L"record") {
        CreateMarker(value, Utf8(GetCommandLineW()));
        return 0;
    }
    return 101;
}
