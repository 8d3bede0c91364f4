#pragma once
// The console's default tuning flow, the install command, the status report and the worker
// entry through which the window runs the install.
#include "foundation/json.h"
#include <cstdint>

#include "app/options.h"

class Feed;

int RunConsoleFlow(const Options& options, bool full);
// Fills the document too, when given one.
int ShowStatus(Json* document = nullptr);
// Runs the install with the feed attached; 0 installed, 1 failed, 2 handed to an elevated copy.
int InstallWorker(Feed* feed, uint32_t resolution);
// Keeps what the measurement behind an installed period found (its tick boundary and median).
void RecordBenchmarkForInstall(uint32_t firstNeverMissing, double loopMedianMs);
