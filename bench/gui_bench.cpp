// Figures for the window: what a measuring worker pays per sample for the window's feed, what
// a frame pays to copy it, frame times of the heaviest screens with the Lattice animating, and
// the CPU a hidden window uses.
#include "bench/gui_bench.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "gui/shared_state.h"
#include "health/monitor.h"
#include "support/screen_script.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Spread {
    double median = 0, p99 = 0;
};

Spread SpreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values[std::min(values.size() - 1, values.size() * 99 / 100)]};
}

void SampleCost() {
    SharedState state;
    constexpr int kSamples = 2000000;
    auto start = Clock::now();
    for (int i = 0; i < kSamples; ++i) state.Sample(5000 + (i & 63) * 10, (i % 997) * 0.001, (i & 1) != 0);
    const double alone = Milliseconds(Clock::now() - start) * 1e6 / kSamples;

    // The same while the window copies the state sixty times a second.
    std::atomic<bool> stop{false};
    std::thread window([&] {
        const auto view = std::make_unique<StateView>();
        while (!stop) {
            state.Snapshot(*view);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
    });
    start = Clock::now();
    for (int i = 0; i < kSamples; ++i) state.Sample(5000 + (i & 63) * 10, (i % 997) * 0.001, (i & 1) != 0);
    const double shared = Milliseconds(Clock::now() - start) * 1e6 / kSamples;
    stop = true;
    window.join();
    std::printf("SharedState sample: %.0f ns alone, %.0f ns while the window copies it at 60 Hz\n", alone, shared);

    std::vector<double> copies;
    const auto view = std::make_unique<StateView>();
    for (int i = 0; i < 300; ++i) {
        const auto begin = Clock::now();
        state.Snapshot(*view);
        copies.push_back(Milliseconds(Clock::now() - begin) * 1000);
    }
    const Spread copy = SpreadOf(copies);
    std::printf("frame snapshot (full ring, %zu samples, grid and periods): median %.0f us, p99 %.0f us\n",
                view->samples.size(), copy.median, copy.p99);
}

// Frames of one screen for a few seconds with the Lattice animating: the GUI thread's frame
// (everything but the Lattice, waited for until drawn) and the Lattice's own pictures, which its
// thread renders meanwhile. An empty frame first, for the floor the device itself sets.
void FrameTimes(ScreenScript& script, int stageValue, const char* name) {
    Renderer& renderer = script.Window().GetRenderer();
    LatticeRenderer& lattice = renderer.Lattice();
    script.Draw(stageValue, 3);
    std::vector<double> empty;
    for (int i = 0; i < 20; ++i) {
        const auto begin = Clock::now();
        if (!renderer.BeginFrame()) break;
        renderer.EndFrame();
        empty.push_back(Milliseconds(Clock::now() - begin));
    }
    std::vector<double> frames, pictures;
    std::vector<int> sizes;
    double lastPicture = -1;
    const auto until = Clock::now() + std::chrono::seconds(6);
    while (Clock::now() < until) {
        const auto begin = Clock::now();
        if (!renderer.BeginFrame()) break;
        script.Window().DrawFrame(1.0 / 60);
        renderer.EndFrame();
        frames.push_back(Milliseconds(Clock::now() - begin));
        const double picture = lattice.LastFrameMilliseconds();
        if (picture != lastPicture) {
            pictures.push_back(picture);
            sizes.push_back(lattice.CurrentSize());
            lastPicture = picture;
        }
    }
    const Spread frame = SpreadOf(frames), picture = SpreadOf(pictures), floor = SpreadOf(empty);
    std::printf("%-8s frame without the Lattice: median %.1f ms, p99 %.1f ms (%zu frames; an empty frame %.1f ms); "
                "Lattice picture: median %.0f ms, p99 %.0f ms, last size %d px\n",
                name, frame.median, frame.p99, frames.size(), floor.median, picture.median, picture.p99,
                sizes.empty() ? 0 : sizes.back());
}

void ScreenFrames() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ScreenScript script;
        if (!script.Ready()) {
            std::printf("window frames: the offscreen renderer could not be created\n");
        } else {
            const auto start = Clock::now();
            script.DrawWithLattice(stage::Measured, 300000);
            std::printf("Lattice: shader ready after %.0f ms (first picture %.0f ms after start)\n",
                        script.Window().GetRenderer().Lattice().CompileMilliseconds(), Milliseconds(Clock::now() - start));
            script.Measure();
            FrameTimes(script, stage::Measured, "measure");
            FrameTimes(script, stage::Home, "home");
            FrameTimes(script, stage::Health, "health");
        }
    }
    CoUninitialize();
}

// The program hidden in the tray: its CPU time over ten seconds.
void HiddenCpu() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
    for (const wchar_t* name : {L"StartupAsked", L"TrayPrompted", L"MaintainAsked", L"SetupComplete", L"Paused",
                                L"StartMinimized"}) {
        WriteDword(RegRoot::CurrentUser, kMonitorKey, name, 1);
    }
    WriteDword(RegRoot::CurrentUser, kMonitorKey, L"CloseToTray", 0);
    const std::wstring program = BinDirectory() + L"\\Quorvantis.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::printf("hidden window: could not start the program\n");
        return;
    }
    Sleep(5000);  // start-up, including the Lattice's own thread getting ready
    const auto cpu = [&] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(info.hProcess, &created, &exited, &kernel, &user);
        const auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return (value(kernel) + value(user)) / 10000.0;  // ms
    };
    const double before = cpu();
    Sleep(10000);
    const double used = cpu() - before;
    std::printf("hidden window: %.1f ms of CPU in 10 s (%.2f %% of one core)\n", used, used / 100);
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    RegDeleteTreeW(HKEY_CURRENT_USER, kMonitorKey);
}

}  // namespace

void GuiFigures() {
    SampleCost();
    ScreenFrames();
    HiddenCpu();
}
