#pragma once
// The narrow boundary between the measurement and the machine: the kernel's timer-resolution
// calls, Sleep and the clocks. The real binding talks to ntdll and kernel32; tests and
// benchmarks install a simulated kernel so every branch can be driven deterministically.
#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/pacing.h"
#include "timer/energy_report.h"

// Also the clock every dwell waits on, so a simulated kernel drives the pacing too.
class TimerKernel : public PacingClock {
public:
    virtual ~TimerKernel() = default;
    // NtSetTimerResolution: status 0 on success; current receives the period now in force.
    virtual int32_t SetResolution(uint32_t desired, bool set, uint32_t& current) = 0;
    // NtQueryTimerResolution: coarsest (maximum), finest (minimum) and current period.
    virtual int32_t QueryResolution(uint32_t& coarsest, uint32_t& finest, uint32_t& current) = 0;
    void Sleep(uint32_t milliseconds) override = 0;
    virtual int64_t Counter() = 0;           // QueryPerformanceCounter
    virtual int64_t CounterFrequency() = 0;  // QueryPerformanceFrequency
    uint64_t TickCount64() override = 0;     // GetTickCount64, milliseconds
    // The other programs holding a timer period now (Windows' energy report; seconds of tracing).
    virtual std::optional<std::vector<TimerHolder>> OtherHolders() = 0;
};

// The kernel the measurement uses on this process: the real one unless a test installed another.
TimerKernel& CurrentTimerKernel();
// Installs a replacement (null puts the real kernel back). Not for use while a measurement runs.
void SetTimerKernel(TimerKernel* kernel);
