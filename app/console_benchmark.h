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

// The timer service the benchmark stopped. It is started again when this goes away, on every
// path (a failed benchmark, a declined or failed install, an early return), unless an install
// that succeeded took it over.
class PausedTimerService {
public:
    PausedTimerService() = default;
    ~PausedTimerService();
    PausedTimerService(const PausedTimerService&) = delete;
    PausedTimerService& operator=(const PausedTimerService&) = delete;
    void Paused(bool paused) { paused_ = paused; }
    bool IsPaused() const { return paused_; }
    void HandedOver() { paused_ = false; }

private:
    bool paused_ = false;
};

// Stops the running timer service, saying why, for what follows; `pause` starts it again. False
// when it runs and this process may not stop it (not elevated).
bool PauseRunningTimerService(PausedTimerService& pause, const std::wstring& why);

BenchmarkResult RunPausedBenchmark(const Options& options, PausedTimerService& pause);
int RunConsoleBenchmark(const Options& options);
