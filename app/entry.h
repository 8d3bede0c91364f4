#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/options.h"

// The program's arguments without its own path, split by the Windows rules.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);

// Decides the process's role from its arguments and runs it; returns the exit code.
int ProgramEntry(const std::vector<std::wstring>& arguments);

// Console mode, after the console is set up: runs one command word.
int RunConsoleCommand(const Options& options, const std::vector<std::wstring>& arguments);

// Result of the rights check before a console command that changes the machine.
inline constexpr int kElevationContinue = -1;
// kElevationContinue when elevated; else 0 after a started relaunch, 1 on failure.
int RequireElevationConsole(const Options& options, const std::vector<std::wstring>& arguments);

// Puts back what a run that died half-way left behind (the restore-point frequency, an installed
// copy an update was replacing). Only while holding the single-instance lock: another copy may be
// in the middle of exactly that work.
void RecoverInterruptedRuns();

// The window role. Returns its exit code.
int RunGui(const Options& options, const std::vector<std::wstring>& arguments);
// The window's exit code once it has closed: after an update (2) the new copy is started, and a
// start that fails is told to the user and ends with 1.
int FinishWindow(int result, const std::function<bool()>& relaunch, const std::function<void(const wchar_t*)>& tell);
