#pragma once
// --changes (the ledger of every recorded change) and --what-if (what the chosen steps would
// write).
#include <string>

struct Options;

int ChangesReport(const Options& options);
int WhatIfReport(const Options& options);
// Whether --what-if can go with the command (the apply commands, --install, the default flow).
bool WhatIfAccepts(const std::wstring& command);
