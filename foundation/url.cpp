#include "foundation/url.h"

#include <cwctype>

#include "foundation/text.h"

namespace {

bool HostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
}

}  // namespace

bool SplitUrl(std::wstring_view url, UrlParts& parts) {
    parts = UrlParts{};
    const size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring_view::npos || schemeEnd == 0) return false;
    parts.scheme = LowerCase(url.substr(0, schemeEnd));
    for (const wchar_t c : parts.scheme) {
        if (c < L'a' || c > L'z') return false;
    }
    std::wstring_view rest = url.substr(schemeEnd + 3);
    const size_t authorityEnd = rest.find_first_of(L"/?#");
    std::wstring_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::wstring_view::npos ? std::wstring_view() : rest.substr(authorityEnd);
    const size_t colon = authority.find(L':');
    std::wstring_view host = authority.substr(0, colon);
    if (host.empty() || host.size() > 256) return false;
    for (const wchar_t c : host) {
        if (!HostCharacter(c)) return false;  // '@', '%', spaces and the like never reach a connection
    }
    if (colon != std::wstring_view::npos) {
        const std::wstring_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5) return false;
        uint32_t value = 0;
        for (const wchar_t c : port) {
            if (c < L'0' || c > L'9') return false;
            value = value * 10 + static_cast<uint32_t>(c - L'0');
        }
        if (value == 0 || value > 65535) return false;
        parts.port = static_cast<uint16_t>(value);
    }
    parts.host = LowerCase(host);
    const size_t fragment = rest.find(L'#');
    if (fragment != std::wstring_view::npos) rest = rest.substr(0, fragment);
    const size_t question = rest.find(L'?');
    const std::wstring_view path = rest.substr(0, question);
    const std::wstring_view query = question == std::wstring_view::npos ? std::wstring_view() : rest.substr(question);
    if (path.size() > 4096 || query.size() > 2048) return false;
    for (const wchar_t c : rest) {
        if (c <= L' ' || c == 0x7F) return false;
    }
    parts.path = path.empty() ? L"/" : std::wstring(path);
    parts.query = std::wstring(query);
    return true;
}

bool HostMatches(std::wstring_view host, const std::vector<std::wstring>& names, bool subdomains) {
    if (host.empty()) return false;
    const std::wstring name = LowerCase(host);
    for (const std::wstring& allowed : names) {
        if (name == allowed) return true;
        if (subdomains && name.size() > allowed.size() + 1 &&
            name.compare(name.size() - allowed.size(), allowed.size(), allowed) == 0 &&
            name[name.size() - allowed.size() - 1] == L'.') {
            return true;
        }
    }
    return false;
}

std::wstring Authority(const UrlParts& parts) {
    return parts.port == 0 ? parts.host : parts.host + FormatText(L":%u", static_cast<unsigned>(parts.port));
}
