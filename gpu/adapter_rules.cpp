// The pure rules of adapter discovery: text matching, PCI id parsing and the offer choice.
#include <cwctype>

#include "foundation/text.h"
#include "gpu/adapters.h"

bool ContainsNoCase(const std::wstring& text, const wchar_t* needle) {
    if (text.empty()) return false;
    return LowerCase(text).find(LowerCase(needle)) != std::wstring::npos;
}

std::wstring FindHexToken(const std::wstring& hardwareId, const wchar_t* token, size_t count) {
    const std::wstring id = LowerCase(hardwareId);
    const std::wstring lowerToken = LowerCase(token);
    const size_t at = id.find(lowerToken);
    if (at == std::wstring::npos || id.size() - at - lowerToken.size() < count) return {};
    std::wstring digits = id.substr(at + lowerToken.size(), count);
    for (wchar_t& c : digits) {
        if (!std::iswxdigit(c)) return {};
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return digits;
}

PciIds ParsePciIds(const std::wstring& hardwareId) {
    PciIds ids;
    ids.vendor = FindHexToken(hardwareId, L"VEN_", 4);
    ids.device = FindHexToken(hardwareId, L"DEV_", 4);
    const std::wstring subsys = FindHexToken(hardwareId, L"SUBSYS_", 8);
    if (!subsys.empty()) {
        ids.subsystem = subsys.substr(0, 4);
        ids.subsystemVendor = subsys.substr(4, 4);
    }
    return ids;
}

OfferChoice ChooseOfferAdapter(const std::vector<DisplayAdapter>& inventory) {
    const auto pick = [&](int vendor) -> const DisplayAdapter* {
        const DisplayAdapter* first = nullptr;
        for (const DisplayAdapter& a : inventory) {
            if (a.vendor != vendor) continue;
            if (a.discrete) return &a;
            if (first == nullptr) first = &a;
        }
        return first;
    };
    bool hasIntel = false;
    for (const DisplayAdapter& a : inventory) hasIntel = hasIntel || a.vendor == GpuIntel;
    OfferChoice choice;
    const DisplayAdapter* nvidia = pick(GpuNvidia);
    const DisplayAdapter* amd = pick(GpuAmd);
    if (nvidia != nullptr) {
        choice.chosen = *nvidia;
        if (amd != nullptr) choice.otherAdapterName = amd->name;
    } else if (amd != nullptr) {
        choice.chosen = *amd;
    } else {
        choice.message = hasIntel ? L"Intel graphics stay on the current driver." : L"No NVIDIA or AMD display adapter was found.";
    }
    return choice;
}

int VendorOfPciId(const std::wstring& vendorId) {
    if (vendorId == L"10DE") return GpuNvidia;
    if (vendorId == L"1002") return GpuAmd;
    if (vendorId == L"8086") return GpuIntel;
    return GpuAny;
}

bool ContainsAnyNoCase(const std::wstring& text, std::initializer_list<const wchar_t*> needles) {
    for (const wchar_t* needle : needles) {
        if (ContainsNoCase(text, needle)) return true;
    }
    return false;
}

bool AdapterTextMatchesVendor(const std::wstring& vendorId, const std::wstring& provider, const std::wstring& desc,
                              int vendor) {
    // The PCI vendor id is a fact; the name rules are a guess ("Intel Corporation" contains
    // "ati"), used only when no id could be read.
    const int byId = VendorOfPciId(vendorId);
    if (byId != GpuAny) return vendor == GpuAny || byId == vendor;
    if (vendor == GpuNvidia) {
        return ContainsNoCase(provider, L"NVIDIA") || ContainsAnyNoCase(desc, {L"NVIDIA", L"GeForce", L"RTX", L"GTX", L"Quadro"});
    }
    if (vendor == GpuAmd) {
        return ContainsNoCase(provider, L"AMD") || ContainsNoCase(provider, L"ATI") ||
               ContainsAnyNoCase(desc, {L"AMD", L"Radeon", L"Ryzen Graphics"});
    }
    if (vendor == GpuIntel) return ContainsAnyNoCase(desc, {L"Intel", L"Arc", L"UHD", L"Iris"});
    return true;
}

GpuProbeView SummariseGpu(const std::vector<AdapterEntry>& entries, bool hagsOn, bool tweaksApplied) {
    GpuProbeView view;
    view.hagsOn = hagsOn;
    view.tweaksApplied = tweaksApplied;
    std::wstring list;
    for (const AdapterEntry& e : entries) {
        view.hasNvidia = view.hasNvidia || AdapterTextMatchesVendor(e.vendorId, e.provider, e.desc, GpuNvidia);
        view.hasAmd = view.hasAmd || AdapterTextMatchesVendor(e.vendorId, e.provider, e.desc, GpuAmd);
        view.hasIntel = view.hasIntel || AdapterTextMatchesVendor(e.vendorId, e.provider, e.desc, GpuIntel);
        if (view.name.empty()) view.name = e.desc;
        if (!list.empty()) list += L" + ";
        list += e.desc;
    }
    if (view.name.empty()) view.name = L"no display adapter found";
    view.summary = list.empty() ? L"no PCI display adapters enumerated" : list;
    view.summary += view.hagsOn ? L"  \u00B7  HAGS on" : L"  \u00B7  HAGS off";
    if (view.hasNvidia) view.summary += L"  \u00B7  NVIDIA";
    if (view.hasAmd) view.summary += L"  \u00B7  AMD";
    if (view.hasIntel) view.summary += L"  \u00B7  Intel";
    return view;
}
