#pragma once
// The whole timer benchmark: baseline, multi-pass sweep, boundary and margin, interleaved
// verification of the finalists, and the choice of the period the service will hold.
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/feed.h"
#include "timer/sample_stats.h"

struct BenchmarkParams {
    uint32_t from = 0;  // 0: the kernel's finest
    uint32_t to = 0;    // 0: 1000 units above the grid's start
    uint32_t step = 10;
    uint32_t samples = 150;
    uint32_t passes = 3;
    uint32_t verify = 1500;
    uint32_t margin = 0;
    bool marginGiven = false;
    TimerServiceState serviceState = TimerServiceState::NotInstalled;  // of the timer service, as the caller found it (shown to the listener)
    // When another process held the clock, name it afterwards from Windows' energy report
    // (about five seconds); the selection bench, which measures the selection alone, turns it off.
    bool nameHolders = true;
    // Adaptive: passes is 1 (the first batch of every candidate); then up to adaptiveRounds more
    // interleaved rounds, each for the candidates still in contention (see StillInContention).
    bool adaptive = false;
    uint32_t adaptiveRounds = 0;
    double contentionSigmas = 3.0;
    int contentionBoundarySteps = 0;  // places either side of the boundary kept in contention
    uint32_t roundSamples = 0;        // back-to-back samples per later round (0: samples)
};

// What a run may hold in memory: every sample of every candidate and finalist.
inline constexpr uint64_t kMaxStoredSamples = 20000000;

// One candidate's figures as the report and the scan file give them.
struct CandidateFigures {
    uint32_t requested = 0;
    uint32_t actual = 0;
    bool measured = false;
    uint32_t skipped = 0;
    uint64_t dropped = 0;
    uint32_t interferer = 0;
    SampleStats loop;
    SampleStats idle;
    double score = 0;
    bool clean = false;
};

struct BenchmarkResult {
    uint32_t selected = 0;  // 0 when the run failed or was cancelled
    SampleStats loopStats;
    SampleStats idleStats;
    double score = 0;
    SampleStats baselineStats;
    uint32_t bestMeasured = 0;
    uint32_t firstNeverMissing = 0;
    uint32_t marginApplied = 0;
    bool optimumOnLast = false;
    std::wstring errorText;
    std::wstring scanPath;
    std::vector<CandidateFigures> sweep;         // every candidate, passes merged
    std::vector<CandidateFigures> verification;  // the finalists
};

BenchmarkResult RunBenchmark(const BenchmarkParams& params);

// Seconds the run is planned to take, without the 2 s of overhead added to the shown estimate.
struct BenchmarkEstimate {
    double sweepSeconds = 0;       // expected
    double worstSweepSeconds = 0;  // an adaptive sweep that keeps every candidate to the end
    double verificationSeconds = 0;
    double TotalSeconds() const { return sweepSeconds + verificationSeconds; }
};
BenchmarkEstimate EstimateBenchmark(const BenchmarkParams& params, size_t candidates);
