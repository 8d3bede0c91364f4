#pragma once
// The Lattice, rendered by a Direct3D 11 device of its own on a thread of its own: compiling
// its shader takes seconds and a frame on a software rasteriser (WARP, or Wine's) a large part
// of a second, and the window must keep answering meanwhile. The window submits the grid it
// shows every frame and picks up the newest finished picture, whose size shrinks while frames
// are expensive so the chart keeps moving.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/unique_handle.h"
#include "gui/lattice_model.h"

inline constexpr int kLatticeTexture = 640;
// How long the window holds its next frame back for a picture being made (see TakesTurn).
inline constexpr uint32_t kLatticeTurnMs = 200;

// The shader text as it is compiled: the embedded source, built (empty when it is missing).
std::string LatticeShaderText();

// Faults a test can make the renderer meet: pictures that fail as a removed device's do, and a
// device that cannot be made again. Counts the pictures attempted.
struct LatticeFaults {
    std::atomic<int> failDraws{0};
    std::atomic<bool> failCreate{false};
    std::atomic<int> attempts{0};
};

class LatticeRenderer {
public:
    enum class Status { Starting, Ready, Unavailable };

    LatticeRenderer() = default;
    ~LatticeRenderer();
    LatticeRenderer(const LatticeRenderer&) = delete;
    LatticeRenderer& operator=(const LatticeRenderer&) = delete;

    // Starts the thread, which creates the device and compiles the shader.
    void Start();
    // Only before Start.
    void SetFaults(LatticeFaults* faults) { faults_ = faults; }
    void Stop();
    Status GetStatus() const { return status_.load(); }

    // The grid to draw, the animation clock and the shape of the card it fills (width / height);
    // the thread renders the newest one it was given and keeps animating while submissions keep coming.
    void Submit(const LatticeData& data, double seconds, float aspect = 1);
    // The newest finished picture when it is newer than `frame`: premultiplied BGRA rows, width
    // x height pixels (the longer side at most 640).
    bool TakeFrame(uint64_t& frame, std::vector<uint32_t>& pixels, int& width, int& height);
    // Waits until a picture of the latest submission exists (tests and review images).
    bool WaitFrame(uint32_t timeoutMs);

    // The window's frames and the pictures take turns. On a software rasteriser both share the
    // same few cores, and a frame drawn while a picture is made takes two to four times as long
    // as the others: the chart's movement would stutter the whole window. A picture starts only
    // between two frames; the window holds its next frame back while the thread waits for or
    // makes one (at most kLatticeTurnMs, so a picture that hangs never stops the window).
    // Pictures a GPU makes take no turns: they take a few milliseconds and no core from the window.
    void WindowFrameBegins();
    void WindowFrameEnds();
    // True while the thread waits for the window's frame to end or makes a picture.
    bool TakesTurn() const { return turn_.load(); }
    // Set while the thread does not take its turn.
    HANDLE TurnOver() const { return turnOver_.get(); }

    // Figures.
    double CompileMilliseconds() const { return compileMs_.load(); }
    double LastFrameMilliseconds() const { return frameMs_.load(); }
    int CurrentSize() const { return size_.load(); }

private:
    void Run();

    std::thread thread_;
    LatticeFaults* faults_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<Status> status_{Status::Starting};
    std::atomic<double> compileMs_{0};
    std::atomic<double> frameMs_{0};
    std::atomic<int> size_{kLatticeTexture};
    std::atomic<bool> turn_{false};
    UniqueKernelHandle turnOver_{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    bool inFrame_ = false;  // under mutex_

    std::mutex mutex_;
    std::condition_variable wake_;
    LatticeData pending_;
    double pendingSeconds_ = 0;
    float pendingAspect_ = 1;
    uint64_t submitted_ = 0;  // submission counter
    uint64_t rendered_ = 0;   // the submission the newest picture shows
    uint64_t frameId_ = 0;
    std::vector<uint32_t> picture_;
    int pictureWidth_ = 0, pictureHeight_ = 0;
    std::condition_variable frameReady_;
};
