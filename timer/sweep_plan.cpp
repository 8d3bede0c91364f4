#include "timer/sweep_plan.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "foundation/text.h"

std::vector<uint32_t> BuildGrid(uint32_t from, uint32_t to, uint32_t step, uint32_t finest, uint32_t coarsest) {
    const uint64_t start = from != 0 ? from : finest;
    uint64_t end = to != 0 ? to : start + 1000;
    if (coarsest != 0) end = std::min<uint64_t>(end, coarsest);
    const uint64_t first = std::max<uint64_t>(start, finest);
    if (end <= first) end = first + std::max<uint32_t>(step, 1);
    end = std::min<uint64_t>(end, 0xFFFFFFFFu);
    std::vector<uint32_t> grid;
    for (uint64_t period = first; period < end; period += std::max<uint32_t>(step, 1)) {
        grid.push_back(static_cast<uint32_t>(period));
    }
    grid.push_back(static_cast<uint32_t>(end));
    return grid;
}

const wchar_t* PassOrderName(int pass) {
    static constexpr const wchar_t* kNames[] = {L"ascending", L"descending", L"shuffled"};
    return kNames[pass % 3];
}

void ShuffleForPass(std::vector<size_t>& order, int pass) {
    uint32_t state = 12345u - static_cast<uint32_t>(pass) * 1640531535u;
    for (size_t m = order.size(); m >= 2; --m) {
        state = state * 1664525u + 1013904223u;
        const size_t j = (state >> 8) % m;
        std::swap(order[m - 1], order[j]);
    }
}

std::vector<size_t> PassOrder(int pass, size_t count) {
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    if (pass % 3 == 1) std::reverse(order.begin(), order.end());
    if (pass % 3 == 2) ShuffleForPass(order, pass);
    return order;
}

std::vector<double> SmoothScores(const std::vector<TimerCandidate>& grid) {
    const int n = static_cast<int>(grid.size());
    std::vector<double> smoothed(grid.size(), kUnmeasuredScore);
    for (int k = 0; k < n; ++k) {
        if (!grid[k].Measured()) continue;
        double sum = 0;
        int count = 0;
        for (int i = std::max(0, k - 2); i <= std::min(n - 1, k + 2); ++i) {
            if (!grid[i].Measured()) continue;
            sum += grid[i].score;
            ++count;
        }
        smoothed[k] = sum / count;
    }
    return smoothed;
}

int BestMeasured(const std::vector<double>& smoothed) {
    int best = -1;
    for (int k = 0; k < static_cast<int>(smoothed.size()); ++k) {
        if (smoothed[k] >= kUnmeasuredScore) continue;
        if (best < 0 || smoothed[k] <= smoothed[best]) best = k;
    }
    return best;
}

Boundary FindBoundary(const std::vector<TimerCandidate>& grid) {
    const int n = static_cast<int>(grid.size());
    double floor = kUnmeasuredScore;
    for (const TimerCandidate& c : grid) {
        if (c.Measured() && c.clean) floor = std::min(floor, c.loopStats.median);
    }
    const auto nearFloor = [&](int k) {
        const TimerCandidate& c = grid[k];
        const double tick = (c.actual != 0 ? c.actual : c.requested) / 10000.0;
        return c.Measured() && c.clean && c.loopStats.median <= floor + 0.5 * tick;
    };

    Boundary b;
    for (int k = 0; k < n && b.firstNeverMissing < 0; ++k) {
        bool run = true;
        for (int i = k; i <= std::min(n - 1, k + 2); ++i) run = run && nearFloor(i);
        if (run) b.firstNeverMissing = k;
    }
    if (b.firstNeverMissing < 0) return b;
    for (int k = b.firstNeverMissing - 1; k >= 0; --k) {
        if (grid[k].Measured() && !nearFloor(k)) {
            b.lastMissing = k;
            break;
        }
    }
    if (b.lastMissing >= 0) b.transitionWidth = grid[b.firstNeverMissing].requested - grid[b.lastMissing].requested;
    return b;
}

MarginChoice ChooseMargin(bool marginGiven, uint32_t givenMargin, uint32_t transitionWidth) {
    if (marginGiven) return MarginChoice{givenMargin, L" (--margin)", false};
    const uint32_t margin = std::clamp<uint32_t>(transitionWidth, 50, 300);
    const wchar_t* label = transitionWidth > 50 ? L" (= transition width)" : L" (minimum)";
    return MarginChoice{margin, label, transitionWidth > 300};
}

int MarginTarget(const std::vector<TimerCandidate>& grid, int best, uint32_t margin) {
    const uint64_t wanted = static_cast<uint64_t>(grid[best].requested) + margin;
    for (int k = best; k < static_cast<int>(grid.size()); ++k) {
        if (grid[k].Measured() && grid[k].requested >= wanted) return k;
    }
    const int last = static_cast<int>(grid.size()) - 1;
    return grid[last].Measured() ? last : best;
}

std::vector<int> PickFinalists(const std::vector<TimerCandidate>& grid, int target, int best, int firstNeverMissing) {
    constexpr size_t kMaxFinalists = 6;
    const int n = static_cast<int>(grid.size());
    std::vector<int> picked;
    const auto add = [&](int k) {
        if (k < 0 || k >= n || !grid[k].Measured()) return;
        if (std::find(picked.begin(), picked.end(), k) != picked.end()) return;
        picked.push_back(k);
    };
    add(target);
    add(best);
    add(target + 1);
    if (best > 0) add(best - 1);
    if (firstNeverMissing >= 0) add(firstNeverMissing);

    std::vector<int> ranking;
    for (int k = 0; k < n; ++k) {
        if (grid[k].Measured()) ranking.push_back(k);
    }
    std::stable_sort(ranking.begin(), ranking.end(), [&](int a, int b) {
        if (grid[a].score != grid[b].score) return grid[a].score < grid[b].score;
        return grid[a].requested > grid[b].requested;
    });
    for (const int k : ranking) {
        if (picked.size() >= kMaxFinalists) break;
        add(k);
    }
    std::sort(picked.begin(), picked.end());
    return picked;
}

int SelectFinalist(const std::vector<TimerCandidate>& finalists, uint32_t targetPeriod) {
    const int f = static_cast<int>(finalists.size());
    int pick = -1;
    for (int i = 0; i < f; ++i) {
        const TimerCandidate& c = finalists[i];
        if (c.Measured() && c.requested >= targetPeriod && (pick < 0 || c.score < finalists[pick].score)) pick = i;
    }
    // Nothing below the target is installed: a finalist there was measured only because another
    // process held the clock finer than everything at or above it, which says nothing in its favour.
    if (pick < 0) return -1;
    // Near-ties go to the longer period: fewer wake-ups and more headroom for the same latency.
    for (int i = 0; i < f; ++i) {
        const TimerCandidate& s = finalists[i];
        if (s.Measured() && s.requested > finalists[pick].requested && s.requested >= targetPeriod &&
            s.score <= finalists[pick].score * 1.03) {
            pick = i;
        }
    }
    return pick;
}

std::wstring SweepRowNote(const TimerCandidate& candidate, bool isBest, bool isFirstNeverMissing) {
    std::wstring note;
    if (isBest) note = L"<- best measured (smoothed)";
    if (isFirstNeverMissing) note += L" <- first resolution that never misses a tick";
    if (candidate.Measured() && candidate.skipped > 0) note += FormatText(L" (%d pass(es) skipped)", candidate.skipped);
    return note;
}

std::wstring VerificationRowNote(uint32_t period, uint32_t targetPeriod, uint32_t bestPeriod, bool selected) {
    std::wstring note;
    if (period < targetPeriod) note = L"below margin target (evidence only)";
    if (period == bestPeriod) note = L"best measured in sweep";
    if (selected) note = L"<- SELECTED";
    return note;
}

double CandidateScoreError(const TimerCandidate& candidate) {
    const double loop = candidate.loopStats.scoreError, idle = candidate.idleStats.scoreError;
    return std::sqrt(loop * loop + idle * idle) / 2;
}

std::vector<bool> StillInContention(const std::vector<TimerCandidate>& grid, double sigmas, int boundarySteps) {
    std::vector<bool> alive(grid.size(), true);
    int best = -1;
    for (size_t k = 0; k < grid.size(); ++k) {
        if (grid[k].Measured() && (best < 0 || grid[k].score < grid[static_cast<size_t>(best)].score)) best = static_cast<int>(k);
    }
    if (best < 0) return alive;
    const TimerCandidate& leader = grid[static_cast<size_t>(best)];
    const double leaderError = CandidateScoreError(leader);
    for (size_t k = 0; k < grid.size(); ++k) {
        if (!grid[k].Measured()) continue;
        const double error = CandidateScoreError(grid[k]);
        const double bound = std::max(kContentionFloorMs, sigmas * std::sqrt(error * error + leaderError * leaderError));
        alive[k] = grid[k].score - leader.score <= bound;
    }
    const Boundary boundary = FindBoundary(grid);
    const int n = static_cast<int>(grid.size());
    for (const int edge : {boundary.firstNeverMissing, boundary.lastMissing}) {
        if (edge < 0) continue;
        for (int k = std::max(0, edge - boundarySteps); k <= std::min(n - 1, edge + boundarySteps); ++k) alive[static_cast<size_t>(k)] = true;
    }
    return alive;
}

FidelityCounts FidelityPreset(int level) {
    if (level == kAdaptiveFidelity) {
        FidelityCounts preset = FidelityPreset(0);
        preset.adaptive = true;
        preset.extraRounds = kAdaptiveExtraRounds;
        preset.roundSamples = kAdaptiveRoundSamples;
        preset.boundarySteps = kAdaptiveBoundarySteps;
        preset.verify = kAdaptiveVerify;
        // The worst case: every candidate stays in contention for every round.
        const double firstVisit = std::max<uint32_t>(preset.samples / 2, 5) * 4.65 + preset.samples * 1.15 + 30;
        const double roundVisit = (preset.roundSamples / 2) * 4.65 + preset.roundSamples * 1.15 + 30;
        const double verification = (preset.verify / 2) * 4.65 + preset.verify * 1.15 + 300;
        preset.estimateSeconds = ((firstVisit + roundVisit * preset.extraRounds) * 101 + verification * 6) / 1000 + 2;
        preset.expectedSeconds = std::min(preset.estimateSeconds, FidelityPreset(1).estimateSeconds * kAdaptiveShareOfMedium);
        return preset;
    }
    uint32_t divisor = 1;
    uint32_t passes = 3;
    if (level < 1) {
        divisor = 64;
        passes = 1;
    } else if (level == 1) {
        divisor = 8;
    }
    FidelityCounts preset;
    preset.samples = std::max<uint32_t>(150 / divisor, 8);
    preset.passes = passes;
    preset.verify = std::max<uint32_t>(1500 / divisor, 100);
    const double idleSamples = std::max<uint32_t>(preset.samples / 2, 5);
    const double perPass = idleSamples * 4.65 + preset.samples * 1.15 + 30;
    const double verification = (preset.verify / 2) * 4.65 + preset.verify * 1.15 + 300;
    preset.estimateSeconds = (perPass * preset.passes * 101 + verification * 6) / 1000 + 2;
    preset.expectedSeconds = preset.estimateSeconds;
    return preset;
}
