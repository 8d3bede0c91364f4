#include "tweaks/pagefile_rules.h"

namespace {

std::wstring Trimmed(std::wstring_view text) {
    size_t start = 0, end = text.size();
    while (start < end && (text[start] == L' ' || text[start] == L'\t')) ++start;
    while (end > start && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
    return std::wstring(text.substr(start, end - start));
}

}  // namespace

std::vector<std::wstring> MultiStringEntries(std::wstring_view stored) {
    std::vector<std::wstring> entries;
    size_t at = 0;
    while (at < stored.size()) {
        size_t end = stored.find(L'\0', at);
        if (end == std::wstring_view::npos) end = stored.size();
        const std::wstring entry = Trimmed(stored.substr(at, end - at));
        if (!entry.empty()) entries.push_back(entry);
        at = end + 1;
    }
    return entries;
}

PagefileSetup ClassifyPagingFiles(const std::vector<std::wstring>& entries) {
    if (entries.empty()) return PagefileSetup::None;
    for (const std::wstring& entry : entries) {
        if (entry.size() >= 3 && entry[0] == L'?' && entry[1] == L':' && entry[2] == L'\\') return PagefileSetup::SystemManaged;
    }
    return PagefileSetup::Manual;
}

std::wstring PagingFilesText(const std::vector<std::wstring>& entries) {
    std::wstring text;
    for (const std::wstring& entry : entries) text += (text.empty() ? L"" : L"; ") + entry;
    return text;
}
