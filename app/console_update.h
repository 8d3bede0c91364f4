#pragma once
// The self-update from the command line: --check-update and --update.
#include "foundation/json.h"

struct Options;
struct UpdateSource;

// Fills the document too, when given one.
int ConsoleCheckUpdate(const UpdateSource& source, Json* document = nullptr);
int ConsoleUpdate(const Options& options, const UpdateSource& source);
