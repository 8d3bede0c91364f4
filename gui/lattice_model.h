#pragma once
// The Lattice's data: a 128 x 128 grid of Sleep(1) results (latency row by late-% column, with
// counters for all, back-to-back, idle-gap and late samples) and per-column statistics. Filled
// live by the measuring worker's feed or from the newest saved scan file. Pure arithmetic.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/feed.h"

inline constexpr int kLatticeSize = 128;

struct LatticeCell {
    uint16_t all = 0;
    uint16_t loop = 0;  // back-to-back
    uint16_t idle = 0;  // after an idle gap
    uint16_t late = 0;
};

// One column's statistics, as the shader reads them: axis positions of the back-to-back mean,
// the idle-gap mean and the p99 (or mean + stdev from a scan file), the spread in axis units,
// the late fraction, the combined score (live only) and whether the column has data.
struct LatticeColumn {
    float loopMean = 0;
    float idleMean = 0;
    float p99 = 0;
    float spread = 0;
    float lateFraction = 0;
    float score = 0;
    float presence = 0;
    float zero = 0;
};

struct LatticeData {
    std::array<LatticeCell, kLatticeSize * kLatticeSize> cells{};  // index row * 128 + column
    std::array<LatticeColumn, kLatticeSize> columns{};
    void Clear() {
        cells.fill(LatticeCell{});
        columns.fill(LatticeColumn{});
    }
    LatticeCell& At(int row, int column) { return cells[static_cast<size_t>(row) * kLatticeSize + column]; }
    const LatticeCell& At(int row, int column) const { return cells[static_cast<size_t>(row) * kLatticeSize + column]; }
};

// Overshoot (ms) to 0..1: -0.05..2 ms fill the lower 80 % linearly, 2..20 ms the top 20 %.
float LatencyAxis(double overshootMs);
int LatencyRow(double overshootMs);
// A standard deviation in axis units.
float SpreadAxis(double stdevMs);
// Late fraction (0..1) to a column 0..127.
int LateColumn(double lateFraction);

// A sample is late when it overshoots by more than half the period plus the slack a period
// longer than 0.5 ms already costs: P/2 + max(0, 2P - 1) ms, with P in ms.
bool IsLateSample(uint32_t periodUnits, double overshootMs);
// The live chart's tick lines: i * P + max(0, 2P - 1) ms.
double TickLine(uint32_t periodUnits, int i);

// The overshoot histogram: 100 bins of 0.0125 ms from -0.05 ms.
inline constexpr int kHistogramBins = 100;
int HistogramBin(double overshootMs);

// Adds to a 16-bit counter without wrapping.
inline void AddSaturating(uint16_t& counter, uint32_t amount) {
    const uint32_t sum = counter + amount;
    counter = static_cast<uint16_t>(sum > 65535u ? 65535u : sum);
}

// Column statistics from a candidate table (sweep or verification), rebuilt whole.
void ColumnsFromCandidates(const std::vector<CandidateSummary>& candidates, LatticeData& lattice);

// A saved scan's text (the CSV of the benchmark) into the grid; true when it had at least one
// usable sweep row. Anything malformed is skipped, never trusted.
bool LatticeFromScanText(std::string_view text, LatticeData& lattice);

// The newest "benchmark-*.csv" in a folder (by last write; on equal times the one listed later)
// into the grid. Returns whether it held a usable sweep row; the file's name is set whenever one
// exists. A file too large to be a scan is treated as empty.
bool LoadLatestScan(const std::wstring& directory, LatticeData& lattice, std::wstring& fileName);
inline constexpr uint64_t kLargestScanBytes = 64ull * 1024 * 1024;
