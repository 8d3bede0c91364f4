#include "foundation/windows_version.h"
#include "health/health_check.h"

#include <gtest/gtest.h>

TEST(HealthRules, TweakCheckDecisionsInTheirOrder) {
    const struct {
        bool disabled, unsupported, readOk, live, wanted;
        int status;
        bool keepsRepair;
    } cases[] = {
        {true, true, true, true, true, HealthDisabled, false},          // the switch wins over everything
        {false, true, false, false, true, HealthUnsupported, false},
        {false, false, true, true, true, HealthPassing, false},
        {false, false, true, false, true, HealthAttention, true},       // drifted and wanted
        {false, false, true, false, false, HealthInformational, false}, // drifted but the step was left off
        {false, false, false, false, true, HealthInaccessible, true},
    };
    for (const auto& c : cases) {
        HealthCheck check;
        check.repairStep = L"ppm";
        DecideTweakCheck(check, c.disabled, c.unsupported, c.readOk, c.live, c.wanted);
        EXPECT_EQ(check.status, c.status);
        EXPECT_EQ(check.repairStep.empty(), !c.keepsRepair) << check.status;
    }
    HealthCheck left;
    DecideTweakCheck(left, false, false, true, false, false);
    EXPECT_EQ(left.explanation, L"You left this step off. It is not currently applied.");
}

TEST(HealthRules, FinishTweakCheckAndSummaries) {
    HealthCheck check;
    check.repairStep = L"timer";
    FinishTweakCheck(check, false, true, false, L"want", L"got");
    EXPECT_EQ(check.status, HealthAttention);
    EXPECT_EQ(check.repairStep, L"timer");
    FinishTweakCheck(check, true, true, true, L"want", L"got");
    EXPECT_EQ(check.status, HealthDisabled);
    EXPECT_EQ(check.explanation, L"This check is turned off in Settings. Quorvantis is not treating it as healthy or failed.");

    std::vector<HealthCheck> checks(3);
    checks[0].status = HealthAttention;
    checks[1].status = HealthInformational;
    checks[2].status = HealthPassing;
    EXPECT_EQ(SummarizeHealth(checks).text, L"1 item need attention.");
    checks[1].status = HealthError;
    checks[2].status = HealthRestartRequired;
    EXPECT_EQ(SummarizeHealth(checks).text, L"3 items need attention.");
    checks = std::vector<HealthCheck>(2);
    checks[0].status = HealthPassing;
    checks[1].status = HealthInformational;
    EXPECT_EQ(SummarizeHealth(checks).text, L"Nothing needs attention.");
    checks[1].status = HealthDisabled;
    const HealthSummary s = SummarizeHealth(checks);
    EXPECT_EQ(s.text, L"No drifted tweaks. Some checks could not be completed.");
    EXPECT_EQ(s.other, 1);
    // A group's counts: its own items only, and only passing ones are live.
    checks = std::vector<HealthCheck>(4);
    const wchar_t* groups[] = {L"Power", L"Power", L"Power", L"Timer"};
    const int statuses[] = {HealthInaccessible, HealthUnsupported, HealthPassing, HealthAttention};
    for (size_t i = 0; i < checks.size(); ++i) {
        checks[i].group = groups[i];
        checks[i].status = statuses[i];
    }
    const HealthSummary power = CountHealthGroup(checks, L"Power");
    EXPECT_EQ(power.passing, 1);
    EXPECT_EQ(power.attention, 0);
    EXPECT_EQ(power.other, 2);
    EXPECT_EQ(CountHealthGroup(checks, L"Timer").attention, 1);
    EXPECT_EQ(CountHealthGroup(checks, L"Storage").passing + CountHealthGroup(checks, L"Storage").other, 0);
    EXPECT_STREQ(HealthStatusName(5), L"Unknown");
    EXPECT_STREQ(HealthStatusName(99), L"Unknown");
    EXPECT_STREQ(HealthStatusName(8), L"Restart required");
    EXPECT_EQ(HealthSelfTest(), 0);
}

// The kernel flag takes effect from Server 2022 (20348) and Windows 11 (22000) on; every Windows
// 10 release from 2004 to 22H2 (19041 to 19045) ignores it.
TEST(HealthRules, GlobalTimerRequestsCountFromServer2022On) {
    for (const uint32_t build : {19041u, 19045u, 20347u}) EXPECT_FALSE(GlobalTimerRequestsHonouredOn(build)) << build;
    for (const uint32_t build : {20348u, 22000u, 26100u}) EXPECT_TRUE(GlobalTimerRequestsHonouredOn(build)) << build;
}
