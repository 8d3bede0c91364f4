// The window's whole tune as a user runs it: steps chosen on the welcome screen with the mouse,
// Begin, the steps running on Wine's real kernel until the review screen, and the machine left
// exactly as the console flow with the same choices leaves it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "gui/layout.h"
#include "gui/workflow.h"
#include "health/monitor.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "support/registry_export.h"
#include "support/machine_state.h"
#include "support/test_support.h"
#include "support/wait.h"

namespace {

std::wstring ProgramPath() { return BinDirectory() + L"\\Quorvantis.exe"; }

constexpr const wchar_t* kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

struct MachineExport {
    RegistryExport state, sessionManager;
};

// The measured median differs from run to run; that it is kept is checked, not its value.
MachineExport ExportMachine() {
    MachineExport e{ExportRegistry(RegRoot::LocalMachine, kStateKey), ExportRegistry(RegRoot::LocalMachine, kSessionManager)};
    EXPECT_EQ(e.state.values.erase(L":BenchmarkMedianMicroMs"), 1u);
    return e;
}

// A click as the mouse makes it, then time for a frame to take it.
void Click(HWND window, const RectF& rect) {
    const LPARAM at = MAKELPARAM(static_cast<int>((rect.left + rect.right) / 2), static_cast<int>((rect.top + rect.bottom) / 2));
    PostMessageW(window, WM_MOUSEMOVE, 0, at);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
    Sleep(1500);
}

bool WaitForLog(const char* text, uint32_t timeoutMs) {
    return WaitUntil([&] { return ReadProgramLog().find(text) != std::string::npos; }, timeoutMs, 250);
}

class GuiFlow : public testing::Test {
protected:
    void SetUp() override {
        Clean();
        // Answered before: no first-run questions; the window opens on the welcome screen.
        for (const wchar_t* name : {L"StartupAsked", L"TrayPrompted", L"MaintainAsked", L"Paused"}) {
            WriteDword(RegRoot::CurrentUser, kMonitorKey, name, 1);
        }
        // Not started with Windows: its sign-in task is the window's own, which the console flow has not.
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"LaunchAtLogin", 0);
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"CloseToTray", 0);
        WriteDword(RegRoot::CurrentUser, kMonitorKey, L"StartMinimized", 0);
    }
    void TearDown() override { Clean(); }
    static void Clean() {
        if (QueryTimerServiceState() != TimerServiceState::NotInstalled) RunProgram(ProgramPath(), L"--uninstall --no-pause", 120000);
        ScopedMachineState::Clear();
        ClearProgramLog();
    }
};

}  // namespace

TEST_F(GuiFlow, StepsChosenWithTheMouseRunToTheReviewAndLeaveWhatTheConsoleFlowLeaves) {
    // The console flow with the same choices, for reference.
    const ProgramRun console = RunProgram(
        ProgramPath(), L"--cli --yes --no-prepare --no-gpu --no-afterburner --fidelity low --from 10000 --to 10020 --no-pause",
        240000);
    ASSERT_EQ(console.exitCode, 0u) << ReadProgramLog();
    const MachineExport afterConsole = ExportMachine();
    ASSERT_EQ(RunProgram(ProgramPath(), L"--uninstall --no-pause", 120000).exitCode, 0u);
    ClearProgramLog();

    RunningProgram program(ProgramPath(), L"--fidelity low --from 10000 --to 10020");
    const HWND window = WaitForProgramWindow(program.Id(), 30000);
    ASSERT_NE(window, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 1340);
    ASSERT_EQ(client.bottom, 880);
    Sleep(3000);  // the first frames, and the fade-in

    const ScreenLayout screen = LayoutFor(1340, 880, stage::Welcome);
    const WelcomeLayout welcome = WelcomeLayoutFor(screen.content, true);
    for (const int slot : {SlotPrepare, SlotGpuDriver, SlotGpuSettings, SlotAfterburner}) Click(window, welcome.stepBoxes[slot]);
    Click(window, welcome.fidelity[1]);  // low
    Click(window, welcome.begin);

    ASSERT_TRUE(WaitForLog("Full tune started: Measure, Timer service, CPU power, Memory, Storage.", 20000)) << ReadProgramLog();
    ASSERT_TRUE(WaitForLog("Full tune complete.", 240000)) << ReadProgramLog();
    const std::string log = ReadProgramLog();
    EXPECT_NE(log.find("Benchmarking Sleep(1) response across timer resolutions."), std::string::npos);
    EXPECT_NE(log.find("Applying CPU Tune"), std::string::npos);
    EXPECT_EQ(QueryTimerServiceState(), TimerServiceState::Running);

    // The choice is kept for the next start.
    EXPECT_TRUE(IsSetupComplete());
    EXPECT_FALSE(IsStepWanted(L"prepare"));
    EXPECT_FALSE(IsStepWanted(L"gpu"));
    EXPECT_TRUE(IsStepWanted(L"storage"));

    const MachineExport afterWindow = ExportMachine();
    EXPECT_EQ(afterWindow.state, afterConsole.state) << ToUtf8(DescribeDifference(afterConsole.state, afterWindow.state));
    EXPECT_EQ(afterWindow.sessionManager, afterConsole.sessionManager)
        << ToUtf8(DescribeDifference(afterConsole.sessionManager, afterWindow.sessionManager));

    PostMessageW(window, WM_CLOSE, 0, 0);
    uint32_t code = 1;
    ASSERT_TRUE(program.WaitForExit(60000, code));
    EXPECT_EQ(code, 0u);
}
