#include "gpu/adapters.h"

#include <windows.h>

#include <cwchar>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

// A string value read into a zeroed buffer of the given size in bytes; one that does not fit
// reads as absent, like a missing one.
bool ReadSz(const std::wstring& key, const wchar_t* name, size_t bytes, std::wstring& out) {
    std::wstring buffer(bytes / sizeof(wchar_t), L'\0');
    DWORD size = static_cast<DWORD>(bytes);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    out = buffer.c_str();
    return true;
}

std::wstring AdapterKey(int index) { return FormatText(L"%ls\\%04d", kDisplayClassKey, index); }

int ClassifyVendor(const PciIds& ids, const std::wstring& vendorText) {
    // A known vendor id decides before any name rule: "Intel Corporation" contains "ati".
    const int byId = VendorOfPciId(ids.vendor);
    if (byId != GpuAny) return byId;
    if (ContainsAnyNoCase(vendorText, {L"NVIDIA", L"GeForce", L"Quadro"})) return GpuNvidia;
    if (ContainsAnyNoCase(vendorText, {L"AMD", L"Radeon", L"ATI"})) return GpuAmd;
    if (ContainsAnyNoCase(vendorText, {L"Intel", L"Arc"})) return GpuIntel;
    return GpuAny;
}

bool IsHexDigits(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (!iswxdigit(c)) return false;
    }
    return true;
}

std::wstring AdapterVendorId(const std::wstring& keyPath) {
    std::wstring hardwareId;
    return ReadSz(keyPath, L"MatchingDeviceId", 512, hardwareId) ? ParsePciIds(hardwareId).vendor : std::wstring();
}

}  // namespace

bool AdapterMatchesVendor(const std::wstring& keyPath, int vendor) {
    if (vendor != GpuNvidia && vendor != GpuAmd) return true;
    std::wstring provider, desc;
    ReadSz(keyPath, L"ProviderName", 512, provider);
    ReadSz(keyPath, L"DriverDesc", 512, desc);
    return AdapterTextMatchesVendor(AdapterVendorId(keyPath), provider, desc, vendor);
}

std::vector<std::wstring> AdapterKeysForVendor(int vendor) {
    std::vector<std::wstring> keys;
    for (int index = 0; index < 32; ++index) {
        const std::wstring key = AdapterKey(index);
        std::wstring desc;
        if (ReadSz(key, L"DriverDesc", 512, desc) && AdapterMatchesVendor(key, vendor)) keys.push_back(key);
    }
    return keys;
}

GpuProbeView ProbeGpu() {
    uint32_t value = 0;
    const bool tweaksApplied = ReadStateDword(L"GpuApplied", value) && value != 0;
    const bool hagsOn = ReadDword(L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers", L"HwSchMode", value) && value == 2;
    std::vector<AdapterEntry> entries;
    for (int index = 0; index < 32; ++index) {
        const std::wstring key = AdapterKey(index);
        AdapterEntry entry;
        if (!ReadSz(key, L"DriverDesc", 512, entry.desc)) continue;
        ReadSz(key, L"ProviderName", 512, entry.provider);
        entry.vendorId = AdapterVendorId(key);
        entries.push_back(std::move(entry));
    }
    return SummariseGpu(entries, hagsOn, tweaksApplied);
}

void PrintGpuProbe(const GpuProbeView& view) {
    LogInfo(FormatText(L"GPU: %ls", view.name.c_str()));
    LogInfo(FormatText(L"  %ls", view.summary.c_str()));
}

void FillSubsystemFromPciEnum(PciIds& ids, const wchar_t* serviceName) {
    if (ids.device.size() != 4 || ids.vendor.size() != 4 || serviceName == nullptr) return;
    if (ids.subsystem.size() == 4 && ids.subsystemVendor.size() == 4) return;
    UniqueKey pci;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\PCI", 0, KEY_READ, pci.put()) != ERROR_SUCCESS) {
        return;
    }
    const std::wstring prefix = L"VEN_" + ids.vendor + L"&DEV_" + ids.device + L"&SUBSYS_";
    std::wstring candidate;
    for (DWORD index = 0;; ++index) {
        wchar_t name[257] = {};
        DWORD length = 257;
        if (RegEnumKeyExW(pci.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring upper = name;
        for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
        const size_t at = upper.find(prefix);
        if (at == std::wstring::npos || upper.size() - at - prefix.size() < 8) continue;
        const std::wstring digits = upper.substr(at + prefix.size(), 8);
        if (!IsHexDigits(digits)) continue;
        UniqueKey device;
        if (RegOpenKeyExW(pci.get(), name, 0, KEY_READ, device.put()) != ERROR_SUCCESS) continue;
        for (DWORD instance = 0;; ++instance) {
            wchar_t instanceName[257] = {};
            DWORD instanceLength = 257;
            if (RegEnumKeyExW(device.get(), instance, instanceName, &instanceLength, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            wchar_t service[64] = {};
            DWORD size = sizeof(service);
            if (RegGetValueW(device.get(), instanceName, L"Service", RRF_RT_REG_SZ, nullptr, service, &size) ==
                    ERROR_SUCCESS &&
                _wcsicmp(service, serviceName) == 0) {
                ids.subsystem = digits.substr(0, 4);
                ids.subsystemVendor = digits.substr(4, 4);
                return;
            }
        }
        if (candidate.empty()) candidate = digits;
    }
    if (!candidate.empty()) {
        ids.subsystem = candidate.substr(0, 4);
        ids.subsystemVendor = candidate.substr(4, 4);
    }
}

std::vector<DisplayAdapter> EnumerateDisplayAdapters() {
    std::vector<DisplayAdapter> inventory;
    for (int index = 0; index < 32; ++index) {
        const std::wstring key = AdapterKey(index);
        DisplayAdapter adapter;
        if (!ReadSz(key, L"DriverDesc", 512, adapter.name)) continue;
        if (ContainsNoCase(adapter.name, L"Microsoft Basic")) continue;
        ReadSz(key, L"DriverVersion", 128, adapter.driverVersion);
        std::wstring hardwareId;
        if (ReadSz(key, L"MatchingDeviceId", 512, hardwareId)) adapter.ids = ParsePciIds(hardwareId);
        std::wstring provider;
        ReadSz(key, L"ProviderName", 256, provider);
        adapter.vendor = ClassifyVendor(adapter.ids, adapter.name + L" " + provider);
        if (adapter.vendor == GpuAny) continue;
        const std::wstring& n = adapter.name;
        if (adapter.vendor == GpuNvidia) {
            adapter.discrete = ContainsAnyNoCase(n, {L"GeForce", L"RTX", L"GTX", L"Quadro", L"Tesla"});
            FillSubsystemFromPciEnum(adapter.ids, L"nvlddmkm");
        } else if (adapter.vendor == GpuAmd) {
            const bool integrated = ContainsNoCase(n, L"Ryzen") || (ContainsNoCase(n, L"Graphics") && !ContainsNoCase(n, L"RX"));
            adapter.discrete = !integrated && ContainsAnyNoCase(n, {L"RX", L"Radeon Pro", L"VII", L"Instinct", L"FirePro"});
            FillSubsystemFromPciEnum(adapter.ids, L"amdkmdag");
        }
        inventory.push_back(adapter);
    }
    return inventory;
}
