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

// Index of the finalist to install, or -1 when none at or above the target period was measured.
int SelectFinalist(const std::vector<TimerCandidate>& finalists, uint32_t targetPeriod);

// Per-row notes of the two console tables.
std::wstring SweepRowNote(const TimerCandidate& candidate, bool isBest, bool isFirstNeverMissing);
std::wstring VerificationRowNote(uint32_t period, uint32_t targetPeriod, uint32_t bestPeriod, bool selected);

// The sample counts and the rough duration of the three fidelity levels (0 low, 1 medium, 2 high).
struct FidelityCounts {
    uint32_t samples = 0;
    uint32_t passes = 0;
    uint32_t verify = 0;
    double estimateSeconds = 0;
};
FidelityCounts FidelityPreset(int level);
