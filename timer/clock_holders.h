#pragma once
// The programs that hold a finer timer period, as Windows' energy report names them. Making the
// report takes powercfg about five seconds of tracing and administrator rights: run it after a
// measurement, never during one.
#include <optional>
#include <vector>

#include "timer/energy_report.h"

// Empty when nothing is held; nothing when the report could not be made or read (why is logged).
std::optional<std::vector<TimerHolder>> FindClockHolders();
