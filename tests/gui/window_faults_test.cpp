// Faults a user met in the window, each driven through the offscreen window as the message loop
// would drive it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "foundation/text.h"
#include "gui/layout.h"
#include "gui/steps.h"
#include "foundation/log.h"
#include "support/game_model.h"
#include "support/screen_script.h"
#include "support/wait.h"

namespace {

// "--yes --no-ppm" once wrote the power plan: the automatic advance followed fixed transitions.
TEST(WindowFaults, YesRunsOnlyTheStepsTheUserLeftSelected) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    std::atomic<int> cpu{0}, gpu{0};
    script.Hooks().yes = true;
    script.Hooks().leaveOut[SlotCpu] = true;
    script.Hooks().steps[SlotCpu] = [&](Feed&) { return ++cpu, 0; };
    script.Hooks().steps[SlotGpuSettings] = [&](Feed&) { return ++gpu, 0; };
    script.Flow().ApplyCommandLineSelection();
    script.Flow().SetWanted(SlotGpuDriver, false);  // no vendor lookup from a test
    script.RunStep(SlotService, 0, L"Installed", L"", {});
    script.Draw(stage::Installed, 2);
    EXPECT_TRUE(WaitUntil([&] { return HasEnded(script.Flow().State(SlotGpuSettings)); }, 10000));
    EXPECT_EQ(cpu.load(), 0) << "CPU Tune was left off";
    EXPECT_EQ(script.Flow().State(SlotCpu), StepIdle);
    EXPECT_EQ(gpu.load(), 1) << "the next selected step runs instead";
}

}  // namespace

namespace {

constexpr int kCpuTile = 3;  // Full tune, Health, Measure timing, CPU power, ...

// The home screen once ran the processor probe (a sleep and busy work) while drawing. The probes
// take far longer than a frame may, even a slow first frame on a loaded machine, so only a
// window that waited for one can miss the bound.
TEST(WindowFaults, ProbesRunOnTheWorkerAndLandInALaterFrame) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    Gate cpuGate, gpuGate;
    script.Hooks().probeCpu = [&] {
        cpuGate.Pass();
        CpuProbe probe;
        probe.cpuClass = CpuLocked;
        probe.brand = L"Test CPU";
        return probe;
    };
    script.Hooks().probeGpu = [&] {
        gpuGate.Pass();
        GpuProbeView probe;
        probe.tweaksApplied = true;
        return probe;
    };
    script.Draw(stage::Home, 2);
    script.Window().Operations().OpenHomeTile(kCpuTile);
    script.Draw(stage::CpuIntro, 1);
    EXPECT_FALSE(cpuGate.Passed()) << "the window waited for the probe";
    EXPECT_FALSE(script.Window().Snapshot().cpuProbed);
    cpuGate.Open();
    ASSERT_TRUE(script.Window().WaitForBackground(15000));
    script.Draw(stage::CpuIntro, 1);
    EXPECT_TRUE(script.Window().Snapshot().cpuProbed);
    EXPECT_EQ(script.Window().Snapshot().cpu.brand, L"Test CPU");

    // Guided step 5 asks the graphics probe too; the intro learns that the settings are applied.
    script.Window().Operations().StartGuidedStep(SlotGpuSettings);
    script.Draw(stage::GpuIntro, 1);
    EXPECT_FALSE(gpuGate.Passed()) << "the window waited for the probe";
    gpuGate.Open();
    ASSERT_TRUE(script.Window().WaitForBackground(15000));
    script.Draw(stage::GpuIntro, 1);
    EXPECT_TRUE(script.Window().Snapshot().gpuProbed && script.Window().Snapshot().gpu.tweaksApplied);
}

// A measurement run from Full tune or the measure screen was never picked up by the home card.
TEST(WindowFaults, TheHomeCardShowsTheScanOfAMeasurementRunFromAnotherScreen) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    script.Window().Operations().GoHome();
    script.Draw(stage::Home, 2);
    ASSERT_TRUE(script.Window().WaitForBackground(10000));
    script.Draw(stage::Home, 1);
    EXPECT_FALSE(script.Window().Snapshot().scanFound) << "no scan saved yet";

    script.Window().Operations().SetStage(stage::Measuring);
    ASSERT_TRUE(script.Measure());
    script.Draw(stage::Measured, 1);  // the measurement ends while its own screen is shown
    script.Window().Operations().GoHome();
    script.Draw(stage::Home, 1);
    ASSERT_TRUE(script.Window().WaitForBackground(10000));
    script.Draw(stage::Home, 1);
    EXPECT_TRUE(script.Window().Snapshot().scanFound);
}

// Afterburner's "a later driver install may have cleared the curve" was never shown.
TEST(WindowFaults, ADriverInstalledAfterAfterburnerIsToldOnItsScreen) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    script.RunStep(SlotAfterburner, 0, L"Afterburner", L"", {});
    script.Draw(stage::AfterburnerDone, 1);
    EXPECT_FALSE(script.Window().Snapshot().afterburnerAfterDriver);
    script.Flow().SetGpuPhase(GpuPhaseInstalled, L"");
    script.Draw(stage::AfterburnerDone, 1);
    EXPECT_TRUE(script.Window().Snapshot().afterburnerAfterDriver);
}

// Home and Health scrolled one shared offset without end; each now scrolls its own, within its list.
TEST(WindowFaults, EachListScrollsItsOwnOffsetAndStopsAtItsEnd) {
    ScreenScript script;
    ASSERT_TRUE(script.ScanHealth());
    script.Draw(stage::Health, 1);
    script.Window().HandleMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120 * 200)), 0);
    script.Draw(stage::Health, 1);
    const float health = script.Window().States().health.scroll;
    EXPECT_GT(health, 0.0f);
    EXPECT_LT(health, 40.0f * static_cast<float>(script.Window().Snapshot().health.size())) << "scrolled past the end";
    script.Draw(stage::Home, 1);
    EXPECT_EQ(script.Window().States().home.scroll, 0.0f);
}

// The Health screen lists what Quorvantis changed, read on the worker once per visit; a chosen
// change shows its original beside what it holds now, and "Put back" asks first (saying someone
// else changed it since), then puts back that one change on a worker and lists the ledger anew.
// The worker's calls take far longer than the frames may, so only a window that waited misses.
TEST(WindowFaults, TheHealthScreenListsTheLedgerAndPutsOneChangeBackWithoutWaiting) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    std::atomic<int> reads{0};
    std::atomic<bool> reverted{false};
    Gate ledgerGate, putBackGate;
    script.Hooks().readChanges = [&] {
        ledgerGate.Pass();
        ++reads;
        if (reverted) return std::vector<ChangeRow>{};
        const ChangeRow row = LedgerRow(L"gpu.HAGS", L"GPU Config", L"HKLM\\SYSTEM\\x\\HwSchMode", L"REG_DWORD 1",
                                        L"REG_DWORD 5", L"REG_DWORD 2");
        return std::vector<ChangeRow>{row};
    };
    std::wstring revertedId;
    script.Hooks().revertChange = [&](const std::wstring& id, std::wstring& outcome) {
        putBackGate.Pass();
        revertedId = id;
        reverted = true;
        outcome = L"Put back " + id + L".";
        return true;
    };
    std::wstring question;
    script.Hooks().ask = [&](const std::wstring& text, unsigned) {
        question = text;
        return IDYES;
    };
    script.Draw(stage::Home, 2);
    script.Window().Operations().OpenHealth(false);
    script.Draw(stage::Health, 1);
    EXPECT_FALSE(ledgerGate.Passed()) << "the window waited for the ledger";
    EXPECT_FALSE(script.Window().Snapshot().changesRead);
    ledgerGate.Open();
    ASSERT_TRUE(script.Window().WaitForBackground(25000));
    script.Draw(stage::Health, 1);
    const FrameSnapshot shown = script.Window().Snapshot();
    ASSERT_TRUE(shown.changesRead);
    ASSERT_EQ(shown.changes.size(), 1u);
    EXPECT_EQ(reads.load(), 1);
    EXPECT_EQ(ChangeDetails(shown.changes[0]),
              L"gpu.HAGS\nHKLM\\SYSTEM\\x\\HwSchMode\n\nBefore Quorvantis: REG_DWORD 1\nNow: REG_DWORD 5\nQuorvantis writes: "
              L"REG_DWORD 2\nState: changed since by someone else\n\n\"Put back\" writes the value from before Quorvantis back "
              L"now, for this setting only; uninstall does the same for all of them, whoever changed them since.");

    script.Window().Operations().PutBackChange(shown.changes[0]);
    EXPECT_TRUE(question.empty()) << "asked while the frame was being drawn";
    script.Draw(stage::Health, 1);
    script.Window().AskQueuedQuestions();  // as the message loop does after the frame
    script.Draw(stage::Health, 1);
    EXPECT_FALSE(putBackGate.Passed()) << "the window waited for the put-back";
    EXPECT_NE(question.find(L"Put gpu.HAGS back to REG_DWORD 1?"), std::wstring::npos) << ToUtf8(question);
    EXPECT_NE(question.find(L"Someone else changed it since"), std::wstring::npos) << ToUtf8(question);
    EXPECT_TRUE(script.Window().Snapshot().puttingBack);
    putBackGate.Open();
    ASSERT_TRUE(script.Window().WaitForBackground(25000));
    script.Draw(stage::Health, 1);
    const FrameSnapshot after = script.Window().Snapshot();
    EXPECT_EQ(revertedId, L"gpu.HAGS");
    EXPECT_FALSE(after.puttingBack);
    EXPECT_EQ(after.putBackOutcome, L"Put back gpu.HAGS.");
    EXPECT_TRUE(after.changes.empty()) << "the ledger is read again";
}

// An update found while the window waits hidden in the tray is announced when its message
// arrives (balloon and blinking icon), not at the next frame, which a hidden window never draws.
TEST(WindowFaults, AnUpdateIsAnnouncedWhileTheWindowIsHidden) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    script.Hooks().checkUpdate = [](AppUpdate& update, const std::atomic<bool>&, std::wstring&) {
        update.version = L"2.7.0";
        return true;
    };
    script.Window().Updates().StartCheck();
    ASSERT_TRUE(WaitUntil([&] { return script.Window().Updates().Checked(); }, 10000));
    EXPECT_FALSE(script.Window().Updates().Mode());
    script.Window().HandleMessage(kUpdateCheckedMessage, 0, 0);  // as the hidden window's loop delivers it
    EXPECT_TRUE(script.Window().Updates().Mode()) << "announced without a frame being drawn";
}

// A failed update apply is told, and the user can try again: the finished thread is joined
// before the next one starts.
TEST(WindowFaults, AFailedUpdateIsToldAndCanBeTriedAgain) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    std::vector<std::wstring> asked;
    script.Hooks().ask = [&](const std::wstring& text, unsigned) {
        asked.push_back(text);
        return IDYES;
    };
    script.Hooks().checkUpdate = [](AppUpdate& update, const std::atomic<bool>&, std::wstring&) {
        update.version = L"2.7.0";
        return true;
    };
    std::atomic<int> applies{0};
    script.Hooks().applyUpdate = [&](const AppUpdate&, const std::function<void(const std::wstring&)>&, const std::atomic<bool>&) {
        ++applies;
        return Outcome::Failed(L"The disk is full.");
    };
    App& app = script.Window();
    app.Updates().StartCheck();
    ASSERT_TRUE(WaitUntil([&] { return app.Updates().Checked(); }, 10000));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        app.Operations().RequestUpdatePrompt();
        app.HandleMessage(kUpdateCheckedMessage, 0, 0);  // asks, and the answer starts the apply
        ASSERT_TRUE(WaitUntil([&] { return applies.load() == attempt && !app.Updates().Applying(); }, 10000)) << attempt;
        app.HandleMessage(kUpdateCheckedMessage, 0, 0);  // the apply's own message: its failure is told
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.back(), L"The disk is full.") << attempt;
    }
    EXPECT_EQ(applies.load(), 2);
}

// Windows may refuse a restart (a shutdown already under way, no right to it): the user is told,
// not left waiting for one that never comes.
TEST(WindowFaults, ARefusedRestartIsTold) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    std::vector<std::wstring> asked;
    script.Hooks().ask = [&](const std::wstring& text, unsigned) {
        asked.push_back(text);
        return IDOK;
    };
    script.Hooks().restart = [](const std::wstring&, std::wstring& error) {
        error = L"A system shutdown is in progress. (error 1115)";
        return false;
    };
    script.Window().Operations().RestartComputer();
    EXPECT_EQ(asked, std::vector<std::wstring>{L"Windows did not restart: A system shutdown is in progress. (error 1115) Restart "
                                               L"from the Start menu to finish."});
}

TEST(WindowFaults, OnlyPassingItemsAreListedAsPassing) {
    EXPECT_EQ(HealthSectionOf(HealthPassing), HealthSection::Passing);
    EXPECT_EQ(HealthSectionOf(HealthAttention), HealthSection::Attention);
    for (const int other : {HealthInformational, HealthInaccessible, HealthUnsupported, HealthDisabled}) {
        EXPECT_EQ(HealthSectionOf(other), HealthSection::Other) << other;
    }
}

// The Full tune tiles were mostly empty: they show what each step is doing.
TEST(WindowFaults, FullTuneTilesShowTheNewestLogLinesAndItems) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    script.HoldSteps({SlotCpu, SlotMemory});
    WaitUntil([&] { return script.Flow().Busy(SlotCpu) && script.Flow().Busy(SlotMemory); }, 5000);
    script.Draw(stage::FullTune, 2);
    const StepBrief& brief = script.Window().Snapshot().briefs[SlotCpu];
    EXPECT_EQ(brief.items.size(), 6u);
    EXPECT_FALSE(brief.log.empty());
    // Ink below the progress bar of the first tile.
    EXPECT_GT(script.InkIn(RectF{30, 240, 420, 400}), 300u);
    script.ReleaseSteps();
}

}  // namespace

namespace {

// Home said "HEALTH / read-only check of applied settings" after the health screen, and Full
// tune's status line wrapped across the divider under the header.
TEST(WindowFaults, HeaderLineBelongsToTheScreenShownAndStaysOneLine) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    script.Draw(stage::Health, 1);
    EXPECT_EQ(script.Window().Snapshot().mainHeader.first, L"HEALTH");
    script.Draw(stage::Home, 1);
    EXPECT_EQ(script.Window().Snapshot().mainHeader, (std::pair<std::wstring, std::wstring>{L"HOME", L"choose a function"}));

    // A status line far longer than the header's column: one line, nothing between it and the
    // divider under the header.
    script.Flow().Main().Stage(L"FULL TUNE", L"Running: " + std::wstring(40, L'M') + L"    Waiting: " + std::wstring(40, L'W') +
                                                 L"    Finished: " + std::wstring(40, L'F'));
    script.Draw(stage::FullTune, 2);
    const ScreenLayout layout = LayoutFor(static_cast<float>(script.Width()), static_cast<float>(script.Height()), stage::FullTune);
    const RectF& h = layout.header;
    ASSERT_GT(script.InkIn(RectF{h.right - 620, h.top + 56, h.right, h.top + 72}), 50u) << "the line is drawn";
    EXPECT_EQ(script.InkIn(RectF{h.right - 620, h.top + 74, h.right, h.bottom + 6}), 0u);
    // Nor anything across the divider, or between it and the tiles.
    EXPECT_EQ(script.InkIn(RectF{h.left, h.bottom + 4, h.right, h.bottom + 7}), 0u);
    EXPECT_EQ(script.InkIn(RectF{h.left, h.bottom + 10, h.right, layout.content.top - 1}), 0u);
}

}  // namespace

namespace {

// The game check from the home screen: the programs offered come from the hook, PresentMon is
// chosen after the frame, the run gets the game and minutes chosen, and its answer is drawn:
// the verdict and both arms' curves, without the window waiting for the run.
TEST(WindowGameCheck, TheChosenGameIsComparedOnItsOwnThreadAndItsAnswerDrawn) {
    // The renderer's image codecs (the review image below) are COM objects.
    struct Com {
        Com() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
        ~Com() { CoUninitialize(); }
    } com;
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    Gate running;
    std::wstring askedGame, askedPresentMon;
    int askedMinutes = 0;
    script.Hooks().runningPrograms = [] { return std::vector<std::wstring>{L"game.exe", L"notes.exe"}; };
    script.Hooks().choosePresentMon = [](void*) { return std::wstring(L"C:\\Program Files\\PresentMon\\PresentMon-2.3.1-x64.exe"); };
    script.Hooks().compareGame = [&](const std::wstring& game, const std::wstring& presentMon, int minutes, GameRunResult& run,
                                     const std::atomic<bool>&) {
        askedGame = game;
        askedPresentMon = presentMon;
        askedMinutes = minutes;
        LogInfo(L"Block 1 of 8: A, holding 0.5000 ms");
        running.Pass();
        GameModel model;
        model.fps = 200;
        model.effectMs = 1.0;
        GameFrames frames(model, 5);
        for (const GameArm arm : GameBlockOrder(8)) {
            std::vector<double> block;
            for (int i = 0; i < 5000; ++i) block.push_back(frames.Next(arm == GameArm::Released));
            run.blocks.push_back(GameBlock{arm, block});
        }
        run.heldActual = 5000;
        std::wstring error;
        run.outcome = CompareGameArms(run.blocks, run.comparison, error) ? Outcome::Done() : Outcome::Failed(error);
        return run.outcome.ExitCode();
    };
    ScreenOps& ops = script.Window().Operations();
    ops.OpenGameCheck();
    ASSERT_TRUE(script.Window().WaitForBackground(10000));
    script.Draw(stage::GameCheck, 1);
    EXPECT_EQ(script.Window().Snapshot().game.programs, (std::vector<std::wstring>{L"game.exe", L"notes.exe"}));

    ops.ChoosePresentMon();
    script.Window().AskQueuedQuestions();  // as the message loop does after the frame
    ops.StartGameCheck(L"game.exe", 8);
    script.Draw(stage::GameCheck, 1);
    EXPECT_TRUE(script.Window().Snapshot().game.running);
    EXPECT_FALSE(running.Passed()) << "the frame came back while the run was held";
    running.Open();
    ASSERT_TRUE(WaitUntil(
        [&] {
            script.Draw(stage::GameCheck, 1);
            return !script.Window().Snapshot().game.running;
        },
        60000));
    EXPECT_EQ(askedGame, L"game.exe");
    EXPECT_EQ(askedPresentMon, L"C:\\Program Files\\PresentMon\\PresentMon-2.3.1-x64.exe");
    EXPECT_EQ(askedMinutes, 8);
    const GameCheckView& shown = script.Window().Snapshot().game;
    EXPECT_EQ(shown.verdict.rfind(L"Holding 0.5000 ms lowered your 99th-percentile frame time by ", 0), 0u) << ToUtf8(shown.verdict);
    EXPECT_EQ(shown.heldCurve.size(), static_cast<size_t>(kGameCurvePoints));
    EXPECT_NEAR(shown.releasedCurve.front() - shown.heldCurve.front(), 1.0, 0.3) << "the medians are a millisecond apart";
    // Both curves are drawn in the answer's lower part.
    const ScreenLayout layout = LayoutFor(kScreenWidth, kScreenHeight, stage::GameCheck);
    const float split = layout.content.left + (layout.content.Width() - kGap) * 0.42f + kGap;
    EXPECT_GT(script.InkIn(RectF{split + 80, layout.content.top + 140, layout.content.right - 40, layout.content.bottom - 60}), 400u);
    EXPECT_TRUE(script.Save(ScreensDirectory() + L"\\game-check.png"));  // a review image of the answer
}

}  // namespace
