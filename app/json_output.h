#pragma once
// The one JSON document --json prints instead of text.
#include <string>

#include "foundation/json.h"

struct Options;

// Whether --json can go with the command; the "command" field of its document.
bool JsonAccepts(const Options& options);
std::wstring JsonCommandName(const Options& options);

// The document's common fields set ("schema", "command", "exit_code", "error": the newest
// logged error, else the failure given, when the exit code says the command failed), written as
// the only thing on standard output. Returns exitCode.
int PrintJsonDocument(Json document, const std::wstring& command, int exitCode, const std::wstring& failure = {});
