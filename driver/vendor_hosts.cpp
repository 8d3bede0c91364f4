#include "driver/vendor_hosts.h"

const VendorHosts& ProductVendorHosts() {
    static const VendorHosts hosts = [] {
        VendorHosts h;
        h.allowed[NvidiaLookup] = {L"gfwsl.geforce.com"};
        h.allowed[NvidiaDownload] = {L"download.nvidia.com"};
        h.allowed[AmdDownload] = {L"drivers.amd.com"};
        h.allowed[PackageIndex] = {L"community.chocolatey.org", L"packages.chocolatey.org"};
        h.allowed[SevenZip] = {L"7-zip.org", L"www.7-zip.org", L"github.com", L"objects.githubusercontent.com",
                               L"release-assets.githubusercontent.com"};
        h.allowed[AfterburnerMirror] = {L"ftp.nluug.nl"};
        // The code host answers a release asset with a redirect to its asset storage.
        h.allowed[PresentMonRelease] = {L"github.com", L"objects.githubusercontent.com", L"release-assets.githubusercontent.com"};
        h.nvidiaLookup = L"gfwsl.geforce.com";
        h.packageGallery = L"community.chocolatey.org";
        h.sevenZipWeb = L"www.7-zip.org";
        // 7-Zip 26.00 for x64 as the project publishes it (1 655 627 bytes).
        h.sevenZipInstaller = L"/a/7z2600-x64.exe";
        h.sevenZipSha256 = L"6fe18d5b3080e39678cabfa6cef12cfb25086377389b803a36a3c43236a8a82c";
        h.amdSupport = L"www.amd.com";
        h.afterburnerMirror = L"ftp.nluug.nl";
        h.presentMonWeb = L"github.com";
        // PresentMon 2.3.1's console program for x64 as Intel released it (421 312 bytes), the
        // digest several projects that pin this release agree on.
        h.presentMonRelease = L"/GameTechDev/PresentMon/releases/download/v2.3.1/PresentMon-2.3.1-x64.exe";
        h.presentMonSha256 = L"364e5d98d4d134bd54dd25c22ed2ca2f4883f8bc3ed6502bee0c151e3436d30c";
        return h;
    }();
    return hosts;
}

bool HostAllowed(const VendorHosts& hosts, int kind, std::wstring_view host) {
    if (kind < 0 || kind >= kVendorHostKinds) return false;
    return HostMatches(host, hosts.allowed[static_cast<size_t>(kind)], kind == NvidiaDownload);
}

bool VendorAddressAllowed(const VendorHosts& hosts, int kind, std::wstring_view url) {
    UrlParts parts;
    return SplitUrl(url, parts) && parts.scheme == L"https" && HostAllowed(hosts, kind, parts.host);
}
