#pragma once
// The decisions of the benchmark, free of any clock or console: which periods to try and in
// which order, where ticks stop being missed, how much margin to add, who goes to the final
// rounds and who wins them.
#include <cstdint>
#include <string>
#include <vector>

#include "timer/sampling.h"

// Ascending periods from the first allowed one up to end, which is always the last candidate.
std::vector<uint32_t> BuildGrid(uint32_t from, uint32_t to, uint32_t step, uint32_t finest, uint32_t coarsest);

// Visiting order of sweep pass p: ascending, descending, shuffled, then round again.
std::vector<size_t> PassOrder(int pass, size_t count);
const wchar_t* PassOrderName(int pass);
// Fisher-Yates with a generator seeded only by the pass number, so every run repeats it.
void ShuffleForPass(std::vector<size_t>& order, int pass);

inline constexpr double kUnmeasuredScore = 1e9;
// Mean combined score of the measured candidates within two places either side.
std::vector<double> SmoothScores(const std::vector<TimerCandidate>& grid);
// Lowest smoothed score, ties to the longer period; -1 when nothing was measured.
int BestMeasured(const std::vector<double>& smoothed);

struct Boundary {
    int firstNeverMissing = -1;
    int lastMissing = -1;
    uint32_t transitionWidth = 0;
};
Boundary FindBoundary(const std::vector<TimerCandidate>& grid);

struct MarginChoice {
    uint32_t margin = 0;
    const wchar_t* label = L"";
    bool capped = false;  // automatic margin cut back from an unusually wide transition
};
MarginChoice ChooseMargin(bool marginGiven, uint32_t givenMargin, uint32_t transitionWidth);
int MarginTarget(const std::vector<TimerCandidate>& grid, int best, uint32_t margin);

// Grid indexes of up to six finalists, ascending by period.
std::vector<int> PickFinalists(const std::vector<TimerCandidate>& grid, int target, int best, int firstNeverMissing);

// The adaptive sweep's elimination. A candidate stays in contention while its score could still
// be the best's: score - best <= z * sqrt(se^2 + se_best^2), each standard error by the delta
// method over both patterns (the combined score halves their sum, so its error is half the root
// of their squares). z = 3 keeps a candidate that is truly as good with probability above 99.8 %
// per comparison, while one whose score sits many errors above the best's, usually because it
// missed ticks, stops after its first batch. The bound is never narrower than
// kContentionFloorMs, the smallest safety margin: a few samples without spread claim a certainty
// they do not have, and scores closer than the margin are the same pick to the margin rule, so
// only more samples can tell them apart. A candidate not yet measured (another process held the
// clock) stays in contention.
inline constexpr double kContentionSigmas = 3.0;
inline constexpr double kContentionFloorMs = 0.005;
// The pick also rests on where ticks stop being missed, which a score from few samples cannot
// see (a 2 % miss rate shows in 13 samples only every other run): the candidates within
// boundarySteps places of the boundary found so far stay in contention too.
double CandidateScoreError(const TimerCandidate& candidate);
std::vector<bool> StillInContention(const std::vector<TimerCandidate>& grid, double sigmas, int boundarySteps);

// Index of the finalist to install, or -1 when none at or above the target period was measured.
int SelectFinalist(const std::vector<TimerCandidate>& finalists, uint32_t targetPeriod);

// Per-row notes of the two console tables.
std::wstring SweepRowNote(const TimerCandidate& candidate, bool isBest, bool isFirstNeverMissing);
std::wstring VerificationRowNote(uint32_t period, uint32_t targetPeriod, uint32_t bestPeriod, bool selected);

// The sample counts and the rough duration of the three fidelity levels (0 low, 1 medium, 2 high).
// 3 is adaptive: one first pass of every candidate, then up to extraRounds interleaved rounds for
// those still in contention.
struct FidelityCounts {
    uint32_t samples = 0;
    uint32_t passes = 0;
    uint32_t verify = 0;
    double estimateSeconds = 0;  // the longest it takes (adaptive: every candidate in contention to the end)
    double expectedSeconds = 0;  // what it usually takes
    bool adaptive = false;
    uint32_t extraRounds = 0;
    uint32_t roundSamples = 0;
    int boundarySteps = 0;
};
inline constexpr int kAdaptiveFidelity = 3;
// Chosen on the selection bench (sh scripts/bench.sh selection prints the trade-off curve).
inline constexpr uint32_t kAdaptiveExtraRounds = 6;
inline constexpr uint32_t kAdaptiveRoundSamples = 18;
inline constexpr int kAdaptiveBoundarySteps = 4;
inline constexpr uint32_t kAdaptiveVerify = 150;
// On the selection bench's 200 machines the adaptive sweep takes this share of medium's time.
inline constexpr double kAdaptiveShareOfMedium = 0.56;
FidelityCounts FidelityPreset(int level);
