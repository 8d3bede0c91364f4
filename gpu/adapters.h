#pragma once
// What the machine's graphics hardware is, read straight from the display-adapter class key.
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

enum GpuVendor : int { GpuAny = 0, GpuNvidia = 1, GpuAmd = 2, GpuIntel = 3 };

inline constexpr const wchar_t* kDisplayClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}";

struct GpuProbeView {
    bool hasNvidia = false;
    bool hasAmd = false;
    bool hasIntel = false;
    bool hagsOn = false;
    bool tweaksApplied = false;
    std::wstring name;
    std::wstring summary;
};

struct PciIds {
    std::wstring device;
    std::wstring vendor;
    std::wstring subsystem;
    std::wstring subsystemVendor;
};

struct DisplayAdapter {
    std::wstring name;
    std::wstring driverVersion;
    PciIds ids;
    int vendor = GpuAny;
    bool discrete = false;
};

struct OfferChoice {
    std::optional<DisplayAdapter> chosen;
    std::wstring otherAdapterName;
    std::wstring message;  // why nothing was chosen
};

// Case-insensitive substring test; an empty text never matches.
bool ContainsNoCase(const std::wstring& text, const wchar_t* needle);
bool ContainsAnyNoCase(const std::wstring& text, std::initializer_list<const wchar_t*> needles);
// The count hex digits right after the token (case-insensitive), upper-cased; empty when absent.
std::wstring FindHexToken(const std::wstring& hardwareId, const wchar_t* token, size_t count);
PciIds ParsePciIds(const std::wstring& hardwareId);
OfferChoice ChooseOfferAdapter(const std::vector<DisplayAdapter>& inventory);
// GpuNvidia, GpuAmd or GpuIntel for their PCI vendor ids (10DE, 1002, 8086), else GpuAny.
int VendorOfPciId(const std::wstring& vendorId);
// Whether an adapter with this vendor id, provider name and description belongs to the vendor.
// A known vendor id decides alone; the name rules apply only without one.
bool AdapterTextMatchesVendor(const std::wstring& vendorId, const std::wstring& provider, const std::wstring& desc,
                              int vendor);

// One display-class entry as read from the registry, in key order.
struct AdapterEntry {
    std::wstring desc;
    std::wstring provider;
    std::wstring vendorId;  // from MatchingDeviceId; empty when unreadable
};
// The GPU line of the status and health screens: the first adapter's name, every adapter joined,
// HAGS, and which vendors are present.
GpuProbeView SummariseGpu(const std::vector<AdapterEntry>& entries, bool hagsOn, bool tweaksApplied);

bool AdapterMatchesVendor(const std::wstring& keyPath, int vendor);
std::vector<std::wstring> AdapterKeysForVendor(int vendor);
GpuProbeView ProbeGpu();
void PrintGpuProbe(const GpuProbeView& view);
std::vector<DisplayAdapter> EnumerateDisplayAdapters();
void FillSubsystemFromPciEnum(PciIds& ids, const wchar_t* serviceName);
