#include "app/entry.h"
#include "app/console_flow.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "foundation/elevation.h"
#include "foundation/product.h"
#include "foundation/unique_handle.h"
#include "support/fakes.h"
#include "support/test_support.h"

namespace {

// Wine always runs fully elevated and never shows a UAC prompt, so the refusal paths are
// driven through the elevation seam.
struct FakeElevation {
    static inline bool elevated = false;
    static inline bool relaunchStarts = true;
    static inline int relaunches = 0;
    static inline std::wstring executable;
    static inline std::wstring parameters;
    static inline int boxes = 0;
    static inline std::wstring boxText;
    static inline std::wstring boxCaption;
    static inline bool boxError = false;

    static bool IsElevated() { return elevated; }
    static bool RunAs(const std::wstring& exe, const std::wstring& params) {
        ++relaunches;
        executable = exe;
        parameters = params;
        return relaunchStarts;
    }
    static void Box(const std::wstring& text, const std::wstring& caption, bool error) {
        ++boxes;
        boxText = text;
        boxCaption = caption;
        boxError = error;
    }
};

const ElevationSeam kFakeSeam{FakeElevation::IsElevated, FakeElevation::RunAs, FakeElevation::Box};

class Entry : public testing::Test {
protected:
    TempFolder folder;
    ScopedProgramFolders folders{folder.Path()};
    RecordingFeed feed;
    ScopedFeed feedScope{&feed};

    void SetUp() override {
        FakeElevation::elevated = false;
        FakeElevation::relaunchStarts = true;
        FakeElevation::relaunches = 0;
        FakeElevation::parameters.clear();
        FakeElevation::boxes = 0;
        SetElevationSeam(&kFakeSeam);
    }
    void TearDown() override { SetElevationSeam(nullptr); }

    std::vector<std::wstring> Lines() { return feed.Lines(); }
};

}  // namespace

TEST_F(Entry, NotElevatedConsoleCommandRelaunchesWithElevatedFlagAndExitsZero) {
    EXPECT_EQ(ProgramEntry({L"--install", L"--resolution", L"5070"}), 0);
    EXPECT_EQ(FakeElevation::relaunches, 1);
    EXPECT_EQ(FakeElevation::parameters, L"\"--install\" \"--resolution\" \"5070\" \"--elevated\"");
    wchar_t own[520] = {};
    GetModuleFileNameW(nullptr, own, 520);
    EXPECT_EQ(FakeElevation::executable, own);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(Entry, DeclinedRelaunchInConsoleModeIsReportedWithExitOne) {
    FakeElevation::relaunchStarts = false;
    EXPECT_EQ(ProgramEntry({L"--cli"}), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"ERROR: Elevation was declined or failed. Quorvantis must run as administrator."}));
    EXPECT_EQ(FakeElevation::boxes, 0);
}

TEST_F(Entry, RelaunchedCopyWithoutRightsNeverRelaunchesAgain) {
    EXPECT_EQ(ProgramEntry({L"--status", L"--elevated"}), 1);
    EXPECT_EQ(FakeElevation::relaunches, 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"ERROR: Administrator privileges are required and elevation did not take effect."}));
}

TEST_F(Entry, GuiModeRefusalsUseMessageBoxes) {
    FakeElevation::relaunchStarts = false;
    EXPECT_EQ(ProgramEntry({L"--fidelity", L"high"}), 1);
    ASSERT_EQ(FakeElevation::boxes, 1);
    EXPECT_EQ(FakeElevation::boxText, L"Quorvantis must run as administrator. Approve the UAC prompt and try again.");
    EXPECT_EQ(FakeElevation::boxCaption, L"Quorvantis");
    EXPECT_FALSE(FakeElevation::boxError);

    EXPECT_EQ(ProgramEntry({L"--elevated"}), 1);
    ASSERT_EQ(FakeElevation::boxes, 2);
    EXPECT_EQ(FakeElevation::boxText, L"Quorvantis must run as administrator, and elevation did not take effect.");
    EXPECT_TRUE(FakeElevation::boxError);
    EXPECT_EQ(FakeElevation::relaunches, 1);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(Entry, HelpVersionAndSelfTestNeedNoRights) {
    EXPECT_EQ(ProgramEntry({L"--help"}), 0);
    EXPECT_EQ(ProgramEntry({L"/?"}), 0);
    EXPECT_EQ(ProgramEntry({L"--version"}), 0);
    ProgramEntry({L"--self-test"});
    EXPECT_EQ(FakeElevation::relaunches, 0);
}

TEST_F(Entry, BadCommandLineReportsTheErrorThenUsageWithoutTouchingRights) {
    EXPECT_EQ(ProgramEntry({L"--install", L"--samples", L"9"}), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"ERROR: --samples requires a whole number >= 10."}));
    EXPECT_EQ(FakeElevation::relaunches, 0);
    EXPECT_EQ(ProgramEntry({std::wstring(5000, L'\u2192')}), 1);
    EXPECT_EQ(Lines().back().size(), 1023u + 7u) << "the message is cut, the ERROR prefix added after";
}

TEST_F(Entry, SecondLockedCommandIsRefusedWhileAnotherRuns) {
    FakeElevation::elevated = true;
    FakeObjectNamespace space;
    // Held by another of ours: the startup guard, say, running as SYSTEM.
    const UniqueKernelHandle held(space.OpenMutex(L"Operation"));
    ASSERT_TRUE(held);
    EXPECT_EQ(ProgramEntry({L"--uninstall"}), 1);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"ERROR: Another Quorvantis operation is already running."}));
}

// Any program may make a global object of any name first. The locks are the program's own, out
// of its reach: held under the names they once had, they stop nothing and slow nothing, while a
// lock the program cannot have at all stops the command rather than letting it run beside
// whoever holds it.
TEST_F(Entry, ObjectsAnotherProgramHoldsStopNothingAndALockThatCannotBeHadStopsTheCommand) {
    FakeElevation::elevated = true;
    FakeObjectNamespace space;
    const UniqueKernelHandle squatted(CreateMutexW(nullptr, TRUE, L"Global\\Quorvantis.SingleInstance"));
    const UniqueKernelHandle log(CreateMutexW(nullptr, TRUE, L"Global\\Quorvantis.Log"));
    ASSERT_TRUE(squatted && log);
    const ULONGLONG start = GetTickCount64();
    ProgramEntry({L"--stop"});
    for (const std::wstring& line : Lines()) EXPECT_NE(line, L"ERROR: Another Quorvantis operation is already running.");
    EXPECT_LT(GetTickCount64() - start, 1500u) << "no log line waited for a lock somebody else holds";

    space.unavailable = true;
    EXPECT_EQ(ProgramEntry({L"--stop"}), 1);
    ASSERT_GE(Lines().size(), 2u);
    EXPECT_EQ(Lines()[Lines().size() - 2], L"ERROR: Quorvantis could not take its lock, so nothing was changed; try again.");
    EXPECT_EQ(Lines().back(), L"ERROR: The lock could not be made or opened (error 5).");
}

TEST_F(Entry, LockIsReleasedWhenTheCommandEnds) {
    FakeElevation::elevated = true;
    FakeObjectNamespace space;
    ProgramEntry({L"--stop"});
    ProgramEntry({L"--stop"});
    for (const std::wstring& line : Lines()) EXPECT_NE(line, L"ERROR: Another Quorvantis operation is already running.");
    SetLastError(0);
    const UniqueKernelHandle probe(space.OpenMutex(L"Operation"));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(Entry, ConsoleRightsCheckAsksForTheRelaunchOnce) {
    Options options;
    EXPECT_EQ(RequireElevationConsole(options, {L"--stop"}), 0);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"Requesting administrator privileges (approve the UAC prompt)..."}));
    EXPECT_EQ(FakeElevation::parameters, L"\"--stop\" \"--elevated\"");

    FakeElevation::relaunchStarts = false;
    EXPECT_EQ(RequireElevationConsole(options, {L"--stop"}), 1);
    EXPECT_EQ(Lines().back(), L"ERROR: Elevation was declined or failed. Quorvantis must run as administrator.");

    options.elevated = true;
    EXPECT_EQ(RequireElevationConsole(options, {L"--stop", L"--elevated"}), 1);
    EXPECT_EQ(Lines().back(), L"ERROR: Administrator privileges are required and elevation did not take effect.");
    EXPECT_EQ(FakeElevation::relaunches, 2);

    FakeElevation::elevated = true;
    EXPECT_EQ(RequireElevationConsole(options, {L"--stop"}), kElevationContinue);
}

TEST(RelaunchParameters, QuotesEveryArgumentAndEscapesInnerQuotes) {
    EXPECT_EQ(ElevationParameterText({}), L"");
    EXPECT_EQ(ElevationParameterText({L"--cli", L"say\"hi"}), L"\"--cli\" \"say\\\"hi\"");
    EXPECT_EQ(ElevationParameterText({L"--cli", L"say\"hi", L"--elevated"}), L"\"--cli\" \"say\\\"hi\" \"--elevated\"");
    EXPECT_EQ(ElevationParameterText({L"C:\\dir\\file"}), L"\"C:\\dir\\file\"");
}

TEST(RelaunchParameters, TheElevatedCopySplitsThemBackIntoTheSameArguments) {
    const std::vector<std::wstring> tricky = {L"--cli",        L"say\"hi",   L"C:\\dir\\",      L"a\\\"b",
                                              L"two words",    L"",          L"\u2192\u00B7",   L"--elevated"};
    const std::wstring commandLine = L"\"C:\\x\\Quorvantis.exe\" " + ElevationParameterText(tricky);
    EXPECT_EQ(SplitCommandLine(commandLine.c_str()), tricky);
}

TEST_F(Entry, InstallWorkerWithoutRightsHandsTheInstallToAnElevatedCopy) {
    RecordingFeed workerFeed;
    EXPECT_EQ(InstallWorker(&workerFeed, 5070), 2);
    EXPECT_EQ(FakeElevation::parameters, L"\"--resolution\" \"5070\" \"--yes\" \"--elevated\"");
    FakeElevation::relaunchStarts = false;
    EXPECT_EQ(InstallWorker(&workerFeed, 5070), 2);
    EXPECT_EQ(workerFeed.Lines(), (std::vector<std::wstring>{L"Requesting administrator privileges (approve the UAC prompt)...",
                                                              L"Requesting administrator privileges (approve the UAC prompt)...",
                                                              L"ERROR: elevation was declined or failed."}));
    EXPECT_EQ(CurrentFeed(), nullptr) << "the worker clears its feed when it ends";
}

// A relaunch after an update that fails once left the user with nothing running and no word.
TEST(FinishWindow, AFailedStartOfTheUpdatedCopyIsToldAndEndsWithOne) {
    std::wstring told;
    const auto tell = [&](const wchar_t* text) { told = text; };
    EXPECT_EQ(FinishWindow(2, [] { return false; }, tell), 1);
    EXPECT_EQ(told, L"Quorvantis was updated, but the new version could not be started. Start Quorvantis again.");
    told.clear();
    EXPECT_EQ(FinishWindow(2, [] { return true; }, tell), 0);
    EXPECT_EQ(FinishWindow(0, [] { return false; }, tell), 0);
    EXPECT_EQ(FinishWindow(1, [] { return true; }, tell), 1);
    EXPECT_EQ(told, L"") << "only an update relaunches";
}
