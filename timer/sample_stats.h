#pragma once
// Reduction of one set of Sleep(1) overshoots (ms) to the numbers every comparison uses.
#include <cstdint>
#include <vector>

struct SampleStats {
    uint64_t count = 0;
    double median = 0;
    double mean = 0;   // of the clamped samples
    double stdev = 0;  // sample standard deviation of the clamped samples
    double p1 = 0;
    double p95 = 0;
    double p99 = 0;
    double max = 0;
    uint64_t lateCount = 0;  // samples that slept past median + half a tick
    double latePercent = 0;
    double score = 0;  // mean + stdev
    bool clean = false;
    double scoreError = 0;  // standard error of score for this many samples (delta method)
};

// The standard error of a score (mean + stdev) estimated from n samples of a distribution with
// this deviation and these third and fourth central moments, by the delta method: the mean's
// variance s^2/n, the deviation's (m4 - s^4) / (4 s^2 n), and twice their covariance m3 / (2 s n).
double ScoreStandardError(double stdev, double m3, double m4, uint64_t n);

// tickUnits is the candidate's period in 100-ns units; lateLimit is a percentage.
SampleStats ComputeSampleStats(const std::vector<double>& samples, uint32_t tickUnits, double lateLimit,
                               uint64_t minimumCount);
