#include "timer/sample_stats.h"

#include <algorithm>
#include <cmath>

namespace {

// Nearest rank: the smallest value with at least p of the samples at or below it.
double Percentile(const std::vector<double>& sorted, double p) {
    const size_t n = sorted.size();
    const auto rank = static_cast<size_t>(std::ceil(static_cast<double>(n) * p));
    return sorted[std::min(n, std::max<size_t>(1, rank)) - 1];
}

}  // namespace

double ScoreStandardError(double stdev, double m3, double m4, uint64_t n) {
    const double var = stdev * stdev;
    if (n == 0 || var <= 1e-24) return 0;
    const double nn = static_cast<double>(n);
    const double varMean = var / nn;
    const double varStdev = std::max(0.0, (m4 - var * var) / (4 * var * nn));
    const double covariance = m3 / (2 * stdev * nn);
    return std::sqrt(std::max(0.0, varMean + varStdev + 2 * covariance));
}

SampleStats ComputeSampleStats(const std::vector<double>& samples, uint32_t tickUnits, double lateLimit,
                               uint64_t minimumCount) {
    SampleStats stats;
    const size_t n = samples.size();
    stats.count = n;
    if (n < 2) return stats;

    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    const double tick = tickUnits / 10000.0;
    stats.median = Percentile(sorted, 0.5);
    stats.p1 = Percentile(sorted, 0.01);
    stats.p95 = Percentile(sorted, 0.95);
    stats.p99 = Percentile(sorted, 0.99);
    stats.max = sorted.back();

    // A sample that missed a tick (or several) is clamped so one long stall cannot swamp the mean.
    const double clamp = stats.median + 2.5 * tick;
    double sum = 0;
    for (const double s : samples) sum += std::min(s, clamp);
    stats.mean = sum / static_cast<double>(n);
    double squares = 0;
    for (const double s : samples) {
        const double d = std::min(s, clamp) - stats.mean;
        squares += d * d;
    }
    stats.stdev = std::sqrt(squares / static_cast<double>(n - 1));

    const double lateAbove = stats.median + 0.5 * tick;
    stats.lateCount = static_cast<uint64_t>(std::count_if(samples.begin(), samples.end(),
                                                          [&](double s) { return s > lateAbove; }));
    stats.latePercent = static_cast<double>(stats.lateCount) * 100.0 / static_cast<double>(n);
    stats.score = stats.mean + stats.stdev;
    // From the clamped samples' own central moments.
    double m3 = 0, m4 = 0;
    for (const double s : samples) {
        const double d = std::min(s, clamp) - stats.mean;
        m3 += d * d * d;
        m4 += d * d * d * d;
    }
    stats.scoreError = ScoreStandardError(stats.stdev, m3 / static_cast<double>(n), m4 / static_cast<double>(n), n);
    stats.clean = n >= minimumCount && 0.5 * tick > stats.p99 - stats.p1 && stats.latePercent <= lateLimit;
    return stats;
}
