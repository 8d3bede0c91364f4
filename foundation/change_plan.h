#pragma once
// Plan, then commit. A step first reads the machine into its plan: every change it intends, each
// under a stable id, with where it goes, the value now and the value it writes, and how it is
// kept. The preview prints the plan; the apply carries out exactly that list, each record before
// its change; the ledger, the health check and --revert read the same ids. Nothing computes a
// step's targets a second time, so what is previewed is what is written and what is undone.
#include <guiddef.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/change_ledger.h"

struct PlannedChange {
    ChangeRow row;                  // id, place, now, ours, keeping and the planned state
    size_t item = 0;                // the step's paced item this change belongs to
    std::function<void()> record;   // puts the original on record unless it is there already; empty: none
    std::function<bool()> write;    // makes the change; empty: the step leaves it alone
};

// What a step's plan takes from the steps before it in the same run.
struct PlanContext {
    bool chainedScheme = false;  // an earlier step makes another power plan active first
    GUID scheme{};               // that plan
    bool schemeMade = false;     // the earlier step makes the plan itself: it does not exist yet
    uint32_t resolution = 0;     // the period the timer service would hold (0: the one the benchmark picks)
};

struct StepPlan {
    std::wstring step;  // "CPU Tune"
    std::vector<PlannedChange> changes;
    std::vector<std::wstring> notes;  // what is not a change of its own (the programs Afterburner installs, ...)
    std::wstring blocked;             // not empty: the step cannot run at all, and this says why
    // The power plan that is active once this step has run, for the steps after it.
    bool setsScheme = false;
    GUID scheme{};
    bool schemeMade = false;

    PlannedChange& Add(ChangeRow row, size_t item, std::function<void()> record, std::function<bool()> write);
    // A change the step leaves as it is, listed with its reason.
    void LeaveAlone(ChangeRow row, size_t item, const std::wstring& reason);
    std::vector<ChangeRow> Rows() const;
};

// Carries out one change: its record first, then the change; a one-way change that changed
// something goes on record with its time. False when the write failed (the record stays).
bool CommitChange(const PlannedChange& change);

struct CommitCounts {
    int written = 0;
    int failed = 0;
    int leftAlone = 0;
};
// The changes of one item, in plan order; false when any of them failed.
bool CommitItem(const StepPlan& plan, size_t item, CommitCounts& counts);

// The one-way changes made so far, as the ledger lists them.
void OneWayChangesMade(std::vector<ChangeRow>& out);
// The state value that notes a one-way change made.
std::wstring OneWayRecordName(const std::wstring& id);
