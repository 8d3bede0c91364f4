#pragma once
// What the simulated kernel's model makes of Sleep(1) at a given period when measured forever:
// the exact distribution of the overshoot, reduced the way the benchmark reduces samples
// (nearest-rank median, samples clamped at median + 2.5 ticks, late = beyond median + half a
// tick, score = mean + stdev). Benchmarks score a pick against it; the standard errors say how
// far a run of n samples may honestly land from it.
#include <cstdint>

// Lateness of one wake-up in microseconds: a fixed floor, an exponential part, and with some
// chance a stall drawn evenly from zero to its length.
struct WakeLateness {
    double floorUs = 0;
    double meanUs = 12;
    double stallChance = 0;
    double stallUs = 400;
};

// Probability that the lateness, cut to whole 100-ns units as the kernel cuts it, is at most units.
double LatenessAtMostUnits(const WakeLateness& lateness, int64_t units);

struct OvershootTruth {
    double median = 0;  // ms
    double mean = 0;    // of the clamped overshoot
    double stdev = 0;
    double lateRate = 0;  // fraction beyond median + half a tick, as the benchmark counts late
    double missRate = 0;  // fraction woken after the first interrupt they could have had: ticks missed
    double score = 0;
    double m3 = 0;  // third and fourth central moments of the clamped overshoot
    double m4 = 0;

    // Standard errors of what n samples estimate: the mean, the late rate and the score (by the
    // delta method, counting the covariance of sample mean and sample deviation).
    double MeanError(uint64_t n) const;
    double LateRateError(uint64_t n) const;
    double ScoreError(uint64_t n) const;
};

// One timed Sleep(1) started phaseUnits after a timer interrupt of period units, the sleeping
// thread dispatched dispatchUnits after the interrupt that wakes it.
OvershootTruth ComputeOvershootTruth(uint32_t period, int64_t phaseUnits, int64_t dispatchUnits,
                                     const WakeLateness& lateness);

struct PeriodTruth {
    uint32_t period = 0;  // the period granted for the request
    OvershootTruth loop;  // back-to-back pattern
    OvershootTruth idle;  // idle-gap pattern
    double score = 0;     // (loop score + idle score) / 2, as the benchmark combines them
    double lateRate = 0;  // the worse pattern's
    double missRate = 0;  // the worse pattern's
};
