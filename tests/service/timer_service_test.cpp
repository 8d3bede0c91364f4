#include "service/timer_service.h"

#include <gtest/gtest.h>

#include <thread>

#include "service/service_install.h"
#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"

TEST(ServiceTarget, StoredValueWithinTheKernelRangeElseTheFinest) {
    const struct {
        uint32_t desired, legacy, finest, coarsest, target;
    } cases[] = {
        {4000, 0, 5000, 156250, 5000},      // below the finest: raised
        {200000, 0, 5000, 156250, 156250},  // above the coarsest: lowered
        {0, 0, 5000, 156250, 5000},         // nothing stored anywhere
        {0, 5070, 5000, 156250, 5070},      // only the older build's key
        {6000, 5070, 5000, 156250, 6000},   // ours wins over the older one
        {200000, 0, 5000, 0, 200000},       // a kernel without a coarsest does not cap
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseServiceTarget(c.desired, c.legacy, c.finest, c.coarsest), c.target) << c.desired << "/" << c.legacy;
    }
}

TEST(ConsoleHold, HoldsTheClampedResolutionUntilAnyConsoleControlReleasesIt) {
    SimulatedTimerKernel kernel({});
    const ScopedTimerKernel scope(&kernel);
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    RecordingFeed feed;
    int exitCode = -1;
    std::thread hold([&] {
        SetCurrentFeed(&feed);
        exitCode = HoldResolutionInConsole(4000);  // below the simulated finest of 5000
        SetCurrentFeed(nullptr);
    });
    // The line is logged once the hold listens for console controls.
    ASSERT_TRUE(feed.WaitUntilLogged(L"Ctrl+C to release.", 20000));
    EXPECT_EQ(kernel.OwnRequest(), 5000u);
    EXPECT_TRUE(ConsoleHoldControlHandler(CTRL_CLOSE_EVENT));
    hold.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(kernel.OwnRequest(), 0u);
    EXPECT_TRUE(feed.Logged(L"Holding timer resolution at 0.5000 ms in this process. Ctrl+C to release."));
    EXPECT_EQ(feed.Lines().back(), L"\nResolution released.");
}

TEST(ConsoleHold, KernelQueryFailureIsReported) {
    SimulatedTimerConfig config;
    config.failQueriesFrom = 0;
    SimulatedTimerKernel kernel(config);
    const ScopedTimerKernel scope(&kernel);
    RecordingFeed feed;
    const ScopedFeed feedScope(&feed);
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    EXPECT_EQ(HoldResolutionInConsole(0), 1);
    EXPECT_EQ(feed.Lines(), std::vector<std::wstring>{L"ERROR: NtQueryTimerResolution failed."});
}
