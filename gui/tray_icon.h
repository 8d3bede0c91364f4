#pragma once
// The notification-area icon: added, redrawn with what the health scan found, its menu, a
// balloon, and added again when Explorer restarts (a new Explorer starts with an empty
// notification area). It owns its icon; the window decides what the menu's choices do.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "foundation/unique_handle.h"
#include "health/health_check.h"
#include "health/monitor.h"

// The application icon's resource id (resources/quorvantis.rc).
inline constexpr int kAppIconResource = 101;

// The application icon cropped to its visible pixels and scaled into a square of the size; in the
// dim phase every channel, alpha too, is a third. Null when the resource cannot be drawn.
HICON BuildAppIcon(int size, bool dim);

// Reports to the window with this message.
inline constexpr UINT kTrayCallbackMessage = WM_APP + 3;

// The menu's choices.
enum class TrayCommand { None, Open, Scan, TogglePause, ToggleStartup, ToggleNotify, ToggleMaintain, Exit };

class TrayIcon {
public:
    // The application icon at the notification area's size for the window's monitor.
    bool AddFor(HWND window);
    // The icon (dim in the update blink's off phase) and the tooltip for the scan's results.
    void Show(const std::vector<HealthCheck>& results, bool updateAvailable, bool dim);
    // The right-click menu, labelled from the settings; the choice made.
    TrayCommand ShowMenu(const MonitorSettings& settings);
    // The icon for the window, reporting to it with the callback message; true when added.
    bool Add(HWND window, UINT callbackMessage, UniqueIcon icon, HICON fallback);
    void Remove();
    bool Present() const { return present_; }
    // A new icon (or the fallback when it is null) and tooltip.
    void Update(UniqueIcon icon, HICON fallback, const std::wstring& tip);
    void Balloon(const std::wstring& title, const std::wstring& text, DWORD flags);
    // After Explorer's "TaskbarCreated": whatever the old Explorer left goes, and the icon comes
    // back; true when it did.
    bool AddAgain();

private:
    NOTIFYICONDATAW data_{};
    UniqueIcon icon_;
    bool present_ = false;
};
