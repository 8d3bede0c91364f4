#pragma once
// The window's self-update: the check on a thread of its own, then (once the user agrees) the
// apply on another, with what each found. Either calls back on its thread when it has an answer,
// so the window hears it at once even while it waits hidden in the tray.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/outcome.h"
#include "update/app_update.h"

class AppUpdater {
public:
    using Check = std::function<bool(AppUpdate&, const std::atomic<bool>& stop, std::wstring& error)>;
    using Apply = std::function<Outcome(const AppUpdate&, const std::function<void(const std::wstring&)>& status,
                                        const std::atomic<bool>& stop)>;

    AppUpdater() = default;
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;
    ~AppUpdater() { Stop(); }

    // Once: a second call while the first runs or after it does nothing.
    void StartCheck(Check check, std::function<void()> answered);
    // The update the check found, in a new thread; false while an apply runs. `applied` is called
    // on success, `answered` on failure.
    bool StartApply(Apply apply, std::function<void()> applied, std::function<void()> answered);
    // Both threads asked to stop, then joined.
    void Stop();

    bool Checked() const { return checked_.load(); }
    bool Applying() const { return applying_.load(); }
    bool Applied() const { return applied_.load(); }
    // Whether the check found one, and which.
    bool Found(AppUpdate& update) const;
    // The apply's last word: its progress, or why it failed. Taken once per failure.
    bool TakeFailure(std::wstring& text);

private:
    std::thread checkThread_, applyThread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    AppUpdate update_;
    bool available_ = false;
    std::wstring status_;
    std::atomic<bool> checked_{false};
    std::atomic<bool> applying_{false};
    std::atomic<bool> applied_{false};
    std::atomic<bool> failed_{false};
};
