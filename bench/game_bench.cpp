#include "bench/game_bench.h"

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/files.h"
#include "support/game_model.h"
#include "timer/game_plot.h"
#include "timer/game_compare.h"

namespace {

// One simulated run: the blocks in their planned order, each captured for its 30 s.
std::vector<GameBlock> PlayGame(const GameModel& model, uint64_t seed, int minutes) {
    GameFrames game(model, seed);
    std::vector<GameBlock> blocks;
    for (const GameArm arm : GameBlockOrder(GameBlocksFor(minutes))) {
        std::vector<double> frames;
        const double end = game.ElapsedSeconds() + kGameBlockSeconds;
        while (game.ElapsedSeconds() < end) frames.push_back(game.Next(arm == GameArm::Released));
        blocks.push_back(GameBlock{arm, SettledFrames(frames)});
    }
    return blocks;
}

GameVerdict RunGame(const GameModel& model, uint64_t seed, int minutes) {
    GameComparison comparison;
    std::wstring error;
    if (!CompareGameArms(PlayGame(model, seed, minutes), comparison, error)) return GameVerdict::NoDifference;
    return comparison.verdict;
}

}  // namespace

void GameFigures(int games) {
    const int minutes = kGameMinutesDefault;
    const double effects[] = {0, 0.5, 1, 2};
    int claims[4] = {}, better[4] = {};
    for (int game = 0; game < games; ++game) {
        for (int e = 0; e < 4; ++e) {
            const GameModel model = SeededGameModel(static_cast<uint64_t>(game), effects[e]);
            const GameVerdict verdict = RunGame(model, static_cast<uint64_t>(game) * 7919 + 1, minutes);
            if (verdict != GameVerdict::NoDifference) ++claims[e];
            if (verdict == GameVerdict::Better) ++better[e];
        }
    }
    const auto percent = [games](int count) { return 100.0 * count / games; };
    std::printf("game comparison on %d seeded games, %d-minute runs (%d blocks of %d s):\n", games, minutes,
                GameBlocksFor(minutes), kGameBlockSeconds);
    for (int e = 1; e < 4; ++e) std::printf("  effect %.1f ms: found better in %.1f %%\n", effects[e], percent(better[e]));
    std::printf("false positives: %.1f %%\n", percent(claims[0]));
    std::printf("power at 1.0 ms: %.1f %%\n", percent(better[2]));
}

void GamePlotExample(const std::wstring& path) {
    GameModel model;
    model.fps = 144;
    model.burstsPerSecond = 0.2;
    model.effectMs = 1.0;
    const std::vector<GameBlock> blocks = PlayGame(model, 11, kGameMinutesDefault);
    GameComparison comparison;
    std::wstring error;
    if (!CompareGameArms(blocks, comparison, error)) {
        std::printf("%ls\n", error.c_str());
        return;
    }
    const bool written = WriteNewFile(path, GamePlotSvg(PooledFrames(blocks, GameArm::Held), PooledFrames(blocks, GameArm::Released), L"game.exe: frame times with the period held 0.5000 ms and released",
                                                        L"held 0.5000 ms"));
    std::printf("%ls\n%ls\n", GameVerdictText(comparison, 5000).c_str(), written ? path.c_str() : L"(not written)");
}
