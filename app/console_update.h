#pragma once
// The self-update from the command line: --check-update and --update.
struct Options;
struct UpdateSource;

int ConsoleCheckUpdate(const UpdateSource& source);
int ConsoleUpdate(const Options& options, const UpdateSource& source);
