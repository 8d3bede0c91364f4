#include "tweaks/cpu_probe.h"

#include <gtest/gtest.h>

TEST(CpuClassification, TheFiveFrequencyPatterns) {
    const struct {
        uint32_t idle, idlePeak, busy, cap;
        int cpuClass;
        const wchar_t* detail;
    } cases[] = {
        {3600, 3600, 3700, 3600, CpuDynamic, L"frequency scaled 3600 -> 3700 MHz under load (turbo/PBO/SpeedStep is active)"},
        {4700, 4750, 4750, 4750, CpuLocked, L"frequency held at 4750 MHz idle and busy (static / locked multiplier)"},
        {2000, 2100, 2050, 4000, CpuDynamic, L"running at 2000 MHz with headroom to 4000 MHz; not treating as locked"},
        {3000, 3060, 3040, 3100, CpuUnclear, L"idle 3000 MHz, busy 3040 MHz, max 3100 MHz \u2014 could not classify"},
        {2299, 2299, 2299, 0, CpuUnclear, L"idle 2299 MHz, busy 2299 MHz, max 0 MHz \u2014 could not classify"},
        {3000, 3000, 2500, 0, CpuUnclear, L"idle 3000 MHz, busy 2500 MHz, max 0 MHz \u2014 could not classify"},
    };
    for (const auto& c : cases) {
        const CpuClassification result = ClassifyCpu(c.idle, c.idlePeak, c.busy, c.cap);
        EXPECT_EQ(result.cpuClass, c.cpuClass) << c.idle << "/" << c.busy;
        EXPECT_EQ(result.detail, c.detail);
    }
    EXPECT_STREQ(CpuClassLabel(CpuLocked), L"LOCKED / static");
    EXPECT_STREQ(CpuClassLabel(CpuDynamic), L"DYNAMIC (turbo/PBO)");
    EXPECT_STREQ(CpuClassLabel(7), L"UNCLEAR");
}
