#include "app/console_benchmark.h"

#include <cwctype>

#include "app/json_output.h"
#include "foundation/console.h"
#include "foundation/elevation.h"
#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "service/service_control.h"
#include "timer/report.h"
#include "timer/sweep_plan.h"

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    for (size_t i = 0; prefix[i] != L'\0'; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool Confirm(const Options& options, const std::wstring& question, bool defaultYes) {
    if (options.yes) return true;
    if (!CanAskQuestions()) return defaultYes;
    WriteStd(StdStream::Output, FormatText(L"%ls %ls ", question.c_str(), defaultYes ? L"[Y/n]" : L"[y/N]"));
    std::wstring answer;
    if (!ReadStdLine(answer, 16) || answer.empty()) return defaultYes;
    return answer[0] == L'Y' || answer[0] == L'y';
}

Options ChooseFidelity(const Options& options) {
    if (options.yes || options.fidelitySet || options.samplesSet || !CanAskQuestions()) return options;
    LogInfo(L"How thoroughly should each interval be measured?");
    static constexpr const wchar_t* kNames[] = {L"Low", L"Medium", L"High"};
    for (int level = 0; level < 3; ++level) {
        const FidelityCounts preset = FidelityPreset(level);
        LogInfo(FormatText(L"  [%d] %-7ls %3d back-to-back samples, %d pass%ls, verify %d   ~%ls%ls", level + 1,
                           kNames[level], static_cast<int>(preset.samples), static_cast<int>(preset.passes),
                           preset.passes == 1 ? L"" : L"es", static_cast<int>(preset.verify),
                           FormatMinSec(preset.estimateSeconds).c_str(), level == 1 ? L"   (default)" : L""));
    }
    WriteStd(StdStream::Output, L"Choice [2]: ");
    std::wstring line;
    Options chosen = options;
    if (!ReadStdLine(line, 32) || line.empty()) return chosen;
    if (line[0] == L'1' || StartsWithNoCase(line, L"low")) chosen.fidelity = 0;
    else if (line[0] == L'2' || StartsWithNoCase(line, L"med")) chosen.fidelity = 1;
    else if (line[0] == L'3' || StartsWithNoCase(line, L"high")) chosen.fidelity = 2;
    else LogInfo(L"Unrecognised choice; using medium.");
    chosen.fidelitySet = true;
    return chosen;
}

BenchmarkParams BenchmarkParamsFrom(const Options& options) {
    const FidelityCounts preset = FidelityPreset(options.fidelity);
    BenchmarkParams params;
    params.from = options.from;
    params.to = options.to;
    params.step = options.step;
    params.margin = options.margin;
    params.marginGiven = options.marginSet;
    params.samples = options.samplesSet ? options.samples : preset.samples;
    params.passes = options.passesSet ? options.passes : preset.passes;
    params.verify = options.verifySet ? options.verify : preset.verify;
    params.adaptive = preset.adaptive && !options.passesSet;
    params.adaptiveRounds = preset.extraRounds;
    params.roundSamples = preset.roundSamples;
    params.contentionBoundarySteps = preset.boundarySteps;
    params.serviceState = QueryTimerServiceState();
    return params;
}

PausedTimerService::~PausedTimerService() {
    if (!paused_) return;
    LogInfo(L"Restarting the Quorvantis service...");
    StartTimerServiceNoWait();
}

bool PauseRunningTimerService(PausedTimerService& pause, const std::wstring& why) {
    if (QueryTimerServiceState() != TimerServiceState::Running) return true;
    if (!IsElevated()) return false;
    LogInfo(why);
    // Whatever the stops report, the service is started again afterwards: starting one that
    // never stopped does no harm, leaving one stopped until reboot does.
    pause.Paused(true);
    StopServiceByName(kServiceName);
    StopServiceByName(kLegacyServiceName);
    return true;
}

BenchmarkResult RunPausedBenchmark(const Options& options, PausedTimerService& pause) {
    // The service's own request would mask every candidate coarser than it.
    if (!PauseRunningTimerService(pause, L"Stopping the running Quorvantis service for the duration of the benchmark (its "
                                         L"request would mask every candidate coarser than it)...")) {
        LogInfo(L"WARNING: the Quorvantis service is running and this console is not elevated, so candidates "
                L"coarser than the service's resolution cannot be measured. Run elevated or use --stop first.");
    }
    LogInfo(L"\nBenchmarking Sleep(1) response across timer resolutions. Each candidate is requested with "
            L"NtSetTimerResolution, Sleep(1) is timed with QueryPerformanceCounter, then the request is released. A "
            L"sample 'misses a tick' when it sleeps at least half a tick longer than the candidate's typical value "
            L"(e.g. 1.5 ms instead of 1.0 ms).");
    return RunBenchmark(BenchmarkParamsFrom(options));
}

namespace {

Json StatsJson(const SampleStats& s) {
    return Json::Object()
        .Set("count", s.count)
        .Set("median_ms", s.median)
        .Set("mean_ms", s.mean)
        .Set("stdev_ms", s.stdev)
        .Set("p95_ms", s.p95)
        .Set("p99_ms", s.p99)
        .Set("max_ms", s.max)
        .Set("late_percent", s.latePercent);
}

Json CandidatesJson(const std::vector<CandidateFigures>& candidates) {
    Json list = Json::Array();
    for (const CandidateFigures& c : candidates) {
        list.Push(Json::Object()
                      .Set("requested_ms", c.requested / 10000.0)
                      .Set("granted_ms", c.actual != 0 ? Json(c.actual / 10000.0) : Json())
                      .Set("measured", c.measured)
                      .Set("back_to_back", c.measured ? StatsJson(c.loop) : Json())
                      .Set("after_idle", c.measured ? StatsJson(c.idle) : Json())
                      .Set("score_ms", c.measured ? Json(c.score) : Json())
                      .Set("clean", c.clean)
                      .Set("skipped_attempts", c.skipped)
                      .Set("dropped_samples", c.dropped)
                      .Set("held_by_other_ms", c.interferer != 0 ? Json(c.interferer / 10000.0) : Json()));
    }
    return list;
}

Json BenchmarkJson(const BenchmarkResult& result) {
    const auto ms = [](uint32_t units) { return units != 0 ? Json(units / 10000.0) : Json(); };
    return Json::Object()
        .Set("selected_ms", ms(result.selected))
        .Set("selected_units", result.selected != 0 ? Json(result.selected) : Json())
        .Set("score_ms", result.selected != 0 ? Json(result.score) : Json())
        .Set("back_to_back", result.selected != 0 ? StatsJson(result.loopStats) : Json())
        .Set("after_idle", result.selected != 0 ? StatsJson(result.idleStats) : Json())
        .Set("baseline", StatsJson(result.baselineStats))
        .Set("best_measured_ms", ms(result.bestMeasured))
        .Set("first_never_missing_ms", ms(result.firstNeverMissing))
        .Set("margin_ms", result.selected != 0 ? Json(result.marginApplied / 10000.0) : Json())
        .Set("optimum_on_last", result.optimumOnLast)
        .Set("scan_file", result.scanPath.empty() ? Json() : Json(result.scanPath))
        .Set("sweep", CandidatesJson(result.sweep))
        .Set("verification", CandidatesJson(result.verification));
}

}  // namespace

int RunConsoleBenchmark(const Options& options) {
    PausedTimerService pause;
    const BenchmarkResult result = RunPausedBenchmark(ChooseFidelity(options), pause);
    int exitCode = 0;
    if (result.selected != 0) {
        PrintBenchmarkSummary(result);
        LogInfo(FormatText(L"\nNothing was changed. Run with no arguments (or --install) to hold %.4f ms permanently "
                           L"via the startup service.",
                           result.selected / 10000.0));
    } else {
        LogError(result.errorText.empty() ? std::wstring(L"Benchmark failed.") : result.errorText);
        if (!result.scanPath.empty() && FileExists(result.scanPath)) {
            LogInfo(FormatText(L"Per-candidate data: %ls", result.scanPath.c_str()));
        }
        exitCode = 1;
    }
    return options.json ? PrintJsonDocument(BenchmarkJson(result), L"benchmark", exitCode, L"Benchmark failed.") : exitCode;
}
