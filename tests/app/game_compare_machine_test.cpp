// "--compare-game" in this process, with the simulated timer kernel and the stand-in for the
// frame capture program (Wine can run neither a real timer change nor the capture): the game is
// this test program itself, which is running. The timer service it pauses is a real one in the
// prefix's service manager.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console_game.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/windows_version.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "support/game_capture_stand_in.h"
#include "support/machine_state.h"
#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"
#include "support/wait.h"

namespace {

std::wstring OwnFileName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L'\\') + 1);
}

class GameCompareMachine : public testing::Test {
protected:
    ScopedMachineState machine;
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    SimulatedTimerKernel kernel{SimulatedTimerConfig{}};
    ScopedTimerKernel scope{&kernel};
    RecordingFeed feed;
    ScopedFeed feedScope{&feed};
    Options options;

    void SetUp() override {
        options.command = L"compare-game";
        options.gameName = OwnFileName();
        options.resolution = 5000;
        options.minutes = 4;
    }
    void TearDown() override {
        SetWindowsBuildNumber(0);
        UninstallEverything();
    }
    bool Logged(const std::string& text) { return feed.Logged(FromUtf8(text)); }
    std::string Lines() {
        std::string all;
        for (const std::wstring& line : feed.Lines()) all += ToUtf8(line) + "\n";
        return all;
    }
    static bool InstallService() { return RunProgram(BinDirectory() + L"\\Quorvantis.exe", L"--install --resolution 10000 --no-pause", 120000).exitCode == 0; }
};

}  // namespace

// The arms switch as planned (held, released, released, held, ...), every block's capture is
// kept, a planted 1 ms effect is found, the request is let go and the paused service runs again.
TEST_F(GameCompareMachine, TheArmsAlternateAsPlannedAndAPlantedEffectIsFound) {
    ASSERT_TRUE(InstallService()) << ReadProgramLog();
    GameModel model;
    model.fps = 240;
    model.effectMs = 1.0;
    GameCaptureStandIn capture(model, options.resolution, 7);
    const std::atomic<bool> stop{false};
    EXPECT_EQ(RunGameCompare(options, capture, stop), 0) << Lines();

    const uint32_t held = 5000, released = 156250;
    EXPECT_EQ(capture.periods, (std::vector<uint32_t>{held, released, released, held, released, held, held, released}));
    EXPECT_EQ(kernel.OwnRequest(), 0u) << "the period is let go at the end";
    EXPECT_TRUE(Logged("Stopping the running Quorvantis service for the comparison"));
    EXPECT_TRUE(Logged("Block 2 of 8: B, released"));
    EXPECT_TRUE(Logged("Holding 0.5000 ms lowered your 99th-percentile frame time by ")) << Lines();
    const std::string log = Lines();
    const size_t kept = log.find("Each block's capture is in ");
    ASSERT_NE(kept, std::string::npos);
    const std::wstring captures = FromUtf8(log.substr(kept + 27, log.find(".\n", kept) - kept - 27));
    EXPECT_EQ(captures.rfind(DataDirectory() + L"\\game-compare\\", 0), 0u) << ToUtf8(captures);
    EXPECT_TRUE(Logged("Both arms' frame times, drawn: " + ToUtf8(captures) + "\\frame-times.svg")) << Lines();
    for (const wchar_t* name : {L"block-01-A.csv", L"block-02-B.csv", L"block-08-B.csv", L"frame-times.svg"}) {
        EXPECT_TRUE(FileExists(captures + L"\\" + name)) << ToUtf8(name);
    }
    EXPECT_TRUE(WaitUntil([] { return QueryTimerServiceState() == TimerServiceState::Running; }, 10000, 100));
}

// Ctrl+C in the third block: nothing is compared, the request is let go and the service is
// started again.
TEST_F(GameCompareMachine, AStoppedRunLetsThePeriodGoAndStartsTheServiceAgain) {
    ASSERT_TRUE(InstallService()) << ReadProgramLog();
    GameCaptureStandIn capture(GameModel{}, options.resolution, 3);
    std::atomic<bool> stop{false};
    capture.stopDuring = 2;
    capture.stopFlag = &stop;
    EXPECT_EQ(RunGameCompare(options, capture, stop), 2);
    EXPECT_EQ(capture.periods.size(), 3u);
    EXPECT_EQ(kernel.OwnRequest(), 0u);
    EXPECT_TRUE(Logged("Stopped; nothing was compared."));
    EXPECT_TRUE(Logged("Restarting the Quorvantis service..."));
    EXPECT_TRUE(WaitUntil([] { return QueryTimerServiceState() == TimerServiceState::Running; }, 10000, 100));
}

// A block the game drew nothing in (minimized, say) is left out and the rest still compared; a
// run that has captured nothing in its first two blocks ends there.
TEST_F(GameCompareMachine, BlocksWithoutFramesAreLeftOutAndARunWithNoneEndsEarly) {
    GameModel model;
    model.fps = 240;
    model.effectMs = 1.0;
    GameCaptureStandIn capture(model, options.resolution, 11);
    capture.headerOnly = {2};
    capture.noFile = {5};
    const std::atomic<bool> stop{false};
    GameRunResult run;
    EXPECT_EQ(RunGameCompare(options, capture, stop, &run), 0) << Lines();
    EXPECT_TRUE(Logged("Block 3: no frames of " + ToUtf8(options.gameName) + " were captured (minimized, paused or loading?); "
                       "it is left out."));
    EXPECT_TRUE(Logged("Block 6: no frames of ")) << Lines();
    EXPECT_EQ(run.comparison.held.blocks + run.comparison.released.blocks, 6);
    EXPECT_TRUE(Logged("Holding 0.5000 ms lowered your 99th-percentile frame time by ")) << Lines();
    ASSERT_EQ(run.files.size(), 8u);
    EXPECT_TRUE(run.files[5].empty()) << "no file was written for it";

    GameCaptureStandIn idle(model, options.resolution, 12);
    idle.headerOnly = {0};
    idle.noFile = {1};
    EXPECT_EQ(RunGameCompare(options, idle, stop), 1);
    EXPECT_TRUE(Logged("ERROR: No frames of " + ToUtf8(options.gameName) + " were captured in the first two blocks. Is the game in "
                       "the foreground and drawing frames?")) << Lines();
    EXPECT_EQ(idle.periods.size(), 2u);
    EXPECT_EQ(kernel.OwnRequest(), 0u);
    EXPECT_TRUE(FileExists(run.files[1])) << "a run begun in the same second keeps to a folder of its own";
}

// Each case that cannot give an answer is refused before anything is paused or held.
TEST_F(GameCompareMachine, EachRefusalSaysWhy) {
    GameCaptureStandIn capture(GameModel{}, options.resolution, 1);
    const std::atomic<bool> stop{false};
    const auto refused = [&](const Options& o, const std::string& text) {
        EXPECT_EQ(RunGameCompare(o, capture, stop), 1);
        EXPECT_TRUE(Logged("ERROR: " + text)) << Lines();
    };
    Options notRunning = options;
    notRunning.gameName = L"nosuchgame.exe";
    refused(notRunning, "nosuchgame.exe is not running. Start the game and play, then run this again.");

    // Windows 11 gives a held period to every program only with GlobalTimerResolutionRequests.
    SetWindowsBuildNumber(22631);
    refused(options, "This Windows version keeps every program's timer period to itself unless GlobalTimerResolutionRequests "
                     "is 1, so a period held here cannot reach " + ToUtf8(options.gameName) + ".");
    ASSERT_TRUE(WriteDword(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, 1));
    Options noPeriod = options;
    noPeriod.resolution = 0;
    refused(noPeriod, "No timer period is installed yet. Install one first (Quorvantis.exe --install), or name one with "
                      "--resolution N.");
    EXPECT_TRUE(capture.periods.empty()) << "nothing was captured";
    EXPECT_EQ(capture.prepared, 0) << "nothing is fetched for a run that is refused";
    // A capture program that cannot be readied (its download failed) ends the run before it begins.
    capture.prepareError = L"The vendor site did not answer (12007).";
    refused(options, "The vendor site did not answer (12007).");
    EXPECT_TRUE(capture.periods.empty());
    capture.prepareError.clear();

    // On Windows 10 it runs, and says what a per-process Windows means for the answer.
    SetWindowsBuildNumber(19045);
    EXPECT_EQ(RunGameCompare(options, capture, stop), 0) << Lines();
    EXPECT_TRUE(Logged("Note: this Windows version keeps timer requests per-process"));
}
