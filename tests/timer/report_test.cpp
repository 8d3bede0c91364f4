#include "timer/report.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/text.h"
#include "support/test_support.h"
#include "timer/benchmark.h"

namespace {

TimerCandidate MeasuredCandidate() {
    TimerCandidate c;
    c.requested = 5070;
    c.actual = 5070;
    c.loopSamples.assign(100, 0.05);
    c.idleSamples.assign(50, 0.06);
    c.loopStats = {100, 0.0512, 0.05234, 0.004, 0.049, 0.06, 0.0612, 0.5, 1, 1.0, 0.05634, true};
    c.idleStats = {50, 0.0601, 0.061, 0.0052, 0.05, 0.07, 0.071, 0.08, 0, 0.0, 0.0662, true};
    c.score = 0.06127;
    c.clean = true;
    c.dropped = 3;
    return c;
}

size_t Fields(const std::string& line) { return static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1; }

}  // namespace

TEST(ConsoleTable, RowsAreFixedWidth) {
    EXPECT_EQ(FormatCandidateRow(MeasuredCandidate(), L"<- SELECTED"),
              L"    0.5070     150   +0.0512   +0.0523  0.0040    1.0%  |  +0.0610    0.0%  |  0.0613  <- SELECTED");
    TimerCandidate masked;
    masked.requested = 5500;
    masked.interferer = 5000;
    EXPECT_EQ(FormatCandidateRow(masked, L"ignored"), L"    0.5500       -  skipped: another process held 0.5000 ms");
    masked.interferer = 0;
    EXPECT_EQ(FormatCandidateRow(masked, L"ignored"), L"    0.5500       -  skipped");
}

TEST(ScanFile, HeaderHasThirtyColumnsAndRowsMatchIt) {
    TimerCandidate masked;
    masked.requested = 5500;
    masked.interferer = 5000;
    const std::string text = ToUtf8(BuildScanText({masked}, {MeasuredCandidate()}));
    const std::string header =
        "phase,requested_units,actual_units,requested_ms,loop_n,loop_median_ms,loop_mean_ms,loop_stdev_ms,loop_p1_ms,"
        "loop_p95_ms,loop_p99_ms,loop_max_ms,loop_late_pct,loop_score_ms,loop_clean,idle_n,idle_median_ms,idle_mean_ms,"
        "idle_stdev_ms,idle_p1_ms,idle_p95_ms,idle_p99_ms,idle_max_ms,idle_late_pct,idle_score_ms,idle_clean,score_ms,"
        "clean,dropped,interferer_units\r\n";
    const std::string zeros = "0,0.00000,0.00000,0.00000,0.00000,0.00000,0.00000,0.00000,0.000,0.00000,0";
    const std::string maskedRow = "sweep,5500,0,0.5500," + zeros + "," + zeros + ",0.00000,0,0,5000\r\n";
    const std::string measuredRow =
        "verify,5070,5070,0.5070,100,0.05120,0.05234,0.00400,0.04900,0.06000,0.06120,0.50000,1.000,0.05634,1,"
        "50,0.06010,0.06100,0.00520,0.05000,0.07000,0.07100,0.08000,0.000,0.06620,1,0.06127,1,3,0\r\n";
    EXPECT_EQ(text, header + maskedRow + measuredRow);
    EXPECT_EQ(Fields(header), 30u);
    EXPECT_EQ(Fields(maskedRow), 30u);
    EXPECT_EQ(Fields(measuredRow), 30u);
}

TEST(ScanFile, NameCarriesTheLocalTimeAndASecondWriteReplacesTheFirst) {
    EXPECT_EQ(ScanFileName(2026, 3, 4, 5, 6, 7), L"\\benchmark-20260304-050607.csv");
    TempFolder folder;
    const ScopedProgramFolders folders(folder.Path());
    const std::wstring path = MakeScanPath();
    EXPECT_EQ(path.rfind(folder.Path() + L"\\Quorvantis\\benchmark-", 0), 0u);
    WriteScanFile(path, {MeasuredCandidate(), MeasuredCandidate()}, {});
    WriteScanFile(path, {MeasuredCandidate()}, {});
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, 6), "phase,") << "UTF-8 without a byte-order mark";
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2);

    // A second name someone gave the file is never written through: the scan is a file of its own.
    const std::wstring elsewhere = folder.File(L"kept-by-someone-else.txt");
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    ASSERT_TRUE(WriteFileBytes(elsewhere, "theirs"));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), elsewhere.c_str(), nullptr));
    WriteScanFile(path, {MeasuredCandidate()}, {});
    EXPECT_EQ(ReadFileBytes(elsewhere), "theirs");
    EXPECT_EQ(ReadFileBytes(path).substr(0, 6), "phase,");
}

TEST(ScanFile, UnwritableLocationSaysSo) {
    TempFolder folder;
    const std::wstring path = folder.File(L"no-such-folder\\x.csv");
    EXPECT_FALSE(WriteScanFile(path, {MeasuredCandidate()}, {}));
    EXPECT_FALSE(FileExists(path));
}

TEST(Summary, LinesOfASuccessfulRun) {
    BenchmarkResult r;
    r.selected = 5120;
    r.score = 0.06127;
    r.loopStats = MeasuredCandidate().loopStats;
    r.idleStats = MeasuredCandidate().idleStats;
    r.bestMeasured = 5070;
    r.marginApplied = 50;
    r.firstNeverMissing = 5100;
    r.baselineStats.count = 40;
    r.baselineStats.median = 14.6;
    r.scanPath = L"C:\\ProgramData\\Quorvantis\\benchmark-20260304-050607.csv";
    EXPECT_EQ(BenchmarkSummaryLines(r),
              (std::vector<std::wstring>{
                  L"\nSelected: 5120 (0.5120 ms), score 0.0613 ms",
                  L"  back-to-back Sleep(1): overshoot median +0.0512 ms, mean +0.0523, stdev 0.0040, p99 +0.0612; 1 "
                  L"of 100 samples (1.00%) slept one tick longer",
                  L"  after 2-5 ms idle:     overshoot median +0.0601 ms, mean +0.0610, stdev 0.0052, p99 +0.0710; 0 "
                  L"of 50 samples (0.00%) slept one tick longer",
                  L"  = best measured resolution (0.5070 ms) + 0.0050 ms safety margin",
                  L"  first resolution that never missed a tick: 0.5100 ms",
                  L"  vs +14.6000 ms median overshoot with no resolution requested",
                  L"  per-candidate data: C:\\ProgramData\\Quorvantis\\benchmark-20260304-050607.csv"}));
    r.firstNeverMissing = 0;
    r.baselineStats.count = 0;
    r.scanPath.clear();
    const std::vector<std::wstring> lines = BenchmarkSummaryLines(r);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4].rfind(L"  no resolution in the range was free of missed ticks;", 0), 0u);
}
