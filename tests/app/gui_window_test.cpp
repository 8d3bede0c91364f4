// The window as a user starts it: one instance, the automatic start with --yes, and closing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/unique_handle.h"
#include "health/monitor.h"
#include "service/service_control.h"
#include "support/fakes.h"
#include "support/registry_export.h"
#include "support/test_support.h"
#include "support/wait.h"

namespace {

std::wstring ProgramPath() { return BinDirectory() + L"\\Quorvantis.exe"; }

uint32_t DesiredResolution() {
    uint32_t value = 0;
    ReadStateDword(L"DesiredResolution", value);
    return value;
}

class GuiWindow : public testing::Test {
protected:
    void SetUp() override {
        ClearProgramLog();
        Uninstall();
        RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
        // Answered before: no first-run questions. Closing ends the program.
        for (const wchar_t* name : {L"StartupAsked", L"TrayPrompted", L"MaintainAsked", L"SetupComplete", L"Paused"}) {
            WriteDword(RegRoot::CurrentUser, kMonitorKey, name, 1);
        }
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"CloseToTray", 0);
    }
    void TearDown() override {
        Uninstall();
        RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
    }
    static void Uninstall() {
        if (QueryTimerServiceState() != TimerServiceState::NotInstalled || DesiredResolution() != 0) RunProgram(ProgramPath(), L"--uninstall --no-pause", 120000);
    }
    static bool Logged(const char* text) { return ReadProgramLog().find(text) != std::string::npos; }
};

}  // namespace

TEST_F(GuiWindow, ASecondCopyShowsTheFirstAndLeavesQuietlyAndClosingEndsTheProgram) {
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"StartMinimized", 1);
    RunningProgram first(ProgramPath(), L"");
    ASSERT_TRUE(first.Started());
    const HWND window = WaitForProgramWindow(first.Id(), 30000);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window)) << "started minimised to the tray";
    // Explorer starts again: the icon, the only way back to a hidden window, comes back with it.
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([] { return Logged("The taskbar started again; the tray icon is back."); }, 10000)) << ReadProgramLog();

    const ProgramRun second = RunProgram(ProgramPath(), L"", 30000);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_TRUE(second.out.empty() && second.err.empty()) << second.out << second.err;
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000)) << "the first copy was not shown";

    PostMessageW(window, WM_CLOSE, 0, 0);
    uint32_t code = 1;
    ASSERT_TRUE(first.WaitForExit(30000, code)) << "close-to-tray is off, so closing must end the program";
    EXPECT_EQ(code, 0u);
}

TEST_F(GuiWindow, WithYesTheMeasurementStartsByItselfAndItsResultIsInstalled) {
    RunningProgram program(ProgramPath(), L"--yes --fidelity low --from 10000 --to 10020");
    const HWND window = WaitForProgramWindow(program.Id(), 30000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
    EXPECT_TRUE(WaitUntil([] { return Logged("Benchmarking Sleep(1) response across timer resolutions."); }, 30000));
    // Wine's kernel gives 1 ms whatever is asked, so that is what the measurement selects.
    EXPECT_TRUE(WaitUntil([] { return QueryTimerServiceState() == TimerServiceState::Running && DesiredResolution() == 10000; }, 90000))
        << ReadProgramLog();
    PostMessageW(window, WM_CLOSE, 0, 0);
    uint32_t code = 1;
    ASSERT_TRUE(program.WaitForExit(60000, code));
    EXPECT_EQ(code, 0u);
}

TEST_F(GuiWindow, WithYesAndAResolutionTheInstallStartsWithoutMeasuring) {
    RunningProgram program(ProgramPath(), L"--yes --resolution 10000");
    const HWND window = WaitForProgramWindow(program.Id(), 30000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([] { return QueryTimerServiceState() == TimerServiceState::Running && DesiredResolution() == 10000; }, 90000))
        << ReadProgramLog();
    EXPECT_FALSE(Logged("Benchmarking Sleep(1)"));
    PostMessageW(window, WM_CLOSE, 0, 0);
    uint32_t code = 1;
    ASSERT_TRUE(program.WaitForExit(60000, code));
    EXPECT_EQ(code, 0u);
}

// Uninstall means the program stops tuning: with "Maintain timing" on, a window opened after the
// uninstall finds nothing of this program's to keep up, and over two drift checks it writes
// nothing, records nothing and creates no startup task.
TEST_F(GuiWindow, AfterAnUninstallMaintainingTimingPutsNothingBack) {
    // The user's own values, each unlike what the GPU step writes.
    const std::wstring graphics = L"SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers";
    const std::wstring games = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Games";
    const std::wstring capture = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\GameDVR";
    WriteDword(RegRoot::LocalMachine, graphics, L"HwSchMode", 1);
    WriteDword(RegRoot::LocalMachine, games, L"GPU Priority", 2);
    WriteDword(RegRoot::CurrentUser, capture, L"AppCaptureEnabled", 1);
    const auto snapshot = [&] {
        return std::vector<RegistryExport>{ExportRegistry(RegRoot::LocalMachine, graphics), ExportRegistry(RegRoot::LocalMachine, games),
                                           ExportRegistry(RegRoot::CurrentUser, capture), ExportRegistry(RegRoot::LocalMachine, capture)};
    };
    const std::vector<RegistryExport> users = snapshot();
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"MaintainTiming", 1);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Drift_gpu.HAGS", 1);

    ASSERT_EQ(RunProgram(ProgramPath(), L"--apply-gpu --gpu --yes --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
    uint32_t hags = 0;
    ASSERT_TRUE(ReadDword(graphics, L"HwSchMode", hags));
    ASSERT_EQ(hags, 2u);
    ASSERT_EQ(RunProgram(ProgramPath(), L"--uninstall --no-pause", 120000).exitCode, 0u) << ReadProgramLog();
    EXPECT_TRUE(snapshot() == users) << "the user's values are back";
    EXPECT_FALSE(LoadMonitorSettings().maintainTiming);
    EXPECT_FALSE(LoadMonitorSettings().launchAtLogin) << "its sign-in task went with the uninstall";
    uint32_t drift = 0;
    EXPECT_FALSE(ReadDwordIn(RegRoot::CurrentUser, kMonitorKey, L"Drift_gpu.HAGS", drift));

    // The user turns maintaining on again and opens the window.
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"MaintainTiming", 1);
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"Paused", 0);
    TempFolder tools;
    const FakeTool schtasks(SystemToolPath(L"schtasks.exe"), tools.File(L"calls.txt"));
    ClearProgramLog();
    RunningProgram program(ProgramPath(), L"");
    const HWND window = WaitForProgramWindow(program.Id(), 30000);
    ASSERT_NE(window, nullptr);
    const auto scans = [] {
        const std::string log = ReadProgramLog();
        size_t count = 0;
        for (const char* summary : {" need attention.", "Nothing needs attention.", "Some checks could not be completed."}) {
            for (size_t at = log.find(summary); at != std::string::npos; at = log.find(summary, at + 1)) ++count;
        }
        return count;
    };
    ASSERT_TRUE(WaitUntil([&] { return scans() >= 1; }, 60000)) << "the scan at start";
    for (int tick = 0; tick < 2; ++tick) {
        if (tick == 1) Sleep(61000);  // drift checks are a minute apart
        const size_t before = scans();
        PostMessageW(window, WM_TIMER, 7, 0);  // the minute timer
        ASSERT_TRUE(WaitUntil([&] { return scans() > before; }, 60000)) << "drift check " << tick;
        Sleep(3000);  // what a check decides to repair or harden starts at once
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    uint32_t code = 1;
    EXPECT_TRUE(program.WaitForExit(60000, code));
    EXPECT_TRUE(snapshot() == users) << "nothing was applied again";
    EXPECT_FALSE(RegistryKeyExists(RegRoot::LocalMachine, kStateKey)) << "nothing was recorded";
    EXPECT_EQ(ReadFileBytes(tools.File(L"calls.txt")).find("/Create"), std::string::npos) << "no startup task";
    EXPECT_FALSE(FileExists(InstalledExePath())) << "no copy under Program Files";
    EXPECT_EQ(ReadProgramLog().find("automatic repair"), std::string::npos) << ReadProgramLog();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, graphics.c_str(), L"HwSchMode");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, games.c_str(), L"GPU Priority");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, capture.c_str(), L"AppCaptureEnabled");
}
