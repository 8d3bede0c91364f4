#include "timer/report.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "timer/benchmark.h"

namespace {

std::wstring StatsColumns(const SampleStats& s) {
    return FormatText(L"%lu,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.3f,%.5f,%d", static_cast<unsigned long>(s.count),
                      s.median, s.mean, s.stdev, s.p1, s.p95, s.p99, s.max, s.latePercent, s.score, s.clean ? 1 : 0);
}

std::wstring ScanRow(const wchar_t* phase, const TimerCandidate& c) {
    const std::wstring loop = StatsColumns(c.loopStats);
    const std::wstring idle = StatsColumns(c.idleStats);
    return FormatText(L"%ls,%lu,%lu,%.4f,%ls,%ls,%.5f,%d,%lu,%lu\r\n", phase, static_cast<unsigned long>(c.requested),
                      static_cast<unsigned long>(c.actual), c.requested / 10000.0, loop.c_str(), idle.c_str(), c.score,
                      c.clean ? 1 : 0, static_cast<unsigned long>(c.dropped), static_cast<unsigned long>(c.interferer));
}

std::wstring ScanHeader() {
    static constexpr const wchar_t* kStatNames[] = {L"n",      L"median_ms", L"mean_ms",  L"stdev_ms",
                                                    L"p1_ms",  L"p95_ms",    L"p99_ms",   L"max_ms",
                                                    L"late_pct", L"score_ms", L"clean"};
    std::wstring header = L"phase,requested_units,actual_units,requested_ms";
    for (const wchar_t* prefix : {L"loop_", L"idle_"}) {
        for (const wchar_t* name : kStatNames) header += FormatText(L",%ls%ls", prefix, name);
    }
    return header + L",score_ms,clean,dropped,interferer_units\r\n";
}

}  // namespace

std::wstring FormatCandidateRow(const TimerCandidate& c, const std::wstring& note) {
    const double ms = c.requested / 10000.0;
    if (!c.Measured()) {
        const std::wstring skipped =
            c.interferer != 0 ? FormatText(L"skipped: another process held %.4f ms", c.interferer / 10000.0)
                              : std::wstring(L"skipped");
        return FormatText(L"  %8.4f  %6ls  %ls", ms, L"-", skipped.c_str());
    }
    const auto n = static_cast<unsigned long>(c.loopSamples.size() + c.idleSamples.size());
    return FormatText(L"  %8.4f  %6lu  %+8.4f  %+8.4f  %6.4f  %5.1f%%  | %+8.4f  %5.1f%%  |  %6.4f  %ls", ms, n,
                      c.loopStats.median, c.loopStats.mean, c.loopStats.stdev, c.loopStats.latePercent,
                      c.idleStats.mean, c.idleStats.latePercent, c.score, note.c_str());
}

void PrintTableHeader() {
    LogInfo(kTableHeader1);
    LogInfo(kTableHeader2);
}

void PrintCandidateRow(const TimerCandidate& candidate, const std::wstring& note) {
    LogInfo(FormatCandidateRow(candidate, note));
}

std::vector<std::wstring> BenchmarkSummaryLines(const BenchmarkResult& r) {
    std::vector<std::wstring> lines;
    lines.push_back(FormatText(L"\nSelected: %lu (%.4f ms), score %.4f ms", static_cast<unsigned long>(r.selected),
                               r.selected / 10000.0, r.score));
    const auto patternLine = [](const wchar_t* label, const SampleStats& s) {
        return FormatText(L"%ls overshoot median %+0.4f ms, mean %+0.4f, stdev %0.4f, p99 %+0.4f; %lu of %lu samples "
                          L"(%.2f%%) slept one tick longer",
                          label, s.median, s.mean, s.stdev, s.p99, static_cast<unsigned long>(s.lateCount),
                          static_cast<unsigned long>(s.count), s.latePercent);
    };
    lines.push_back(patternLine(L"  back-to-back Sleep(1):", r.loopStats));
    lines.push_back(patternLine(L"  after 2-5 ms idle:    ", r.idleStats));
    lines.push_back(FormatText(L"  = best measured resolution (%.4f ms) + %.4f ms safety margin",
                               r.bestMeasured / 10000.0, r.marginApplied / 10000.0));
    if (r.firstNeverMissing != 0) {
        lines.push_back(FormatText(L"  first resolution that never missed a tick: %.4f ms", r.firstNeverMissing / 10000.0));
    } else {
        lines.push_back(
            L"  no resolution in the range was free of missed ticks; misses are wake-up latency (deep C-states, long "
            L"DPCs) exceeding the slack 2R - 1 ms. A High Performance power plan or disabling deep C-states in firmware "
            L"usually lowers the miss rate.");
    }
    if (r.baselineStats.count > 0) {
        lines.push_back(FormatText(L"  vs %+0.4f ms median overshoot with no resolution requested", r.baselineStats.median));
    }
    if (!r.scanPath.empty()) lines.push_back(FormatText(L"  per-candidate data: %ls", r.scanPath.c_str()));
    return lines;
}

void PrintBenchmarkSummary(const BenchmarkResult& result) {
    for (const std::wstring& line : BenchmarkSummaryLines(result)) LogInfo(line);
}

std::wstring BuildScanText(const std::vector<TimerCandidate>& sweep, const std::vector<TimerCandidate>& finalists) {
    std::wstring text = ScanHeader();
    for (const TimerCandidate& c : sweep) text += ScanRow(L"sweep", c);
    for (const TimerCandidate& c : finalists) text += ScanRow(L"verify", c);
    return text;
}

std::wstring ScanFileName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
    return FormatText(L"\\benchmark-%04u%02u%02u-%02u%02u%02u.csv", year, month, day, hour, minute, second);
}
