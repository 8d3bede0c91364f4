// The window's flow policy over slot states: unattended advance, guided steps, repairs.
#include "gui/flow_controller.h"

#include <gtest/gtest.h>

namespace {

FlowSlots AllWanted() {
    FlowSlots slots;
    slots.wanted.fill(true);
    slots.available.fill(true);
    return slots;
}

// The slot has just finished: running at the previous frame, finished at this one.
void Finish(FlowSlots& slots, int slot) {
    slots.before[static_cast<size_t>(slot)] = StepRunning;
    slots.now[static_cast<size_t>(slot)] = StepFinished;
}

}  // namespace

TEST(FlowController, AnUnattendedRunMovesOnAfterEachStepOnce) {
    FlowSlots slots = AllWanted();
    Finish(slots, SlotPrepare);
    EXPECT_EQ(DecideAdvance(slots, true, false).kind, AdvanceKind::NextStep);
    EXPECT_EQ(DecideAdvance(slots, true, false).after, SlotPrepare);
    EXPECT_EQ(DecideAdvance(slots, false, false).kind, AdvanceKind::None) << "only an unattended run moves by itself";
    EXPECT_EQ(DecideAdvance(slots, true, true).kind, AdvanceKind::None) << "Full tune has its own order";
    slots.before = slots.now;
    EXPECT_EQ(DecideAdvance(slots, true, false).kind, AdvanceKind::None) << "a step that finished earlier moves nothing";

    // The measurement goes on to its install; shown only, when the install runs or has run.
    FlowSlots measured = AllWanted();
    Finish(measured, SlotMeasure);
    EXPECT_EQ(DecideAdvance(measured, true, false).kind, AdvanceKind::StartInstall);
    measured.now[SlotService] = StepRunning;
    EXPECT_EQ(DecideAdvance(measured, true, false).kind, AdvanceKind::ShowInstall);
    measured.now[SlotService] = StepFinished;
    measured.before[SlotService] = StepFinished;
    EXPECT_EQ(DecideAdvance(measured, true, false).kind, AdvanceKind::ShowInstall);
    measured.wanted[SlotService] = false;
    EXPECT_EQ(DecideAdvance(measured, true, false).kind, AdvanceKind::NextStep);

    // The driver step waits for the user's choice; the first slot that finished counts alone.
    FlowSlots driver = AllWanted();
    Finish(driver, SlotGpuDriver);
    EXPECT_EQ(DecideAdvance(driver, true, false).kind, AdvanceKind::None);
    Finish(driver, SlotCpu);
    EXPECT_EQ(DecideAdvance(driver, true, false).after, SlotCpu);
}

TEST(FlowController, GuidedStepsSkipWhatWasLeftOffOrIsMissingAndEndAtTheReview) {
    FlowSlots slots = AllWanted();
    EXPECT_EQ(NextWantedStep(SlotService, slots), SlotCpu);
    slots.wanted[SlotCpu] = false;
    slots.available[SlotGpuDriver] = false;
    EXPECT_EQ(NextWantedStep(SlotService, slots), SlotGpuSettings);
    EXPECT_EQ(NextWantedStep(SlotStorage, slots), kSlotCount);
    slots.wanted.fill(false);
    EXPECT_EQ(NextWantedStep(-1, slots), kSlotCount);
}

TEST(FlowController, ARepairIsRefusedWithItsReasonAndTheCheckWaitsForEveryRepairStep) {
    FlowSlots slots = AllWanted();
    EXPECT_EQ(CheckRepair(SlotCpu, slots, 0), RepairRefusal::None);
    EXPECT_EQ(CheckRepair(SlotService, slots, 0), RepairRefusal::NoPeriodMeasured);
    EXPECT_EQ(CheckRepair(SlotService, slots, 5000), RepairRefusal::None);
    slots.now[SlotMemory] = StepWaiting;
    EXPECT_EQ(CheckRepair(SlotMemory, slots, 0), RepairRefusal::AlreadyRunning);
    slots.available[SlotAfterburner] = false;
    EXPECT_EQ(CheckRepair(SlotAfterburner, slots, 0), RepairRefusal::NotInThisBuild);

    // Two automatic repairs and the user's: the check runs again only when all have ended and
    // no scan or drift check is under way.
    RepairWatch watch;
    watch.automatic[SlotCpu] = watch.automatic[SlotStorage] = true;
    watch.interactiveSlot = SlotMemory;
    slots.now[SlotCpu] = StepFinished;
    slots.now[SlotStorage] = StepRunning;
    slots.now[SlotMemory] = StepFailed;
    std::vector<RepairEnded> ended;
    EXPECT_FALSE(WatchRepairs(watch, slots, false, false, ended)) << "storage still runs";
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[0].slot, SlotMemory);
    EXPECT_FALSE(ended[0].automatic);
    EXPECT_FALSE(ended[0].finished);
    EXPECT_EQ(ended[1].slot, SlotCpu);
    EXPECT_TRUE(ended[1].finished);
    EXPECT_EQ(watch.interactiveSlot, -1);

    slots.now[SlotStorage] = StepFinished;
    EXPECT_FALSE(WatchRepairs(watch, slots, true, false, ended)) << "a scan is under way";
    EXPECT_EQ(ended.size(), 1u);
    EXPECT_FALSE(WatchRepairs(watch, slots, false, true, ended)) << "a drift check is under way";
    EXPECT_TRUE(WatchRepairs(watch, slots, false, false, ended));
    EXPECT_FALSE(WatchRepairs(watch, slots, false, false, ended)) << "once";
}
