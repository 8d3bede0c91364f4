#pragma once
// What the tests' helper programs share: environment lookups, their own path, and the tool log
// every fake appends its calls to (QV_FAKE_TOOL_LOG).
// Each helper program is a row of docs/outside-world.md: change the row with the helper.
#include <windows.h>

#include <string>

namespace helper {

inline std::wstring Environment(const std::wstring& name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
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

}  // namespace helper
