#pragma once
// The machine-wide things the tests of the steps change: the state key with its records, the
// monitor's per-user key, the kernel values and the graphics step's registry values the steps
// write, the restore-point frequency, the fakes' switches in this process's environment and the dwell flag. A fixture holds one as its
// first member: everything is cleared before the test and again after it, whatever it left. The
// values the fake tools change the way Windows would (TRIM, hibernation, last-access updates)
// are put back as the prefix had them.
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/system.h"

class ScopedMachineState {
public:
    // The fake tools' switches (environment variables) the fixture sets, cleared with the rest.
    explicit ScopedMachineState(std::initializer_list<const wchar_t*> fakeSwitches = {});
    ~ScopedMachineState();
    ScopedMachineState(const ScopedMachineState&) = delete;
    ScopedMachineState& operator=(const ScopedMachineState&) = delete;

    static void Clear(const std::vector<std::wstring>& fakeSwitches = {});

private:
    struct SavedValue {
        const wchar_t* key;
        const wchar_t* name;
        bool present;
        RegistryValue value;
    };
    std::vector<std::wstring> fakeSwitches_;
    std::vector<SavedValue> saved_;
};
