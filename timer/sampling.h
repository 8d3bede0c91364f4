#pragma once
// Measuring one timer period: request it, time Sleep(1) back to back and after idle gaps,
// release it.
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/feed.h"
#include "foundation/pacing.h"
#include "timer/sample_stats.h"

struct TimerCandidate {
    uint32_t requested = 0;
    uint32_t actual = 0;  // period in force while sampling; 0 until measured
    std::vector<double> loopSamples;
    std::vector<double> idleSamples;
    uint64_t dropped = 0;     // samples taken while another process changed the clock
    uint32_t interferer = 0;  // finer period another process held at the last masked attempt
    uint32_t skipped = 0;     // attempts that returned no samples
    SampleStats loopStats;
    SampleStats idleStats;
    double score = 0;
    bool clean = false;

    bool Measured() const { return !loopSamples.empty() && !idleSamples.empty(); }
};

enum class MeasureOutcome { Measured = 0, Masked = 1, Failed = 2 };

class TimerKernel;
// Milliseconds by which one Sleep(1) overslept (negative when it woke early).
double TimedSleepOne(TimerKernel& kernel, int64_t counterFrequency);

// coarsest, finest, current in 100-ns units; false when the kernel query fails.
bool QueryTimerRange(uint32_t& coarsest, uint32_t& finest, uint32_t& current);

MeasureOutcome MeasureCandidate(TimerCandidate& candidate, uint32_t loopCount, uint32_t idleCount);
void SummarizeCandidate(TimerCandidate& candidate, double lateLimit, uint64_t minimumCount);

StatsBrief BriefOf(const SampleStats& stats);
CandidateSummary SummaryOf(const TimerCandidate& candidate);
std::vector<CandidateSummary> SummariesOf(const std::vector<TimerCandidate>& candidates);


