#pragma once
// The window drawn offscreen from scripted states a user would see: a measurement run on the
// simulated kernel, steps that finished or failed with their item lists, health results. Used by
// the pixel tests and by the script that renders the README's screenshots.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/app.h"
#include "support/simulated_timer_kernel.h"
#include "support/test_support.h"

inline constexpr uint32_t kScreenWidth = 1340;
inline constexpr uint32_t kScreenHeight = 880;

class ScreenScript {
public:
    ScreenScript();
    ~ScreenScript();

    bool Ready() const { return ready_; }
    App& Window() { return *app_; }
    Workflow& Flow() { return app_->Flow(); }
    GuiHooks& Hooks() { return hooks_; }
    const std::wstring& DataDirectory() const { return hooks_.dataDirectory; }

    // Runs a whole measurement on the simulated kernel through the measure slot and waits for it.
    bool Measure();
    // Runs a step's slot with a job that reports the explanation and items, then returns result.
    void RunStep(int slot, int result, const std::wstring& title, const std::wstring& text,
                 const std::vector<TweakItem>& items);

    // Runs the health catalogue of this machine and waits for its results.
    bool ScanHealth();
    // Starts steps that report progress and keep running until released (Full tune tiles).
    void HoldSteps(const std::vector<int>& slots);
    void ReleaseSteps();

    // Draws frames at the stage (the first one ends the fade-in) and returns the pixels.
    const std::vector<uint32_t>& Draw(int stageValue, int frames = 2);
    // Draws until the Lattice shows a picture of the newest data (it compiles on its own thread).
    bool DrawWithLattice(int stageValue, uint32_t timeoutMs);
    bool Save(const std::wstring& path) { return app_->GetRenderer().SavePng(path); }

    // The last frame's size in pixels, and its pixels.
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint32_t Pixel(float x, float y) const;
    // Pixels inside a rectangle (device-independent) that differ clearly from the background.
    size_t InkIn(const RectF& rect) const;
    // Pixels inside the rectangle brighter than any panel (text, lines, marks, buttons).
    size_t BrightIn(const RectF& rect) const;
    // Pixels inside the rectangle that are a saturated blue (the Lattice's voxels and membranes).
    size_t BlueIn(const RectF& rect) const;

private:
    TempFolder folder_;
    std::unique_ptr<ScopedProgramFolders> folders_;
    GuiHooks hooks_;
    std::unique_ptr<SimulatedTimerKernel> kernel_;
    std::unique_ptr<App> app_;
    bool ready_ = false;
    std::atomic<bool> release_{false};
    std::vector<uint32_t> pixels_;
    uint32_t width_ = 0, height_ = 0;
};

// Where review images go: the folder named by QV_SCREENS_DIR, else "screens" beside the tests.
std::wstring ScreensDirectory();
