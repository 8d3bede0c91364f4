#pragma once
// The window's flow policy over the slots' states alone: what an unattended run does when a step
// has just finished, which guided step comes next, whether a repair may start, and when the
// repairs are over so the health check runs again. Pure, so every rule is tested without a
// window; the window only carries the decisions out.
#include <array>
#include <cstdint>
#include <vector>

#include "gui/steps.h"

struct FlowSlots {
    std::array<int, kSlotCount> now{};     // StepState of each slot this frame
    std::array<int, kSlotCount> before{};  // and at the previous frame
    std::array<bool, kSlotCount> wanted{};
    std::array<bool, kSlotCount> available{};
};

// The slot is in the state this frame and was not at the previous one.
bool Newly(const FlowSlots& slots, int slot, int state);

// What an unattended run (--yes) does outside Full tune when a step has just finished: the
// measurement goes on to its install when the service is wanted (started unless it runs or has
// run already), any other step moves on to the next wanted one; the driver step waits for the
// user's choice. Only the first slot that finished this frame counts.
enum class AdvanceKind { None, StartInstall, ShowInstall, NextStep };
struct Advance {
    AdvanceKind kind = AdvanceKind::None;
    int after = -1;  // NextStep: the slot that finished
};
Advance DecideAdvance(const FlowSlots& slots, bool unattended, bool fullTuneActive);

// The guided step after `after`, skipping steps left off and steps this build lacks; kSlotCount
// stands for the review.
int NextWantedStep(int after, const FlowSlots& slots);

// Whether a repair of the slot may start, or why not.
enum class RepairRefusal { None, NotInThisBuild, NoPeriodMeasured, AlreadyRunning };
RepairRefusal CheckRepair(int slot, const FlowSlots& slots, uint32_t desiredPeriod);

// The repairs under way: the one the user asked for, and the automatic ones by slot.
struct RepairWatch {
    int interactiveSlot = -1;
    std::array<bool, kSlotCount> automatic{};
    bool rescanWanted = false;
};
struct RepairEnded {
    int slot;
    bool automatic;
    bool finished;  // else failed or stopped
};
// Ends the repairs whose steps have ended (they are returned, for the health log). The health
// check runs again once every repair has ended and neither a scan nor a drift check is under
// way; true when it should start now.
bool WatchRepairs(RepairWatch& watch, const FlowSlots& slots, bool scanBusy, bool driftPending, std::vector<RepairEnded>& ended);
