#include "support/screen_script.h"

#include "foundation/text.h"
#include "support/wait.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "foundation/feed.h"
#include "foundation/system.h"
#include "timer/benchmark.h"

namespace {

bool WaitUntilEnded(Workflow& flow, int slot, uint32_t timeoutMs) {
    return WaitUntil([&] { return flow.State(slot) != StepIdle && !flow.Busy(slot); }, timeoutMs, 10);
}

int Channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

}  // namespace

std::wstring ScreensDirectory() {
    const wchar_t* chosen = _wgetenv(L"QV_SCREENS_DIR");
    const std::wstring folder = chosen != nullptr && *chosen != 0 ? chosen : BinDirectory() + L"\\screens";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

ScreenScript::ScreenScript() {
    folders_ = std::make_unique<ScopedProgramFolders>(folder_.Path());
    hooks_.version = L"2.6.2";
    hooks_.dataDirectory = ::DataDirectory();
    hooks_.logPath = hooks_.dataDirectory + L"\\Quorvantis.log";
    CreateDirectoryW(hooks_.dataDirectory.c_str(), nullptr);
    hooks_.systemInfo = [] {
        SystemView view;
        view.coarsest = 156250;
        view.finest = 5000;
        view.current = 156250;
        view.elevated = true;
        return view;
    };
    app_ = std::make_unique<App>(hooks_);
    ready_ = app_->CreateOffscreen(kScreenWidth, kScreenHeight, 96);
}

ScreenScript::~ScreenScript() {
    ReleaseSteps();
    app_.reset();
    folders_.reset();
}

bool ScreenScript::Measure() {
    SimulatedTimerConfig config;
    config.seed = 7;
    config.stallChance = 0.04;
    kernel_ = std::make_unique<SimulatedTimerKernel>(config);
    hooks_.runBenchmark = [this](Feed& feed, int) {
        SetCurrentFeed(&feed);
        const ScopedTimerKernel scope(kernel_.get());
        BenchmarkParams params;
        params.from = 5000;
        params.to = 10000;
        params.step = 100;
        params.samples = 18;
        params.passes = 3;
        params.verify = 187;
        ResultView view = ResultViewOf(RunBenchmark(params));
        SetCurrentFeed(nullptr);
        return view;
    };
    Flow().StartBenchmark(false);
    return WaitUntilEnded(Flow(), SlotMeasure, 120000) && Flow().State(SlotMeasure) == StepFinished;
}

void ScreenScript::RunStep(int slot, int result, const std::wstring& title, const std::wstring& text,
                           const std::vector<TweakItem>& items) {
    Flow().StartWorker(slot, [=](SharedState& state) {
        state.Stage(SlotTag(slot), result == 0 ? L"done" : L"see the log for details");
        state.Explanation(title, text);
        state.Items(items);
        state.LogLine(std::wstring(SlotName(slot)) + L": " + (result == 0 ? L"applied" : L"failed"));
        return result;
    });
    WaitUntilEnded(Flow(), slot, 10000);
}

bool ScreenScript::ScanHealth() {
    app_->Monitor().StartScan();
    return WaitUntil(
        [&] {
            bool running = true;
            const std::vector<HealthCheck> results = app_->Monitor().Results(&running);
            return !running && !results.empty();
        },
        60000, 50);
}

void ScreenScript::HoldSteps(const std::vector<int>& slots) {
    release_ = false;
    for (const int slot : slots) {
        Flow().StartWorker(slot, [this, slot](SharedState& state) {
            state.Stage(SlotTag(slot), L"writing settings");
            state.Progress(0.2 + 0.2 * (slot % 3), 12, 30);
            // What a step reports on its way: items written and one being written, and its log.
            std::vector<TweakItem> items(6);
            for (size_t i = 0; i < items.size(); ++i) {
                items[i].title = FormatText(L"%ls setting %d", SlotName(slot), static_cast<int>(i + 1));
                items[i].status = i < 3 ? TweakWritten : i == 3 ? TweakApplying : TweakPending;
            }
            state.Items(items);
            for (int line = 1; line <= 5; ++line) {
                state.LogLine(FormatText(L"%ls: setting %d written, previous value recorded", SlotName(slot), line));
            }
            while (!release_ && !state.CancelQuery()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return 0;
        });
    }
}

void ScreenScript::ReleaseSteps() {
    release_ = true;
    for (int slot = 0; slot < kSlotCount; ++slot) WaitUntil([&] { return !Flow().Busy(slot); }, 30000, 5);
}

const std::vector<uint32_t>& ScreenScript::Draw(int stageValue, int frames) {
    Flow().SetStage(stageValue);
    Renderer& renderer = app_->GetRenderer();
    for (int i = 0; i < frames; ++i) {
        if (!renderer.BeginFrame()) break;
        // The first frame's long step ends the window's fade-in.
        app_->DrawFrame(i == 0 ? 1.0 : 1.0 / 60);
        renderer.EndFrame();
    }
    renderer.ReadPixels(pixels_, width_, height_);
    return pixels_;
}

bool ScreenScript::DrawWithLattice(int stageValue, uint32_t timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    LatticeRenderer& lattice = app_->GetRenderer().Lattice();
    while (std::chrono::steady_clock::now() < until) {
        Draw(stageValue, 1);
        if (lattice.GetStatus() == LatticeRenderer::Status::Unavailable) return false;

        if (lattice.GetStatus() == LatticeRenderer::Status::Ready && app_->GetRenderer().Lattice().WaitFrame(timeoutMs)) {
            Draw(stageValue, 1);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

uint32_t ScreenScript::Pixel(float x, float y) const {
    const uint32_t px = static_cast<uint32_t>(x), py = static_cast<uint32_t>(y);
    if (px >= width_ || py >= height_) return 0;
    return pixels_[static_cast<size_t>(py) * width_ + px];
}

size_t ScreenScript::InkIn(const RectF& rect) const {
    size_t count = 0;
    for (uint32_t y = static_cast<uint32_t>(rect.top); y < static_cast<uint32_t>(rect.bottom) && y < height_; ++y) {
        for (uint32_t x = static_cast<uint32_t>(rect.left); x < static_cast<uint32_t>(rect.right) && x < width_; ++x) {
            const uint32_t p = pixels_[static_cast<size_t>(y) * width_ + x];
            const int distance = std::abs(Channel(p, 16) - 0x07) + std::abs(Channel(p, 8) - 0x16) + std::abs(Channel(p, 0) - 0x38);
            if (distance > 60) ++count;
        }
    }
    return count;
}

size_t ScreenScript::BrightIn(const RectF& rect) const {
    size_t count = 0;
    for (uint32_t y = static_cast<uint32_t>(rect.top); y < static_cast<uint32_t>(rect.bottom) && y < height_; ++y) {
        for (uint32_t x = static_cast<uint32_t>(rect.left); x < static_cast<uint32_t>(rect.right) && x < width_; ++x) {
            const uint32_t p = pixels_[static_cast<size_t>(y) * width_ + x];
            if (std::max({Channel(p, 16), Channel(p, 8), Channel(p, 0)}) > 150) ++count;
        }
    }
    return count;
}

size_t ScreenScript::BlueIn(const RectF& rect) const {
    size_t count = 0;
    for (uint32_t y = static_cast<uint32_t>(rect.top); y < static_cast<uint32_t>(rect.bottom) && y < height_; ++y) {
        for (uint32_t x = static_cast<uint32_t>(rect.left); x < static_cast<uint32_t>(rect.right) && x < width_; ++x) {
            const uint32_t p = pixels_[static_cast<size_t>(y) * width_ + x];
            if (Channel(p, 0) > 170 && Channel(p, 16) < 110 && Channel(p, 0) - Channel(p, 16) > 120) ++count;
        }
    }
    return count;
}
