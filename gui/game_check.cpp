#include "gui/game_check.h"

#include <algorithm>

#include "foundation/text.h"
#include "timer/game_plot.h"

namespace {

constexpr size_t kLogLines = 14;

std::vector<double> CurveOf(std::vector<double> frames) {
    std::vector<double> curve;
    if (frames.empty()) return curve;
    std::sort(frames.begin(), frames.end());
    for (int point = 0; point < kGameCurvePoints; ++point) {
        curve.push_back(SortedQuantile(frames, TailFractionAt(static_cast<double>(point) / (kGameCurvePoints - 1))));
    }
    return curve;
}

}  // namespace

GameCheck::GameCheck(const GuiHooks& hooks, BackgroundJobs& jobs) : hooks_(hooks), jobs_(jobs) {}

GameCheck::~GameCheck() {
    stop_.store(true);
    Join();
}

void GameCheck::Join() {
    if (thread_.joinable()) thread_.join();
}

void GameCheck::RefreshPrograms() {
    if (!hooks_.runningPrograms) return;
    jobs_.Post([this] {
        std::vector<std::wstring> programs = hooks_.runningPrograms();
        const std::lock_guard<std::mutex> lock(mutex_);
        result_.programs = std::move(programs);
    });
}

void GameCheck::SetPresentMon(const std::wstring& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    result_.presentMon = path;
}

bool GameCheck::Start(const std::wstring& game, int minutes) {
    if (!hooks_.compareGame || running_.exchange(true)) return false;
    Join();
    stop_.store(false);
    feed_.Reset();
    std::wstring presentMon;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        presentMon = result_.presentMon;
        result_.finished = false;
        result_.verdict.clear();
        result_.heldLine.clear();
        result_.releasedLine.clear();
        result_.heldCurve.clear();
        result_.releasedCurve.clear();
    }
    thread_ = std::thread([this, game, minutes, presentMon] {
        SetCurrentFeed(&feed_);
        GameRunResult run;
        const int code = hooks_.compareGame(game, presentMon, minutes, run, stop_);
        SetCurrentFeed(nullptr);
        const bool compared = run.outcome.Ok();
        const uint32_t period = run.heldActual;
        std::vector<double> heldCurve = compared ? CurveOf(PooledFrames(run.blocks, GameArm::Held)) : std::vector<double>{};
        std::vector<double> releasedCurve = compared ? CurveOf(PooledFrames(run.blocks, GameArm::Released)) : std::vector<double>{};
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            result_.exitCode = code;
            result_.finished = true;
            if (compared) {
                result_.verdict = GameVerdictText(run.comparison, period);
                result_.heldLine = GameArmText(FormatText(L"Held %.4f ms", period / 10000.0).c_str(), run.comparison.held);
                result_.releasedLine = GameArmText(L"Released", run.comparison.released);
                result_.heldCurve = std::move(heldCurve);
                result_.releasedCurve = std::move(releasedCurve);
            }
        }
        running_.store(false);
    });
    return true;
}

void GameCheck::Fill(GameCheckView& view) const {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        view = result_;
    }
    view.running = running_.load();
    StepBrief brief;
    feed_.Brief(brief, kLogLines);
    view.log = std::move(brief.log);
}
