#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/text.h"
#include "support/game_model.h"
#include "timer/frame_capture.h"
#include "timer/game_compare.h"
#include "timer/game_plot.h"

namespace {

// A run of the seeded game in the planned order, each block captured for its 30 s.
std::vector<GameBlock> Play(const GameModel& model, int blocks, uint64_t seed) {
    GameFrames game(model, seed);
    std::vector<GameBlock> played;
    for (const GameArm arm : GameBlockOrder(blocks)) {
        std::vector<double> frames;
        const double end = game.ElapsedSeconds() + kGameBlockSeconds;
        while (game.ElapsedSeconds() < end) frames.push_back(game.Next(arm == GameArm::Released));
        played.push_back(GameBlock{arm, SettledFrames(frames)});
    }
    return played;
}

}  // namespace

TEST(GameCompare, BlocksAlternateInABalancedOrderAndDropTheirFirstSeconds) {
    const std::vector<GameArm> order = GameBlockOrder(8);
    const std::string letters = [&] {
        std::string text;
        for (const GameArm arm : order) text += arm == GameArm::Held ? 'A' : 'B';
        return text;
    }();
    EXPECT_EQ(letters, "ABBABAAB");
    EXPECT_EQ(GameBlocksFor(kGameMinutesDefault), 8);

    // 100 frames of 50 ms: the first three seconds are the first 60 frames.
    const std::vector<double> settled = SettledFrames(std::vector<double>(100, 50.0));
    EXPECT_EQ(settled.size(), 40u);
    EXPECT_TRUE(SettledFrames(std::vector<double>(10, 50.0)).empty()) << "a block shorter than the settling time keeps nothing";
}

// The capture tool's columns as its current release writes them, as 2.x wrote them and as 1.x
// wrote them; other processes, "NA" rows and quoted names are handled by name, not by place.
TEST(GameCompare, FrameCapturesAreReadByColumnNameInEachColumnSet) {
    FrameCapture capture;
    std::wstring error;
    const std::string current =
        "Application,ProcessID,SwapChainAddress,PresentRuntime,SyncInterval,PresentFlags,AllowsTearing,PresentMode,"
        "CPUStartTime,MsBetweenSimulationStart,MsBetweenPresents,MsBetweenDisplayChange,MsInPresentAPI,"
        "MsRenderPresentLatency,MsUntilDisplayed,MsPCLatency,MsBetweenAppStart,MsCPUBusy,MsCPUWait\r\n"
        "game.exe,4312,0x1,DXGI,0,512,1,Hardware: Independent Flip,12.5,NA,6.90,6.95,0.20,1.1,3.2,NA,6.94,5.1,1.8\r\n"
        "Game.EXE,4312,0x1,DXGI,0,512,1,Hardware: Independent Flip,19.4,NA,7.00,NA,0.20,1.1,NA,NA,NA,5.0,1.9\r\n"
        "overlay.exe,880,0x2,DXGI,1,0,0,Composed: Flip,20.1,NA,16.6,16.6,0.1,0.5,2.0,NA,16.6,1.0,15.6\r\n"
        "game.exe,4312,0x1,DXGI,0,512,1,Hardware: Independent Flip,26.3,NA,7.10,7.05,0.20,1.1,3.2,NA,7.12,5.2,1.9\r\n";
    ASSERT_TRUE(ParseFrameCapture(current, L"GAME.exe", capture, error)) << ToUtf8(error);
    EXPECT_EQ(capture.column, L"MsBetweenAppStart");
    EXPECT_EQ(capture.frameMs, (std::vector<double>{6.94, 7.12}));
    EXPECT_EQ(capture.skippedRows, 1u) << "the NA row";

    const std::string v2 = "Application,ProcessID,SwapChainAddress,PresentRuntime,SyncInterval,PresentFlags,AllowsTearing,"
                           "PresentMode,FrameType,CPUStartTime,FrameTime,CPUBusy,CPUWait\n"
                           "\"My, Game.exe\",77,0x1,DXGI,0,0,1,Composed: Flip,Application,0.0,8.33,6.0,2.3\n";
    ASSERT_TRUE(ParseFrameCapture(v2, L"My, Game.exe", capture, error)) << ToUtf8(error);
    EXPECT_EQ(capture.column, L"FrameTime");
    EXPECT_EQ(capture.frameMs, (std::vector<double>{8.33}));

    const std::string v1 = "\xEF\xBB\xBF" "Application,ProcessID,SwapChainAddress,Runtime,SyncInterval,PresentFlags,AllowsTearing,"
                           "PresentMode,WasBatched,DwmNotified,Dropped,TimeInSeconds,MsBetweenPresents,MsBetweenDisplayChange,"
                           "MsInPresentAPI,MsUntilRenderComplete,MsUntilDisplayed\n"
                           "game.exe,4312,0x1,DXGI,0,0,1,Hardware: Legacy Flip,0,0,0,0.0167,16.67,16.67,0.1,1.0,2.0\n";
    ASSERT_TRUE(ParseFrameCapture(v1, L"game.exe", capture, error)) << ToUtf8(error);
    EXPECT_EQ(capture.column, L"MsBetweenPresents");
    EXPECT_EQ(capture.frameMs, (std::vector<double>{16.67}));

    EXPECT_FALSE(ParseFrameCapture("Application,ProcessID,CPUStartTime\ngame.exe,1,0.0\n", L"game.exe", capture, error));
    EXPECT_EQ(error, L"The frame capture has no frame-time column (MsBetweenAppStart, FrameTime or MsBetweenPresents).");
    EXPECT_FALSE(ParseFrameCapture(current, L"other.exe", capture, error));
    EXPECT_EQ(error, L"The frame capture holds no frames of other.exe.");
    EXPECT_FALSE(ParseFrameCapture("", L"game.exe", capture, error));
    EXPECT_EQ(error, L"The frame capture is empty.");
}

// A planted 1 ms effect is found and its interval holds it; no effect is no difference; the
// sentences say only what the interval supports.
TEST(GameCompare, TheVerdictSaysOnlyWhatTheIntervalSupports) {
    GameModel model;
    model.fps = 240;
    model.effectMs = 1.0;
    GameComparison found;
    std::wstring error;
    ASSERT_TRUE(CompareGameArms(Play(model, 8, 1), found, error)) << ToUtf8(error);
    EXPECT_EQ(found.verdict, GameVerdict::Better);
    EXPECT_LT(found.ciLow, 1.0);
    EXPECT_GT(found.ciHigh, 1.0);
    EXPECT_EQ(found.held.blocks, 4);
    EXPECT_EQ(found.released.blocks, 4);
    EXPECT_NEAR(found.released.median - found.held.median, 1.0, 0.2);

    model.effectMs = 0;
    GameComparison none;
    ASSERT_TRUE(CompareGameArms(Play(model, 8, 2), none, error));
    EXPECT_EQ(none.verdict, GameVerdict::NoDifference);

    GameComparison c;
    c.p99Lowered = 1.84;
    c.ciLow = 0.91;
    c.ciHigh = 2.63;
    c.verdict = GameVerdict::Better;
    EXPECT_EQ(GameVerdictText(c, 5000), L"Holding 0.5000 ms lowered your 99th-percentile frame time by 1.8 ms (95 % CI 0.9 to 2.6 ms).");
    c.p99Lowered = -1.2;
    c.ciLow = -2.0;
    c.ciHigh = -0.4;
    c.verdict = GameVerdict::Worse;
    EXPECT_EQ(GameVerdictText(c, 5000),
              L"Holding 0.5000 ms made your 99th-percentile frame time worse by 1.2 ms (95 % CI 0.4 to 2.0 ms).");
    c.p99Lowered = 0.1;
    c.ciLow = -0.3;
    c.ciHigh = 0.5;
    c.verdict = GameVerdict::NoDifference;
    EXPECT_EQ(GameVerdictText(c, 5000), L"Holding 0.5000 ms made no difference this test could see (\u00B10.4 ms); a longer run "
                                        L"can tell smaller ones apart.");

    // One block per arm has no spread to measure.
    std::vector<GameBlock> two = Play(model, 2, 3);
    EXPECT_FALSE(CompareGameArms(two, c, error));
    EXPECT_EQ(error, L"Too few blocks with frames to compare: 1 with the period held, 1 released (at least two each).");
}

// The picture has both arms as lines, each arm's 99th percentile marked with its value, and the
// game's name escaped; without frames it draws no line at all.
TEST(GameCompare, ThePlotDrawsBothArmsAndMarksTheirNinetyNinthPercentiles) {
    std::vector<double> held, released;
    for (int i = 0; i < 1000; ++i) {
        held.push_back(5 + i / 100.0);      // 99th: 14.9 ms
        released.push_back(6 + i / 100.0);  // 99th: 15.9 ms
    }
    const std::string svg = GamePlotSvg(held, released, L"<Game> & co.exe", L"held 0.5000 ms");
    size_t lines = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++lines;
    EXPECT_EQ(lines, 2u);
    EXPECT_NE(svg.find(">14.9 ms<"), std::string::npos) << svg;
    EXPECT_NE(svg.find(">15.9 ms<"), std::string::npos);
    EXPECT_NE(svg.find("&lt;Game&gt; &amp; co.exe"), std::string::npos);
    EXPECT_EQ(svg.find("<Game>"), std::string::npos);
    EXPECT_NE(svg.find(">held 0.5000 ms<"), std::string::npos);

    EXPECT_EQ(GamePlotSvg({}, released, L"game.exe", L"held").find("<polyline"), std::string::npos);

    // The tail scale runs from the median to the 99.9th percentile, each tenth a step ten times rarer.
    EXPECT_NEAR(TailPositionOf(0.5), 0.0, 1e-4);
    EXPECT_NEAR(TailPositionOf(0.999), 1.0, 1e-9);
    EXPECT_NEAR(TailFractionAt(TailPositionOf(0.99)), 0.99, 1e-12);
    EXPECT_DOUBLE_EQ(SortedQuantile({1, 2, 3, 5}, 0.5), 2.5);
}
