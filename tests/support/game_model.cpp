#include "support/game_model.h"

#include <cmath>

GameModel SeededGameModel(uint64_t seed, double effectMs) {
    std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + 17);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    GameModel model;
    model.fps = 60 + 300 * uniform(random);
    model.jitter = 0.02 + 0.08 * uniform(random);
    model.driftShare = 0.08 * uniform(random);
    model.driftSeconds = 60 + 180 * uniform(random);
    model.burstsPerSecond = 0.05 + 0.55 * uniform(random);
    model.burstFramesMax = 1 + static_cast<int>(4 * uniform(random));
    model.burstScale = 1.5 + 1.5 * uniform(random);
    model.effectMs = effectMs;
    return model;
}

GameFrames::GameFrames(const GameModel& model, uint64_t seed)
    : model_(model), random_(seed), jitter_(0.0, model.jitter) {
    phase_ = 6.283185307179586 * uniform_(random_);
}

double GameFrames::Next(bool released) {
    const double base = 1000 / model_.fps;
    const double drift = 1 + model_.driftShare * std::sin(phase_ + 6.283185307179586 * elapsedMs_ / (model_.driftSeconds * 1000));
    double ms = base * drift * std::exp(jitter_(random_));
    if (burstLeft_ == 0 && uniform_(random_) < model_.burstsPerSecond * base / 1000) {
        burstLength_ = 1 + static_cast<int>(uniform_(random_) * model_.burstFramesMax);
        burstLeft_ = burstLength_;
    }
    if (burstLeft_ > 0) {
        // The burst's frames shorten towards the normal frame time.
        const double step = static_cast<double>(burstLength_ - burstLeft_) / burstLength_;
        ms *= 1 + (model_.burstScale - 1) * (1 - step);
        --burstLeft_;
    }
    if (released) ms += model_.effectMs;
    elapsedMs_ += ms;
    return ms;
}
