#include "foundation/pacing.h"

#include <windows.h>

#include "foundation/console.h"
#include "foundation/feed.h"

namespace {

class SystemClock final : public PacingClock {
public:
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    uint64_t TickCount64() override { return GetTickCount64(); }
};

SystemClock g_systemClock;
PacingClock* g_clock = &g_systemClock;

}  // namespace

PacingClock& CurrentPacingClock() { return *g_clock; }
void SetPacingClock(PacingClock* clock) { g_clock = clock != nullptr ? clock : &g_systemClock; }

bool IsCancelled() {
    Feed* feed = CurrentFeed();
    return feed != nullptr && feed->CancelQuery();
}

void ReportProgress(double fraction, double elapsedSeconds, double remainingSeconds, const std::wstring& text) {
    if (Feed* feed = CurrentFeed()) feed->Progress(fraction, elapsedSeconds, remainingSeconds);
    ShowProgress(text);
}

void DwellCancellable(uint32_t milliseconds) {
    if (milliseconds == 0 || !DwellEnabled()) return;
    PacingClock& clock = CurrentPacingClock();
    const uint64_t end = clock.TickCount64() + milliseconds;
    while (clock.TickCount64() < end) {
        if (IsCancelled()) return;
        clock.Sleep(40);
    }
}
