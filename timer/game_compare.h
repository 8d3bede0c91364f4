#pragma once
// Whether a held timer period changes a running game's frame times: blocks of about 30 s
// alternate between holding the period (arm A) and releasing it (arm B) in a balanced order, each
// block's first seconds are dropped, and the arms are compared at the 99th percentile. Blocks, not
// frames, are the independent units (stutter comes in bursts, and a scene lasts seconds), so the
// confidence interval comes from resampling whole blocks. Pure.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kGameBlockSeconds = 30;
inline constexpr double kGameSettleSeconds = 3;
inline constexpr int kGameMinutesDefault = 4;
inline constexpr int kGameMinutesMin = 2;
inline constexpr int kGameMinutesMax = 60;

enum class GameArm { Held, Released };

// The arm of each block: A B B A B A A B B A A B A B B A ... (a block's arm is the parity of the
// ones in its index), so a game that slowly warms up or changes scene weighs on both arms alike.
std::vector<GameArm> GameBlockOrder(int blocks);
int GameBlocksFor(int minutes);

// A block's frame times with its first seconds dropped: the switch of the period and the
// game's settling after it are not counted.
std::vector<double> SettledFrames(const std::vector<double>& frameMs, double settleSeconds = kGameSettleSeconds);

struct GameBlock {
    GameArm arm = GameArm::Held;
    std::vector<double> frameMs;  // settled
};

// Every settled frame of the arm's blocks, in block order.
std::vector<double> PooledFrames(const std::vector<GameBlock>& blocks, GameArm arm);

struct GameArmStats {
    int blocks = 0;
    size_t frames = 0;
    double median = 0, p99 = 0, p999 = 0;
    double overTwiceMedian = 0;  // share of frames longer than twice the median, 0..1
};

enum class GameVerdict { Better, Worse, NoDifference };

struct GameComparison {
    GameArmStats held, released;
    // The released arm's 99th percentile minus the held arm's: positive when holding helped.
    double p99Lowered = 0;
    double ciLow = 0, ciHigh = 0;  // 95 %
    GameVerdict verdict = GameVerdict::NoDifference;
};

// False, with the reason, without at least two blocks with frames in each arm.
bool CompareGameArms(const std::vector<GameBlock>& blocks, GameComparison& comparison, std::wstring& error);

// Why a comparison cannot run, or empty. The game must be running. Where Windows honours
// system-wide timer requests (Windows 11, Server 2022) it does so only with
// GlobalTimerResolutionRequests set to 1; without it a period held here never reaches the game.
std::wstring GameCompareRefusal(const std::wstring& processName, bool running, bool globalRequestsHonoured, bool globalFlagOn);
// Said before a run where Windows keeps every request to its process (Windows 10 2004 to 22H2).
std::wstring GamePerProcessCaveat(const std::wstring& processName);

// The sentence the numbers support, for the period held (100-ns units).
std::wstring GameVerdictText(const GameComparison& comparison, uint32_t period);
// One arm's line: "held 0.5000 ms: 8112 frames, median 6.94 ms, 99th 9.81 ms, 99.9th 14.02 ms, 0.4 % over twice the median".
std::wstring GameArmText(const wchar_t* name, const GameArmStats& stats);
