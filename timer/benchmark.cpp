#include "timer/benchmark.h"

#include <algorithm>
#include <vector>

#include "foundation/elevation.h"
#include "foundation/console.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "timer/energy_report.h"
#include "timer/priority.h"
#include "timer/report.h"
#include "timer/sampling.h"
#include "timer/sweep_plan.h"
#include "timer/timer_kernel.h"

namespace {

std::vector<CandidateFigures> FiguresOf(const std::vector<TimerCandidate>& candidates) {
    std::vector<CandidateFigures> figures;
    figures.reserve(candidates.size());
    for (const TimerCandidate& c : candidates) {
        figures.push_back(CandidateFigures{c.requested, c.actual, c.Measured(), c.skipped, c.dropped, c.interferer,
                                           c.loopStats, c.idleStats, c.score, c.clean});
    }
    return figures;
}

constexpr int kRounds = 10;
constexpr uint32_t kBaselineSamples = 40;
constexpr double kSweepLateLimit = 0.5;
constexpr double kVerifyLateLimit = 0.2;

double Ms(uint32_t units) { return units / 10000.0; }

uint32_t IdlePerPass(const BenchmarkParams& p) { return std::max<uint32_t>(p.samples / 2, 5); }
uint32_t VerifyIdleTotal(const BenchmarkParams& p) { return std::max<uint32_t>(p.verify / 2, 10); }
uint32_t PerRound(uint32_t total) { return (total + kRounds - 1) / kRounds; }
// The mean share of the grid an adaptive round measures again, on the selection bench's machines.
constexpr double kExpectedContentionShare = 0.14;

// Feed calls do nothing without a listener.
void FeedSystem(const SystemView& view) {
    if (Feed* f = CurrentFeed()) f->System(view);
}
void FeedSweep(const std::vector<TimerCandidate>& grid, const std::vector<double>& smoothed, int best, int first,
               int target, uint32_t margin, int pass, int passes, int number, int justMeasured) {
    if (Feed* f = CurrentFeed()) {
        f->SweepTable(SummariesOf(grid), smoothed, best, first, target, static_cast<int>(margin), pass, passes, number,
                      justMeasured);
    }
}
void FeedVerification(const std::vector<TimerCandidate>& finalists, int justMeasured, uint32_t targetPeriod) {
    if (Feed* f = CurrentFeed()) f->VerificationTable(SummariesOf(finalists), justMeasured, static_cast<int>(targetPeriod));
}

double SecondsSince(uint64_t startTick) {
    return static_cast<double>(CurrentTimerKernel().TickCount64() - startTick) / 1000.0;
}

BenchmarkResult Failure(BenchmarkResult result, const wchar_t* text) {
    ClearProgress();
    result.selected = 0;
    result.errorText = text;
    return result;
}

}  // namespace

BenchmarkEstimate EstimateBenchmark(const BenchmarkParams& p, size_t candidates) {
    BenchmarkEstimate e;
    const double perVisit = (IdlePerPass(p) * 4.65 + p.samples * 1.15 + 30) / 1000;
    e.sweepSeconds = p.passes * static_cast<double>(candidates) * perVisit;
    e.worstSweepSeconds = e.sweepSeconds;
    if (p.adaptive) {
        const uint32_t roundSamples = p.roundSamples != 0 ? p.roundSamples : p.samples;
        const double roundVisit = (std::max<uint32_t>(roundSamples / 2, 5) * 4.65 + roundSamples * 1.15 + 30) / 1000;
        const double grid = static_cast<double>(candidates);
        // Expected: the share of candidates the selection bench finds still in contention per round.
        e.sweepSeconds = grid * (perVisit + p.adaptiveRounds * kExpectedContentionShare * roundVisit);
        e.worstSweepSeconds = grid * (perVisit + p.adaptiveRounds * roundVisit);
    }
    e.verificationSeconds = (VerifyIdleTotal(p) * 4.65 + p.verify * 1.15 + 300) * 6 / 1000;
    return e;
}

BenchmarkResult RunBenchmark(const BenchmarkParams& params) {
    BenchmarkResult result;
    TimerKernel& kernel = CurrentTimerKernel();
    uint32_t coarsest = 0, finest = 0, current = 0;
    if (!QueryTimerRange(coarsest, finest, current)) {
        result.errorText = L"NtQueryTimerResolution failed.";
        return result;
    }

    // Set-up: the grid, the plan and what the user is told about it.
    const std::vector<uint32_t> periods = BuildGrid(params.from, params.to, params.step, finest, coarsest);
    std::vector<TimerCandidate> grid(periods.size());
    for (size_t k = 0; k < periods.size(); ++k) grid[k].requested = periods[k];
    const int n = static_cast<int>(grid.size());
    const uint32_t first = periods.front();
    const uint32_t end = periods.back();
    const int passes = params.adaptive ? 1 : static_cast<int>(params.passes);
    const uint32_t idle = IdlePerPass(params);
    const uint32_t verifyIdle = VerifyIdleTotal(params);
    const BenchmarkEstimate estimate = EstimateBenchmark(params, grid.size());
    const double share = estimate.sweepSeconds / (estimate.TotalSeconds() + 1);
    const std::wstring estimateText = FormatMinSec(estimate.TotalSeconds() + 2);

    // Every sample is kept until the run ends, so a plan too large to hold is refused up front.
    // An adaptive run's later rounds take their own sample counts.
    const uint32_t laterLoop = params.adaptive && params.roundSamples != 0 ? params.roundSamples : params.samples;
    const uint32_t laterIdle = params.adaptive && params.roundSamples != 0 ? std::max<uint32_t>(params.roundSamples / 2, 5) : idle;
    const uint64_t laterRounds = params.adaptive ? params.adaptiveRounds : static_cast<uint64_t>(passes - 1);
    const uint64_t stored = static_cast<uint64_t>(params.samples + idle) * grid.size() +
                            static_cast<uint64_t>(laterLoop + laterIdle) * grid.size() * laterRounds +
                            static_cast<uint64_t>(params.verify + verifyIdle) * 6;
    if (stored > kMaxStoredSamples) {
        result.errorText = FormatText(L"This sweep would keep %llu samples, more than the %llu a run can hold. Use fewer "
                                      L"candidates (--from, --to, --step), --samples or --passes.",
                                      static_cast<unsigned long long>(stored),
                                      static_cast<unsigned long long>(kMaxStoredSamples));
        return result;
    }

    SystemView view{finest, coarsest, current, IsElevated(), params.serviceState, 0, L""};
    ReadStateDword(L"DesiredResolution", view.desiredResolution);
    FeedSystem(view);
    FeedStage(L"SWEEP", FormatText(L"%.4f-%.4f ms in %.4f ms steps, %d pass%ls", Ms(first), Ms(end), Ms(params.step),
                                   passes, passes == 1 ? L"" : L"es"));
    FeedExplanation(L"Why timer resolution matters",
                L"Windows Sleep(1) waits for the next timer interrupt at least 1 ms away. The default clock is ~15.6 "
                L"ms, so Sleep(1) often wakes ~15 ms late. This step times real Sleep(1) calls across finer periods and "
                L"keeps the fastest setting for this machine.");
    LogInfo(FormatText(L"Kernel timer range: fastest %.4f ms, slowest %.4f ms, system currently at %.4f ms", Ms(finest),
                       Ms(coarsest), Ms(current)));
    const auto calls = static_cast<unsigned long long>(static_cast<uint64_t>(params.samples + idle) * grid.size() * passes);
    if (params.adaptive) {
        LogInfo(FormatText(L"Sweep (adaptive): %.4f-%.4f ms in %.4f ms steps = %lu candidates x (%d back-to-back + %d "
                           L"idle-gap) samples, then up to %lu more rounds for the candidates whose score is within %.0f "
                           L"standard errors of the best's (at most ~%ls)",
                           Ms(first), Ms(end), Ms(params.step), static_cast<unsigned long>(n), static_cast<int>(params.samples),
                           static_cast<int>(idle), static_cast<unsigned long>(params.adaptiveRounds), params.contentionSigmas,
                           FormatMinSec(estimate.worstSweepSeconds + estimate.verificationSeconds + 2).c_str()));
    } else {
        LogInfo(FormatText(L"Sweep: %.4f-%.4f ms in %.4f ms steps = %lu candidates x %d passes x (%d back-to-back + %d "
                           L"idle-gap) samples = %llu Sleep(1) calls",
                           Ms(first), Ms(end), Ms(params.step), static_cast<unsigned long>(n), passes,
                           static_cast<int>(params.samples), static_cast<int>(idle), calls));
    }
    LogInfo(FormatText(L"Verification: up to 6 finalists x (%d + %d) samples, interleaved in %d rounds. Estimated time "
                       L"~%ls",
                       static_cast<int>(params.verify), static_cast<int>(verifyIdle), kRounds, estimateText.c_str()));
    // Whether another process held a finer period at some point: then it is named afterwards.
    bool clockHeld = current < end;
    if (current < end) {
        LogInfo(FormatText(L"WARNING: some process already holds %.4f ms, inside the sweep range. Candidates it masks "
                           L"will be skipped; close games/browsers for a clean run.",
                           Ms(current)));
    }
    view.priorityText = RaiseMeasurementPriority();
    LogInfo(FormatText(L"Measurement priority: %ls", view.priorityText.c_str()));
    FeedSystem(view);
    KeepResolutionRequestsHonoured();
    FeedSweep(grid, {}, -1, -1, -1, 0, -1, -1, -1, -1);

    // Baseline: Sleep(1) with nothing requested by this process.
    FeedStage(L"BASELINE", L"Sleep(1) with nothing requested by this process");
    FeedExplanation(L"Untuned baseline",
                L"Sleep(1) with no timer request \u2014 the ~15.6 ms default clock. Later scores are compared against "
                L"this overshoot.");
    ShowProgress(L"Baseline (no request)...");
    const int64_t frequency = kernel.CounterFrequency();
    std::vector<double> baseline;
    baseline.reserve(kBaselineSamples);
    for (uint32_t i = 0; i < kBaselineSamples; ++i) {
        if (IsCancelled()) return Failure(result, L"Cancelled.");
        const double overshoot = TimedSleepOne(kernel, frequency);
        if (Feed* f = CurrentFeed()) f->Sample(0, overshoot, true);
        baseline.push_back(overshoot);
        kernel.Sleep(2);
    }
    QueryTimerRange(coarsest, finest, current);
    result.baselineStats = ComputeSampleStats(baseline, current != 0 ? current : coarsest, 100, 2);
    if (Feed* f = CurrentFeed()) f->Baseline(BriefOf(result.baselineStats), current);
    ClearProgress();
    std::wstring baselineLine = FormatText(L"\nBaseline, nothing requested by this process: Sleep(1) overshoot median "
                                           L"%+0.4f ms (p99 %+0.4f) while the kernel reports %.4f ms",
                                           result.baselineStats.median, result.baselineStats.p99, Ms(current));
    if (current < coarsest && result.baselineStats.median > 2 * Ms(current)) {
        baselineLine += L"  (another process requested that resolution; since Windows 10 2004 requests are "
                        L"per-process, so this process still waits at the default until it asks itself)";
    }
    LogInfo(baselineLine);

    // Sweep: every pass visits the whole grid in its own order.
    const uint64_t sweepStart = kernel.TickCount64();
    // Adaptive: after the first pass, each round visits only the candidates still in contention,
    // in that round's order, so the close ones take turns under the same conditions.
    const int rounds = params.adaptive ? 1 + static_cast<int>(params.adaptiveRounds) : passes;
    std::vector<bool> inContention(grid.size(), true);
    int total = rounds * n;  // visits; an adaptive run's shrinks as candidates drop out
    int done = 0;
    int roundsRun = 0;
    for (int p = 0; p < rounds; ++p) {
        if (params.adaptive && p > 0) {
            inContention = StillInContention(grid, params.contentionSigmas, params.contentionBoundarySteps);
            const int still = static_cast<int>(std::count(inContention.begin(), inContention.end(), true));
            total = done + still * (rounds - p);
            LogInfo(FormatText(L"Adaptive round %d/%d: %d of %d candidates are within %.0f standard errors of the best "
                               L"score, or next to where ticks stop being missed; only they are measured again.",
                               p, rounds - 1, still, n, params.contentionSigmas));
            if (still <= 1) break;
        }
        ++roundsRun;
        const std::vector<size_t> order = PassOrder(p, grid.size());
        for (int k = 0; k < n; ++k) {
            const int index = static_cast<int>(order[k]);
            if (!inContention[index]) continue;
            const int finished = done++;
            TimerCandidate& candidate = grid[index];
            const double period = Ms(candidate.requested);
            const double elapsed = SecondsSince(sweepStart);
            const double remaining = finished > 0 ? (total - finished) * elapsed / finished : estimate.sweepSeconds;
            ReportProgress(static_cast<double>(finished) / total * share, elapsed, remaining,
                           FormatText(L"Sweep pass %d/%d (%ls)  %.4f ms  [%lu/%lu]  elapsed %ls  remaining ~%ls", p + 1,
                                      rounds, PassOrderName(p), period, static_cast<unsigned long>(k + 1),
                                      static_cast<unsigned long>(n), FormatMinSec(elapsed).c_str(),
                                      FormatMinSec(remaining).c_str()));
            FeedStage(L"SWEEP", FormatText(L"pass %d/%d (%ls)  %.4f ms", p + 1, rounds, PassOrderName(p), period));
            FeedExplanation(FormatText(L"Trying %.4f ms  \u00B7  pass %d/%d %ls", period, p + 1, rounds, PassOrderName(p)),
                        FormatText(L"Sleep(1) waits for the first interrupt at this period that is at least 1 ms away "
                                   L"\u2014 typically %+0.3f ms late. A miss (C-state exit or a long DPC) waits one "
                                   L"extra tick. Finer is not always faster: 0.50 ms often misses more ticks than "
                                   L"~0.52\u20130.56 ms. Score = mean + stdev of that overshoot. Lower and tighter is "
                                   L"less lag.",
                                   std::max(2 * period - 1, 0.0)));
            if (IsCancelled()) return Failure(result, L"Cancelled.");
            if (MeasureCandidate(candidate, p > 0 ? laterLoop : params.samples, p > 0 ? laterIdle : idle) !=
                MeasureOutcome::Measured) {
                ++candidate.skipped;
            }
            if (IsCancelled()) return Failure(result, L"Cancelled.");
            SummarizeCandidate(candidate, kSweepLateLimit, params.samples);
            FeedSweep(grid, {}, -1, -1, -1, 0, p + 1, rounds, k + 1, index);
        }
    }
    ClearProgress();
    uint64_t dropped = 0;
    for (TimerCandidate& c : grid) {
        SummarizeCandidate(c, kSweepLateLimit, params.samples);
        dropped += c.dropped;
    }

    // Boundary: where ticks stop being missed.
    const std::vector<double> smoothed = SmoothScores(grid);
    const int best = BestMeasured(smoothed);
    const Boundary boundary = FindBoundary(grid);

    LogInfo(FormatText(L"\nSweep results, %d passes merged. Overshoot is ms beyond the requested 1 ms; late%% = share "
                       L"of samples that missed a tick (slept > median + half a tick); score = mean + stdev averaged "
                       L"over both patterns:",
                       roundsRun));
    PrintTableHeader();
    unsigned long unmeasured = 0;
    for (int k = 0; k < n; ++k) {
        if (!grid[k].Measured()) ++unmeasured;
        PrintCandidateRow(grid[k], SweepRowNote(grid[k], k == best, k == boundary.firstNeverMissing));
    }
    if (unmeasured > 0) {
        clockHeld = true;
        LogInfo(FormatText(L"WARNING: %lu candidate(s) could not be measured because another process held a finer "
                           L"resolution for the whole run.",
                           unmeasured));
    }
    if (dropped > 0) {
        LogInfo(FormatText(L"NOTE: %lu sample(s) were discarded because another process changed the clock while they "
                           L"were being taken.",
                           static_cast<unsigned long>(dropped)));
    }
    result.scanPath = MakeScanPath();
    // Who held the clock, asked once the measuring is over (the report traces for seconds).
    const auto holders = [&] {
        const std::wstring named = clockHeld && params.nameHolders ? HoldersText(kernel.OtherHolders().value_or(std::vector<TimerHolder>{})) : std::wstring();
        return named.empty() ? named : L" " + named;
    };
    // A scan that could not be saved is not named anywhere: not in the summary, not in --json.
    const auto saveScan = [&result](const std::vector<TimerCandidate>& sweep, const std::vector<TimerCandidate>& verified) {
        if (WriteScanFile(result.scanPath, sweep, verified)) return;
        LogInfo(FormatText(L"The per-candidate data could not be saved as %ls.", result.scanPath.c_str()));
        result.scanPath.clear();
    };
    if (best < 0) {
        saveScan(grid, {});
        result.sweep = FiguresOf(grid);
        result.errorText = L"No candidate could be measured (another process held the clock for the whole run). Close "
                           L"it, or stop the Quorvantis service, and re-run." + holders();
        return result;
    }

    // Margin and target.
    const uint32_t bestPeriod = grid[best].requested;
    result.bestMeasured = bestPeriod;
    result.optimumOnLast = best == n - 1;
    if (boundary.firstNeverMissing >= 0) result.firstNeverMissing = grid[boundary.firstNeverMissing].requested;
    const MarginChoice margin = ChooseMargin(params.marginGiven, params.margin, boundary.transitionWidth);
    const int target = MarginTarget(grid, best, margin.margin);
    const uint32_t targetPeriod = grid[target].requested;

    LogInfo(FormatText(L"\nBest measured: %.4f ms (smoothed score %.4f ms).", Ms(bestPeriod), smoothed[best]));
    if (boundary.firstNeverMissing < 0) {
        LogInfo(L"Every resolution in the range missed some ticks: wake-up latency on this system (C-state exit, DPCs) "
                L"sometimes exceeds the slack 2R - 1 ms, so the score weighs each candidate's miss rate against its base "
                L"overshoot.");
    } else {
        const std::wstring where =
            boundary.lastMissing < 0
                ? std::wstring(L" (no misses anywhere in the range)")
                : FormatText(L" (last misses at %.4f ms; transition %.4f ms wide)",
                             Ms(grid[boundary.lastMissing].requested), Ms(boundary.transitionWidth));
        LogInfo(FormatText(L"First resolution that never missed a tick: %.4f ms%ls.", Ms(result.firstNeverMissing),
                           where.c_str()));
    }
    if (result.optimumOnLast) {
        LogInfo(FormatText(L"NOTE: the optimum sits on the last candidate; it may lie beyond the range. Re-run with --to "
                           L"%lu to check.",
                           static_cast<unsigned long>(end) + 1000ul));
    }
    LogInfo(FormatText(L"Safety margin: +%.4f ms%ls -> target %.4f ms", Ms(margin.margin), margin.label,
                       Ms(targetPeriod)));
    FeedSweep(grid, smoothed, best, boundary.firstNeverMissing, target, margin.margin, roundsRun, roundsRun, n, -1);
    if (margin.capped) {
        LogInfo(L"WARNING: the transition band is unusually wide (noisy system?); the automatic margin was capped. "
                L"Re-run on an idle system or set --margin explicitly.");
    }

    // Finalists, measured afresh in interleaved rounds so they all see the same background noise.
    const std::vector<int> picks = PickFinalists(grid, target, best, boundary.firstNeverMissing);
    std::vector<TimerCandidate> finalists(picks.size());
    for (size_t i = 0; i < picks.size(); ++i) finalists[i].requested = grid[picks[i]].requested;
    const int f = static_cast<int>(finalists.size());
    const uint32_t roundLoop = PerRound(params.verify);
    const uint32_t roundIdle = PerRound(verifyIdle);
    LogInfo(FormatText(L"\nVerification: %lu finalists x (%d back-to-back + %d idle-gap) samples, interleaved in %d "
                       L"rounds so they see identical conditions:",
                       static_cast<unsigned long>(f), static_cast<int>(roundLoop * kRounds),
                       static_cast<int>(roundIdle * kRounds), kRounds));
    FeedStage(L"VERIFICATION", FormatText(L"%lu finalists, %d interleaved rounds", static_cast<unsigned long>(f), kRounds));
    FeedExplanation(L"Interleaved verification",
                L"Candidates take turns in the same round so background noise hits them equally. Only a period at or "
                L"above the safety margin can be installed.");
    FeedVerification(finalists, -1, targetPeriod);

    const uint64_t verifyStart = kernel.TickCount64();
    for (int r = 0; r < kRounds; ++r) {
        for (int l = 0; l < f; ++l) {
            const int i = (l + r) % f;
            TimerCandidate& finalist = finalists[i];
            const double period = Ms(finalist.requested);
            const double elapsed = SecondsSince(verifyStart);
            const double remaining = r == 0 ? estimate.verificationSeconds : (kRounds - r) * elapsed / r;
            ReportProgress(share + (1 - share) * r / kRounds, elapsed, remaining,
                           FormatText(L"Verification round %d/%d  %.4f ms  elapsed %ls  remaining ~%ls", r + 1, kRounds,
                                      period, FormatMinSec(elapsed).c_str(), FormatMinSec(remaining).c_str()));
            FeedStage(L"VERIFICATION", FormatText(L"round %d/%d  %.4f ms", r + 1, kRounds, period));
            FeedExplanation(FormatText(L"Verifying %.4f ms  \u00B7  round %d/%d", period, r + 1, kRounds),
                        L"Same Sleep(1) measurement, but every finalist sees identical conditions this round. We will "
                        L"install the lowest-score eligible period (ties prefer the longer one \u2014 fewer wake-ups, "
                        L"more headroom).");
            if (IsCancelled()) return Failure(result, L"Cancelled.");
            if (MeasureCandidate(finalist, roundLoop, roundIdle) != MeasureOutcome::Measured) {
                ++finalist.skipped;
                clockHeld = true;
            }
            SummarizeCandidate(finalist, kVerifyLateLimit, params.verify / 2);
            FeedVerification(finalists, i, targetPeriod);
        }
    }
    // A cancel during the last measurement must not install what it cut short.
    if (IsCancelled()) return Failure(result, L"Cancelled.");

    // Selection.
    ClearProgress();
    for (TimerCandidate& c : finalists) SummarizeCandidate(c, kVerifyLateLimit, params.verify / 2);
    const int pick = SelectFinalist(finalists, targetPeriod);
    PrintTableHeader();
    for (int i = 0; i < f; ++i) {
        PrintCandidateRow(finalists[i], VerificationRowNote(finalists[i].requested, targetPeriod, bestPeriod, i == pick));
    }
    saveScan(grid, finalists);
    result.sweep = FiguresOf(grid);
    result.verification = FiguresOf(finalists);
    const std::wstring heldBy = holders();
    if (pick < 0) {
        const bool someMeasured = std::any_of(finalists.begin(), finalists.end(), [](const TimerCandidate& c) { return c.Measured(); });
        result.errorText = std::wstring(someMeasured ? L"Verification could not measure any finalist at or above the safety "
                                                       L"margin (another process took the clock). Close it and re-run."
                                                     : L"Verification could not measure any finalist (another process took "
                                                       L"the clock). Close it and re-run.") +
                           heldBy;
        return result;
    }
    if (!heldBy.empty()) {
        LogInfo(L"WARNING: another process held a finer timer period during the measurement." + heldBy);
    }
    const TimerCandidate& winner = finalists[pick];
    result.selected = winner.requested;
    result.loopStats = winner.loopStats;
    result.idleStats = winner.idleStats;
    result.score = winner.score;
    result.marginApplied = winner.requested > bestPeriod ? winner.requested - bestPeriod : 0;
    FeedExplanation(L"Winner chosen", FormatText(L"%.4f ms is the fastest verified resolution on this machine (best measured "
                                             L"%.4f ms + %.4f ms margin).",
                                             Ms(result.selected), Ms(bestPeriod), Ms(result.marginApplied)));
    return result;
}
