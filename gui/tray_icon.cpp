#include "gui/tray_icon.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "gui/window_host.h"

// The application icon drawn at 128 px, cropped to its visible pixels and scaled into a square
// of the wanted size; in the dim phase every channel, alpha too, is a third.
HICON BuildAppIcon(int size, bool dim) {
    const UniqueIcon source(static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON, 128, 128, LR_DEFAULTCOLOR)));
    if (!source) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 128;
    info.bmiHeader.biHeight = -128;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    UniqueMemoryDc memory;
    UniqueBitmap dib;
    {
        const WindowDc screen(nullptr);
        memory.reset(CreateCompatibleDC(screen.get()));
        dib.reset(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    }
    HICON result = nullptr;
    if (memory && dib && bits != nullptr) {
        const HGDIOBJ old = SelectObject(memory.get(), dib.get());
        std::memset(bits, 0, 128 * 128 * 4);
        DrawIconEx(memory.get(), 0, 0, source.get(), 128, 128, 0, nullptr, DI_NORMAL);
        SelectObject(memory.get(), old);
        const auto* pixels = static_cast<const uint32_t*>(bits);
        int left = 128, top = 128, right = -1, bottom = -1;
        for (int y = 0; y < 128; ++y) {
            for (int x = 0; x < 128; ++x) {
                if ((pixels[y * 128 + x] >> 24) > 20) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        if (right < left) left = top = 0, right = bottom = 127;
        const int side = std::max(right - left + 1, bottom - top + 1);
        const int offsetX = left - (side - (right - left + 1)) / 2;
        const int offsetY = top - (side - (bottom - top + 1)) / 2;
        std::vector<uint32_t> scaled(static_cast<size_t>(size) * size);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                // The average of the source pixels this one covers.
                const int x0 = offsetX + x * side / size, x1 = std::max(x0 + 1, offsetX + (x + 1) * side / size);
                const int y0 = offsetY + y * side / size, y1 = std::max(y0 + 1, offsetY + (y + 1) * side / size);
                uint32_t sum[4] = {}, count = 0;
                for (int sy = y0; sy < y1; ++sy) {
                    for (int sx = x0; sx < x1; ++sx) {
                        const uint32_t p = sx >= 0 && sx < 128 && sy >= 0 && sy < 128 ? pixels[sy * 128 + sx] : 0;
                        for (int c = 0; c < 4; ++c) sum[c] += (p >> (8 * c)) & 0xFF;
                        ++count;
                    }
                }
                uint32_t out = 0;
                for (int c = 0; c < 4; ++c) out |= ((sum[c] / count) / (dim ? 3 : 1)) << (8 * c);
                scaled[static_cast<size_t>(y) * size + x] = out;
            }
        }
        const UniqueBitmap color(CreateBitmap(size, size, 1, 32, scaled.data()));
        const UniqueBitmap mask(CreateBitmap(size, size, 1, 1, nullptr));
        ICONINFO iconInfo{TRUE, 0, 0, mask.get(), color.get()};
        if (color && mask) result = CreateIconIndirect(&iconInfo);
    }
    return result;
}

bool TrayIcon::Add(HWND window, UINT callbackMessage, UniqueIcon icon, HICON fallback) {
    icon_ = std::move(icon);
    data_.cbSize = sizeof(NOTIFYICONDATAW);
    data_.hWnd = window;
    data_.uID = 1;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = callbackMessage;
    data_.hIcon = icon_ ? icon_.get() : fallback;
    wcsncpy(data_.szTip, L"Quorvantis", 127);
    const bool added = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
    data_.uVersion = 3;
    Shell_NotifyIconW(NIM_SETVERSION, &data_);
    // Present even when the shell refused (no Explorer yet): "TaskbarCreated" adds it then.
    present_ = true;
    return added;
}

void TrayIcon::Remove() {
    if (!present_) return;
    Shell_NotifyIconW(NIM_DELETE, &data_);
    present_ = false;
    icon_.reset();
}

void TrayIcon::Update(UniqueIcon icon, HICON fallback, const std::wstring& tip) {
    if (!present_) return;
    data_.hIcon = icon ? icon.get() : fallback;
    wcsncpy(data_.szTip, tip.c_str(), 127);
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &data_);
    icon_ = std::move(icon);  // the shell has its own copy by now
}

void TrayIcon::Balloon(const std::wstring& title, const std::wstring& text, DWORD flags) {
    if (!present_) return;
    NOTIFYICONDATAW balloon = data_;
    balloon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    wcsncpy(balloon.szInfoTitle, title.c_str(), 63);
    wcsncpy(balloon.szInfo, text.c_str(), 255);
    balloon.dwInfoFlags = flags;
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

bool TrayIcon::AddAgain() {
    if (!present_) return false;
    Shell_NotifyIconW(NIM_DELETE, &data_);
    if (!Shell_NotifyIconW(NIM_ADD, &data_)) return false;
    Shell_NotifyIconW(NIM_SETVERSION, &data_);
    return true;
}

namespace {

int TrayIconSize(HWND window) { return std::clamp(MetricForDpi(SM_CXSMICON, MonitorDpi(window)), 32, 64); }

}  // namespace

bool TrayIcon::AddFor(HWND window) {
    // The fallback is shared: Windows keeps it, nothing destroys it.
    const HICON fallback = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    return Add(window, kTrayCallbackMessage, UniqueIcon(BuildAppIcon(TrayIconSize(window), false)), fallback);
}

void TrayIcon::Show(const std::vector<HealthCheck>& results, bool updateAvailable, bool dim) {
    if (!present_) return;
    const HealthSummary summary = SummarizeHealth(results);
    std::wstring tip = L"Quorvantis";
    if (updateAvailable) tip += L": update available";
    else if (summary.attention > 0) tip += L": " + summary.text;
    else if (!results.empty()) tip += L": nothing needs attention";
    Update(UniqueIcon(BuildAppIcon(TrayIconSize(data_.hWnd), dim)), summary.attention > 0 ? LoadIconW(nullptr, IDI_WARNING) : nullptr,
           tip);
}

TrayCommand TrayIcon::ShowMenu(const MonitorSettings& settings) {
    const UniqueMenu owned(CreatePopupMenu());
    const HMENU menu = owned.get();
    if (menu == nullptr) return TrayCommand::None;
    const struct {
        TrayCommand command;
        const wchar_t* text;
    } items[] = {
        {TrayCommand::Open, L"Open Quorvantis"},
        {TrayCommand::Scan, L"Run health check"},
        {TrayCommand::TogglePause, settings.paused ? L"Resume monitoring" : L"Pause monitoring"},
        {TrayCommand::Open, L"Settings"},
        {TrayCommand::ToggleStartup,
         settings.launchAtLogin ? L"Start with Windows, minimized: on" : L"Start with Windows, minimized: off"},
        {TrayCommand::ToggleNotify, settings.notify ? L"Notifications: on" : L"Notifications: off"},
        {TrayCommand::ToggleMaintain, settings.maintainTiming ? L"Maintain timing: on" : L"Maintain timing: off"},
        {TrayCommand::None, nullptr},
        {TrayCommand::Exit, L"Exit"},
    };
    // Menu ids are the item's place plus one: zero is what TrackPopupMenu returns for no choice.
    for (size_t i = 0; i < std::size(items); ++i) {
        if (items[i].text == nullptr) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else AppendMenuW(menu, MF_STRING, i + 1, items[i].text);
    }
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(data_.hWnd);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, data_.hWnd, nullptr);
    return chosen > 0 && static_cast<size_t>(chosen) <= std::size(items) ? items[chosen - 1].command : TrayCommand::None;
}
