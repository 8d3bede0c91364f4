#include "app/console_benchmark.h"
#include "app/console_tweaks.h"
#include "tweaks/cpu_probe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(Confirm, YesAnswersEverythingAndWithoutAConsoleTheDefaultIsTaken) {
    Options options;
    // The test runner's standard input is never a console.
    EXPECT_TRUE(Confirm(options, L"Install?", true));
    EXPECT_FALSE(Confirm(options, L"Apply anyway?", false));
    options.yes = true;
    EXPECT_TRUE(Confirm(options, L"Apply anyway?", false));
}

TEST(ChooseFidelity, NoMenuWithoutAConsole) {
    Options options;
    options.fidelity = 2;
    const Options chosen = ChooseFidelity(options);
    EXPECT_EQ(chosen.fidelity, 2);
    EXPECT_FALSE(chosen.fidelitySet);
}

TEST(BenchmarkParamsFrom, PresetCountsUnlessSpelledOut) {
    Options options;
    options.fidelity = 0;
    options.from = 5000;
    options.to = 6000;
    options.step = 20;
    options.margin = 0;
    options.marginSet = true;
    BenchmarkParams p = BenchmarkParamsFrom(options);
    EXPECT_EQ(p.samples, 8u);
    EXPECT_EQ(p.passes, 1u);
    EXPECT_EQ(p.verify, 100u);
    EXPECT_EQ(p.from, 5000u);
    EXPECT_EQ(p.to, 6000u);
    EXPECT_EQ(p.step, 20u);
    EXPECT_TRUE(p.marginGiven);

    Options quick;
    std::wstring error;
    ASSERT_TRUE(ParseOptionsText({L"--quick", L"--fidelity", L"high"}, quick, error));
    p = BenchmarkParamsFrom(quick);
    EXPECT_EQ(p.samples, 40u);
    EXPECT_EQ(p.passes, 1u);
    EXPECT_EQ(p.verify, 300u);
    EXPECT_EQ(p.step, 20u);

    ASSERT_TRUE(ParseOptionsText({L"--fidelity", L"medium", L"--passes", L"5"}, quick = Options{}, error));
    p = BenchmarkParamsFrom(quick);
    EXPECT_EQ(p.samples, 18u);
    EXPECT_EQ(p.passes, 5u);
    EXPECT_EQ(p.verify, 187u);
}

TEST(CpuTuneDecision, YesAppliesOnlyToALockedCpuAndPpmForcesIt) {
    Options yes;
    yes.yes = true;
    EXPECT_TRUE(DecideCpuTune(yes, CpuLocked));
    EXPECT_FALSE(DecideCpuTune(yes, CpuDynamic));
    EXPECT_FALSE(DecideCpuTune(yes, CpuUnclear));
    Options forced = yes;
    forced.ppm = true;
    EXPECT_TRUE(DecideCpuTune(forced, CpuDynamic));
    // Without a console each question takes its default: yes only for a locked CPU.
    Options none;
    EXPECT_TRUE(DecideCpuTune(none, CpuLocked));
    EXPECT_FALSE(DecideCpuTune(none, CpuDynamic));
    EXPECT_FALSE(DecideCpuTune(none, CpuUnclear));
}
