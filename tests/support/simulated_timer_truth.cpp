#include "support/simulated_timer_truth.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "timer/sample_stats.h"

namespace {

constexpr int64_t kOneMs = 10'000;  // 100-ns units

// P(floor + E + stall < y) for y in microseconds; continuous, so < and <= agree.
double LatenessBelow(const WakeLateness& w, double y) {
    const double x = y - w.floorUs;
    if (x <= 0) return 0;
    const double exponential = w.meanUs > 0 ? -std::expm1(-x / w.meanUs) : 1.0;
    if (w.stallChance <= 0) return exponential;
    double withStall = 0;
    if (w.stallUs <= 0) {
        withStall = exponential;
    } else if (w.meanUs <= 0) {
        withStall = std::min(x, w.stallUs) / w.stallUs;
    } else {
        // (1/S) * integral over the stall v in [0, min(x, S)] of P(E <= x - v).
        const double a = std::min(x, w.stallUs);
        withStall = (a - w.meanUs * (std::exp(-(x - a) / w.meanUs) - std::exp(-x / w.meanUs))) / w.stallUs;
    }
    return (1 - w.stallChance) * exponential + w.stallChance * withStall;
}

struct Outcome {
    double overshoot;  // ms
    double probability;
};

}  // namespace

double LatenessAtMostUnits(const WakeLateness& lateness, int64_t units) {
    // The kernel keeps static_cast<int64_t>(us * 10): at most u units means us < (u + 1) / 10.
    if (units < 0) return 0;
    return LatenessBelow(lateness, static_cast<double>(units + 1) / 10);
}

OvershootTruth ComputeOvershootTruth(uint32_t period, int64_t phaseUnits, int64_t dispatchUnits,
                                     const WakeLateness& lateness) {
    OvershootTruth t;
    if (period == 0) return t;
    const int64_t p = period;
    // The wake is the k-th interrupt after the one before the call, the first with
    // k * period >= phase + 1 ms + lateness.
    std::vector<Outcome> outcomes;
    int64_t k = (phaseUnits + kOneMs + p - 1) / p;
    t.missRate = 1 - LatenessAtMostUnits(lateness, k * p - phaseUnits - kOneMs);
    double below = 0;  // P(wake at an earlier interrupt)
    for (int guard = 0; guard < 100000 && below < 1 - 1e-15; ++guard, ++k) {
        const double upTo = LatenessAtMostUnits(lateness, k * p - phaseUnits - kOneMs);
        if (upTo > below) {
            outcomes.push_back({static_cast<double>(k * p - phaseUnits + dispatchUnits) / kOneMs - 1, upTo - below});
            below = upTo;
        }
    }
    if (outcomes.empty()) return t;
    const double tick = static_cast<double>(p) / kOneMs;
    double cumulative = 0;
    t.median = outcomes.back().overshoot;
    for (const Outcome& o : outcomes) {
        cumulative += o.probability;
        if (cumulative >= 0.5) {
            t.median = o.overshoot;
            break;
        }
    }
    const double clamp = t.median + 2.5 * tick;
    double total = 0;
    for (const Outcome& o : outcomes) {
        t.mean += std::min(o.overshoot, clamp) * o.probability;
        total += o.probability;
        if (o.overshoot > t.median + 0.5 * tick) t.lateRate += o.probability;
    }
    t.mean /= total;
    t.lateRate /= total;
    double m2 = 0;
    for (const Outcome& o : outcomes) {
        const double d = std::min(o.overshoot, clamp) - t.mean;
        m2 += d * d * o.probability / total;
        t.m3 += d * d * d * o.probability / total;
        t.m4 += d * d * d * d * o.probability / total;
    }
    t.stdev = std::sqrt(m2);
    t.score = t.mean + t.stdev;
    return t;
}

double OvershootTruth::MeanError(uint64_t n) const { return n == 0 ? 0 : stdev / std::sqrt(static_cast<double>(n)); }

double OvershootTruth::LateRateError(uint64_t n) const {
    return n == 0 ? 0 : std::sqrt(lateRate * (1 - lateRate) / static_cast<double>(n));
}

double OvershootTruth::ScoreError(uint64_t n) const { return ScoreStandardError(stdev, m3, m4, n); }
