#include "timer/energy_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// As the report's XML form writes two requests, after the platform's own entry (two numbers, no path).
constexpr const char* kTwoHolders = R"(<?xml version="1.0" encoding="utf-8"?>
<EnergyReport><Troubleshooter><AnalysisLog>
<LogEntry severity="Warning"><Name>Platform Timer Resolution:Platform Timer Resolution</Name><Details>
<Detail><Name>Current Timer Resolution (100ns units)</Name><Value>10000</Value></Detail>
<Detail><Name>Maximum Timer Period (100ns units)</Name><Value>156250</Value></Detail></Details></LogEntry>
<LogEntry severity="Warning"><Name>Platform Timer Resolution:Outstanding Timer Request</Name><Details>
<Detail><Name>Requested Period</Name><Value>10000</Value></Detail>
<Detail><Name>Requesting Process ID</Name><Value>4312</Value></Detail>
<Detail><Name>Requesting Process Path</Name><Value>\Device\HarddiskVolume3\Program Files\Overlay &amp; Co\overlay.exe</Value></Detail>
</Details></LogEntry>
<LogEntry severity="Warning"><Name>Plattformzeitgeberauflösung:Ausstehende Zeitgeberanforderung</Name><Details>
<Detail><Name>Angeforderter Zeitraum</Name><Value>5000</Value></Detail>
<Detail><Name>ID des anfordernden Prozesses</Name><Value>880</Value></Detail>
<Detail><Name>Pfad des anfordernden Prozesses</Name><Value>\Device\HarddiskVolume3\Spiele\game.exe</Value></Detail>
</Details></LogEntry>
</AnalysisLog></Troubleshooter></EnergyReport>)";

// The default HTML report's shape.
constexpr const char* kHtml = R"(<div class="log-entry"><div class="warning-log-entry">
<div class="log-entry-header">Platform Timer Resolution:Outstanding Timer Request</div>
<div class="log-entry-content"><table>
<tr><td><span class="detail-name">Requested Period</span></td><td>10000</td></tr>
<tr><td><span class="detail-name">Requesting Process ID</span></td><td>6176</td></tr>
<tr><td><span class="detail-name">Requesting Process Path</span></td><td>\Device\HarddiskVolume2\Program Files\Tool\tool.exe</td></tr>
</table></div></div></div></body></html>)";

}  // namespace

// The translated report (German here) is read by its shape, and entities come out decoded.
TEST(EnergyReport, RequestsAreReadFromEitherFormInAnyLanguage) {
    std::vector<TimerHolder> holders;
    ASSERT_TRUE(ParseEnergyReport(kTwoHolders, holders));
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].period, 10000u);
    EXPECT_EQ(holders[0].pid, 4312u);
    EXPECT_EQ(holders[0].Name(), L"overlay.exe");
    EXPECT_EQ(holders[0].path, L"\\Device\\HarddiskVolume3\\Program Files\\Overlay & Co\\overlay.exe");
    EXPECT_EQ(holders[1].Name(), L"game.exe");
    EXPECT_EQ(HoldersText(holders), L"Held by overlay.exe (PID 4312, 1.0000 ms) and game.exe (PID 880, 0.5000 ms).");

    ASSERT_TRUE(ParseEnergyReport(kHtml, holders));
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, 6176u);
    EXPECT_EQ(HoldersText(holders), L"Held by tool.exe (PID 6176, 1.0000 ms).");

    // UTF-16 with its mark, as some Windows versions write the file.
    std::string wide = "\xFF\xFE";
    for (const char c : std::string(kHtml)) wide += std::string{c, '\0'};
    ASSERT_TRUE(ParseEnergyReport(wide, holders));
    EXPECT_EQ(holders.size(), 1u);
}

TEST(EnergyReport, NothingHeldCutShortOrNotAReportNamesNobody) {
    std::vector<TimerHolder> holders{{1, 1, L"x"}};
    EXPECT_FALSE(ParseEnergyReport("", holders));
    EXPECT_TRUE(holders.empty());
    EXPECT_FALSE(ParseEnergyReport("powercfg: access denied", holders));
    EXPECT_FALSE(ParseEnergyReport("<EnergyReport><LogEntry><Details><Detail><Value>10000</Value></Detail><Detail><Value>43",
                                   holders))
        << "a report cut short says nothing either way";
    EXPECT_TRUE(holders.empty());
    // A process id that does not fit, and a period of zero, are not requests.
    EXPECT_TRUE(ParseEnergyReport("<EnergyReport><LogEntry><Value>10000</Value><Value>99999999999</Value><Value>\\x.exe</Value>"
                                  "<LogEntry><Value>0</Value><Value>5</Value><Value>\\y.exe</Value></EnergyReport>",
                                  holders));
    EXPECT_TRUE(holders.empty());
    EXPECT_EQ(HoldersText({}), L"");
    const std::vector<TimerHolder> three{{5000, 1, L"a.exe"}, {5000, 2, L"\\b.exe"}, {10000, 3, L"c\\c.exe"}};
    EXPECT_EQ(HoldersText(three), L"Held by a.exe (PID 1, 0.5000 ms), b.exe (PID 2, 0.5000 ms) and c.exe (PID 3, 1.0000 ms).");
}
