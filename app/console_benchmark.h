#pragma once
// The console's prompts and the benchmark-only command.
#include <string>

#include "app/options.h"
#include "timer/benchmark.h"

// Yes/no question; "--yes" answers yes, and without a console on standard input the default is
// taken without asking.
bool Confirm(const Options& options, const std::wstring& question, bool defaultYes);

// Offers the three fidelity levels unless the command line already decided the counts.
Options ChooseFidelity(const Options& options);

// The fidelity preset with any counts the user spelled out.
BenchmarkParams BenchmarkParamsFrom(const Options& options);

BenchmarkResult RunPausedBenchmark(const Options& options, bool& servicePaused);
int RunConsoleBenchmark(const Options& options);
