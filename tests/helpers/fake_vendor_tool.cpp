// The vendor and system tools GPU Clean runs, played by one program that acts by its own file
// name (copied under each name by the tests):
//   7z.exe x -y -o"<dir>" "<archive>"      unpacks a test archive
//   tar.exe -xf "<archive>" -C "<dir>"     the same
//   pnputil.exe /add-driver "<inf>" ...    records the call
//   setup.exe -s -n ...                    records the call (a vendor setup)
//   7z2600-x64.exe /S                      installs this program as 7-Zip's 7z.exe
//   schtasks.exe /Create /F /TN "<name>" /XML "<file>"
//                                          keeps the task's definition in QV_FAKE_TASKS_DIR and
//                                          records "task <name>: runlevel=<level> user=<account>
//                                          command=<program> arguments=<arguments>", then its
//                                          battery conditions, time limit and priority, each the
//                                          schema's default (true, true, PT72H, 7) where the
//                                          definition leaves it out
//   schtasks.exe /Create ... /SC /RU /RL /TR  the same for a task made from switches, which
//                                          carries no settings, so every one is the default
//   schtasks.exe /Run /TN "<name>"         starts the task as a logon would: a program that asks
//                                          for administrator rights (MSIAfterburner.exe does) is
//                                          refused silently unless the task runs with the highest
//                                          level, as Windows does
//   schtasks.exe /Delete /F /TN "<name>"   forgets it
// Test archives: optionally "MZ\n", then "QVPKG\n", then entries "F <size> <path>\n<bytes>" (a
// file) and "X <path>\n" (a copy of this program), up to "END\n"; anything after is padding.
// Every call appends its command line to QV_FAKE_TOOL_LOG when set. QV_FAKE_EXIT_<name> sets the
// exit code, QV_FAKE_HANG_<name> a wait in milliseconds before exiting. The installer puts 7z.exe
// under QV_FAKE_INSTALL_DIR when set, else under Program Files.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "helper_common.h"

namespace {

using helper::Environment;
using helper::SelfPath;

std::string Narrow(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Archive paths use "/", as real archives do.
std::wstring EntryPath(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n);
    for (wchar_t& c : out) {
        if (c == L'/') c = L'\\';
    }
    return out;
}

void Record() { helper::AppendToolLog(Narrow(GetCommandLineW())); }

std::string ReadAll(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(f, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(f);
    return bytes;
}

void MakeParents(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
}

bool WriteAll(const std::wstring& path, const char* data, size_t size) {
    MakeParents(path);
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(f);
    return ok && written == size;
}

// 0 unpacked; 2 not a test archive (as 7-Zip says for a file it cannot open).
int Unpack(const std::wstring& archive, const std::wstring& folder) {
    const std::string bytes = ReadAll(archive);
    size_t at = bytes.rfind("MZ\n", 0) == 0 ? 3 : 0;
    if (bytes.compare(at, 6, "QVPKG\n") != 0) return 2;
    at += 6;
    CreateDirectoryW(folder.c_str(), nullptr);
    while (at < bytes.size()) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string::npos) return 2;
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (line == "END") break;
        if (line.rfind("X ", 0) == 0) {
            const std::wstring target = folder + L"\\" + EntryPath(line.substr(2));
            MakeParents(target);
            if (!CopyFileW(SelfPath().c_str(), target.c_str(), FALSE)) return 2;
        } else if (line.rfind("F ", 0) == 0) {
            const size_t space = line.find(' ', 2);
            if (space == std::string::npos) return 2;
            const size_t size = std::stoull(line.substr(2, space - 2));
            if (at + size > bytes.size()) return 2;
            if (!WriteAll(folder + L"\\" + EntryPath(line.substr(space + 1)), bytes.data() + at, size)) return 2;
            at += size;
        } else {
            return 2;
        }
    }
    return 0;
}

// ---- schtasks -----------------------------------------------------------------------------

std::wstring Unescaped(std::wstring text) {
    const std::pair<const wchar_t*, wchar_t> entities[] = {{L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}, {L"&amp;", L'&'}};
    for (const auto& [entity, c] : entities) {
        for (size_t at = text.find(entity); at != std::wstring::npos; at = text.find(entity, at + 1)) text.replace(at, wcslen(entity), 1, c);
    }
    return text;
}

std::wstring Element(const std::wstring& xml, const std::wstring& tag) {
    const size_t open = xml.find(L"<" + tag + L">");
    if (open == std::wstring::npos) return {};
    const size_t start = open + tag.size() + 2;
    const size_t close = xml.find(L"</" + tag + L">", start);
    return close == std::wstring::npos ? std::wstring() : Unescaped(xml.substr(start, close - start));
}

std::wstring TaskFile(const std::wstring& name) { return Environment(L"QV_FAKE_TASKS_DIR") + L"\\" + name + L".xml"; }

std::wstring ReadWide(const std::wstring& path) {
    const std::string bytes = ReadAll(path);
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
}

std::wstring ArgumentAfter(const std::vector<std::wstring>& args, const wchar_t* option) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (_wcsicmp(args[i].c_str(), option) == 0) return args[i + 1];
    }
    return {};
}

// What Task Scheduler keeps for a setting the definition leaves out: the schema's default.
std::wstring Setting(const std::wstring& xml, const wchar_t* tag, const wchar_t* schemaDefault) {
    const std::wstring value = Element(xml, tag);
    return value.empty() ? schemaDefault : value;
}

// A task made from switches, as schtasks makes it: a definition with the switches' trigger,
// account, level and action, and no settings at all, so every one is the schema's default.
std::wstring DefinitionFromSwitches(const std::vector<std::wstring>& args) {
    const std::wstring schedule = ArgumentAfter(args, L"/SC");
    const std::wstring user = ArgumentAfter(args, L"/RU");
    const std::wstring run = ArgumentAfter(args, L"/TR");
    std::wstring command = run, arguments;
    if (!run.empty() && run.front() == L'"') {
        const size_t close = run.find(L'"', 1);
        command = run.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        if (close != std::wstring::npos && close + 2 <= run.size()) arguments = run.substr(close + 2);
    } else if (const size_t space = run.find(L' '); space != std::wstring::npos) {
        command = run.substr(0, space);
        arguments = run.substr(space + 1);
    }
    std::wstring xml = L"<Task><Triggers>";
    xml += _wcsicmp(schedule.c_str(), L"ONSTART") == 0 ? L"<BootTrigger/>" : L"<LogonTrigger/>";
    xml += L"</Triggers><Principals><Principal><UserId>" + (_wcsicmp(user.c_str(), L"SYSTEM") == 0 ? std::wstring(L"S-1-5-18") : user) +
           L"</UserId><RunLevel>" +
           (_wcsicmp(ArgumentAfter(args, L"/RL").c_str(), L"HIGHEST") == 0 ? L"HighestAvailable" : L"LeastPrivilege") +
           L"</RunLevel></Principal></Principals><Actions><Exec><Command>" + command + L"</Command>";
    if (!arguments.empty()) xml += L"<Arguments>" + arguments + L"</Arguments>";
    return xml + L"</Exec></Actions></Task>";
}

int Schtasks(const std::vector<std::wstring>& args) {
    const std::wstring name = ArgumentAfter(args, L"/TN");
    const bool create = args.size() > 1 && _wcsicmp(args[1].c_str(), L"/Create") == 0;
    if (create) {
        const bool fromFile = !ArgumentAfter(args, L"/XML").empty();
        const std::wstring xml = fromFile ? ReadWide(ArgumentAfter(args, L"/XML")) : DefinitionFromSwitches(args);
        if (xml.empty()) return 1;
        const std::string bytes(reinterpret_cast<const char*>(xml.data()), xml.size() * sizeof(wchar_t));
        if (!WriteAll(TaskFile(name), "\xFF\xFE", 2)) return 1;
        HANDLE f = CreateFileW(TaskFile(name).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        helper::AppendToolLog(Narrow(L"task " + name + L": runlevel=" + Element(xml, L"RunLevel") + L" user=" + Element(xml, L"UserId") +
                                     L" logon=" + Element(xml, L"LogonType") + L" command=" + Element(xml, L"Command") +
                                     L" arguments=" + Element(xml, L"Arguments")));
        helper::AppendToolLog(Narrow(L"task " + name + L": DisallowStartIfOnBatteries=" +
                                     Setting(xml, L"DisallowStartIfOnBatteries", L"true") + L" StopIfGoingOnBatteries=" +
                                     Setting(xml, L"StopIfGoingOnBatteries", L"true") + L" ExecutionTimeLimit=" +
                                     Setting(xml, L"ExecutionTimeLimit", L"PT72H") + L" Priority=" + Setting(xml, L"Priority", L"7")));
        return 0;
    }
    if (args.size() > 1 && _wcsicmp(args[1].c_str(), L"/Run") == 0) {
        const std::wstring xml = ReadWide(TaskFile(name));
        if (xml.empty()) return 1;
        const std::wstring command = Element(xml, L"Command");
        std::wstring program = command.substr(command.find_last_of(L'\\') + 1);
        for (wchar_t& c : program) c = static_cast<wchar_t>(towlower(c));
        if (program == L"msiafterburner.exe" && Element(xml, L"RunLevel") != L"HighestAvailable") {
            helper::AppendToolLog(Narrow(L"task " + name + L": not started, the program asks for administrator rights"));
            return 0;  // Windows says nothing either
        }
        std::wstring line = L"\"" + command + L"\" " + Element(xml, L"Arguments");
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(command.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 1;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        helper::AppendToolLog(Narrow(L"task " + name + L": started"));
        return 0;
    }
    if (args.size() > 1 && _wcsicmp(args[1].c_str(), L"/Delete") == 0) DeleteFileW(TaskFile(name).c_str());
    return 0;
}

std::wstring Stem() {
    std::wstring name = SelfPath();
    name = name.substr(name.find_last_of(L'\\') + 1);
    name = name.substr(0, name.rfind(L'.'));
    for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
    return name;
}

}  // namespace

int wmain(int, wchar_t**) {
    Record();
    const std::wstring stem = Stem();
    helper::RecordEnvironment(stem);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);

    int code = 0;
    if (stem == L"7z" && args.size() >= 5 && args[1] == L"x") {
        std::wstring out, archive;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i].rfind(L"-o", 0) == 0) out = args[i].substr(2);
            else if (args[i] != L"-y") archive = args[i];
        }
        code = Unpack(archive, out);
    } else if (stem == L"tar" && args.size() >= 5) {
        code = Unpack(args[2], args[4]);
    } else if (stem == L"7z2600-x64") {
        std::wstring root = Environment(L"QV_FAKE_INSTALL_DIR");
        if (root.empty()) {
            PWSTR known = nullptr;
            if (SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &known) == S_OK) root = known;
            CoTaskMemFree(known);
        }
        const std::wstring target = root + L"\\7-Zip\\7z.exe";
        MakeParents(target);
        std::wstring self = SelfPath();
        code = CopyFileW(self.c_str(), target.c_str(), FALSE) ? 0 : 1;
    } else if (stem == L"schtasks") {
        code = Schtasks(args);
    }
    const std::wstring hang = Environment(L"QV_FAKE_HANG_" + stem);
    if (!hang.empty()) Sleep(static_cast<DWORD>(_wtoi(hang.c_str())));
    const std::wstring exitCode = Environment(L"QV_FAKE_EXIT_" + stem);
    if (!exitCode.empty()) code = _wtoi(exitCode.c_str());
    return code;
}
