// The package download: into the driver folder through a partial file, hashed on the way,
// checked for the AMD digest, the executable header, its size and (NVIDIA) its signature.
#include <windows.h>

#include <chrono>

#include "driver/driver_clean.h"
#include "driver/driver_text.h"
#include "driver/vendor_fetch.h"
#include "foundation/chunk_writer.h"
#include "foundation/feed.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/sha256.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

constexpr uint64_t kSmallestPackage = 0x1FFFFFF;  // an installer package is larger than this

bool Cancelled(Feed* feed, const std::atomic<bool>& stop) { return stop.load() || (feed != nullptr && feed->CancelQuery()); }

Outcome Fail(GpuDriverOffer& offer, const std::wstring& text) {
    offer.error = text;
    return Outcome::Failed(text);
}

}  // namespace

Outcome DownloadGpuDriver(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer, const std::atomic<bool>& stop) {
    if (Cancelled(feed, stop)) return Outcome::Stopped();
    if (!offer.found || offer.url.empty() || !offer.spaceOk) return Fail(offer, L"There is no package to download.");
    const bool amd = offer.vendor == GpuAmd;
    const wchar_t* const publisher = amd ? kAmdPublisher : kNvidiaPublisher;
    if (!VendorAddressAllowed(*tools.hosts, amd ? AmdDownload : NvidiaDownload, offer.url)) {
        return Fail(offer, L"The package address is not on the vendor site.");
    }
    const std::wstring folder = DriverFolder();
    if (folder.find(L'"') != std::wstring::npos || !EnsureFolder(folder)) return Fail(offer, L"The driver folder path is not usable.");
    const std::wstring package = folder + L"\\" + PackageFileName(offer.url);
    if (package.find(L'"') != std::wstring::npos) return Fail(offer, L"The package name is not usable.");
    // A package already on disk is used again only when it checks out now, through a handle that
    // keeps it from changing: the vendor's signature, and AMD's published digest when there is one.
    if (FileExists(package)) {
        const HeldFile held(package);
        uint64_t existing = 0;
        std::wstring ignored;
        const bool whole = held.Held() && held.Size(existing) && existing > kSmallestPackage && (offer.size == 0 || existing == offer.size) &&
                           held.Kind() != ExecutableKind::NotExecutable;
        const bool checked = whole && tools.verifySignature(held, publisher, ignored) &&
                             (offer.sha256.empty() || SameDigest(held.Sha256(), offer.sha256));
        if (checked) {
            offer.localPath = package;
            offer.size = existing;
            offer.error.clear();
            LogInfo(L"Using the package already downloaded.");
            if (feed != nullptr) feed->Progress(1.0, 0, 0);
            return Outcome::Done();
        }
    }
    const std::wstring partial = package + L".partial";
    // Made new: a partial file someone left there is never the one that becomes the package.
    UniqueKernelHandle file(static_cast<HANDLE>(CreateNewFile(partial)));
    if (!file) return Fail(offer, L"Could not create the download file.");

    Sha256Hasher hasher;
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    if (feed != nullptr) feed->Stage(L"GPU CLEAN", L"downloading the driver package");
    LogInfo(L"Downloading " + (offer.packageName.empty() ? std::wstring(L"the driver") : offer.packageName) +
            (offer.version.empty() ? L"" : L" " + offer.version) + L".");
    if (feed != nullptr) feed->Progress(0, 0, 0);
    FetchResult result;
    std::wstring fetchError;
    const uint64_t offered = offer.size;
    ChunkWriter writer(file.get(), &hasher);
    bool fetched = VendorFetch(
        *tools.hosts, amd ? AmdDownload : NvidiaDownload, L"GET", offer.url, amd, 0xFC000000ull,
        [&](const uint8_t* chunk, size_t length, uint64_t received, uint64_t contentLength) {
            if (stop.load()) return false;
            if (!writer.Push(chunk, length)) return false;
            if (feed != nullptr) {
                const uint64_t total = contentLength != 0 ? contentLength : offered;
                const double seconds = elapsed();
                if (total == 0) {
                    feed->Progress(0, seconds, 0);
                } else {
                    const double f = std::min(1.0, static_cast<double>(received) / static_cast<double>(total));
                    feed->Progress(f, seconds, f > 0.02 ? (1 - f) * seconds / f : 0);
                }
            }
            return true;
        },
        result, fetchError, stop);
    // The last chunks may still be on their way to the disk; a failed write fails the download.
    if (!writer.Finish() && fetched) {
        fetched = false;
        fetchError = L"Could not save the download.";
    }
    file.reset();
    if (!fetched) {
        DeleteFileW(partial.c_str());
        if (Cancelled(feed, stop) || result.stopped()) return Outcome::Stopped();
        return Fail(offer, fetchError.empty() ? L"The download failed." : fetchError);
    }
    if (!offer.sha256.empty()) {
        const std::wstring digest = hasher.Finish();
        if (digest.empty()) {
            DeleteFileW(partial.c_str());
            return Fail(offer, L"Could not hash the package.");
        }
        if (!SameDigest(digest, offer.sha256)) {
            DeleteFileW(partial.c_str());
            return Fail(offer, L"The AMD package hash did not match the published hash.");
        }
    }
    if (!MoveFileExW(partial.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(partial.c_str());
        return Fail(offer, L"Could not finish saving the package.");
    }
    HeldFile held(package);
    uint64_t size = 0;
    if (!held.Held() || !held.Size(size)) return Fail(offer, L"The package did not save.");
    if (size <= kSmallestPackage || held.Kind() == ExecutableKind::NotExecutable) {
        held.Release();
        DeleteFileW(package.c_str());
        return Fail(offer, L"The download was not an installer package.");
    }
    // What is unpacked and installed elevated comes from the vendor: only a package it signed is kept.
    std::wstring signatureError;
    if (!tools.verifySignature(held, publisher, signatureError)) {
        held.Release();
        DeleteFileW(package.c_str());
        return Fail(offer, std::wstring(L"The package is not signed by ") + (amd ? L"AMD" : L"NVIDIA") + L", so it was deleted. " +
                               signatureError);
    }
    offer.localPath = package;
    offer.size = size;
    offer.error.clear();
    if (feed != nullptr) feed->Progress(1.0, elapsed(), 0);
    LogInfo(L"Download complete.");
    return Outcome::Done();
}
