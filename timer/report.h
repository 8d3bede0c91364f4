#pragma once
// How the benchmark's numbers reach the user: the console tables, the summary of the chosen
// period, and the scan file (a stored CSV format the heatmap reads back).
#include <string>
#include <vector>

#include "timer/sampling.h"

struct BenchmarkResult;

inline constexpr const wchar_t* kTableHeader1 =
    L"            back-to-back Sleep(1) loop ------------------  after 2-5 ms idle --";
inline constexpr const wchar_t* kTableHeader2 =
    L"  res (ms)       n    median      mean   stdev  late%  |     mean  late%  |   score";

std::wstring FormatCandidateRow(const TimerCandidate& candidate, const std::wstring& note);
void PrintTableHeader();
void PrintCandidateRow(const TimerCandidate& candidate, const std::wstring& note);
std::vector<std::wstring> BenchmarkSummaryLines(const BenchmarkResult& result);
void PrintBenchmarkSummary(const BenchmarkResult& result);

// The whole scan file: header and one row per candidate, CR LF line ends.
std::wstring BuildScanText(const std::vector<TimerCandidate>& sweep, const std::vector<TimerCandidate>& finalists);
std::wstring ScanFileName(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second);
std::wstring MakeScanPath();
// False when the file could not be made (the data folder unsafe, the folder or disk refusing).
bool WriteScanFile(const std::wstring& path, const std::vector<TimerCandidate>& sweep,
                   const std::vector<TimerCandidate>& finalists);
