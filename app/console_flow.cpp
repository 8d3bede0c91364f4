#include "app/console_flow.h"

#include "app/console_benchmark.h"
#include "app/console_tweaks.h"
#include "foundation/elevation.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/windows_version.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "timer/report.h"
#include "timer/sampling.h"

namespace {

double Ms(uint32_t units) { return units / 10000.0; }

// The resolution the user named, kept within what the kernel can do.
uint32_t ClampRequestedResolution(uint32_t requested) {
    uint32_t coarsest = 0, finest = 0, current = 0;
    QueryTimerRange(coarsest, finest, current);
    uint32_t n = requested;
    if (n < finest) {
        LogInfo(FormatText(L"Requested %lu is below the kernel fastest %lu; clamping.", static_cast<unsigned long>(n),
                           static_cast<unsigned long>(finest)));
        n = finest;
    }
    if (coarsest != 0 && coarsest < n) {
        LogInfo(FormatText(L"Requested %lu is above the kernel slowest %lu; clamping.", static_cast<unsigned long>(n),
                           static_cast<unsigned long>(coarsest)));
        n = coarsest;
    }
    LogInfo(FormatText(L"Using requested resolution: %lu (%.4f ms)", static_cast<unsigned long>(n), Ms(n)));
    return n;
}

// Returns the selected period, or 0 after reporting why nothing will be installed.
uint32_t BenchmarkForInstall(const Options& options, PausedTimerService& pause) {
    const BenchmarkResult result = RunPausedBenchmark(ChooseFidelity(options), pause);
    if (result.selected == 0) {
        LogError(result.errorText.empty() ? std::wstring(L"Benchmark failed; nothing was installed.")
                                          : result.errorText + L" Nothing was installed.");
        if (!result.scanPath.empty() && FileExists(result.scanPath)) {
            LogInfo(FormatText(L"Per-candidate data: %ls", result.scanPath.c_str()));
        }
        LogInfo(L"To pin a value anyway: Quorvantis.exe --install --resolution <100-ns units>");
        return 0;
    }
    PrintBenchmarkSummary(result);
    RecordBenchmarkForInstall(result.firstNeverMissing, result.loopStats.median);
    return result.selected;
}

void PrintReview() {
    static constexpr const wchar_t* kLines[] = {
        L"Restart when you are ready. Windows cannot change BIOS, so set these by hand:",
        L"  Lock the CPU multiplier. Disable Intel Turbo / EIST / Speed Shift, or AMD PBO / Precision Boost.",
        L"  Disable deep C-states. Leave C1 if the machine will not POST without it.",
        L"  Enable XMP (Intel) or DOCP (AMD) at the RAM's rated frequency, and DRAM voltage if the profile needs it.",
        L"  SATA/NVMe in AHCI. Enable Above 4G / Resizable BAR if you want ReBAR.",
    };
    for (const wchar_t* line : kLines) LogInfo(line);
}

}  // namespace

int RunConsoleFlow(const Options& options, bool full) {
    ConsoleRestorePointStep(options);
    PausedTimerService pause;
    uint32_t n = 0;
    if (options.resolution != 0) {
        n = ClampRequestedResolution(options.resolution);
    } else {
        n = BenchmarkForInstall(options, pause);
        if (n == 0) return 2;
    }
    if (full && !Confirm(options, FormatText(L"Install the auto-start service at %.4f ms?", Ms(n)), true)) {
        LogInfo(L"Cancelled. Nothing was changed (use --apply for a one-off session).");
        return 0;
    }
    if (!InstallTimerService(n)) {
        LogError(L"Install failed; see the log for details.");
        return 1;
    }
    pause.HandedOver();  // the install started the service with its new resolution
    LogInfo(FormatText(L"\nInstalled. The '%ls' service (auto-start, LocalSystem) is now holding %.4f ms and will do so "
                       L"at every boot.",
                       kServiceName, Ms(n)));
    uint32_t global = 0;
    if (ReadDword(kKernelKey, kGlobalTimerValue, global) && global == 1) {
        LogInfo(L"Note: GlobalTimerResolutionRequests is set, so this request applies system-wide rather than only "
                L"per-process once the machine has rebooted with the flag present. The service itself is already "
                L"holding the resolution now.");
        if (!GlobalTimerRequestsHonoured()) LogInfo(kPerProcessSentence);
    }
    LogInfo(L"Check anytime with:  Quorvantis.exe --status");
    LogInfo(L"Remove with:          Quorvantis.exe --uninstall");
    // The tweak steps' own outcomes never stop the flow.
    ConsolePpmStep(options);
    ConsoleGpuStep(options);
    ConsoleAfterburnerStep(options);
    ConsoleMemoryStep(options);
    ConsoleStorageStep(options);
    PrintReview();
    return 0;
}

int ShowStatus(Json* document) {
    uint32_t coarsest = 0, finest = 0, current = 0;
    QueryTimerRange(coarsest, finest, current);
    LogInfo(FormatText(L"Current timer resolution: %.4f ms (kernel range %.4f-%.4f ms)", Ms(current), Ms(finest),
                       Ms(coarsest)));
    uint32_t global = 0;
    const bool globalRead = ReadDword(kKernelKey, kGlobalTimerValue, global);
    LogInfo(FormatText(L"GlobalTimerResolutionRequests: %ls",
                       !globalRead ? L"<not set> (per-process only)"
                                   : (global != 0 ? L"1 (system-wide requests)" : L"0 (per-process only)")));
    if (globalRead && global != 0 && !GlobalTimerRequestsHonoured()) LogInfo(kPerProcessSentence);

    uint32_t desired = 0, applied = 0;
    const bool haveDesired = ReadStateDword(L"DesiredResolution", desired);
    ReadStateDword(L"AppliedResolution", applied);
    const TimerServiceState serviceState = QueryTimerServiceState();
    switch (serviceState) {
    case TimerServiceState::NotInstalled:
        LogInfo(L"Service: not installed. Run Quorvantis.exe to benchmark and install it.");
        break;
    case TimerServiceState::Running: {
        const wchar_t* suffix = L"";
        if (desired != 0 && applied != 0 && applied < desired) suffix = L" (another process asks for finer)";
        if (desired != 0 && applied != 0 && applied > desired) suffix = L" (request NOT honoured)";
        LogInfo(FormatText(L"Service: RUNNING (auto-start, LocalSystem), requesting %.4f ms; kernel reports %.4f ms%ls",
                           Ms(desired), Ms(applied), suffix));
        break;
    }
    case TimerServiceState::Stopped:
        LogInfo(L"Service: installed but not running (see --start).");
        break;
    }
    if (haveDesired) {
        LogInfo(FormatText(L"Configured resolution: %lu (%.4f ms) at %ls", static_cast<unsigned long>(desired),
                           Ms(desired), InstalledExePath().c_str()));
    }
    const bool ppm = ShowPpmStatus();
    const bool gpu = ShowGpuStatus();
    if (document != nullptr) {
        Json timer = Json::Object();
        timer.Set("current_ms", Ms(current)).Set("finest_ms", Ms(finest)).Set("coarsest_ms", Ms(coarsest));
        Json service = Json::Object();
        service.Set("state", serviceState == TimerServiceState::NotInstalled ? L"not-installed"
                             : serviceState == TimerServiceState::Running    ? L"running"
                                                                             : L"stopped");
        service.Set("requested_ms", haveDesired ? Json(Ms(desired)) : Json());
        service.Set("kernel_ms", serviceState == TimerServiceState::Running && applied != 0 ? Json(Ms(applied)) : Json());
        service.Set("path", haveDesired ? Json(InstalledExePath()) : Json());
        document->Set("timer", std::move(timer));
        document->Set("global_timer_requests", globalRead ? Json(global) : Json());
        document->Set("service", std::move(service));
        document->Set("cpu_tune_applied", ppm);
        document->Set("gpu_config_applied", gpu);
    }
    return 0;
}

void RecordBenchmarkForInstall(uint32_t firstNeverMissing, double loopMedianMs) {
    WriteStateDword(L"BenchmarkBoundary", firstNeverMissing);
    WriteStateDword(L"BenchmarkMedianMicroMs", static_cast<uint32_t>(loopMedianMs * 1000));
}

int InstallWorker(Feed* feed, uint32_t resolution) {
    SetCurrentFeed(feed);
    int result = 2;
    if (IsElevated()) {
        result = InstallTimerService(resolution) ? 0 : 1;
    } else {
        if (feed != nullptr) feed->LogLine(L"Requesting administrator privileges (approve the UAC prompt)...");
        if (!RelaunchElevated({L"--resolution", std::to_wstring(resolution), L"--yes", L"--elevated"}) && feed != nullptr) {
            feed->LogLine(L"ERROR: elevation was declined or failed.");
        }
    }
    SetCurrentFeed(nullptr);
    return result;
}
