#include "driver/vendor_hosts.h"

#include <cwctype>

namespace {

std::wstring Lower(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

bool HostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
}

}  // namespace

const VendorHosts& ProductVendorHosts() {
    static const VendorHosts hosts = [] {
        VendorHosts h;
        h.allowed[NvidiaLookup] = {L"gfwsl.geforce.com"};
        h.allowed[NvidiaDownload] = {L"download.nvidia.com"};
        h.allowed[AmdDownload] = {L"drivers.amd.com"};
        h.allowed[PackageIndex] = {L"community.chocolatey.org", L"packages.chocolatey.org"};
        h.allowed[SevenZip] = {L"7-zip.org", L"www.7-zip.org", L"github.com", L"objects.githubusercontent.com"};
        h.allowed[AfterburnerMirror] = {L"ftp.nluug.nl"};
        h.nvidiaLookup = L"gfwsl.geforce.com";
        h.packageGallery = L"community.chocolatey.org";
        h.sevenZipWeb = L"www.7-zip.org";
        h.amdSupport = L"www.amd.com";
        h.afterburnerMirror = L"ftp.nluug.nl";
        h.publisherSite = h.publisherSiteAuthority = L"fenmarch.com";
        h.publisherMedia = h.publisherMediaAuthority = L"media.fenmarch.com";
        return h;
    }();
    return hosts;
}

bool HostAllowed(const VendorHosts& hosts, int kind, std::wstring_view host) {
    if (kind < 0 || kind >= kVendorHostKinds || host.empty()) return false;
    const std::wstring name = Lower(host);
    for (const std::wstring& allowed : hosts.allowed[static_cast<size_t>(kind)]) {
        if (name == allowed) return true;
        if (kind == NvidiaDownload && name.size() > allowed.size() + 1 &&
            name.compare(name.size() - allowed.size(), allowed.size(), allowed) == 0 &&
            name[name.size() - allowed.size() - 1] == L'.') {
            return true;
        }
    }
    return false;
}

bool SplitUrl(std::wstring_view url, UrlParts& parts) {
    parts = UrlParts{};
    const size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring_view::npos || schemeEnd == 0) return false;
    parts.scheme = Lower(url.substr(0, schemeEnd));
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
    parts.host = Lower(host);
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

bool VendorAddressAllowed(const VendorHosts& hosts, int kind, std::wstring_view url) {
    UrlParts parts;
    return SplitUrl(url, parts) && parts.scheme == L"https" && HostAllowed(hosts, kind, parts.host);
}
