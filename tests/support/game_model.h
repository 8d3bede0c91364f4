#pragma once
// A seeded game's frame times, for the stand-in frame capture tool and the comparison bench: a
// frame rate with per-frame jitter, a slow drift as scenes change, and stutter that comes in
// bursts of a few long frames. Released, the timer period adds a fixed delay to every frame (a
// frame limiter that sleeps wakes that much later), so the 99th percentile moves by exactly the
// planted effect. Pure.
#include <cstdint>
#include <random>

struct GameModel {
    double fps = 144;
    double jitter = 0.05;      // sigma of the log of each frame's factor
    double driftShare = 0.04;  // amplitude of the slow drift, as a share of the frame time
    double driftSeconds = 120; // its period
    double burstsPerSecond = 0.5;
    int burstFramesMax = 4;
    double burstScale = 2.2;   // the first frame of a burst is this many times as long
    double effectMs = 0;       // added to every frame while the period is released
};

// One of the bench's games: 60 to 360 fps, jitter, drift and bursts drawn from the seed.
GameModel SeededGameModel(uint64_t seed, double effectMs);

class GameFrames {
public:
    GameFrames(const GameModel& model, uint64_t seed);
    // The next frame's time in milliseconds.
    double Next(bool released);
    double ElapsedSeconds() const { return elapsedMs_ / 1000; }

private:
    GameModel model_;
    std::mt19937_64 random_;
    std::normal_distribution<double> jitter_;
    std::uniform_real_distribution<double> uniform_{0.0, 1.0};
    double elapsedMs_ = 0;
    double phase_ = 0;
    int burstLeft_ = 0, burstLength_ = 0;
};
