#pragma once
// The main window as Windows sees it: its class and frame, per-monitor DPI, the title bar's
// colours and icons, the mouse and keys gathered for the next frame, and the message loop that
// paces frames (nothing is drawn while the window is hidden). What the window does with a frame
// or an application message is its client's business.
#include <windows.h>

#include <array>
#include <cstdint>
#include <utility>

#include "foundation/unique_handle.h"
#include "gui/renderer.h"
#include "gui/widgets.h"

// Per-monitor DPI helpers, bound at run time (older Windows lacks them).
int MetricForDpi(int index, UINT dpi);
UINT MonitorDpi(HWND window);

class WindowClient {
public:
    virtual ~WindowClient() = default;
    // Every message comes here first; true when the client answered it (result in `result`).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    // One frame, between the renderer's BeginFrame and EndFrame.
    virtual void Frame(double dt) = 0;
    // While the window is hidden: whether work under way must still move on, and moving it on.
    virtual bool WorkPending() const = 0;
    virtual void TickHidden() = 0;
    // After each frame (and each hidden tick): questions open their own message loop only then.
    virtual void AfterFrame() = 0;
};

class WindowHost {
public:
    WindowHost(WindowClient& client, Renderer& renderer);
    WindowHost(const WindowHost&) = delete;
    WindowHost& operator=(const WindowHost&) = delete;

    // Registers the class and creates the hidden window at the system DPI, centred in the work
    // area, with its icons and the dark title bar.
    bool Create();
    // The offscreen test target draws at this DPI without a window.
    void UseDpi(float dpi) { dpi_ = dpi; }
    HWND Window() const { return window_; }
    float Dpi() const { return dpi_; }

    // Runs until WM_QUIT.
    void MessageLoop();
    // While the Lattice takes its turn: waits for it (answering messages meanwhile) and says the
    // frame must wait more; false once the next frame may be drawn.
    bool HoldFrameForLattice();

    // The input of the next frame: the pointer, the oldest queued click, Enter and the wheel
    // (those three belong to one frame and are taken here).
    FrameInput TakeInput();
    void SetHandCursor(bool hand) { cursorHand_ = hand; }
    void Show();
    void Close();
    void Destroy();
    void Post(UINT message) const;

    // The window procedure's body: the client first, then what the host does itself.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Attach(HWND window) { window_ = window; }

private:
    void BuildIcons();
    void ApplyDwmAttributes();

    WindowClient& client_;
    Renderer& renderer_;
    HWND window_ = nullptr;
    float dpi_ = 96;
    bool running_ = false;
    UniqueIcon bigIcon_, smallIcon_;
    FrameInput pending_;
    // Clicks wait their turn, one per frame: two quick clicks during one slow frame are two clicks.
    std::array<std::pair<float, float>, 8> clicks_{};
    size_t queuedClicks_ = 0;
    bool buttonDown_ = false;
    bool cursorHand_ = false;
    LARGE_INTEGER frequency_{}, lastFrame_{};
    ULONGLONG latticeHeldSince_ = 0;
};
