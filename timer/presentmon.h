#pragma once
// The frame capture program games are measured with: PresentMon's console build, run once per
// block for the block's seconds, writing its CSV where it is told.
#include <string>

#include "timer/game_run.h"


// One block's command line: only the named process, its CSV at the path, timed, ending itself
// after the time, with our own trace session (an older one of that name is stopped first).
std::wstring PresentMonArguments(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath);

class PresentMonTool final : public FrameCaptureTool {
public:
    // The program by its full path, checked by the caller.
    explicit PresentMonTool(std::wstring program) : program_(std::move(program)) {}
    Outcome Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                    const std::atomic<bool>& stop) override;

private:
    std::wstring program_;
};
