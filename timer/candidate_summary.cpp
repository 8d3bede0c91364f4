// A candidate's samples reduced to its statistics and to the flat records the feed's tables take:
// no clock, no kernel, so the statistics build and run natively too.
#include <algorithm>

#include "timer/sampling.h"

void SummarizeCandidate(TimerCandidate& candidate, double lateLimit, uint64_t minimumCount) {
    const uint32_t tick = candidate.actual != 0 ? candidate.actual : candidate.requested;
    candidate.loopStats = ComputeSampleStats(candidate.loopSamples, tick, lateLimit, minimumCount);
    const uint64_t idleMinimum = std::max<uint64_t>(minimumCount / 2, 2);
    candidate.idleStats = ComputeSampleStats(candidate.idleSamples, tick, lateLimit, idleMinimum);
    candidate.score = (candidate.loopStats.score + candidate.idleStats.score) / 2;
    candidate.clean = candidate.loopStats.clean && candidate.idleStats.clean;
}

StatsBrief BriefOf(const SampleStats& s) {
    return StatsBrief{static_cast<unsigned>(s.count), s.median, s.mean, s.stdev, s.p99, s.latePercent, s.score};
}

CandidateSummary SummaryOf(const TimerCandidate& c) {
    return CandidateSummary{c.requested,         c.Measured(), c.skipped, c.interferer, BriefOf(c.loopStats),
                            BriefOf(c.idleStats), c.score,      c.clean};
}

std::vector<CandidateSummary> SummariesOf(const std::vector<TimerCandidate>& candidates) {
    std::vector<CandidateSummary> summaries;
    summaries.reserve(candidates.size());
    for (const TimerCandidate& c : candidates) summaries.push_back(SummaryOf(c));
    return summaries;
}
