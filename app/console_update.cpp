#include "app/console_update.h"

#include <atomic>

#include "app/console_benchmark.h"
#include "app/options.h"
#include "foundation/console.h"
#include "foundation/log.h"
#include "foundation/product.h"
#include "update/self_update.h"

namespace {

// 1 with the error logged, 0 with nothing newer, 2 with an update to offer.
int Check(const UpdateSource& source, AppUpdate& update) {
    const std::atomic<bool> cancel{false};
    std::wstring error;
    if (CheckForAppUpdate(source, kVersionText, update, cancel, error)) {
        LogInfo(L"Update available: " + update.version);
        if (!update.notes.empty()) LogInfo(update.notes);
        return 2;
    }
    if (!error.empty()) {
        LogError(error);
        return 1;
    }
    LogInfo(std::wstring(L"This copy is current (") + kVersionText + L").");
    return 0;
}

}  // namespace

int ConsoleCheckUpdate(const UpdateSource& source, Json* document) {
    AppUpdate update;
    const int checked = Check(source, update);
    if (document != nullptr) {
        document->Set("current_version", kVersionText);
        document->Set("update_available", checked == 2);
        document->Set("version", checked == 2 ? Json(update.version) : Json());
        document->Set("url", checked == 2 ? Json(update.url) : Json());
        document->Set("size_bytes", checked == 2 ? Json(update.size) : Json());
        document->Set("sha256", checked == 2 ? Json(update.sha256) : Json());
        document->Set("notes", checked == 2 && !update.notes.empty() ? Json(update.notes) : Json());
    }
    return checked == 1 ? 1 : 0;
}

int ConsoleUpdate(const Options& options, const UpdateSource& source) {
    AppUpdate update;
    const int checked = Check(source, update);
    if (checked != 2) return checked;
    if (!options.yes && !Confirm(options, L"Download " + update.version + L" and replace this copy and the installed service copy?", false)) {
        LogInfo(L"Not updated. Re-run with --update --yes to update without asking.");
        return 1;
    }
    const std::atomic<bool> cancel{false};
    const Outcome result = ApplyAppUpdate(source, update, [](const std::wstring& status) { ShowProgress(status); }, cancel);
    ClearProgress();
    if (!result.Ok()) {
        LogError(result.WasStopped() ? std::wstring(L"Stopped.") : result.Error());
        return 1;
    }
    LogInfo(L"Updated to " + update.version + L". Start Quorvantis again to use it.");
    return 0;
}
