#pragma once
// A game comparison run: for each block the timer period is held from this process (arm A) or
// released (arm B) as the balanced order says, the frame capture tool records the game for the
// block, and its CSV is kept and read. The period is always released at the end, whatever ended
// the run. The capture tool is the seam: the real one is a frame capture program; tests stand
// in for it with a seeded game.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/outcome.h"
#include "timer/game_compare.h"

class FrameCaptureTool {
public:
    virtual ~FrameCaptureTool() = default;
    // Readies the tool (finds or fetches it) once the run is sure to go ahead, before anything is
    // paused or held: nothing is downloaded for a run that is refused. Failed says why.
    virtual Outcome Prepare(const std::atomic<bool>& /*stop*/) { return Outcome::Done(); }
    // Records the named process's frames for the seconds into a new CSV file at the path, in
    // the tool's own columns. Stopped when the stop flag ended it; Failed says why.
    virtual Outcome Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                            const std::atomic<bool>& stop) = 0;
};

struct GameRunParams {
    std::wstring processName;  // "game.exe"
    uint32_t period = 0;       // held in arm A, 100-ns units
    int minutes = kGameMinutesDefault;
    std::wstring folder;       // where each block's CSV is kept
};

struct GameRunResult {
    Outcome outcome = Outcome::Stopped();
    uint32_t heldActual = 0;          // the period the kernel reported while arm A held it
    std::vector<GameBlock> blocks;    // settled frames of each captured block
    std::vector<std::wstring> files;  // each block's CSV; empty where none was written
    GameComparison comparison;        // when done
};

// Progress: the block starting (0-based), of how many, and its arm.
using GameProgress = std::function<void(int block, int blocks, GameArm arm)>;

GameRunResult RunGameComparison(const GameRunParams& params, FrameCaptureTool& tool, const std::atomic<bool>& stop,
                                const GameProgress& progress);
