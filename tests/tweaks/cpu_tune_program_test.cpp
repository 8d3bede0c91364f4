// CPU Tune and its uninstall through the shipped program, with a stand-in power library in the
// prefix's system folder (Wine's own is a stub) and a fake powercfg.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "foundation/state.h"
#include "foundation/system.h"
#include "support/fakes.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "tweaks/power_rows.h"

namespace {

// Where Windows keeps its plans, and where the stand-in power library keeps them too.
constexpr const wchar_t* kPowerUser = L"SYSTEM\\CurrentControlSet\\Control\\Power\\User";
constexpr GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
constexpr GUID kHighPerformance{0x8c5e7fda, 0xe8bf, 0x4a96, {0x9a, 0x85, 0xa6, 0xe2, 0x3a, 0x8c, 0x63, 0x5c}};
constexpr GUID kTemplate{0xe9a42b02, 0xd5df, 0x448d, {0xaa, 0x00, 0x03, 0xf1, 0x47, 0x49, 0xeb, 0x61}};

const PowerSettingRow& PerfCheck() { return CpuTuneRows()[4]; }

std::wstring ValueKey(const GUID& scheme, const GUID& setting, bool hiddenTemplate = false) {
    return std::wstring(kPowerUser) + (hiddenTemplate ? L"\\Default\\PowerSchemes\\" : L"\\PowerSchemes\\") + GuidText(scheme) +
           L"\\" + GuidText(PerfCheck().subgroup) + L"\\" + GuidText(setting);
}

uint32_t PlanValue(const GUID& scheme, const GUID& setting, const wchar_t* source) {
    uint32_t value = 0xDEADBEEF;
    ReadDword(ValueKey(scheme, setting), source, value);
    return value;
}

GUID ActiveScheme() {
    std::wstring text;
    GUID scheme{};
    ReadString(RegRoot::LocalMachine, std::wstring(kPowerUser) + L"\\PowerSchemes", L"ActivePowerScheme", text);
    IIDFromString((L"{" + text + L"}").c_str(), &scheme);
    return scheme;
}

class CpuTuneProgram : public testing::Test {
protected:
    ScopedMachineState machine;
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    FakeTool powercfg{SystemToolPath(L"powercfg.exe"), folder.File(L"tools.log")};
    FakeLibrary powrprof{L"fake_powrprof.dll", L"powrprof.dll"};

    void SetUp() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
        ClearProgramLog();
        // The user's Balanced plan, active, at 15 ms, and Windows' hidden Ultimate Performance
        // template at 30 ms (CPU Tune makes a plan from it).
        WriteDword(RegRoot::LocalMachine, ValueKey(kBalanced, PerfCheck().setting), L"ACSettingIndex", 15);
        WriteDword(RegRoot::LocalMachine, ValueKey(kTemplate, PerfCheck().setting, true), L"ACSettingIndex", 30);
        WriteString(RegRoot::LocalMachine, std::wstring(kPowerUser) + L"\\PowerSchemes", L"ActivePowerScheme", GuidText(kBalanced));
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPowerUser);
        RegDeleteTreeW(HKEY_CURRENT_USER, kFakePowrProf);
    }
    static constexpr const wchar_t* kFakePowrProf = L"Software\\QuorvantisTests\\FakePowrProf";
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
    const GUID ultimate = ActiveScheme();
    EXPECT_NE(GuidText(ultimate), GuidText(kBalanced)) << "a plan made from the Ultimate Performance template";
    EXPECT_EQ(PlanValue(ultimate, PerfCheck().setting, L"ACSettingIndex"), 5000u);
    EXPECT_EQ(PlanValue(ultimate, PerfCheck().setting, L"DCSettingIndex"), 5000u);
    EXPECT_EQ(PlanValue(kBalanced, PerfCheck().setting, L"ACSettingIndex"), 15u) << "the user's own plan is not touched";
    ASSERT_TRUE(ReadDword(kKernelKey, L"ThreadDpcEnable", value));
    EXPECT_EQ(value, 0u);

    ASSERT_EQ(Run(L"--status").exitCode, 0u);
    EXPECT_NE(Log().find("PPM tweaks: applied (PERFCHECK 5000 ms, core parking off, idle thresholds 95%)"),
              std::string::npos);

    // The uninstall from the installed copy: the user's plan active again, the plan CPU Tune made
    // gone. (With the plan kept, its DC value, recorded as never set, would be taken away again.)
    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u) << Log();
    EXPECT_NE(Log().find("Removed the Ultimate Performance plan Quorvantis made."), std::string::npos) << Log();
    EXPECT_EQ(GuidText(ActiveScheme()), GuidText(kBalanced));
    EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, std::wstring(kPowerUser) + L"\\PowerSchemes\\" + GuidText(ultimate)));
    EXPECT_EQ(PlanValue(kBalanced, PerfCheck().setting, L"ACSettingIndex"), 15u);
    EXPECT_FALSE(ReadDword(kKernelKey, L"ThreadDpcEnable", value));
    EXPECT_FALSE(ReadStateDword(L"PpmApplied", value));
}

// A Modern Standby PC with no Ultimate Performance template, where the user brought High
// Performance back: the power library's switch answers success and keeps Balanced, powercfg's
// holds. The program gets there, says which plan is in force, and the uninstall goes back.
TEST_F(CpuTuneProgram, OnAModernStandbyPcThePlanInForceIsTheOneReported) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kPowerUser) + L"\\Default").c_str());
    WriteDword(RegRoot::LocalMachine, ValueKey(kHighPerformance, PerfCheck().setting), L"ACSettingIndex", 20);
    WriteDword(RegRoot::CurrentUser, kFakePowrProf, L"ModernStandby", 1);

    ASSERT_EQ(Run(L"--apply-ppm --ppm --yes --no-pause").exitCode, 0u) << Log();
    EXPECT_NE(Log().find("Power plan in force: High Performance.\r\n"), std::string::npos) << Log();
    EXPECT_EQ(GuidText(ActiveScheme()), GuidText(kHighPerformance));
    EXPECT_EQ(PlanValue(kHighPerformance, PerfCheck().setting, L"ACSettingIndex"), 5000u);

    ASSERT_EQ(Run(L"--uninstall").exitCode, 0u) << Log();
    EXPECT_EQ(GuidText(ActiveScheme()), GuidText(kBalanced));
    EXPECT_EQ(PlanValue(kHighPerformance, PerfCheck().setting, L"ACSettingIndex"), 20u);
}
