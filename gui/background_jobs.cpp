#include "gui/background_jobs.h"

#include <chrono>

void BackgroundJobs::Post(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) return;
        jobs_.push_back(std::move(job));
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }
    changed_.notify_all();
}

void BackgroundJobs::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        jobs_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool BackgroundJobs::WaitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return jobs_.empty() && !running_; });
}

void BackgroundJobs::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
        if (stop_) break;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job that throws has failed; nothing escapes the thread.
        }
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}
