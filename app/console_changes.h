#pragma once
// --changes (the ledger of every recorded change), --what-if (what the chosen steps would write)
// and the one JSON document --json prints instead of text.
#include <string>

#include "foundation/json.h"

struct Options;

int ChangesReport(const Options& options);
int WhatIfReport(const Options& options);
// Whether --what-if can go with the command (the apply commands, --install, the default flow).
bool WhatIfAccepts(const std::wstring& command);

// Whether --json can go with the command; the "command" field of its document.
bool JsonAccepts(const Options& options);
std::wstring JsonCommandName(const Options& options);

// The document's common fields set ("schema", "command", "exit_code", "error": the newest
// logged error, else the failure given, when the exit code says the command failed), written as the only thing on
// standard output. Returns exitCode.
int PrintJsonDocument(Json document, const std::wstring& command, int exitCode, const std::wstring& failure = {});
