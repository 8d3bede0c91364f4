#pragma once
// The 32 graphics settings of the GPU Config step, read by one loop in catalogue order.
#include <cstdint>
#include <span>

#include "gpu/adapters.h"

enum class GpuTweakKind { Registry = 0, DriverProfile = 1, Service = 2 };

struct GpuTweak {
    const wchar_t* alias;
    const wchar_t* title;
    const wchar_t* description;
    const wchar_t* detail;
    int vendor;  // GpuVendor
    uint32_t pause;
    GpuTweakKind kind;
    const wchar_t* keyPath;    // Registry rows not written per adapter
    const wchar_t* valueName;  // Registry rows
    uint32_t value;
    uint32_t settingId;        // DriverProfile rows
    const wchar_t* serviceName;  // Service rows
    bool perAdapter;
};

std::span<const GpuTweak> GpuCatalogue();
