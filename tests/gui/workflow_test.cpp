// The step workflow: jobs on their slots, the resource locks that keep them apart, and how a
// slot ends.
#include "gui/workflow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class StepWorkflow : public testing::Test {
protected:
    GuiHooks hooks;
    std::atomic<int> memoryCalls{0};
    std::atomic<int> memoryResult{0};

    void SetUp() override {
        hooks.steps[SlotMemory] = [this](Feed& feed) {
            ++memoryCalls;
            feed.LogLine(L"pagefile written");
            if (memoryResult == 99) throw std::runtime_error("unexpected");
            if (memoryResult == 7) {
                // A job that notices a stop request ends with a failure code.
                while (!feed.CancelQuery()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return 1;
            }
            return memoryResult.load();
        };
    }

    static bool Ended(Workflow& flow, int slot) { return HasEnded(flow.State(slot)); }
};

}  // namespace

TEST_F(StepWorkflow, AStepWaitsForItsLockShowingWhyAndAStopEndsItWithoutEverRunning) {
    Workflow flow(hooks, nullptr);
    std::unique_lock<std::mutex> driverInstall(flow.diskLock);
    flow.StartTweak(SlotMemory, true);
    EXPECT_EQ(flow.CurrentStage(), stage::MemoryRunning);
    ASSERT_TRUE(WaitFor([&] { return flow.State(SlotMemory) == StepWaiting; }));
    EXPECT_EQ(flow.StateOf(SlotMemory).Header(),
              std::make_pair(std::wstring(L"MEMORY"), std::wstring(L"waiting, a restore point or driver install is using the disk")));

    flow.StartTweak(SlotMemory, false);  // busy: dropped
    flow.StopSlot(SlotMemory);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    EXPECT_EQ(flow.State(SlotMemory), StepStopped);
    EXPECT_EQ(memoryCalls, 0);
    flow.AdvanceStage();
    EXPECT_EQ(flow.CurrentStage(), stage::MemoryFailed);

    // Once the lock is free, a new start runs the step and holds the lock until it returns.
    driverInstall.unlock();
    flow.StartTweak(SlotMemory, false);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    EXPECT_EQ(flow.State(SlotMemory), StepFinished);
    EXPECT_EQ(memoryCalls, 1);
    EXPECT_EQ(flow.StateOf(SlotMemory).Header(),
              std::make_pair(std::wstring(L"MEMORY"), std::wstring(L"pagefile and compression updated")));
    EXPECT_TRUE(flow.diskLock.try_lock());
    flow.diskLock.unlock();
}

TEST_F(StepWorkflow, ResultsBecomeFinishedFailedOrStoppedAndThrowingCountsAsFailed) {
    Workflow flow(hooks, nullptr);
    memoryResult = 3;
    flow.StartTweak(SlotMemory, true);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    EXPECT_EQ(flow.State(SlotMemory), StepFailed);
    EXPECT_EQ(flow.Result(SlotMemory), 3);
    EXPECT_EQ(flow.StateOf(SlotMemory).Header().first, L"MEMORY FAILED");

    memoryResult = 99;
    flow.StartTweak(SlotMemory, false);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    EXPECT_EQ(flow.State(SlotMemory), StepFailed);
    EXPECT_EQ(flow.Result(SlotMemory), 1);

    memoryResult = 7;
    flow.StartTweak(SlotMemory, false);
    ASSERT_TRUE(WaitFor([&] { return flow.State(SlotMemory) == StepRunning && memoryCalls == 3; }));
    flow.StopSlot(SlotMemory);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    EXPECT_EQ(flow.State(SlotMemory), StepStopped);

    // A step without its hook is not offered: it fails at once.
    flow.StartTweak(SlotStorage, false);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotStorage); }));
    EXPECT_EQ(flow.State(SlotStorage), StepFailed);

    // Retry: back to Idle, then a fresh job with an empty state.
    flow.ResetSlot(SlotMemory);
    EXPECT_EQ(flow.State(SlotMemory), StepIdle);
    memoryResult = 0;
    flow.StartTweak(SlotMemory, false);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMemory); }));
    StateView view;
    flow.StateOf(SlotMemory).Snapshot(view);
    EXPECT_EQ(view.log, std::vector<std::wstring>{L"pagefile written"});
}

TEST_F(StepWorkflow, AnInstallWithoutAPeriodFailsAtOnceAndOneAfterAMeasurementUsesItsResult) {
    std::atomic<unsigned> installed{0};
    std::atomic<int> serviceStarts{0};
    hooks.installService = [&](unsigned resolution, Feed&) {
        installed = resolution;
        return 0;
    };
    hooks.startService = [&] { ++serviceStarts; };
    std::atomic<bool> release{false};
    hooks.runBenchmark = [&](Feed& feed, int fidelity) {
        EXPECT_EQ(fidelity, 2);
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        feed.LogLine(L"measured");
        ResultView result;
        result.selected = 5125;
        result.servicePaused = true;
        return result;
    };
    Workflow flow(hooks, nullptr);
    flow.StartInstall(true, 0);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotService); }));
    EXPECT_EQ(flow.State(SlotService), StepFailed);
    EXPECT_EQ(flow.StateOf(SlotService).Header(),
              std::make_pair(std::wstring(L"INSTALL FAILED"), std::wstring(L"measure a timer resolution first")));
    EXPECT_EQ(installed, 0u);

    // The install started while the measurement runs waits for it, then takes its period; the
    // service the measurement stopped is left to that install.
    flow.SetFidelity(2);
    flow.StartBenchmark(true);
    EXPECT_EQ(flow.CurrentStage(), stage::Measuring);
    ASSERT_TRUE(WaitFor([&] { return flow.State(SlotMeasure) == StepRunning; }));
    flow.StartInstall(false, 0);
    ASSERT_TRUE(WaitFor([&] {
        return flow.StateOf(SlotService).Header().second == L"waiting for the timer measurement to finish";
    }));
    release = true;
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotService) && Ended(flow, SlotMeasure); }));
    EXPECT_EQ(flow.State(SlotMeasure), StepFinished);
    EXPECT_EQ(flow.StateOf(SlotMeasure).Header(),
              std::make_pair(std::wstring(L"RESULT"), std::wstring(L"0.5125 ms selected after verification")));
    EXPECT_EQ(flow.State(SlotService), StepFinished);
    EXPECT_EQ(installed, 5125u);
    EXPECT_EQ(serviceStarts, 0);
    EXPECT_TRUE(flow.serviceStoppedByMeasurement);
    EXPECT_TRUE(flow.serviceInstalledSince);
    EXPECT_EQ(flow.StateOf(SlotService).Header().second, L"the service holds 0.5125 ms now and at every boot");

    // A measurement with no install pending brings the service back itself.
    flow.serviceStoppedByMeasurement = false;
    flow.StartBenchmark(false);
    ASSERT_TRUE(WaitFor([&] { return Ended(flow, SlotMeasure); }));
    EXPECT_EQ(serviceStarts, 1);
    EXPECT_FALSE(flow.serviceStoppedByMeasurement);
}
