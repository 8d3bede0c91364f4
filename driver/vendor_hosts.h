#pragma once
// Which hosts each kind of vendor download may come from, and how an address is taken apart.
// One table holds every vendor host the program talks to; tests pass one of their own.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/url.h"

enum VendorHostKind : int {
    NvidiaLookup = 0,
    NvidiaDownload = 1,
    AmdDownload = 2,
    PackageIndex = 3,
    SevenZip = 4,
    AfterburnerMirror = 5,
    PresentMonRelease = 6,
};
inline constexpr int kVendorHostKinds = 7;

struct VendorHosts {
    // Allowed names per kind, lower case. NvidiaDownload also allows any subdomain of its names.
    std::array<std::vector<std::wstring>, kVendorHostKinds> allowed;
    // Where the requests the program composes itself go ("host" or "host:port").
    std::wstring nvidiaLookup;
    std::wstring packageGallery;
    std::wstring sevenZipWeb;
    // The one 7-Zip installer taken (its path on sevenZipWeb) and its published SHA-256: the
    // project does not sign its installers, so the digest is what says it is theirs.
    std::wstring sevenZipInstaller;
    std::wstring sevenZipSha256;
    std::wstring amdSupport;  // named in the Referer of AMD downloads
    std::wstring afterburnerMirror;
    // PresentMon's console program: the one release taken (its path on presentMonWeb) and its
    // SHA-256; Intel signs it as well, and both are checked.
    std::wstring presentMonWeb;
    std::wstring presentMonRelease;
    std::wstring presentMonSha256;
};

// The real vendor hosts.
const VendorHosts& ProductVendorHosts();

// Whole names only, compared without regard to case; subdomains only for NvidiaDownload.
bool HostAllowed(const VendorHosts& hosts, int kind, std::wstring_view host);

// An https address whose host is allowed for the kind.
bool VendorAddressAllowed(const VendorHosts& hosts, int kind, std::wstring_view url);
