#pragma once
// The window's background worker: work the window hands off so its own thread never waits
// (the processor and graphics probes, the saved scan, the startup guard's hardening). One
// thread runs the jobs in order; Stop lets the running job finish and drops the rest.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundJobs {
public:
    BackgroundJobs() = default;
    ~BackgroundJobs() { Stop(); }
    BackgroundJobs(const BackgroundJobs&) = delete;
    BackgroundJobs& operator=(const BackgroundJobs&) = delete;

    void Post(std::function<void()> job);
    void Stop();
    // True once every posted job has run (false after the time limit).
    bool WaitIdle(uint32_t timeoutMs);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    std::thread thread_;
    bool running_ = false;  // a job is running now
    bool stop_ = false;
};
