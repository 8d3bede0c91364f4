// The display-class registry strings: MatchingDeviceId, DriverDesc and ProviderName, split out of
// one input at its first two line feeds.
#include <cstdlib>

#include "fuzz_common.h"
#include "gpu/adapters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text = AsWide(data, size);
    const size_t first = text.find(L'\n');
    const size_t second = first == std::wstring::npos ? std::wstring::npos : text.find(L'\n', first + 1);
    const std::wstring id = text.substr(0, first);
    const std::wstring desc = first == std::wstring::npos ? L"" : text.substr(first + 1, second - first - 1);
    const std::wstring provider = second == std::wstring::npos ? L"" : text.substr(second + 1);
    const PciIds ids = ParsePciIds(id);
    // Every id field is empty or exactly its width of upper-case hex digits.
    for (const std::wstring* field : {&ids.vendor, &ids.device, &ids.subsystem, &ids.subsystemVendor}) {
        for (const wchar_t c : *field) {
            if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) std::abort();
        }
    }
    if (!ids.vendor.empty() && ids.vendor.size() != 4) std::abort();
    const GpuProbeView view = SummariseGpu({{desc, provider, ids.vendor}, {provider, desc, L""}}, true, false);
    if (view.name.empty() || view.summary.empty()) std::abort();
    DisplayAdapter adapter{desc, L"", ids, VendorOfPciId(ids.vendor), false};
    ChooseOfferAdapter({adapter});
    return 0;
}
