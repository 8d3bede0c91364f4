// The driver offer: which package the vendor publishes for this machine's adapter, its size,
// and whether the disk can hold it. Only small answers are fetched; nothing is installed.
#include <windows.h>

#include "driver/driver_clean.h"
#include "driver/driver_text.h"
#include "driver/vendor_fetch.h"
#include "foundation/feed.h"
#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"

namespace {

constexpr const wchar_t* kNvidiaDescription =
    L"Keeps the display driver and PhysX. Leaves out the NVIDIA App, telemetry, ShadowPlay, FrameView, and HD audio. The "
    L"current NVIDIA driver is replaced. 7-Zip is installed first if it is not already there. Nothing is installed until "
    L"you confirm again.";
constexpr const wchar_t* kAmdDescription =
    L"Keeps the AMD display driver only. 7-Zip unpacks the package and Windows installs that display driver. Adrenalin, the "
    L"overlay, Chill, and the rest of the suite are not installed. 7-Zip is installed first if it is not already there. If "
    L"the package cannot be trimmed, nothing is installed.";

bool FourHex(const std::wstring& id) { return id.size() == 4; }

void SizeDiskAndNotes(const DriverTools& tools, GpuDriverOffer& offer, const std::atomic<bool>& stop) {
    FetchResult head;
    std::wstring ignored;
    const bool amd = offer.vendor == GpuAmd;
    if (VendorFetch(*tools.hosts, amd ? AmdDownload : NvidiaDownload, L"HEAD", offer.url, amd, 0, nullptr, head, ignored, stop) &&
        head.contentLength != 0) {
        offer.size = head.contentLength;
    }
    ULARGE_INTEGER available{}, total{}, free{};
    const std::wstring folder = DriverFolder();
    const std::wstring root = folder.size() >= 3 ? folder.substr(0, 3) : folder;
    const bool known = GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free) != FALSE;
    std::wstring error;
    offer.spaceOk = PackageFitsDisk(offer.size, known, available.QuadPart, error);
    if (!offer.spaceOk) offer.error = error;
    offer.notes = OfferNotes(offer.size, offer.laptop, offer.otherAdapter);
}

// One question to the lookup service; true when it answered with driver attributes.
bool AskNvidia(const DriverTools& tools, const std::wstring& key, bool laptop, NvidiaAnswer& answer, std::wstring& error,
               const std::atomic<bool>& stop) {
    std::wstring build;
    ReadString(RegRoot::LocalMachine, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber", build);
    const std::wstring url = L"https://" + tools.hosts->nvidiaLookup + NvidiaLookupPath(key, OsBuildText(build), laptop);
    FetchResult result;
    if (!VendorFetch(*tools.hosts, NvidiaLookup, L"GET", url, false, 0x400000, nullptr, result, error, stop)) return false;
    error.clear();
    answer = ParseNvidiaAnswer(result.body);
    return answer.found && !answer.url.empty();
}

void LookupNvidiaDriver(const DriverTools& tools, const DisplayAdapter& adapter, GpuDriverOffer& offer, const std::atomic<bool>& stop) {
    const PciIds& ids = adapter.ids;
    if (!FourHex(ids.device) || !FourHex(ids.vendor)) {
        offer.error = L"The adapter PCI id could not be read.";
        return;
    }
    LogInfo(L"Asking NVIDIA for the current driver.");
    NvidiaAnswer answer;
    std::wstring fetchError;
    bool found = false;
    if (!ids.subsystem.empty() && !ids.subsystemVendor.empty()) {
        found = AskNvidia(tools, ids.device + L"_" + ids.vendor + L"_" + ids.subsystem + L"_" + ids.subsystemVendor, offer.laptop,
                          answer, fetchError, stop);
    }
    if (!found && !stop.load()) found = AskNvidia(tools, ids.device + L"_" + ids.vendor, offer.laptop, answer, fetchError, stop);
    if (stop.load()) return;
    if (!found) {
        offer.error = fetchError.empty() ? L"NVIDIA did not publish a package for this adapter." : fetchError;
        return;
    }
    if (!VendorAddressAllowed(*tools.hosts, NvidiaDownload, answer.url)) {
        offer.error = L"NVIDIA returned a package that is not on its download site.";
        return;
    }
    offer.found = true;
    offer.version = answer.version;
    offer.packageName = answer.name.empty() ? L"GeForce Game Ready Driver" : answer.name;
    offer.url = answer.url;
    offer.description = kNvidiaDescription;
    SizeDiskAndNotes(tools, offer, stop);
    LogInfo(L"NVIDIA published " + offer.version + L".");
}

// The AMD suite's public package names the official package and its digest in its install script.
bool LookupAmdIndex(const DriverTools& tools, std::wstring& url, std::wstring& digest, std::wstring& version,
                    std::wstring& error, const std::atomic<bool>& stop) {
    const std::wstring folder = DriverFolder();
    const std::wstring indexFile = folder + L"\\amd-index.nupkg";
    const std::wstring indexFolder = folder + L"\\amd-index";
    RemoveTree(indexFolder);
    if (!EnsureFolder(folder) || !EnsureFolder(indexFolder)) {
        error = L"Could not store the AMD version index.";
        return false;
    }
    UniqueKernelHandle file(static_cast<HANDLE>(CreateNewFile(indexFile)));
    if (!file) {
        error = L"Could not store the AMD version index.";
        return false;
    }
    FetchResult result;
    std::wstring fetchError;
    const bool fetched = VendorFetch(
        *tools.hosts, PackageIndex, L"GET", L"https://" + tools.hosts->packageGallery + L"/api/v2/package/amd-software-adrenalin-edition",
        true, 0x800000,
        [&](const uint8_t* chunk, size_t length, uint64_t, uint64_t) {
            DWORD written = 0;
            return WriteFile(file.get(), chunk, static_cast<DWORD>(length), &written, nullptr) && written == length;
        },
        result, fetchError, stop);
    file.reset();
    std::string script;
    if (fetched) {
        const InstallerRunResult unpacked =
            RunInstaller(tools.tar, L"\"" + tools.tar + L"\" -xf \"" + indexFile + L"\" -C \"" + indexFolder + L"\"", folder, 60000,
                         true, true);
        if (unpacked.started && !unpacked.timedOut && unpacked.exitCode == 0) {
            WIN32_FIND_DATAW entry{};
            HANDLE find = FindFirstFileW((indexFolder + L"\\tools\\*").c_str(), &entry);
            if (find != INVALID_HANDLE_VALUE) {
                do {
                    const std::wstring name = entry.cFileName;
                    const std::wstring suffix = L"chocolateyinstall.ps1";
                    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && name.size() >= suffix.size() &&
                        _wcsicmp(name.c_str() + name.size() - suffix.size(), suffix.c_str()) == 0 &&
                        entry.nFileSizeHigh == 0 && entry.nFileSizeLow <= 0x100000) {
                        const UniqueKernelHandle in = AdoptFileHandle(CreateFileW((indexFolder + L"\\tools\\" + name).c_str(), GENERIC_READ,
                                                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
                        script.resize(entry.nFileSizeLow);
                        DWORD read = 0;
                        if (!in || !ReadFile(in.get(), script.data(), entry.nFileSizeLow, &read, nullptr)) script.clear();
                        script.resize(read);
                        break;
                    }
                } while (FindNextFileW(find, &entry));
                FindClose(find);
            }
        }
    }
    RemoveTree(indexFolder);
    DeleteFileW(indexFile.c_str());
    if (!fetched) {
        error = fetchError.empty() ? L"The AMD driver index did not respond." : fetchError;
        return false;
    }
    if (script.empty()) {
        error = L"The AMD driver index could not be read.";
        return false;
    }
    std::string address = ScriptValue(script, "url64");
    if (address.empty()) address = ScriptValue(script, "url");
    if (address.empty()) {
        error = L"The AMD driver index did not name a package.";
        return false;
    }
    url = FromUtf8(address);
    UrlParts parts;
    if (!SplitUrl(url, parts) || parts.scheme != L"https" || !HostAllowed(*tools.hosts, AmdDownload, parts.host) ||
        url.find(L'/', 8) == std::wstring::npos) {
        error = L"The AMD index did not point at an official package.";
        return false;
    }
    digest = FromUtf8(ScriptValue(script, "checksum64"));
    version = AmdVersionFromUrl(url);
    return true;
}

void AmdOffer(const DriverTools& tools, GpuDriverOffer& offer, const std::atomic<bool>& stop) {
    LogInfo(L"Asking for the current AMD display driver.");
    std::wstring url, digest, version, error;
    if (!LookupAmdIndex(tools, url, digest, version, error, stop)) {
        if (!stop.load()) offer.error = error;
        return;
    }
    offer.found = true;
    offer.url = url;
    offer.sha256 = digest.size() == 64 ? digest : L"";
    offer.version = version;
    offer.packageName = L"AMD Software: Adrenalin Edition";
    offer.description = kAmdDescription;
    SizeDiskAndNotes(tools, offer, stop);
    LogInfo(L"AMD published " + (version.empty() ? std::wstring(L"the current package") : version) + L".");
}

}  // namespace

GpuDriverOffer FindDriverOffer(const DriverTools& tools, Feed* feed, const std::atomic<bool>& stop) {
    GpuDriverOffer offer;
    if (stop.load()) return offer;
    if (feed != nullptr) feed->Stage(L"GPU CLEAN", L"looking up the current driver");
    const OfferChoice choice = ChooseOfferAdapter(EnumerateDisplayAdapters());
    if (!choice.chosen) {
        offer.error = choice.message;
        LogInfo(choice.message);
        return offer;
    }
    SYSTEM_POWER_STATUS power{};
    offer.laptop = GetSystemPowerStatus(&power) && power.BatteryFlag != 128 && power.BatteryFlag != 255;
    const DisplayAdapter& adapter = *choice.chosen;
    offer.vendor = adapter.vendor;
    offer.adapterName = adapter.name;
    if (!adapter.driverVersion.empty()) offer.currentDriver = L"Windows driver  " + adapter.driverVersion;
    offer.otherAdapter = choice.otherAdapterName;
    if (adapter.vendor == GpuNvidia) LookupNvidiaDriver(tools, adapter, offer, stop);
    else if (adapter.vendor == GpuAmd) AmdOffer(tools, offer, stop);
    return offer;
}
