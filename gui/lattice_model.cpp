#include "gui/lattice_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

float LatencyAxis(double x) {
    double axis = 0;
    if (x <= 2) {
        axis = std::max(0.0, (x + 0.05) / 2.05 * 0.8);
    } else {
        axis = 0.8 + 0.2 * std::min((x - 2) / 18, 1.0);
    }
    return static_cast<float>(std::min(axis, 1.0));
}

int LatencyRow(double overshootMs) {
    const int row = static_cast<int>(LatencyAxis(overshootMs) * 127 + 0.5f);
    return std::clamp(row, 0, kLatticeSize - 1);
}

float SpreadAxis(double stdevMs) { return static_cast<float>(stdevMs / 2.05 * 0.8); }

int LateColumn(double lateFraction) {
    // NaN compares false everywhere: it lands in column 0 like "no late samples".
    const double f = lateFraction > 0 ? std::min(lateFraction, 1.0) : 0.0;
    return std::clamp(static_cast<int>(std::lround(static_cast<float>(f) * 127)), 0, kLatticeSize - 1);
}

bool IsLateSample(uint32_t periodUnits, double overshootMs) {
    const double p = periodUnits / 10000.0;
    return overshootMs > p / 2 + std::max(0.0, 2 * p - 1);
}

double TickLine(uint32_t periodUnits, int i) {
    const double p = periodUnits / 10000.0;
    return i * p + std::max(0.0, 2 * p - 1);
}

int HistogramBin(double overshootMs) {
    const double position = (overshootMs + 0.05) / 1.25 * 100;
    if (!(position > 0)) return 0;  // NaN too
    return std::min(static_cast<int>(position), kHistogramBins - 1);
}

void ColumnsFromCandidates(const std::vector<CandidateSummary>& candidates, LatticeData& lattice) {
    lattice.columns.fill(LatticeColumn{});
    for (const CandidateSummary& c : candidates) {
        if (!c.measured) continue;
        const double latePercent = c.loop.count > 0 ? c.loop.latePercent : c.idle.latePercent;
        LatticeColumn& column = lattice.columns[LateColumn(latePercent / 100)];
        column.loopMean = LatencyAxis(c.loop.mean);
        column.idleMean = LatencyAxis(c.idle.mean);
        column.p99 = LatencyAxis(c.loop.p99);
        column.spread = SpreadAxis(c.loop.stdev);
        column.lateFraction = static_cast<float>(latePercent / 100);
        column.score = static_cast<float>(c.score);
        column.presence = 1;
    }
}

namespace {

// Field numbers of a scan row (phase, requested, actual, requested ms, then 11 loop and 11 idle
// statistics: n, median, mean, stdev, p1, p95, p99, max, late %, score, clean).
constexpr size_t kLoopN = 4, kLoopMean = 6, kLoopStdev = 7, kLoopLate = 12;
constexpr size_t kIdleN = 15, kIdleMean = 17, kIdleStdev = 18, kIdleLate = 23;
constexpr size_t kMinimumFields = 24;

bool ParseNumber(std::string_view field, double& value) {
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
    if (field.empty()) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() && std::isfinite(value);
}

void AddGroup(LatticeData& lattice, double n, double mean, double stdev, double latePercent, bool idle) {
    if (!(n >= 1)) return;
    const int column = LateColumn(latePercent / 100);
    const uint64_t count = n > 4e9 ? 4000000000ull : static_cast<uint64_t>(n);
    const uint64_t points = std::min<uint64_t>(count, 40);
    const uint32_t weight = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(1, count / points), 65535));
    const double sigma = std::max(stdev, 0.02);
    for (uint64_t i = 0; i < points; ++i) {
        const double latency = mean + ((static_cast<double>(i) + 0.5) / static_cast<double>(points) - 0.5) * 2.4 * sigma;
        LatticeCell& cell = lattice.At(LatencyRow(latency), column);
        AddSaturating(cell.all, weight);
        AddSaturating(idle ? cell.idle : cell.loop, weight);
        if (latePercent > 0.5) AddSaturating(cell.late, weight / 2);
    }
    LatticeColumn& stats = lattice.columns[column];
    stats.loopMean = LatencyAxis(mean);
    stats.idleMean = LatencyAxis(mean);
    stats.p99 = LatencyAxis(mean + stdev);
    stats.spread = SpreadAxis(stdev);
    stats.lateFraction = static_cast<float>(std::clamp(latePercent / 100, 0.0, 1.0));
    stats.score = 0;
    stats.presence = 1;
}

}  // namespace

bool LatticeFromScanText(std::string_view text, LatticeData& lattice) {
    lattice.Clear();
    bool found = false;
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        fields.clear();
        for (size_t at = 0;;) {
            const size_t comma = line.find(',', at);
            fields.push_back(line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
            if (comma == std::string_view::npos) break;
            at = comma + 1;
        }
        if (fields.size() < kMinimumFields || fields[0] != "sweep") continue;
        double values[8] = {};
        const size_t columns[8] = {kLoopN, kLoopMean, kLoopStdev, kLoopLate, kIdleN, kIdleMean, kIdleStdev, kIdleLate};
        bool usable = true;
        for (int i = 0; i < 8 && usable; ++i) usable = ParseNumber(fields[columns[i]], values[i]);
        if (!usable) continue;
        AddGroup(lattice, values[0], values[1], values[2], values[3], false);
        AddGroup(lattice, values[4], values[5], values[6], values[7], true);
        found = true;
    }
    return found;
}

bool LoadLatestScan(const std::wstring& directory, LatticeData& lattice, std::wstring& fileName) {
    lattice.Clear();
    fileName.clear();
    std::error_code error;
    std::filesystem::file_time_type newest{};
    std::filesystem::path newestPath;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::filesystem::path& path = it->path();
        const std::wstring name = path.filename().wstring();
        if (name.rfind(L"benchmark-", 0) != 0 || path.extension() != L".csv" || !it->is_regular_file(error)) continue;
        const auto written = it->last_write_time(error);
        if (error) continue;
        if (newestPath.empty() || written >= newest) {
            newest = written;
            newestPath = path;
        }
    }
    if (newestPath.empty()) return false;
    fileName = newestPath.filename().wstring();
    const uintmax_t size = std::filesystem::file_size(newestPath, error);
    if (error || size > kLargestScanBytes) return false;
    std::string text(static_cast<size_t>(size), '\0');
    std::ifstream file(newestPath, std::ios::binary);
    if (!file) return false;
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return LatticeFromScanText(text, lattice);
}
