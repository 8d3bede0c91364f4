// CPU Tune and its uninstall through the shipped program, with a stand-in power library in the
// prefix's system folder (Wine's own is a stub) and a fake powercfg.
#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/state.h"
#include "foundation/system.h"
#include "support/fakes.h"
#include "support/test_support.h"
#include "tweaks/power_rows.h"

namespace {

constexpr const wchar_t* kFakePower = L"Software\\QuorvantisTests\\FakePower";
constexpr GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
constexpr GUID kUltimate{0xe9a42b02, 0xd5df, 0x448d, {0xaa, 0x00, 0x03, 0xa2, 0x19, 0x24, 0x83, 0xd7}};

std::wstring FakeValueKey(const GUID& scheme, const GUID& setting) {
    return std::wstring(kFakePower) + L"\\" + GuidText(scheme) + L"\\" + GuidText(setting);
}

uint32_t FakeValue(const GUID& scheme, const GUID& setting, const wchar_t* source) {
    uint32_t value = 0xDEADBEEF;
    DWORD size = sizeof(value);
    RegGetValueW(HKEY_CURRENT_USER, FakeValueKey(scheme, setting).c_str(), source, RRF_RT_REG_DWORD, nullptr, &value,
                 &size);
    return value;
}

GUID ActiveScheme() {
    GUID scheme{};
    DWORD size = sizeof(scheme);
    RegGetValueW(HKEY_CURRENT_USER, kFakePower, L"Active", RRF_RT_REG_BINARY, nullptr, &scheme, &size);
    return scheme;
}

const PowerSettingRow& PerfCheck() { return CpuTuneRows()[4]; }

class CpuTuneProgram : public testing::Test {
protected:
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    FakeTool powercfg{SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log")};
    FakeLibrary powrprof{L"fake_powrprof.dll", L"powrprof.dll"};

    void SetUp() override {
        Clean();
        ClearProgramLog();
        RegSetKeyValueW(HKEY_CURRENT_USER, kFakePower, L"Active", REG_BINARY, &kBalanced, sizeof(kBalanced));
        // The user's Balanced plan at 15 ms, and an Ultimate Performance plan (which CPU Tune
        // activates through powercfg) at 30 ms.
        const DWORD fifteen = 15, thirty = 30;
        RegSetKeyValueW(HKEY_CURRENT_USER, FakeValueKey(kBalanced, PerfCheck().setting).c_str(), L"ac", REG_DWORD,
                        &fifteen, 4);
        RegSetKeyValueW(HKEY_CURRENT_USER, FakeValueKey(kUltimate, PerfCheck().setting).c_str(), L"ac", REG_DWORD,
                        &thirty, 4);
    }
    void TearDown() override { Clean(); }

    static void Clean() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorvantisTests");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStateKey);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"ThreadDpcEnable");
    }
    ProgramRun Run(const wchar_t* arguments) { return RunProgram(BinDirectory() + L"\\Quorvantis.exe", arguments, 120000); }
    std::string Log() { return ReadProgramLog(); }
};

}  // namespace

TEST_F(CpuTuneProgram, ApplyStatusAndUninstallRoundTrip) {
    ASSERT_EQ(Run(L"--apply-ppm --ppm --yes --no-pause").exitCode, 0u) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("classified: LOCKED / static \xE2\x80\x94 frequency held at 3600 MHz idle and busy"),
              std::string::npos);
    EXPECT_NE(log.find("Applying processor power-management tweaks (from Ravelguide, for static-frequency CPUs)."),
              std::string::npos);
    EXPECT_NE(log.find("    30ms  \xE2\x86\x92  5000ms\r\n"), std::string::npos);
    EXPECT_NE(log.find("Applied 23 PPM tweak(s).\r\n"), std::string::npos) << log;

    uint32_t value = 0;
    ASSERT_TRUE(ReadStateDword(L"PpmApplied", value));
    EXPECT_EQ(value, 1u);
    ASSERT_TRUE(ReadStateDword(L"Ppm_PERFCHECK_ac", value));
    EXPECT_EQ(value, 30u);
    ASSERT_TRUE(ReadStateDword(L"Ppm_PERFCHECK_hadDc", value));
    EXPECT_EQ(value, 0u) << "the DC value was never there: on record as absent";
    EXPECT_EQ(GuidText(ActiveScheme()), GuidText(kUltimate));
    EXPECT_EQ(FakeValue(kUltimate, PerfCheck().setting, L"ac"), 5000u);
    EXPECT_EQ(FakeValue(kUltimate, PerfCheck().setting, L"dc"), 5000u);
    EXPECT_EQ(FakeValue(kBalanced, PerfCheck().setting, L"ac"), 15u) << "the user's own plan is not touched";
    ASSERT_TRUE(ReadDword(kKernelKey, L"ThreadDpcEnable", value));
    EXPECT_EQ(value, 0u);

    ASSERT_EQ(Run(L"--status").exitCode, 0u);
    EXPECT_NE(Log().find("PPM tweaks: applied (PERFCHECK 5000 ms, core parking off, idle thresholds 95%)"),
              std::string::npos);

    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u) << Log();
    EXPECT_NE(Log().find("Restored 2 PPM setting(s) to their previous values."), std::string::npos) << Log();
    EXPECT_EQ(FakeValue(kUltimate, PerfCheck().setting, L"ac"), 30u);
    EXPECT_EQ(GuidText(ActiveScheme()), GuidText(kBalanced));
    EXPECT_FALSE(ReadDword(kKernelKey, L"ThreadDpcEnable", value));
    EXPECT_FALSE(ReadStateDword(L"PpmApplied", value));
}
