#pragma once
// "--compare-game NAME.exe": whether the held timer period changes the game's frame times, in
// alternating blocks while the game runs, with the timer service paused for the run.
#include <atomic>

#include "app/options.h"
#include "driver/driver_clean.h"
#include "foundation/files.h"
#include "timer/game_run.h"

// The whole command with the capture tool and stop flag given: the refusals, the paused
// service, the run, and what it found on the console, in the log and (--json) as a document.
int RunGameCompare(const Options& options, FrameCaptureTool& tool, const std::atomic<bool>& stop, GameRunResult* out = nullptr);
// The same with PresentMon from the options (as TrustedPresentMon checks it): the command's and
// the window's game check.
int CompareGameWithPresentMon(const Options& options, const std::atomic<bool>& stop, GameRunResult* out = nullptr);
// PresentMon from --presentmon, refused unless it is a 64-bit program only administrators can
// change and, when it is signed at all, Intel signed it; without --presentmon, the pinned release
// (downloaded once into the tool folder). Empty with the reason otherwise. It stays held
// (unchangeable) while `held` lives.
std::wstring TrustedPresentMon(const Options& options, const DriverTools& tools, const std::atomic<bool>& stop, HeldFile& held,
                              std::wstring& error);
