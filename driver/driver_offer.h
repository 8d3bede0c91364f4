#pragma once
// The graphics driver the vendor publishes for this machine, as the GPU Clean step offers it.
#include <cstdint>
#include <string>

#include "gpu/adapters.h"

struct GpuDriverOffer {
    int vendor = GpuAny;  // GpuNvidia or GpuAmd once an adapter was chosen
    bool found = false;   // a package was published and its address passed the checks
    bool spaceOk = false;
    bool laptop = false;
    std::wstring adapterName;
    std::wstring currentDriver;  // "Windows driver  " and the installed version, or empty
    std::wstring version;
    std::wstring packageName;
    std::wstring url;
    std::wstring sha256;  // AMD only
    std::wstring description;
    std::wstring notes;
    std::wstring otherAdapter;
    std::wstring localPath;  // the downloaded package
    std::wstring error;
    uint64_t size = 0;  // bytes; 0 when the vendor did not state it

    // The package can be fetched from here: published, on the vendor's site and with room on the disk.
    bool Downloadable() const { return found && spaceOk && (vendor == GpuNvidia || vendor == GpuAmd); }
};

// "123 MB" below a gibibyte, "1.2 GB" from there on.
std::wstring FormatSize(uint64_t bytes);
