#include "health/guard.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/gpu_catalogue.h"
#include "gpu/gpu_tweaks.h"
#include "health/monitor.h"
#include "foundation/service_backup.h"
#include "service/service_control.h"
#include "service/service_install.h"
#include "tweaks/power_rows.h"
#include "tweaks/memory_storage.h"
#include "tweaks/power_store.h"
#include "tweaks/tweak_walk.h"

namespace {

constexpr uint32_t kMaxSchemes = 64;

// Every plan gets the rows, each plan's own values on record first, so the uninstall can put
// back the plans the steps never touched as well.
void WriteRowsToEveryScheme(std::span<const PowerSettingRow> rows, const wchar_t* backupPrefix) {
    PowerStore& store = CurrentPowerStore();
    for (uint32_t index = 0; index < kMaxSchemes; ++index) {
        GUID scheme{};
        if (!store.EnumerateScheme(index, scheme)) break;
        for (const PowerSettingRow& row : rows) {
            uint32_t ac = 0, dc = 0;
            const bool acRead = store.ReadValue(scheme, row.subgroup, row.setting, PowerSource::Ac, ac);
            const bool dcRead = store.ReadValue(scheme, row.subgroup, row.setting, PowerSource::Dc, dc);
            RecordPowerRowOnce(backupPrefix, row, scheme, acRead, ac, dcRead, dc);
            store.WriteValue(scheme, row.subgroup, row.setting, PowerSource::Ac, row.value);
            store.WriteValue(scheme, row.subgroup, row.setting, PowerSource::Dc, row.value);
        }
    }
}

void PinGpuServicesAndGameDvr() {
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.kind == GpuTweakKind::Service) PinServiceDisabled(row.serviceName);
    }
    const wchar_t* policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\GameDVR";
    RecordGpuValue(L"GAMEDVR", policy, L"AllowGameDVR");
    WriteDword(RegRoot::LocalMachine, policy, L"AllowGameDVR", 0);
}

void DisableMemoryCompression() {
    RunPowerShell(L"Disable-MMAgent -MemoryCompression -ErrorAction SilentlyContinue; exit 0", 20000);
}

// The task runs as SYSTEM at every boot, so it must never run a file a user could replace (a
// copy in Downloads, say): it always runs the copy under Program Files, put there first from
// the image this process started from.
bool PlaceInstalledCopy(const std::wstring& installed) {
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
        AppendLogLine(FormatText(L"Could not create the Quorvantis Guard startup task: the program could not be copied "
                                 L"to %ls.",
                                 installed.c_str()));
        return;
    }
    const std::wstring command = L"\\\"" + installed + L"\\\" --guard";
    const std::wstring arguments =
        L"/Create /F /SC ONSTART /RU SYSTEM /RL HIGHEST /TN \"Quorvantis Guard\" /TR \"" + command + L"\"";
    if (RunProcess(SystemToolPath(L"schtasks.exe"), arguments, 20000) == 0) {
        AppendLogLine(L"Quorvantis Guard will re-apply hardened settings at startup.");
    } else {
        AppendLogLine(L"Could not create the Quorvantis Guard startup task.");
    }
}

void HardenTimer() {
    {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle service(
            manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START)
                    : nullptr);
        if (!service) {
            // Nothing installed to harden: no guard mark and no startup task for it.
            AppendLogLine(L"The timer service is not installed, so it was not hardened.");
            return;
        }
        ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
        SC_ACTION restarts[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
        SERVICE_FAILURE_ACTIONSW actions{};
        actions.dwResetPeriod = 86400;
        actions.cActions = 3;
        actions.lpsaActions = restarts;
        ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
        SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
        ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
        if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            AppendLogLine(L"The timer service is set to start automatically, but it did not start this time.");
        }
    }
    MarkGuard(L"GuardTimer");
    EnsureGuardTask();
    AppendLogLine(L"Timer service hardened: automatic start, restart if it stops, and a startup guard.");
}

void HardenPowerPlans(const std::wstring& area) {
    const bool storage = area == L"storage";
    WriteRowsToEveryScheme(storage ? StoragePowerRows() : CpuTuneRows(), storage ? L"Pwr_" : L"Ppm_");
    if (storage) PinServiceDisabled(L"SysMain");
    MarkGuard(storage ? L"GuardStorage" : L"GuardPpm");
    EnsureGuardTask();
    AppendLogLine(storage ? L"Storage settings hardened on every power plan. SysMain stays disabled."
                          : L"CPU power settings hardened on every power plan so a plan change cannot restore the "
                            L"defaults.");
}

void HardenGpu() {
    PinGpuServicesAndGameDvr();
    MarkGuard(L"GuardGpu");
    EnsureGuardTask();
    AppendLogLine(L"Graphics services that should stay off are pinned disabled, and Game DVR policy is locked off.");
}

void HardenMemory() {
    TurnOffMemoryCompression();
    MarkGuard(L"GuardMemory");
    EnsureGuardTask();
    AppendLogLine(L"Memory compression is set to stay off, including from the startup guard.");
}

void HardenArea(const std::wstring& area) {
    if (area == L"timer") HardenTimer();
    else if (area == L"ppm" || area == L"storage") HardenPowerPlans(area);
    else if (area == L"gpu") HardenGpu();
    else if (area == L"memory") HardenMemory();
}

int RunGuard() {
    // An area is kept up only while it is both hardened and still applied: an uninstall that
    // could not remove this task must not have its work undone at the next boot.
    const auto guarded = [](const wchar_t* mark, const wchar_t* area) { return IsGuardSet(mark) && IsAreaApplied(area); };
    const bool timer = guarded(L"GuardTimer", L"timer"), ppm = guarded(L"GuardPpm", L"ppm"),
               storage = guarded(L"GuardStorage", L"storage"), gpu = guarded(L"GuardGpu", L"gpu"),
               memory = guarded(L"GuardMemory", L"memory");
    if (!timer && !ppm && !storage && !gpu && !memory) {
        AppendLogLine(L"Startup guard: nothing is installed, so there is nothing to keep.");
        return 0;
    }
    AppendLogLine(L"Startup guard");
    if (timer) HardenTimer();
    if (ppm) WriteRowsToEveryScheme(CpuTuneRows(), L"Ppm_");
    if (storage) {
        WriteRowsToEveryScheme(StoragePowerRows(), L"Pwr_");
        PinServiceDisabled(L"SysMain");
    }
    if (gpu) PinGpuServicesAndGameDvr();
    if (memory) DisableMemoryCompression();
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
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed > 0 ? needed : 1);
        if (!QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                 static_cast<DWORD>(buffer.size()), &needed)) {
            return;
        }
        const wchar_t* path = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName;
        executable = ExecutableFromBinaryPath(path != nullptr ? path : L"");
    }
    if (executable.empty() || FileExists(executable)) return;
    AppendLogLine(L"Removing the Quorvantis service because its program file is gone.");
    const UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    StopServiceByName(kServiceName);
    if (service) DeleteService(service.get());
}
