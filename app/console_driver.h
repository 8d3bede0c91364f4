#pragma once
// GPU Clean from the command line: --check-driver looks up the offer, --apply-driver downloads,
// verifies and installs the trimmed driver.
struct Options;
struct DriverTools;

int ConsoleCheckDriver(const DriverTools& tools);
int ConsoleApplyDriver(const Options& options, const DriverTools& tools);
