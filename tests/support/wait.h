#pragma once
// Polls a condition until it holds or the limit passes. Every wait in the tests has a limit: a
// condition that never comes true fails the test instead of hanging the suite.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
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

// A hook that holds until the test opens the gate (or 20 s pass). The window did not wait for the
// hook exactly when its call came back while the hook still held: no clock is read, so a slow
// frame on a loaded machine cannot fail a test, and a window that waits always does.
class Gate {
public:
    void Pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        opened_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
        passed_ = true;
    }
    void Open() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    bool Passed() const { return passed_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
    std::atomic<bool> passed_{false};
};
