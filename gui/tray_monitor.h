#pragma once
// The tray monitor's decisions, free of the window: what the minute timer starts, which scanned
// items are newly flagged, and whether an attention balloon may be shown. Times are
// milliseconds of the tick count.
#include <cstdint>
#include <string>
#include <vector>

#include "health/health_check.h"

struct MonitorClock {
    uint64_t nextScan = 0;
    uint64_t nextDrift = 0;
    bool driftPending = false;
    uint64_t lastBalloon = 0;
    bool balloonShown = false;
};

inline constexpr uint64_t kDriftInterval = 60000;
inline constexpr uint64_t kBalloonInterval = 1800000;  // 30 minutes

enum class MinuteAction { None, Scan, DriftCheck };

// The minute timer: nothing while paused; with maintain-timing a drift check once a minute (one
// at a time); otherwise a scan when the next one is due. A drift check marks itself pending.
MinuteAction MinuteTick(bool paused, bool maintainTiming, bool scanRunning, uint64_t now, MonitorClock& clock);

// "id|title" of every result that needs attention.
std::vector<std::wstring> FlaggedItems(const std::vector<HealthCheck>& results);
// Whether any of now's flagged items was not flagged before.
bool AnyNewlyFlagged(const std::vector<std::wstring>& before, const std::vector<std::wstring>& now);

// Whether the attention balloon may show now (notifications on, a tray icon, something needing
// attention, and none shown in the last 30 minutes); records it when so.
bool TakeBalloonTurn(bool notify, bool trayPresent, bool anyAttention, uint64_t now, MonitorClock& clock);
