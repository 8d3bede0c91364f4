#pragma once
// Administrator rights: the token test and the "runas" relaunch of this executable.
#include <string>
#include <vector>

bool IsElevated();
// Starts an elevated copy of this executable with the given arguments; true when it started.
bool RelaunchElevated(const std::vector<std::wstring>& arguments);

// Each argument in double quotes, separated by one space; an inner quote becomes \" and
// backslashes are copied as they are.
std::wstring ElevationParameterText(const std::vector<std::wstring>& arguments);

// Starts the program as the user at the desk: directly when this process is not elevated, else
// with the unelevated shell as its parent, whose token (and environment) it then takes. Under
// over-the-shoulder elevation that is the standard user at the desk, not the administrator who
// typed her password. False when neither can be done.
bool StartAsDesktopUser(const std::wstring& program, std::wstring commandLine);

// The refusal shown in GUI mode when the program cannot get administrator rights.
void ShowRightsMessage(const std::wstring& text, bool error);

// The boundary Wine cannot show for real: its tokens are always elevated and "runas" never
// prompts. Tests install a fake; null restores the real binding.
struct ElevationSeam {
    bool (*isElevated)() = nullptr;
    bool (*shellRunAs)(const std::wstring& executable, const std::wstring& parameters) = nullptr;
    void (*messageBox)(const std::wstring& text, const std::wstring& caption, bool error) = nullptr;
    // The desktop's shell process, opened for starting programs under it, when it runs
    // unelevated; null when there is none, it is elevated, or it cannot be opened. Wine has no
    // shell window; tests name a process of their own. Null here: the real one.
    void* (*unelevatedShell)() = nullptr;
};
void SetElevationSeam(const ElevationSeam* seam);
