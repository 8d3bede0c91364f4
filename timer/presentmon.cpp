#include "timer/presentmon.h"

#include <windows.h>

#include "foundation/system.h"
#include "foundation/text.h"

namespace {
// Starting the trace session takes a few seconds on a busy machine; a capture that has not ended
// this long after its time never will.
constexpr uint32_t kStartAllowanceMs = 60000;
}  // namespace

std::wstring PresentMonArguments(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath) {
    return FormatText(L"--process_name \"%ls\" --output_file \"%ls\" --timed %lu --terminate_after_timed --no_console_stats "
                      L"--session_name Quorvantis --stop_existing_session",
                      processName.c_str(), csvPath.c_str(), static_cast<unsigned long>(seconds));
}

Outcome PresentMonTool::Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                                const std::atomic<bool>& stop) {
    const uint32_t code =
        RunProcessUntil(program_, PresentMonArguments(processName, seconds, csvPath), seconds * 1000 + kStartAllowanceMs, &stop);
    if (code == kChildStopped) return Outcome::Stopped();
    if (code == kChildTimedOut) {
        return Outcome::Failed(FormatText(L"PresentMon did not end %lu s after its capture should have; it was stopped.",
                                          static_cast<unsigned long>(seconds + kStartAllowanceMs / 1000)));
    }
    // Without a frame of the game in its time it may write no file at all: the run reads that as
    // a block without frames.
    if (code != 0) return Outcome::Failed(FormatText(L"PresentMon ended with exit code %lu.", static_cast<unsigned long>(code)));
    return Outcome::Done();
}
