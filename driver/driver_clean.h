#pragma once
// GPU Clean: find the driver the vendor publishes for this machine, download and verify it, and
// install only the display driver from it. Nothing is installed until InstallGpuDriver.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/driver_offer.h"
#include "driver/vendor_hosts.h"
#include "foundation/files.h"
#include "foundation/outcome.h"

class Feed;

// Whether a held program carries a valid signature from the expected publisher. With no publisher
// named, an unsigned program passes and a signed one must carry a valid signature (of anyone).
using SignatureCheck = std::function<bool(const HeldFile& file, const std::wstring& publisher, std::wstring& error)>;
// The real check: WinVerifyTrust through the held handle with revocation checking (the cached
// state when offline), then the signer's subject name.
bool VerifyPublisherSignature(const HeldFile& file, const std::wstring& publisher, std::wstring& error);
// Whether the program carries no signature at all (as releases from before a publisher signed).
bool CarriesNoSignature(const HeldFile& file);

// Everything GPU Clean reaches outside the program. The product's is fixed (real vendor hosts,
// the system's own tools, 7-Zip under Program Files, the real signature check); tests pass theirs.
struct DriverTools {
    const VendorHosts* hosts = nullptr;
    std::wstring tar;
    std::wstring pnputil;
    std::vector<std::wstring> sevenZipPaths;  // where an installed 7z.exe may be, in order
    SignatureCheck verifySignature;
};
const DriverTools& ProductDriverTools();

inline constexpr const wchar_t* kNvidiaPublisher = L"NVIDIA Corporation";
// AMD's code-signing certificate names "Advanced Micro Devices"; older ones add ", Inc.".
inline constexpr const wchar_t* kAmdPublisher = L"Advanced Micro Devices";
// PresentMon's releases have been signed since 2024.
inline constexpr const wchar_t* kIntelPublisher = L"Intel Corporation";

// The offer for this machine's adapter; an empty offer when stopped first.
GpuDriverOffer FindDriverOffer(const DriverTools& tools, Feed* feed, const std::atomic<bool>& stop);

// Done when downloaded (or reused); Failed says why (offer.error too); Stopped when stopped first.
Outcome DownloadGpuDriver(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer, const std::atomic<bool>& stop);

std::wstring FindSevenZip(const DriverTools& tools);
// The 7-Zip path, installing 7-Zip first when needed; empty on failure with the error.
std::wstring EnsureSevenZip(const DriverTools& tools, Feed* feed, std::wstring& error);
// Done when installed; Failed says why (offer.error too), and is in the log.
Outcome InstallGpuDriver(const DriverTools& tools, Feed* feed, GpuDriverOffer& offer);
