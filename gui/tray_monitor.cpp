#include "gui/tray_monitor.h"

#include <algorithm>

MinuteAction MinuteTick(bool paused, bool maintainTiming, bool scanRunning, uint64_t now, MonitorClock& clock) {
    if (paused || scanRunning) return MinuteAction::None;
    if (maintainTiming) {
        if (clock.driftPending || now < clock.nextDrift) return MinuteAction::None;
        clock.nextDrift = now + kDriftInterval;
        clock.driftPending = true;
        return MinuteAction::DriftCheck;
    }
    return now >= clock.nextScan ? MinuteAction::Scan : MinuteAction::None;
}

std::vector<std::wstring> FlaggedItems(const std::vector<HealthCheck>& results) {
    std::vector<std::wstring> flagged;
    for (const HealthCheck& c : results) {
        if (IsAttentionStatus(c.status)) flagged.push_back(c.id + L"|" + c.title);
    }
    return flagged;
}

bool AnyNewlyFlagged(const std::vector<std::wstring>& before, const std::vector<std::wstring>& now) {
    return std::any_of(now.begin(), now.end(),
                       [&](const std::wstring& item) { return std::find(before.begin(), before.end(), item) == before.end(); });
}

bool TakeBalloonTurn(bool notify, bool trayPresent, bool anyAttention, uint64_t now, MonitorClock& clock) {
    if (!notify || !trayPresent || !anyAttention) return false;
    if (clock.balloonShown && now - clock.lastBalloon < kBalloonInterval) return false;
    clock.lastBalloon = now;
    clock.balloonShown = true;
    return true;
}
