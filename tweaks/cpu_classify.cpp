#include "foundation/text.h"
#include "tweaks/cpu_probe.h"

CpuClassification ClassifyCpu(uint32_t idle, uint32_t idlePeak, uint32_t busy, uint32_t cap) {
    const uint32_t rise = busy > idle ? busy - idle : 0;
    if (rise > 80) {
        return {CpuDynamic, FormatText(L"frequency scaled %u -> %u MHz under load (turbo/PBO/SpeedStep is active)", idle, busy)};
    }
    if (cap != 0 && idle + 50 >= cap && busy + 50 >= cap) {
        return {CpuLocked, FormatText(L"frequency held at %u MHz idle and busy (static / locked multiplier)", busy, busy)};
    }
    if (cap != 0 && idlePeak + 50 < cap) {
        return {CpuDynamic, FormatText(L"running at %u MHz with headroom to %u MHz; not treating as locked", idle, cap)};
    }
    return {CpuUnclear,
            FormatText(L"idle %u MHz, busy %u MHz, max %u MHz \u2014 could not classify", idle, busy, cap)};
}

const wchar_t* CpuClassLabel(int cpuClass) {
    switch (cpuClass) {
    case CpuLocked:
        return L"LOCKED / static";
    case CpuDynamic:
        return L"DYNAMIC (turbo/PBO)";
    default:
        return L"UNCLEAR";
    }
}
