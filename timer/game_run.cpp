#include "timer/game_run.h"

#include <windows.h>

#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "timer/frame_capture.h"
#include "timer/timer_kernel.h"

namespace {

// A capture tool writes a few hundred bytes a frame: a minute at a thousand frames a second is
// well under this, and a larger file is not a capture.
constexpr uint64_t kLongestCaptureBytes = 256ull << 20;

bool ReadCapture(const std::wstring& path, std::string& text) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    text.clear();
    return ReadFileChunks(file.get(), [&text](const uint8_t* bytes, size_t count) {
        if (text.size() + count > kLongestCaptureBytes) return false;
        text.append(reinterpret_cast<const char*>(bytes), count);
        return true;
    });
}

bool Blank(const std::string& text) { return text.find_first_not_of(" \t\r\n\xEF\xBB\xBF") == std::string::npos; }

// Whatever ends the run, this process's request is taken back.
class HeldPeriod {
public:
    explicit HeldPeriod(uint32_t period) : period_(period) {}
    ~HeldPeriod() { Release(); }
    HeldPeriod(const HeldPeriod&) = delete;
    HeldPeriod& operator=(const HeldPeriod&) = delete;
    bool Hold(uint32_t& actual) {
        if (held_) return true;
        held_ = CurrentTimerKernel().SetResolution(period_, true, actual) == 0;
        return held_;
    }
    void Release() {
        if (!held_) return;
        uint32_t actual = 0;
        CurrentTimerKernel().SetResolution(period_, false, actual);
        held_ = false;
    }

private:
    uint32_t period_;
    bool held_ = false;
};

}  // namespace

GameRunResult RunGameComparison(const GameRunParams& params, FrameCaptureTool& tool, const std::atomic<bool>& stop,
                                const GameProgress& progress) {
    GameRunResult result;
    if (!EnsureFolder(params.folder)) {
        result.outcome = Outcome::Failed(L"The folder for the frame captures could not be made: " + params.folder);
        return result;
    }
    const std::vector<GameArm> order = GameBlockOrder(GameBlocksFor(params.minutes));
    HeldPeriod held(params.period);
    for (size_t i = 0; i < order.size(); ++i) {
        if (stop.load()) return result;  // Stopped
        const GameArm arm = order[i];
        if (progress) progress(static_cast<int>(i), static_cast<int>(order.size()), arm);
        if (arm == GameArm::Held) {
            uint32_t actual = 0;
            if (!held.Hold(actual)) {
                result.outcome = Outcome::Failed(FormatText(L"NtSetTimerResolution refused %.4f ms.", params.period / 10000.0));
                return result;
            }
            if (actual != 0) result.heldActual = actual;
        } else {
            held.Release();
        }
        const std::wstring file =
            FormatText(L"%ls\\block-%02d-%ls.csv", params.folder.c_str(), static_cast<int>(i) + 1, arm == GameArm::Held ? L"A" : L"B");
        DeleteFileW(file.c_str());  // a file left from before is never read as this block's
        const Outcome captured = tool.Capture(params.processName, kGameBlockSeconds, file, stop);
        if (!captured.Ok()) {
            result.outcome = captured;
            return result;
        }
        // A game that is minimized, paused or loading presents nothing for a while: the capture
        // program then leaves no file, or only its header. Such a block is left out rather than the
        // whole run lost, unless nothing at all has come yet.
        const bool written = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
        result.files.push_back(written ? file : std::wstring());
        std::string text;
        if (written && !ReadCapture(file, text)) {
            result.outcome = Outcome::Failed(L"The frame capture of block " + std::to_wstring(i + 1) + L" could not be read: " + file);
            return result;
        }
        FrameCapture capture;
        std::wstring error;
        const bool parsed = written && ParseFrameCapture(text, params.processName, capture, error);
        // Only a file with no capture header at all (another program's output) is not a capture.
        if (written && !parsed && capture.column.empty() && !Blank(text)) {
            result.outcome = Outcome::Failed(FormatText(L"Block %d: %ls (%ls)", static_cast<int>(i) + 1, error.c_str(), file.c_str()));
            return result;
        }
        if (capture.frameMs.empty()) {
            LogInfo(FormatText(L"Block %d: no frames of %ls were captured (minimized, paused or loading?); it is left out.",
                               static_cast<int>(i) + 1, params.processName.c_str()));
            if (i == 1 && result.blocks.front().frameMs.empty()) {
                result.outcome = Outcome::Failed(FormatText(L"No frames of %ls were captured in the first two blocks. Is the game in "
                                                            L"the foreground and drawing frames?",
                                                            params.processName.c_str()));
                return result;
            }
        }
        result.blocks.push_back(GameBlock{arm, SettledFrames(capture.frameMs)});
    }
    held.Release();
    std::wstring error;
    if (!CompareGameArms(result.blocks, result.comparison, error)) {
        result.outcome = Outcome::Failed(error);
        return result;
    }
    result.outcome = Outcome::Done();
    return result;
}
