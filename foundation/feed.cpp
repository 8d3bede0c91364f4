#include "foundation/feed.h"

namespace {
thread_local Feed* t_currentFeed = nullptr;
thread_local bool t_dwellEnabled = false;
}  // namespace

Feed* CurrentFeed() { return t_currentFeed; }
void SetCurrentFeed(Feed* feed) { t_currentFeed = feed; }
bool DwellEnabled() { return t_dwellEnabled; }
void SetDwellEnabled(bool enabled) { t_dwellEnabled = enabled; }
