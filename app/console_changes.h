#pragma once
// --changes (the ledger of every recorded change), --what-if (what the chosen steps would
// write) and --revert (one change or one step put back).
#include <string>

struct Options;

int ChangesReport(const Options& options);
int WhatIfReport(const Options& options);
// --revert ID|STEP: puts back the recorded original of one change, or of every change of one
// step, and removes those records; asks before putting back a value someone else changed since
// (--yes puts it back anyway). With --what-if it says what it would do and changes nothing.
int RevertReport(const Options& options);
// The Health screen's "Put back": the same for one change, after the window asked.
bool RevertFromWindow(const std::wstring& id, std::wstring& outcome);
// Whether --what-if can go with the command (the apply commands, --install, the default flow).
bool WhatIfAccepts(const std::wstring& command);
