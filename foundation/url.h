#pragma once
// Web addresses as the program's HTTPS client takes them apart and decides who it may talk to.
// Pure, so every address a server might send can be tried without a network.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct UrlParts {
    std::wstring scheme;  // lower case
    std::wstring host;    // lower case
    uint16_t port = 0;    // 0 when the address names none
    std::wstring path;    // from the first "/", or "/" when absent
    std::wstring query;   // from "?", or empty
};
// Splits "scheme://host[:port][/path][?query]"; false for anything else, for user names in the
// authority (a "vendor.com@elsewhere" trick), and for parts longer than 256 (host), 4096 (path) or
// 2048 (query) characters.
bool SplitUrl(std::wstring_view url, UrlParts& parts);

// Whole names only, compared without regard to case; with subdomains, any name that ends in
// "." followed by one of the names as well.
bool HostMatches(std::wstring_view host, const std::vector<std::wstring>& names, bool subdomains);

// "host" or "host:port", as an address names its server.
std::wstring Authority(const UrlParts& parts);
