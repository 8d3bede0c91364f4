#include "gui/window_host.h"

#include <dwmapi.h>

#include <algorithm>
#include <tuple>

#include "foundation/system.h"
#include "gui/tray_icon.h"

namespace {

constexpr const wchar_t* kWindowClass = L"Quorvantis.Gui";
constexpr const wchar_t* kWindowTitle = L"Quorvantis  |  Fenmarch Systems";
// DWMWINDOWATTRIBUTE values newer than some SDKs' headers: dark title bar (Windows 10 20H1 on),
// border and caption colours (Windows 11 on; earlier builds ignore them).
constexpr DWORD kDwmUseDarkMode = 20;
constexpr DWORD kDwmBorderColour = 34;
constexpr DWORD kDwmCaptionColour = 35;
constexpr COLORREF kCaptionColour = 0x00381607;  // the background colour, as COLORREF (blue, green, red)
constexpr int kDefaultWidth = 1340, kDefaultHeight = 880;
constexpr int kMinimumWidth = 1040, kMinimumHeight = 700;

template <typename Fn>
Fn User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

UINT SystemDpi() {
    const auto getDpiForSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
    return getDpiForSystem != nullptr ? getDpiForSystem() : 96;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        // The handle is known here, before CreateWindowExW returns it.
        static_cast<WindowHost*>(create->lpCreateParams)->Attach(window);
    }
    auto* host = reinterpret_cast<WindowHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return host->HandleMessage(message, wParam, lParam);
}

}  // namespace

int MetricForDpi(int index, UINT dpi) {
    const auto forDpi = User32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(index, dpi) : MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), 96);
}

// The monitor's effective DPI through Shcore, loaded at run time (missing before Windows 8.1).
UINT MonitorDpi(HWND window) {
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor = reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(LoadSystemLibrary(L"Shcore.dll")), "GetDpiForMonitor")));
    UINT x = 96, y = 96;
    if (getDpiForMonitor == nullptr ||
        FAILED(getDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y))) {
        return 96;
    }
    return std::max<UINT>(x, 96);
}

WindowHost::WindowHost(WindowClient& client, Renderer& renderer) : client_(client), renderer_(renderer) {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&lastFrame_);
}

bool WindowHost::Create() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (const auto setContext = User32Function<SetContextFn>("SetProcessDpiAwarenessContext")) {
        setContext(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    if (windowClass.hIcon == nullptr) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    const UINT dpi = SystemDpi();
    dpi_ = static_cast<float>(dpi);
    RECT frame{0, 0, MulDiv(kDefaultWidth, static_cast<int>(dpi), 96), MulDiv(kDefaultHeight, static_cast<int>(dpi), 96)};
    const auto adjustForDpi = User32Function<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (adjustForDpi != nullptr) adjustForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
    else AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = work.left + std::max(0, static_cast<int>((work.right - work.left - width) / 2));
    const int y = work.top + std::max(0, static_cast<int>((work.bottom - work.top - height) / 2));
    window_ = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr, nullptr,
                              instance, this);
    if (window_ == nullptr) return false;
    BuildIcons();
    ApplyDwmAttributes();
    return true;
}

void WindowHost::BuildIcons() {
    const UINT dpi = static_cast<UINT>(dpi_);
    UniqueIcon big(BuildAppIcon(std::max(48, MetricForDpi(SM_CXICON, dpi)), false));
    UniqueIcon small(BuildAppIcon(std::max(24, MetricForDpi(SM_CXSMICON, dpi)), false));
    // The window lets go of the old icons before they are destroyed.
    if (window_ != nullptr) {
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    }
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);
}

void WindowHost::ApplyDwmAttributes() {
    const BOOL dark = TRUE;
    const COLORREF caption = kCaptionColour;
    DwmSetWindowAttribute(window_, kDwmUseDarkMode, &dark, sizeof(dark));
    DwmSetWindowAttribute(window_, kDwmCaptionColour, &caption, sizeof(caption));
    DwmSetWindowAttribute(window_, kDwmBorderColour, &caption, sizeof(caption));
}

void WindowHost::MessageLoop() {
    QueryPerformanceCounter(&lastFrame_);
    running_ = true;
    while (running_) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                running_ = false;
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!running_) break;
        if (window_ == nullptr || IsIconic(window_) || !IsWindowVisible(window_)) {
            // Nothing is drawn while hidden. Work under way still moves on four times a second;
            // otherwise the thread sleeps until a message comes.
            if (client_.WorkPending()) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 250, QS_ALLINPUT);
                client_.TickHidden();
                client_.AfterFrame();
            } else {
                WaitMessage();
            }
            QueryPerformanceCounter(&lastFrame_);  // no leap in the animations when shown again
            continue;
        }
        if (HoldFrameForLattice()) continue;
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        double dt = static_cast<double>(now.QuadPart - lastFrame_.QuadPart) / static_cast<double>(frequency_.QuadPart);
        lastFrame_ = now;
        dt = std::clamp(dt, 0.0, 0.05);
        if (!renderer_.BeginFrame()) {
            Sleep(100);
            continue;
        }
        client_.Frame(dt);
        renderer_.EndFrame();
        client_.AfterFrame();
    }
    bigIcon_.reset();
    smallIcon_.reset();
}

bool WindowHost::HoldFrameForLattice() {
    LatticeRenderer& lattice = renderer_.Lattice();
    if (!lattice.TakesTurn()) {
        latticeHeldSince_ = 0;
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    if (latticeHeldSince_ == 0) latticeHeldSince_ = now;
    const ULONGLONG held = now - latticeHeldSince_;
    if (held >= kLatticeTurnMs) return false;  // a picture that does not end never stops the window
    const HANDLE over = lattice.TurnOver();
    MsgWaitForMultipleObjects(1, &over, FALSE, static_cast<DWORD>(kLatticeTurnMs - held), QS_ALLINPUT);
    return true;
}

FrameInput WindowHost::TakeInput() {
    if (queuedClicks_ > 0) {
        pending_.click = true;
        pending_.clickX = clicks_[0].first;
        pending_.clickY = clicks_[0].second;
        std::copy(clicks_.begin() + 1, clicks_.begin() + static_cast<std::ptrdiff_t>(queuedClicks_), clicks_.begin());
        --queuedClicks_;
    }
    const FrameInput input = pending_;
    // Clicks, Enter and the wheel belong to one frame; the pointer stays where it is.
    pending_.click = false;
    pending_.enter = false;
    pending_.wheel = 0;
    return input;
}

void WindowHost::Show() {
    if (window_ == nullptr) return;
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
}

void WindowHost::Close() { Post(WM_CLOSE); }

void WindowHost::Destroy() {
    if (window_ != nullptr) DestroyWindow(window_);
}

void WindowHost::Post(UINT message) const {
    if (window_ != nullptr) PostMessageW(window_, message, 0, 0);
}

LRESULT WindowHost::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT answered = 0;
    if (client_.OnMessage(message, wParam, lParam, answered)) return answered;
    const auto point = [this](LPARAM at) {
        return std::pair{static_cast<float>(static_cast<short>(LOWORD(at))) * 96 / dpi_,
                         static_cast<float>(static_cast<short>(HIWORD(at))) * 96 / dpi_};
    };
    switch (message) {
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) renderer_.Resize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        ValidateRect(window_, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, cursorHand_ ? IDC_HAND : IDC_ARROW));
            return 1;
        }
        break;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = static_cast<LONG>(dpi_ * kMinimumWidth / 96);
        info->ptMinTrackSize.y = static_cast<LONG>(dpi_ * kMinimumHeight / 96);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) pending_.enter = true;
        return 0;
    case WM_MOUSEMOVE:
        std::tie(pending_.x, pending_.y) = point(lParam);
        return 0;
    case WM_LBUTTONDOWN:
        buttonDown_ = true;
        pending_.down = true;
        SetCapture(window_);
        return 0;
    case WM_LBUTTONUP:
        if (buttonDown_ && queuedClicks_ < clicks_.size()) clicks_[queuedClicks_++] = point(lParam);
        buttonDown_ = false;
        pending_.down = false;
        ReleaseCapture();
        return 0;
    case WM_MOUSEWHEEL:
        // Each screen scrolls its own list by the notches of the frame, within that list.
        pending_.wheel += GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        renderer_.SetDpi(dpi_);
        BuildIcons();
        const auto* suggested = reinterpret_cast<RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}
