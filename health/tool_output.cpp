#include "health/tool_output.h"

namespace {

// The value after "DisableDeleteNotify", an optional blank, "=" and optional blanks: '0', '1' or 0.
wchar_t ValueAfter(std::wstring_view line) {
    const size_t name = line.find(L"DisableDeleteNotify");
    if (name == std::wstring_view::npos) return 0;
    size_t i = name + 19;
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size() || line[i] != L'=') return 0;
    ++i;
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    return i < line.size() && (line[i] == L'0' || line[i] == L'1') ? line[i] : 0;
}

}  // namespace

ToolAnswer TrimEnabledFromFsutil(std::wstring_view output) {
    wchar_t first = 0, ntfs = 0;
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find(L'\n', start);
        if (end == std::wstring_view::npos) end = output.size();
        const std::wstring_view line = output.substr(start, end - start);
        const wchar_t value = ValueAfter(line);
        if (value != 0 && first == 0) first = value;
        if (value != 0 && ntfs == 0 && line.find(L"NTFS") != std::wstring_view::npos) ntfs = value;
        start = end + 1;
    }
    const wchar_t decided = ntfs != 0 ? ntfs : first;
    if (decided == 0) return ToolAnswer::Unknown;
    return decided == L'0' ? ToolAnswer::Yes : ToolAnswer::No;
}

ToolAnswer MemoryCompressionFromPowerShell(std::wstring_view output) {
    // The cmdlet prints the value alone on its line; anything else (an error) is not an answer.
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find(L'\n', start);
        if (end == std::wstring_view::npos) end = output.size();
        std::wstring_view line = output.substr(start, end - start);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t')) line.remove_suffix(1);
        while (!line.empty() && (line.front() == L' ' || line.front() == L'\t')) line.remove_prefix(1);
        if (line == L"True") return ToolAnswer::Yes;
        if (line == L"False") return ToolAnswer::No;
        start = end + 1;
    }
    return ToolAnswer::Unknown;
}
