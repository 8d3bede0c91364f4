#pragma once
// The window's game check: the programs that could be the game, PresentMon's place, and the
// comparison on a thread of its own, its lines in a feed of their own and its result turned into
// what the screen draws (both arms' frame-time curves, the verdict). Everything the comparison
// does itself is --compare-game's, through the hooks.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/background_jobs.h"
#include "gui/gui_hooks.h"
#include "gui/shared_state.h"

inline constexpr int kGameCurvePoints = 120;

struct GameCheckView {
    std::vector<std::wstring> programs;
    std::wstring presentMon;
    bool running = false;
    bool finished = false;  // a run ended since the screen was opened
    int exitCode = 0;
    std::vector<std::wstring> log;
    std::wstring verdict, heldLine, releasedLine;
    // Frame time at evenly spaced positions of the tail scale (TailFractionAt), from the median to
    // the 99.9th percentile.
    std::vector<double> heldCurve, releasedCurve;
};

class GameCheck {
public:
    GameCheck(const GuiHooks& hooks, BackgroundJobs& jobs);
    ~GameCheck();
    GameCheck(const GameCheck&) = delete;
    GameCheck& operator=(const GameCheck&) = delete;

    // Asks for the programs with a window, on the worker.
    void RefreshPrograms();
    void SetPresentMon(const std::wstring& path);
    // False while a run is under way or when the window has no comparison to run.
    bool Start(const std::wstring& game, int minutes);
    void Stop() { stop_.store(true); }
    bool Busy() const { return running_.load(); }
    void Fill(GameCheckView& view) const;
    void Join();

private:
    const GuiHooks& hooks_;
    BackgroundJobs& jobs_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    SharedState feed_;
    mutable std::mutex mutex_;
    GameCheckView result_;  // programs, PresentMon and the last result; log and running come from the feed
};
