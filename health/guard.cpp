#include "health/guard.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/scheduled_task.h"
#include "foundation/service_config.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "health/monitor.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "service/step_catalogue.h"

namespace {

// The copy a task runs.
bool PlaceCopy(const std::wstring& installed) {
    const std::wstring running = RunningExecutablePath(260);
    if (running.empty()) return false;
    if (SamePath(running, installed)) return true;
    if (!PrepareInstallDirectory()) return false;
    std::wstring error;
    if (CopyOwnImageTo(installed, error)) return true;
    // A copy that cannot be replaced (the service runs it) is fine when it is this very program.
    return SameAsOwnImage(installed);
}

}  // namespace

bool PlaceInstalledCopy(const std::wstring& installed) { return PlaceCopy(installed); }

std::wstring ExecutableFromBinaryPath(const std::wstring& binaryPath) {
    if (!binaryPath.empty() && binaryPath.front() == L'"') {
        const size_t close = binaryPath.find(L'"', 1);
        return binaryPath.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return binaryPath.substr(0, binaryPath.find(L' '));
}

void MarkGuard(const wchar_t* name) { WriteStateDword(name, 1); }

bool IsGuardSet(const wchar_t* name) {
    uint32_t value = 0;
    return ReadStateDword(name, value) && value != 0;
}

void EnsureGuardTask() {
    const std::wstring installed = InstalledExePath();
    if (!PlaceInstalledCopy(installed)) {
        AppendLogLine(FormatText(L"Could not create the %ls startup task: the program could not be copied to %ls.", kGuardTask,
                                 installed.c_str()));
        return;
    }
    // From a full definition: made from the command line, a boot task takes the schema's defaults,
    // which keep it from starting on battery and stop it after 72 hours.
    ScheduledTaskDefinition task;
    task.start = ScheduledTaskDefinition::Start::AtBoot;
    task.account = kSystemAccount;
    task.description = L"Re-applies the settings Quorvantis hardened at every startup.";
    task.command = installed;
    task.arguments = L"--guard";
    std::wstring error;
    if (RegisterScheduledTask(SystemToolPath(L"schtasks.exe"), kGuardTask, task, error)) {
        AppendLogLine(FormatText(L"%ls will re-apply hardened settings at startup.", kGuardTask));
    } else {
        AppendLogLine(FormatText(L"Could not create the %ls startup task. %ls", kGuardTask, error.c_str()));
    }
}

namespace {

// What each area's hardening says it did.
const wchar_t* HardenedText(const std::wstring& area) {
    if (area == L"timer") return L"Timer service hardened: automatic start, restart if it stops, and a startup guard.";
    if (area == L"ppm") {
        return L"CPU power settings hardened on every power plan so a plan change cannot restore the defaults.";
    }
    if (area == L"storage") return L"Storage settings hardened on every power plan. SysMain stays disabled.";
    if (area == L"gpu") return L"Graphics services that should stay off are pinned disabled, and Game DVR policy is locked off.";
    if (area == L"memory") return L"Memory compression is set to stay off, including from the startup guard.";
    return L"";
}

// Re-applies what the area's step hardens; false when there is nothing installed to harden.
bool ReapplyArea(const StepEntry& step) {
    if (step.slot == SlotService) return HardenTimerService();
    if (step.harden == nullptr) return false;
    step.harden();
    return true;
}

}  // namespace

void HardenArea(const std::wstring& area) {
    const StepEntry* step = StepOfArea(area);
    if (step == nullptr || step->guardMark == nullptr) return;
    if (!ReapplyArea(*step)) {
        // Nothing installed to harden: no guard mark and no startup task for it.
        if (step->slot == SlotService) AppendLogLine(L"The timer service is not installed, so it was not hardened.");
        return;
    }
    MarkGuard(step->guardMark);
    EnsureGuardTask();
    AppendLogLine(HardenedText(area));
}

int RunGuard() {
    // An area is kept up only while it is both hardened and still applied: an uninstall that
    // could not remove this task must not have its work undone at the next boot.
    std::vector<const StepEntry*> kept;
    for (const StepEntry& step : StepCatalogue()) {
        if (step.guardMark != nullptr && IsGuardSet(step.guardMark) && IsAreaApplied(step.area)) kept.push_back(&step);
    }
    if (kept.empty()) {
        AppendLogLine(L"Startup guard: nothing is installed, so there is nothing to keep.");
        return 0;
    }
    AppendLogLine(L"Startup guard");
    for (const StepEntry* step : kept) ReapplyArea(*step);
    return 0;
}

void RemoveStaleServices() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return;
    if (UniqueServiceHandle(OpenServiceW(manager.get(), kLegacyServiceName, SERVICE_QUERY_STATUS))) {
        AppendLogLine(L"Removing the unused Brevitron service left by an older build.");
        StopServiceByName(kLegacyServiceName);
        RemoveLegacyService();
    }
    std::wstring executable;
    {
        const UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
        if (!service) return;
        const std::vector<BYTE> block = QueryServiceConfigBlock(service.get());
        const QUERY_SERVICE_CONFIGW* config = ServiceConfigOf(block);
        if (config == nullptr) return;
        const wchar_t* path = config->lpBinaryPathName;
        executable = ExecutableFromBinaryPath(path != nullptr ? path : L"");
    }
    if (executable.empty() || FileExists(executable)) return;
    AppendLogLine(L"Removing the Quorvantis service because its program file is gone.");
    const UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    StopServiceByName(kServiceName);
    if (service) DeleteService(service.get());
}
