#pragma once
// What the tests' helper programs share: their switches, their own path, the tool log every fake
// appends its calls to (QV_FAKE_TOOL_LOG), and the record of the environment each was given
// (with its current folder and its parent process).
//
// A switch (QV_...) is read from the helper's own environment when a test started it, else from
// HKLM\Software\QuorvantisTests\Switches, where the tests put every switch they set: the program
// starts its children with an environment of its own making, so nothing a test sets in its own
// environment reaches a fake the program starts.
// Each helper program is a row of docs/outside-world.md: change the row with the helper.
#include <windows.h>
#include <tlhelp32.h>

#include <string>

namespace helper {

inline constexpr const wchar_t* kSwitchesKey = L"Software\\QuorvantisTests\\Switches";

inline std::wstring Environment(const std::wstring& name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 4096);
    if (n > 0 && n < 4096) return std::wstring(buffer, n);
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSwitchesKey, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS &&
        size >= sizeof(wchar_t)) {
        return std::wstring(buffer, size / sizeof(wchar_t) - 1);
    }
    return {};
}

inline std::wstring SelfPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// One line (the line feed is added) at the end of the tool log; nothing when it is not set.
inline void AppendToolLog(const std::string& line) {
    const std::wstring log = Environment(L"QV_FAKE_TOOL_LOG");
    if (log.empty()) return;
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

// With QV_FAKE_ENV_LOG set, the environment and current folder this helper was started with, a
// line each ("<tool> NAME=value", "<tool> cwd <folder>"), so a test can see what a child was given.
// The process that is this one's parent as Windows records it (the one named at its creation).
inline DWORD ParentProcessId() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return parent;
}

inline void RecordEnvironment(const std::wstring& tool) {
    const std::wstring log = Environment(L"QV_FAKE_ENV_LOG");
    if (log.empty()) return;
    std::wstring text;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        text += tool + L" " + entry + L"\n";
    }
    if (strings != nullptr) FreeEnvironmentStringsW(strings);
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    text += tool + L" cwd " + folder + L"\n";
    text += tool + L" parent " + std::to_wstring(ParentProcessId()) + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(f);
}

}  // namespace helper
