#include "support/game_capture_stand_in.h"

#include <algorithm>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "foundation/text.h"
#include "support/test_support.h"
#include "timer/timer_kernel.h"

namespace {

std::string FormatUtf8(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof(buffer), format, arguments);
    va_end(arguments);
    return buffer;
}

}  // namespace

GameCaptureStandIn::GameCaptureStandIn(const GameModel& model, uint32_t heldPeriod, uint64_t seed)
    : game_(model, seed), heldPeriod_(heldPeriod) {}

Outcome GameCaptureStandIn::Prepare(const std::atomic<bool>&) {
    ++prepared;
    return prepareError.empty() ? Outcome::Done() : Outcome::Failed(prepareError);
}

Outcome GameCaptureStandIn::Capture(const std::wstring& processName, uint32_t seconds, const std::wstring& csvPath,
                                    const std::atomic<bool>& stop) {
    uint32_t coarsest = 0, finest = 0, current = 0;
    CurrentTimerKernel().QueryResolution(coarsest, finest, current);
    periods.push_back(current);
    if (static_cast<int>(periods.size()) - 1 == stopDuring && stopFlag != nullptr) stopFlag->store(true);
    if (stop.load()) return Outcome::Stopped();
    const bool released = current > heldPeriod_;
    const std::string name = ToUtf8(processName);
    std::string csv =
        "Application,ProcessID,SwapChainAddress,PresentRuntime,SyncInterval,PresentFlags,AllowsTearing,PresentMode,"
        "CPUStartTime,MsBetweenSimulationStart,MsBetweenPresents,MsBetweenDisplayChange,MsInPresentAPI,"
        "MsRenderPresentLatency,MsUntilDisplayed,MsPCLatency,MsBetweenAppStart,MsCPUBusy,MsCPUWait\r\n";
    const int index = static_cast<int>(periods.size()) - 1;
    const auto among = [index](const std::vector<int>& list) { return std::find(list.begin(), list.end(), index) != list.end(); };
    if (among(noFile)) return Outcome::Done();
    if (among(headerOnly)) return WriteFileBytes(csvPath, csv) ? Outcome::Done() : Outcome::Failed(L"The stand-in could not write " + csvPath);
    double at = 0;
    const double end = game_.ElapsedSeconds() + seconds;
    for (int frame = 0; game_.ElapsedSeconds() < end; ++frame) {
        const double ms = game_.Next(released);
        at += ms;
        // The tool writes "NA" where a frame has no figure; the overlay's swap chain is captured too.
        const std::string value = frame % 997 == 5 ? std::string("NA") : FormatUtf8("%.4f", ms);
        csv += FormatUtf8("%s,4312,0x1F0,DXGI,0,512,1,Hardware: Independent Flip,%.4f,NA,%.4f,%.4f,0.21,1.2,3.1,NA,%s,%.3f,%.3f\r\n",
                          name.c_str(), at, ms, ms, value.c_str(), ms * 0.7, ms * 0.3);
        if (frame % 500 == 0) csv += "overlay.exe,880,0x2A0,DXGI,1,0,0,Composed: Flip,0.0,NA,16.6,16.6,0.1,0.5,2.0,NA,16.6,1.0,15.6\r\n";
    }
    return WriteFileBytes(csvPath, csv) ? Outcome::Done() : Outcome::Failed(L"The stand-in could not write " + csvPath);
}
