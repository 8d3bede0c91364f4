#pragma once
// Polls a condition until it holds or the limit passes. Every wait in the tests has a limit: a
// condition that never comes true fails the test instead of hanging the suite.
#include <chrono>
#include <cstdint>
#include <thread>

template <typename Condition>
bool WaitUntil(Condition&& condition, uint32_t limitMs, uint32_t stepMs = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}
