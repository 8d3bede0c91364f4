#include "driver/driver_offer.h"

#include "foundation/text.h"

std::wstring FormatSize(uint64_t bytes) {
    if (bytes < 0x40000000ull) return FormatText(L"%.0f MB", static_cast<double>(bytes) / 1048576.0);
    return FormatText(L"%.1f GB", static_cast<double>(bytes) / 1073741824.0);
}
