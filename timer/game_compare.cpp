#include "timer/game_compare.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

#include "foundation/text.h"

namespace {

constexpr int kResamples = 2000;
constexpr double kQuantile = 0.99;
// Log-spaced bins for resampling: 0.08 % wide, from 0.1 ms to a minute.
constexpr int kBins = 16384;
constexpr double kLowestMs = 0.1, kHighestMs = 60000;
const double kBinsPerLog = kBins / std::log(kHighestMs / kLowestMs);

int BinOf(double ms) {
    const double at = std::log(std::max(ms, kLowestMs) / kLowestMs) * kBinsPerLog;
    return std::clamp(static_cast<int>(at), 0, kBins - 1);
}

double BinValue(int bin) { return kLowestMs * std::exp((bin + 0.5) / kBinsPerLog); }

// The value at rank floor(q (n - 1)) of the sorted frames.
double QuantileOf(std::vector<double>& frames, double q) {
    const size_t rank = static_cast<size_t>(q * static_cast<double>(frames.size() - 1));
    std::nth_element(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(rank), frames.end());
    return frames[rank];
}

GameArmStats StatsOf(const std::vector<GameBlock>& blocks, GameArm arm) {
    GameArmStats stats;
    stats.blocks = static_cast<int>(
        std::count_if(blocks.begin(), blocks.end(), [arm](const GameBlock& b) { return b.arm == arm && !b.frameMs.empty(); }));
    std::vector<double> pooled = PooledFrames(blocks, arm);
    stats.frames = pooled.size();
    if (pooled.empty()) return stats;
    stats.median = QuantileOf(pooled, 0.5);
    stats.p99 = QuantileOf(pooled, kQuantile);
    stats.p999 = QuantileOf(pooled, 0.999);
    const double limit = 2 * stats.median;
    stats.overTwiceMedian =
        static_cast<double>(std::count_if(pooled.begin(), pooled.end(), [limit](double ms) { return ms > limit; })) /
        static_cast<double>(pooled.size());
    return stats;
}

// One arm's blocks for resampling: each block's count of frames in every bin and above, so the
// 99th percentile of any multiset of blocks is a binary search over summed counts.
struct ArmBlocks {
    std::vector<std::vector<uint32_t>> atOrAbove;  // per block, per bin
    std::vector<uint32_t> frames;                  // per block

    explicit ArmBlocks(const std::vector<GameBlock>& blocks, GameArm arm) {
        for (const GameBlock& block : blocks) {
            if (block.arm != arm || block.frameMs.empty()) continue;
            std::vector<uint32_t> counts(kBins + 1, 0);
            for (const double ms : block.frameMs) ++counts[BinOf(ms)];
            for (int bin = kBins - 1; bin >= 0; --bin) counts[bin] += counts[bin + 1];
            frames.push_back(counts[0]);
            atOrAbove.push_back(std::move(counts));
        }
    }

    // The 99th percentile of the chosen blocks pooled, to the width of a bin.
    double Quantile(const std::vector<int>& chosen) const {
        uint64_t total = 0;
        for (const int block : chosen) total += frames[block];
        const uint64_t rank = static_cast<uint64_t>(kQuantile * static_cast<double>(total - 1));
        const uint64_t needed = total - rank;  // frames at or above the one at that rank
        int low = 0, high = kBins - 1;         // the highest bin with at least `needed` at or above it
        while (low < high) {
            const int middle = (low + high + 1) / 2;
            uint64_t above = 0;
            for (const int block : chosen) above += atOrAbove[block][middle];
            if (above >= needed) low = middle;
            else high = middle - 1;
        }
        return BinValue(low);
    }
};

// Student's t at 97.5 % for the degrees of freedom.
double TQuantile(int df) {
    static constexpr double kTable[] = {12.706, 4.303, 3.182, 2.776, 2.571, 2.447, 2.365, 2.306, 2.262, 2.228,
                                        2.201,  2.179, 2.160, 2.145, 2.131, 2.120, 2.110, 2.101, 2.093, 2.086,
                                        2.080,  2.074, 2.069, 2.064, 2.060, 2.056, 2.052, 2.048, 2.045, 2.042};
    if (df <= 0) return kTable[0];
    if (df <= 30) return kTable[df - 1];
    return 1.96 + 2.4 / df;
}

}  // namespace

std::vector<double> PooledFrames(const std::vector<GameBlock>& blocks, GameArm arm) {
    std::vector<double> pooled;
    for (const GameBlock& block : blocks) {
        if (block.arm == arm) pooled.insert(pooled.end(), block.frameMs.begin(), block.frameMs.end());
    }
    return pooled;
}

std::vector<GameArm> GameBlockOrder(int blocks) {
    std::vector<GameArm> order;
    for (int i = 0; i < blocks; ++i) {
        order.push_back(std::popcount(static_cast<unsigned>(i)) % 2 == 0 ? GameArm::Held : GameArm::Released);
    }
    return order;
}

int GameBlocksFor(int minutes) { return minutes * 60 / kGameBlockSeconds; }

std::vector<double> SettledFrames(const std::vector<double>& frameMs, double settleSeconds) {
    double elapsed = 0;
    size_t first = 0;
    while (first < frameMs.size() && elapsed < settleSeconds * 1000) elapsed += frameMs[first++];
    return std::vector<double>(frameMs.begin() + static_cast<std::ptrdiff_t>(first), frameMs.end());
}

bool CompareGameArms(const std::vector<GameBlock>& blocks, GameComparison& c, std::wstring& error) {
    c = GameComparison{};
    c.held = StatsOf(blocks, GameArm::Held);
    c.released = StatsOf(blocks, GameArm::Released);
    if (c.held.blocks < 2 || c.released.blocks < 2) {
        error = FormatText(L"Too few blocks with frames to compare: %d with the period held, %d released (at least two each).",
                           c.held.blocks, c.released.blocks);
        return false;
    }
    c.p99Lowered = c.released.p99 - c.held.p99;

    // Each arm's blocks are resampled with replacement; the spread of the difference gives its
    // standard error. With a handful of blocks that spread is too narrow by (n - 1) / n and the
    // normal quantile too small, so both are corrected.
    const ArmBlocks held(blocks, GameArm::Held), released(blocks, GameArm::Released);
    std::mt19937_64 random(0x51A7E5EEDull);
    std::vector<int> chosenHeld(held.frames.size()), chosenReleased(released.frames.size());
    double sum = 0, sumSquares = 0;
    for (int i = 0; i < kResamples; ++i) {
        for (int& block : chosenHeld) block = static_cast<int>(random() % held.frames.size());
        for (int& block : chosenReleased) block = static_cast<int>(random() % released.frames.size());
        const double difference = released.Quantile(chosenReleased) - held.Quantile(chosenHeld);
        sum += difference;
        sumSquares += difference * difference;
    }
    const double mean = sum / kResamples;
    const double variance = std::max(0.0, sumSquares / kResamples - mean * mean);
    const int fewest = std::min(c.held.blocks, c.released.blocks);
    const double standardError = std::sqrt(variance * fewest / (fewest - 1.0));
    const double halfWidth = TQuantile(c.held.blocks + c.released.blocks - 2) * standardError;
    c.ciLow = c.p99Lowered - halfWidth;
    c.ciHigh = c.p99Lowered + halfWidth;
    c.verdict = c.ciLow > 0 ? GameVerdict::Better : c.ciHigh < 0 ? GameVerdict::Worse : GameVerdict::NoDifference;
    return true;
}

std::wstring GameVerdictText(const GameComparison& c, uint32_t period) {
    const double ms = period / 10000.0;
    switch (c.verdict) {
    case GameVerdict::Better:
        return FormatText(L"Holding %.4f ms lowered your 99th-percentile frame time by %.1f ms (95 %% CI %.1f to %.1f ms).", ms,
                          c.p99Lowered, c.ciLow, c.ciHigh);
    case GameVerdict::Worse:
        return FormatText(L"Holding %.4f ms made your 99th-percentile frame time worse by %.1f ms (95 %% CI %.1f to %.1f ms).",
                          ms, -c.p99Lowered, -c.ciHigh, -c.ciLow);
    case GameVerdict::NoDifference: break;
    }
    return FormatText(L"Holding %.4f ms made no difference this test could see (\u00B1%.1f ms); a longer run can tell smaller "
                      L"ones apart.",
                      ms, (c.ciHigh - c.ciLow) / 2);
}

std::wstring GameArmText(const wchar_t* name, const GameArmStats& s) {
    return FormatText(L"%ls: %llu frames in %d blocks, median %.2f ms, 99th %.2f ms, 99.9th %.2f ms, %.1f %% over twice the median",
                      name, static_cast<unsigned long long>(s.frames), s.blocks, s.median, s.p99, s.p999, s.overTwiceMedian * 100);
}

std::wstring GameCompareRefusal(const std::wstring& processName, bool running, bool globalRequestsHonoured, bool globalFlagOn) {
    if (!running) {
        return FormatText(L"%ls is not running. Start the game and play, then run this again.", processName.c_str());
    }
    if (globalRequestsHonoured && !globalFlagOn) {
        return FormatText(L"This Windows version keeps every program's timer period to itself unless "
                          L"GlobalTimerResolutionRequests is 1, so a period held here cannot reach %ls. Install the timer "
                          L"service (it sets the value), restart Windows, then run this again.",
                          processName.c_str());
    }
    return {};
}

std::wstring GamePerProcessCaveat(const std::wstring& processName) {
    return FormatText(L"Note: this Windows version keeps timer requests per-process, so the period held here reaches %ls "
                      L"only as far as Windows lets one program's request shape another's timing; a difference may not "
                      L"show even where the game itself would gain from a finer period.",
                      processName.c_str());
}
