#pragma once
// Pacing, cancellation and progress, shared by every long step: the benchmark, the tweak
// walkthroughs, the driver and Afterburner steps.
#include <cstdint>
#include <string>

// The clock the dwells wait on: the system's, or a simulated one in tests and benchmarks.
class PacingClock {
public:
    virtual ~PacingClock() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint64_t TickCount64() = 0;  // milliseconds
};
PacingClock& CurrentPacingClock();
// Installs a replacement (null puts the system's clock back).
void SetPacingClock(PacingClock* clock);

// True only when this thread has a feed and its user asked to stop.
bool IsCancelled();
// To the feed's progress and the console's progress row.
void ReportProgress(double fraction, double elapsedSeconds, double remainingSeconds, const std::wstring& text);
// Pauses between the items of a tweak step when the dwell flag is on, in 40 ms slices; returns
// early on cancel.
void DwellCancellable(uint32_t milliseconds);
