#include "app/json_output.h"

#include "app/options.h"
#include "foundation/console.h"
#include "foundation/log.h"

namespace {

// Bumped when a field changes meaning or goes away; new fields keep the number.
constexpr int kJsonSchema = 1;

}  // namespace

bool JsonAccepts(const Options& options) {
    if (options.whatIf) return true;
    for (const wchar_t* word : {L"status", L"health", L"changes", L"revert", L"check-driver", L"check-update", L"benchmark", L"compare-game"}) {
        if (options.command == word) return true;
    }
    return false;
}

std::wstring JsonCommandName(const Options& options) {
    if (options.whatIf) return L"what-if";
    return options.command.empty() ? std::wstring(L"default") : options.command;
}

int PrintJsonDocument(Json document, const std::wstring& command, int exitCode, const std::wstring& failure) {
    Json whole = Json::Object();
    whole.Set("schema", kJsonSchema);
    whole.Set("command", command);
    whole.Set("exit_code", exitCode);
    std::wstring error = exitCode != 0 ? LastLoggedError() : std::wstring();
    if (error.empty()) error = exitCode != 0 ? failure : std::wstring();
    whole.Set("error", error.empty() ? (exitCode != 0 ? Json(L"failed; see the log") : Json()) : Json(error));
    whole.Set("result", std::move(document));
    WriteReservedStdOutput(whole.Text());
    return exitCode;
}
