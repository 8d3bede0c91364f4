// Package file names from addresses and INF files found in unpacked packages.
#include <vector>

#include "fuzz_common.h"
#include "driver/driver_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text = AsWide(data, size);
    const std::wstring name = PackageFileName(text);
    if (name.empty() || name.find(L'\\') != std::wstring::npos || name.find(L"..") != std::wstring::npos) __builtin_trap();
    InfNamesAmdDisplayDriver(AsText(data, size));
    InfDirectorySkipped(text);
    InfCandidates({text, name});
    std::wstring error;
    PackageFitsDisk(size * 1000003ull, size % 2 == 0, size * 77ull, error);
    return 0;
}
