#pragma once
// Stands in for the frame capture program, which Wine cannot run: each capture writes the block's
// CSV in the columns of the program's current release (a frame-time column among the others, an
// "NA" row now and then, another process's rows) from a seeded game. The game's frames depend on
// the period the test's timer kernel has in force: coarser than the held period, the planted
// effect is added. Every capture records that period, so a test sees the arms as they ran.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/game_model.h"
#include "timer/game_run.h"

class GameCaptureStandIn final : public FrameCaptureTool {
public:
    GameCaptureStandIn(const GameModel& model, uint32_t heldPeriod, uint64_t seed);
    Outcome Prepare(const std::atomic<bool>& stop) override;
    Outcome Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                    const std::atomic<bool>& stop) override;

    int prepared = 0;
    std::wstring prepareError;      // Prepare fails with it, as a download that could not be made
    std::vector<uint32_t> periods;  // in force at each capture
    // Captures (0-based) the game draws nothing in, as when it is minimized: the real program then
    // writes only its header, or no file at all.
    std::vector<int> headerOnly, noFile;
    // Raises the flag during this capture (0-based), as Ctrl+C would, and answers Stopped.
    int stopDuring = -1;
    std::atomic<bool>* stopFlag = nullptr;

private:
    GameFrames game_;
    uint32_t heldPeriod_;
};
