// The trimmed install: NVIDIA's own setup with the display driver and PhysX only, or AMD's display
// driver INF through pnputil without the suite. Also the 7-Zip bootstrap both need.
#include <windows.h>

#include <algorithm>

#include "driver/driver_clean.h"
#include "driver/driver_text.h"
#include "driver/pinned_program.h"
#include "driver/vendor_fetch.h"
#include "foundation/feed.h"
#include "foundation/files.h"
#include "foundation/installer.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

bool Cancelled(Feed* feed) { return feed != nullptr && feed->CancelQuery(); }

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
    const size_t n = wcslen(suffix);
    return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, suffix) == 0;
}

std::string ReadSmallFile(const std::wstring& path, size_t limit) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes(limit, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(limit), &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
}

// Files below the folder whose names end with one of the suffixes, never entering links or
// skipped folders, at most `depth` levels down.
void FindFiles(const std::wstring& folder, const std::vector<const wchar_t*>& suffixes, int depth, bool skipSideDrivers,
               std::vector<std::wstring>& found, size_t limit) {
    if (depth < 0 || found.size() >= limit) return;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> folders;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!skipSideDrivers || !InfDirectorySkipped(name)) folders.push_back(folder + L"\\" + name);
            continue;
        }
        for (const wchar_t* suffix : suffixes) {
            if (EndsWithNoCase(name, suffix) && found.size() < limit) found.push_back(folder + L"\\" + name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(folders.begin(), folders.end());
    for (const std::wstring& child : folders) FindFiles(child, suffixes, depth - 1, skipSideDrivers, found, limit);
}

Outcome Fail(GpuDriverOffer& offer, const std::wstring& text) {
    offer.error = text;
    LogError(text);
    return Outcome::Failed(text);
}

Outcome InstallNvidia(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer, const std::wstring& folder) {
    std::wstring error;
    const std::wstring sevenZip = EnsureSevenZip(tools, feed, error);
    if (sevenZip.empty()) {
        return Fail(offer, error.empty() ? L"7-Zip could not be installed, so the NVIDIA package cannot be trimmed." : error);
    }
    const std::wstring unpack = folder + L"\\nvidia-unpack";
    if (!CreateFreshFolder(unpack, error)) return Fail(offer, error);
    LogInfo(L"Unpacking the NVIDIA package.");
    const InstallerRunResult unpacked = RunInstaller(
        sevenZip, L"\"" + sevenZip + L"\" x -y -o\"" + unpack + L"\" \"" + offer.localPath + L"\"", folder, 1200000, true, true);
    const std::wstring setup = unpack + L"\\setup.exe";
    if (!unpacked.started || unpacked.timedOut || unpacked.exitCode > 1 || !FileExists(setup)) {
        RemoveTree(unpack);
        return Fail(offer, L"The NVIDIA package could not be unpacked.");
    }
    // What runs is what was checked: the unpacked setup is held from its signature check until it
    // has run.
    HeldFile held(setup);
    std::wstring signatureError;
    if (!tools.verifySignature(held, kNvidiaPublisher, signatureError)) {
        held.Release();
        RemoveTree(unpack);
        return Fail(offer, L"The unpacked NVIDIA setup is not signed by NVIDIA, so it was not run. " + signatureError);
    }
    if (feed != nullptr) feed->Progress(0.4, 0, 0);
    LogInfo(L"NVIDIA setup, display driver and PhysX only.");
    const std::wstring log = folder + L"\\nvidia-setup.log";
    DeleteFileW(log.c_str());
    const InstallerRunResult run = RunInstaller(
        setup, L"\"" + setup + L"\" -s -n Display.Driver Display.PhysX -log:\"" + log + L"\" -loglevel:6", unpack, 1500000, false, false);
    held.Release();
    if (!run.started) {
        RemoveTree(unpack);
        return Fail(offer, FormatText(L"NVIDIA setup did not start (%lu).", static_cast<unsigned long>(run.startError)));
    }
    if (run.timedOut) return Fail(offer, L"NVIDIA setup is still running after 25 minutes. It was left running.");
    RemoveTree(unpack);
    if (!DriverSetupSucceeded(run.exitCode)) {
        return Fail(offer, L"NVIDIA setup failed (" + CodeText(run.exitCode) + L"). The NVIDIA App was not installed. The setup log is " +
                               log + L".");
    }
    if (feed != nullptr) feed->Progress(1.0, 0, 0);
    LogInfo(L"NVIDIA setup finished (" + CodeText(run.exitCode) + L"). Restart to finish the driver.");
    offer.error.clear();
    return Outcome::Done();
}

Outcome InstallAmd(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer, const std::wstring& folder) {
    const std::wstring& package = offer.localPath;
    std::wstring error;
    const std::wstring sevenZip = EnsureSevenZip(tools, feed, error);
    if (sevenZip.empty()) {
        return Fail(offer, error.empty() ? L"7-Zip could not be installed, so the AMD package was not opened. It is saved at " + package + L"."
                                         : error + L" The package is saved at " + package + L".");
    }
    const std::wstring unpack = folder + L"\\amd-unpack";
    if (!CreateFreshFolder(unpack, error)) return Fail(offer, error + L" The package is saved at " + package + L".");
    LogInfo(L"Unpacking the AMD package. The Adrenalin installer is not run.");
    const InstallerRunResult unpacked =
        RunInstaller(sevenZip, L"\"" + sevenZip + L"\" x -y -o\"" + unpack + L"\" \"" + package + L"\"", folder, 900000, true, true);
    if (!unpacked.started || unpacked.timedOut || unpacked.exitCode > 1) {
        RemoveTree(unpack);
        return Fail(offer, L"The AMD package could not be unpacked. It is saved at " + package + L". Run it and choose Driver Only.");
    }
    std::vector<std::wstring> archives;
    FindFiles(unpack, {L".zip", L".7z"}, 64, false, archives, 3);
    for (size_t i = 0; i < archives.size(); ++i) {
        const std::wstring inner = unpack + FormatText(L"\\inner%zu", i);
        if (archives[i].find(L'"') != std::wstring::npos) continue;
        RunInstaller(sevenZip, L"\"" + sevenZip + L"\" x -y -o\"" + inner + L"\" \"" + archives[i] + L"\"", folder, 900000, true, true);
    }
    std::vector<std::wstring> infs, display;
    FindFiles(unpack, {L".inf"}, 6, true, infs, 4096);
    for (const std::wstring& inf : infs) {
        if (inf.find(L'"') == std::wstring::npos && InfNamesAmdDisplayDriver(ReadSmallFile(inf, 0x400000))) display.push_back(inf);
    }
    const std::vector<std::wstring> candidates = InfCandidates(display);
    if (candidates.empty()) {
        RemoveTree(unpack);
        return Fail(offer, L"The AMD package unpacked, but no display driver was inside. The package is saved at " + package + L".");
    }
    int installed = 0;
    uint32_t lastCode = 0;
    for (size_t i = 0; i < candidates.size() && i < 4; ++i) {
        const std::wstring& inf = candidates[i];
        LogInfo(L"Installing display driver " + inf.substr(inf.find_last_of(L'\\') + 1) + L".");
        const InstallerRunResult run =
            RunInstaller(tools.pnputil, L"\"" + tools.pnputil + L"\" /add-driver \"" + inf + L"\" /install", folder, 600000, false, true);
        if (run.timedOut) {
            RemoveTree(unpack);
            return Fail(offer, L"The display-driver install is still running. It was left running.");
        }
        lastCode = run.exitCode;
        if (run.started && (run.exitCode == 0 || run.exitCode == 3010)) ++installed;
        if (feed != nullptr) feed->Progress(static_cast<double>(i + 1) / static_cast<double>(std::min<size_t>(candidates.size(), 4)), 0, 0);
    }
    RemoveTree(unpack);
    if (installed == 0) return Fail(offer, L"The AMD display driver did not install (" + CodeText(lastCode) + L").");
    LogInfo(L"AMD display driver installed. Restart to finish it. Adrenalin was not installed.");
    offer.error.clear();
    return Outcome::Done();
}

}  // namespace

std::wstring FindSevenZip(const DriverTools& tools) {
    for (const std::wstring& path : tools.sevenZipPaths) {
        if (FileExists(path)) return path;
    }
    return {};
}

std::wstring EnsureSevenZip(const DriverTools& tools, Feed* feed, std::wstring& error) {
    error.clear();
    std::wstring found = FindSevenZip(tools);
    if (!found.empty()) return found;
    if (Cancelled(feed)) {
        error = L"Stopped.";
        return {};
    }
    if (feed != nullptr) feed->Stage(L"GPU CLEAN", L"installing 7-Zip");
    LogInfo(L"7-Zip is not installed. Downloading the official 7-Zip installer.");
    const std::wstring folder = DriverFolder();
    const std::wstring& source = tools.hosts->sevenZipInstaller;
    const std::wstring installer = folder + L"\\" + source.substr(source.find_last_of(L'/') + 1);
    // The 7-Zip project does not sign its installers: only the published digest says this is
    // their file, and a signature that is there must still hold.
    PinnedProgram pin;
    pin.kind = SevenZip;
    pin.url = L"https://" + tools.hosts->sevenZipWeb + source;
    pin.sha256 = tools.hosts->sevenZipSha256;
    pin.what = L"The 7-Zip installer";
    HeldFile held;
    const std::atomic<bool> never{false};
    if (!FetchPinnedProgram(tools, pin, installer, feed, never, held, error)) return {};
    LogInfo(L"Installing 7-Zip.");
    const InstallerRunResult run = RunInstaller(installer, L"\"" + installer + L"\" /S", folder, 300000, true, true);
    held.Release();
    DeleteFileW(installer.c_str());
    if (!run.started) {
        error = L"The 7-Zip installer did not start.";
        return {};
    }
    if (run.timedOut || run.exitCode != 0) {
        error = L"7-Zip did not install (" + CodeText(run.timedOut ? 1 : run.exitCode) + L").";
        return {};
    }
    found = FindSevenZip(tools);
    if (found.empty()) {
        error = L"7-Zip installed, but 7z.exe was not found.";
        return {};
    }
    LogInfo(L"7-Zip is installed.");
    return found;
}

Outcome InstallGpuDriver(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer) {
    const std::wstring folder = DriverFolder();
    const std::wstring& package = offer.localPath;
    // Compared as full paths, so "..\" or a second spelling cannot lead outside the driver folder.
    const auto fullPath = [](const std::wstring& path) {
        wchar_t buffer[MAX_PATH * 2] = {};
        const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
        return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
    };
    const std::wstring fullPackage = fullPath(package), fullFolder = fullPath(folder) + L"\\";
    const bool inside = !package.empty() && package.find(L'"') == std::wstring::npos && fullPackage.size() > fullFolder.size() &&
                        SamePath(fullPackage.substr(0, fullFolder.size()), fullFolder);
    HeldFile held(inside ? package : std::wstring());
    if (!inside || !held.Held() || held.Kind() == ExecutableKind::NotExecutable) return Fail(offer, L"There is no downloaded package to install.");
    if (feed != nullptr) {
        feed->Stage(L"GPU CLEAN", L"installing the trimmed driver");
        feed->Explanation(L"Installing", L"The display may flicker. This can take several minutes.");
    }
    // Held from the check below until it has been unpacked: what is checked is what is opened.
    if (offer.vendor == GpuNvidia) {
        std::wstring signatureError;
        if (!tools.verifySignature(held, kNvidiaPublisher, signatureError)) {
            held.Release();
            DeleteFileW(package.c_str());
            return Fail(offer, L"The package is not signed by NVIDIA, so it was deleted. " + signatureError);
        }
        return InstallNvidia(tools, feed, offer, folder);
    }
    if (offer.vendor == GpuAmd) {
        std::wstring signatureError;
        if (!tools.verifySignature(held, kAmdPublisher, signatureError)) {
            held.Release();
            DeleteFileW(package.c_str());
            return Fail(offer, L"The package is not signed by AMD, so it was deleted. " + signatureError);
        }
        if (!offer.sha256.empty() && !SameDigest(held.Sha256(), offer.sha256)) {
            held.Release();
            DeleteFileW(package.c_str());
            return Fail(offer, L"The AMD package hash did not match the published hash.");
        }
        return InstallAmd(tools, feed, offer, folder);
    }
    return Fail(offer, L"There is no downloaded package to install.");
}
