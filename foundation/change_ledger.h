#pragma once
// One setting a step writes, seen two ways: before a step runs (what it would write over what is
// there now) and after (what the state key recorded, what is there now, and whose value that
// is). --what-if, --changes, --revert and the Health screen's list all read rows of this one
// shape, each under the stable id of its change ("gpu.HAGS", "storage.PCIEASPM.dc").
#include <string>
#include <vector>

#include "foundation/json.h"

enum class ChangeState : unsigned char {
    StillOurs,        // holds the value this program wrote
    ChangedSince,     // someone else wrote another value since
    AlreadyRestored,  // holds its recorded original again
    WouldChange,      // a step would write a new value
    AlreadySet,       // a step would write the value that is there already
    Unreadable,       // the current value could not be read
    AccountAway,      // a per-user value of an account that is not signed in: neither read nor put back now
    Gone,             // its place is gone (plan deleted, service removed, adapter removed): nothing to put back
    LeftAlone,        // planned: the step leaves it as it is (reason says why)
    OneWayMade,       // a one-way change made: on record with its time, never put back
};

// How the step keeps what it changes.
enum class ChangeKeeping : unsigned char {
    Recorded,   // the original is on record before the change; --uninstall and --revert put it back
    OneWay,     // not reversible by this program; the change made is noted with its time
    Temporary,  // put back by the step itself as soon as it is done
    Own,        // the program's own (its service, its copy, its tasks): --uninstall removes it
};

struct ChangeRow {
    std::wstring id;            // "power.PERFCHECK.ac": the same in the plan, the ledger, the health check and --revert
    std::wstring step;          // "CPU Tune"
    std::wstring setting;       // where: "HKLM\...\ThreadDpcEnable", "power setting ... in plan {...}", "service SysMain"
    ChangeKeeping keeping = ChangeKeeping::Recorded;
    bool recorded = false;      // the state key holds what it was before this program's first change
    std::wstring original;      // as recorded ("absent", "REG_DWORD 1", ...); empty when not recorded
    bool currentRead = false;
    std::wstring current;       // in the same words as original
    std::wstring ours;          // what this program writes there
    ChangeState state = ChangeState::Unreadable;
    std::wstring reason;        // the account (AccountAway), what is gone (Gone), why (LeftAlone), when (OneWayMade)
};

// A recorded change: still ours when it holds our value, already restored when it holds its
// original again, otherwise changed since by someone else.
ChangeState JudgeRecorded(const ChangeRow& row);
// A planned change: already set when it holds our value, otherwise it would change.
ChangeState JudgePlanned(const ChangeRow& row);

const wchar_t* ChangeStateText(ChangeState state);  // "still ours", ...
const wchar_t* ChangeStateKey(ChangeState state);   // "still-ours", ... (the JSON spelling)
// The state as a row shows it, with its reason: "cannot be read: account PC\bob is not signed
// in", "gone (plan deleted): nothing to put back", "left alone: ...", "one-way, made ...".
std::wstring ChangeStateLine(const ChangeRow& row);
// Whether the uninstall (or a revert) writes the recorded original back for this row.
bool PutBackOnRestore(const ChangeRow& row);

// The steps in the order their first row appears.
std::vector<std::wstring> ChangeSteps(const std::vector<ChangeRow>& rows);

// The --changes text: each step's records, then what --uninstall would do.
std::wstring LedgerText(const std::vector<ChangeRow>& rows, const std::vector<std::wstring>& uninstall);
// The --what-if text: each step's settings, then what could not be read.
std::wstring WhatIfText(const std::vector<ChangeRow>& rows, const std::vector<std::wstring>& notes);

// "steps": [{"step": ..., "changes": [...]}]; planned rows carry what they would write.
Json ChangeStepsJson(const std::vector<ChangeRow>& rows, bool planned);
