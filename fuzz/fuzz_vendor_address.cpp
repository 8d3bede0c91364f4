// Addresses from vendor answers, redirects and update lists: splitting and host matching.
#include "fuzz_common.h"
#include "driver/vendor_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring url = AsWide(data, size);
    UrlParts parts;
    if (SplitUrl(url, parts) && (parts.host.empty() || parts.host.size() > 256 || parts.path.empty() || parts.path[0] != L'/')) {
        __builtin_trap();
    }
    for (int kind = -1; kind <= kVendorHostKinds; ++kind) VendorAddressAllowed(ProductVendorHosts(), kind, url);
    return 0;
}
