#include "app/console_game.h"

#include <windows.h>

#include <memory>

#include "app/command_handlers.h"
#include "app/console_benchmark.h"
#include "app/json_output.h"
#include "driver/driver_clean.h"
#include "driver/pinned_program.h"
#include "foundation/child_process.h"
#include "foundation/feed.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/protected_folder.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/windows_version.h"
#include "service/service_install.h"
#include "timer/game_plot.h"
#include "timer/presentmon.h"

namespace {

std::atomic<bool> g_stopGame{false};

BOOL WINAPI StopGameOnControl(DWORD) {
    g_stopGame.store(true);
    return TRUE;  // the run ends at once and puts everything back; the process is not ended here
}

// A folder of its own for each run: another run begun in the same second gets a numbered one.
std::wstring CaptureFolder(const std::wstring& processName) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    const std::wstring base = FormatText(L"%ls\\game-compare\\%04u%02u%02u-%02u%02u%02u-%ls", DataDirectory().c_str(), t.wYear,
                                         t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                         processName.substr(0, processName.size() - 4).c_str());
    std::wstring folder = base;
    for (int n = 2; GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES && n < 100; ++n) {
        folder = base + FormatText(L"-%d", n);
    }
    return folder;
}

Json ArmJson(const GameArmStats& s) {
    return Json::Object()
        .Set("blocks", s.blocks)
        .Set("frames", static_cast<unsigned long long>(s.frames))
        .Set("median_ms", s.median)
        .Set("p99_ms", s.p99)
        .Set("p999_ms", s.p999)
        .Set("over_twice_median", s.overTwiceMedian);
}

// Both arms' frames pooled, drawn beside the captures.
std::wstring WritePlot(const GameRunParams& params, const GameRunResult& run, uint32_t heldPeriod) {
    const std::wstring heldName = FormatText(L"held %.4f ms", heldPeriod / 10000.0);
    const std::wstring path = params.folder + L"\\frame-times.svg";
    const std::string svg = GamePlotSvg(PooledFrames(run.blocks, GameArm::Held), PooledFrames(run.blocks, GameArm::Released),
                                        params.processName + L": frame times with the period " + heldName + L" and released",
                                        heldName);
    return WriteNewFile(path, svg) ? path : std::wstring();
}

Json GameJson(const GameRunParams& params, const GameRunResult& run, const std::wstring& plot) {
    Json blocks = Json::Array();
    for (size_t i = 0; i < run.blocks.size(); ++i) {
        blocks.Push(Json::Object()
                        .Set("arm", run.blocks[i].arm == GameArm::Held ? "held" : "released")
                        .Set("frames", static_cast<unsigned long long>(run.blocks[i].frameMs.size()))
                        .Set("file", i < run.files.size() && !run.files[i].empty() ? Json(run.files[i]) : Json()));
    }
    Json result = Json::Object()
                      .Set("game", params.processName)
                      .Set("period_ms", params.period / 10000.0)
                      .Set("held_ms", run.heldActual != 0 ? Json(run.heldActual / 10000.0) : Json())
                      .Set("minutes", params.minutes)
                      .Set("folder", params.folder)
                      .Set("plot", plot.empty() ? Json() : Json(plot))
                      .Set("blocks", blocks);
    const bool done = run.outcome.Ok();
    const GameComparison& c = run.comparison;
    result.Set("held", done ? ArmJson(c.held) : Json())
        .Set("released", done ? ArmJson(c.released) : Json())
        .Set("p99_lowered_ms", done ? Json(c.p99Lowered) : Json())
        .Set("ci95_low_ms", done ? Json(c.ciLow) : Json())
        .Set("ci95_high_ms", done ? Json(c.ciHigh) : Json())
        .Set("verdict", !done                                      ? Json()
                        : c.verdict == GameVerdict::Better ? Json("better")
                        : c.verdict == GameVerdict::Worse  ? Json("worse")
                                                           : Json("no-difference"))
        .Set("text", done ? Json(GameVerdictText(c, params.period)) : Json());
    return result;
}

// PresentMon found, checked (or fetched) only once the run is sure to go ahead, and held from the
// checks until the last block has run: what was checked is what runs.
class TrustedPresentMonTool final : public FrameCaptureTool {
public:
    TrustedPresentMonTool(const Options& options, const DriverTools& tools) : options_(options), tools_(tools) {}
    Outcome Prepare(const std::atomic<bool>& stop) override {
        std::wstring error;
        const std::wstring program = TrustedPresentMon(options_, tools_, stop, held_, error);
        if (program.empty()) return stop.load() ? Outcome::Stopped() : Outcome::Failed(error);
        tool_ = std::make_unique<PresentMonTool>(program);
        return Outcome::Done();
    }
    Outcome Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                    const std::atomic<bool>& stop) override {
        return tool_ ? tool_->Capture(processName, seconds, csvPath, stop) : Outcome::Failed(L"PresentMon is not ready.");
    }

private:
    const Options& options_;
    const DriverTools& tools_;
    HeldFile held_;
    std::unique_ptr<PresentMonTool> tool_;
};

}  // namespace

std::wstring TrustedPresentMon(const Options& options, const DriverTools& tools, const std::atomic<bool>& stop, HeldFile& held,
                              std::wstring& error) {
    if (options.presentMon.empty()) return EnsurePresentMon(tools, CurrentFeed(), stop, held, error);
    const std::wstring& program = options.presentMon;
    held = HeldFile(program);
    if (!IsFullPath(program) || !held.Held() || held.Kind() != ExecutableKind::X64) {
        held.Release();
        error = L"--presentmon must name PresentMon's 64-bit program by its full path: " + program;
        return {};
    }
    // It runs with our rights: nobody but administrators may be able to change or replace it.
    if (!ProgramIsProtected(program)) {
        held.Release();
        error = L"PresentMon is in a folder that programs without administrator rights can change, so it is not started "
                L"with ours. Move it into a folder only administrators can change, such as C:\\Program Files\\PresentMon, or "
                L"leave out --presentmon to use the pinned release: " +
                program;
        return {};
    }
    // Releases from before Intel signed them carry no signature at all: where only administrators
    // could have put the copy, that is the administrator's word for it. A signature that is there
    // must be Intel's and hold.
    if (CarriesNoSignature(held)) {
        LogInfo(L"PresentMon at " + program + L" carries no signature (releases before 2024 were not signed); it is used "
                L"because only administrators can change its folder.");
        return program;
    }
    if (!tools.verifySignature(held, kIntelPublisher, error)) {
        held.Release();
        error = L"PresentMon's signature does not check out, so it is not started: " + error;
        return {};
    }
    return program;
}

int RunGameCompare(const Options& options, FrameCaptureTool& tool, const std::atomic<bool>& stop, GameRunResult* out) {
    GameRunParams params;
    params.processName = options.gameName;
    params.minutes = static_cast<int>(options.minutes);
    params.period = options.resolution;
    std::wstring plot;
    const auto finish = [&](int exitCode, const GameRunResult* run) {
        if (!options.json) return exitCode;
        return PrintJsonDocument(run != nullptr ? GameJson(params, *run, plot) : Json::Object(), L"compare-game", exitCode);
    };
    if (params.period == 0 && !ReadStateDword(L"DesiredResolution", params.period)) {
        LogError(L"No timer period is installed yet. Install one first (Quorvantis.exe --install), or name one with "
                 L"--resolution N.");
        return finish(1, nullptr);
    }
    uint32_t global = 0;
    const bool globalOn = ReadDword(kKernelKey, kGlobalTimerValue, global) && global == 1;
    const std::wstring refusal =
        GameCompareRefusal(params.processName, ProcessRunning(params.processName), GlobalTimerRequestsHonoured(), globalOn);
    if (!refusal.empty()) {
        LogError(refusal);
        return finish(1, nullptr);
    }
    if (!GlobalTimerRequestsHonoured()) LogInfo(GamePerProcessCaveat(params.processName));
    const Outcome ready = tool.Prepare(stop);
    if (!ready.Ok()) {
        if (ready.WasStopped()) LogInfo(L"Stopped before the comparison began.");
        else LogError(ready.Error());
        return finish(ready.ExitCode(), nullptr);
    }

    // The service's own request would hold the period in both arms.
    PausedTimerService pause;
    if (!PauseRunningTimerService(pause, L"Stopping the running Quorvantis service for the comparison (its request "
                                         L"would hold the period in both arms)...")) {
        LogError(L"The Quorvantis service is running and this console is not elevated, so it cannot be paused. Run "
                 L"elevated.");
        return finish(1, nullptr);
    }
    params.folder = CaptureFolder(params.processName);
    LogInfo(FormatText(L"Comparing %ls with %.4f ms held and released: %d blocks of %d s in a balanced order, %.0f s of each "
                       L"dropped as the switch settles. Keep playing as you normally do. Ctrl+C stops.",
                       params.processName.c_str(), params.period / 10000.0, GameBlocksFor(params.minutes), kGameBlockSeconds,
                       kGameSettleSeconds));
    GameRunResult local;
    GameRunResult& run = out != nullptr ? *out : local;
    run = RunGameComparison(params, tool, stop, [&params](int block, int blocks, GameArm arm) {
        LogInfo(FormatText(L"Block %d of %d: %ls", block + 1, blocks,
                           arm == GameArm::Held ? FormatText(L"A, holding %.4f ms", params.period / 10000.0).c_str()
                                                : L"B, released"));
    });
    if (run.outcome.WasStopped()) {
        LogInfo(L"Stopped; nothing was compared. The captures so far are in " + params.folder + L".");
        return finish(run.outcome.ExitCode(), &run);
    }
    if (!run.outcome.Ok()) {
        LogError(run.outcome.Error());
        return finish(1, &run);
    }
    const GameComparison& c = run.comparison;
    LogInfo(GameArmText(FormatText(L"Held %.4f ms", (run.heldActual != 0 ? run.heldActual : params.period) / 10000.0).c_str(),
                        c.held));
    LogInfo(GameArmText(L"Released", c.released));
    LogInfo(GameVerdictText(c, params.period));
    LogInfo(L"Each block's capture is in " + params.folder + L".");
    plot = WritePlot(params, run, run.heldActual != 0 ? run.heldActual : params.period);
    if (plot.empty()) LogError(L"The frame-time plot could not be written in " + params.folder + L".");
    else LogInfo(L"Both arms' frame times, drawn: " + plot);
    return finish(0, &run);
}

int CompareGameWithPresentMon(const Options& options, const std::atomic<bool>& stop, GameRunResult* out) {
    TrustedPresentMonTool tool(options, ProductDriverTools());
    return RunGameCompare(options, tool, stop, out);
}

int CompareGameCommand(const Options& options, const CommandArguments&) {
    g_stopGame.store(false);
    SetConsoleCtrlHandler(StopGameOnControl, TRUE);
    const int exitCode = CompareGameWithPresentMon(options, g_stopGame);
    SetConsoleCtrlHandler(StopGameOnControl, FALSE);
    return exitCode;
}
