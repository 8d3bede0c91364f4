// The frame capture tool's CSV, as it writes one per block of a game comparison.
#include "fuzz_common.h"
#include "timer/frame_capture.h"
#include "timer/game_compare.h"
#include "timer/game_plot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FrameCapture capture;
    std::wstring error;
    if (ParseFrameCapture(AsText(data, size), L"game.exe", capture, error)) {
        // Whatever was read must be safe to compare, however odd the numbers.
        std::vector<GameBlock> blocks;
        for (int i = 0; i < 4; ++i) blocks.push_back(GameBlock{i % 3 == 0 ? GameArm::Held : GameArm::Released, capture.frameMs});
        GameComparison comparison;
        CompareGameArms(blocks, comparison, error);
        GamePlotSvg(capture.frameMs, capture.frameMs, L"game.exe <&>", L"held");
    }
    return 0;
}
