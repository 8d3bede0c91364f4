// Faults a user met in the window, each driven through the offscreen window as the message loop
// would drive it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "gui/captions.h"
#include "support/screen_script.h"
#include "support/wait.h"

namespace {

// "--yes --no-ppm" once wrote the power plan: the automatic advance followed fixed transitions.
TEST(WindowFaults, YesRunsOnlyTheStepsTheUserLeftSelected) {
    ScreenScript script;
    ASSERT_TRUE(script.Ready());
    std::atomic<int> cpu{0}, gpu{0};
    script.Hooks().yes = true;
    script.Hooks().noPpm = true;
    script.Hooks().stepCpuTune = [&](Feed&) { return ++cpu, 0; };
    script.Hooks().stepGpuConfig = [&](Feed&) { return ++gpu, 0; };
    script.Flow().ApplyCommandLineSelection();
    script.Flow().want[SlotGpuDriver] = false;  // no vendor lookup from a test
    script.RunStep(SlotService, 0, L"Installed", L"", {});
    script.Draw(stage::Installed, 2);
    EXPECT_TRUE(WaitUntil([&] { return HasEnded(script.Flow().State(SlotGpuSettings)); }, 10000));
    EXPECT_EQ(cpu.load(), 0) << "CPU Tune was left off";
    EXPECT_EQ(script.Flow().State(SlotCpu), StepIdle);
    EXPECT_EQ(gpu.load(), 1) << "the next selected step runs instead";
}

}  // namespace
