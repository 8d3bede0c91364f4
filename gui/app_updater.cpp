#include "gui/app_updater.h"

void AppUpdater::StartCheck(Check check, std::function<void()> answered) {
    if (!check || checkThread_.joinable()) return;
    checkThread_ = std::thread([this, check = std::move(check), answered = std::move(answered)] {
        AppUpdate found;
        std::wstring error;
        const bool available = check(found, stop_, error);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            update_ = found;
            available_ = available;
        }
        checked_.store(true);
        if (answered) answered();
    });
}

bool AppUpdater::StartApply(Apply apply, std::function<void()> applied, std::function<void()> answered) {
    if (!apply || applying_.load()) return false;
    // A failed attempt's thread has ended: joined, so the user can try again.
    if (applyThread_.joinable()) applyThread_.join();
    applying_.store(true);
    AppUpdate chosen;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        chosen = update_;
    }
    applyThread_ = std::thread([this, apply = std::move(apply), applied = std::move(applied), answered = std::move(answered),
                                chosen] {
        const Outcome result = apply(
            chosen,
            [this](const std::wstring& status) {
                const std::lock_guard<std::mutex> lock(mutex_);
                status_ = status;
            },
            stop_);
        if (result.Ok()) {
            applied_.store(true);
            applying_.store(false);
            if (applied) applied();
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            status_ = result.WasStopped() ? std::wstring(L"The update was stopped.") : result.Error();
        }
        failed_.store(true);
        applying_.store(false);
        if (answered) answered();
    });
    return true;
}

void AppUpdater::Stop() {
    stop_.store(true);
    if (checkThread_.joinable()) checkThread_.join();
    if (applyThread_.joinable()) applyThread_.join();
}

bool AppUpdater::Found(AppUpdate& update) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    update = update_;
    return available_;
}

bool AppUpdater::TakeFailure(std::wstring& text) {
    if (!failed_.exchange(false)) return false;
    const std::lock_guard<std::mutex> lock(mutex_);
    text = status_.empty() ? std::wstring(L"The update could not be installed.") : status_;
    return true;
}
