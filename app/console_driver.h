#pragma once
// GPU Clean from the command line: --check-driver looks up the offer, --apply-driver downloads,
// verifies and installs the trimmed driver.
#include "foundation/json.h"

struct Options;
struct DriverTools;

// Fills the document too, when given one.
int ConsoleCheckDriver(const DriverTools& tools, Json* document = nullptr);
int ConsoleApplyDriver(const Options& options, const DriverTools& tools);
