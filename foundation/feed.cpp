#include "foundation/feed.h"

namespace {
thread_local Feed* t_currentFeed = nullptr;
thread_local bool t_dwellEnabled = false;
}  // namespace

Feed* CurrentFeed() { return t_currentFeed; }
void SetCurrentFeed(Feed* feed) { t_currentFeed = feed; }
bool DwellEnabled() { return t_dwellEnabled; }
void SetDwellEnabled(bool enabled) { t_dwellEnabled = enabled; }

void FeedStage(const std::wstring& tag, const std::wstring& text) {
    if (Feed* feed = CurrentFeed()) feed->Stage(tag, text);
}

void FeedExplanation(const std::wstring& title, const std::wstring& paragraph) {
    if (Feed* feed = CurrentFeed()) feed->Explanation(title, paragraph);
}

void FeedItems(const std::vector<TweakItem>& items) {
    if (Feed* feed = CurrentFeed()) feed->Items(items);
}
