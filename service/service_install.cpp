#include "service/service_install.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/product.h"
#include "foundation/protected_folder.h"
#include "foundation/scheduled_task.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/windows_version.h"
#include "service/service_control.h"
#include "service/service_wait.h"
#include "service/step_ledger.h"
#include "foundation/pacing.h"
#include "timer/timer_kernel.h"

namespace {

constexpr const wchar_t* kStep = L"Timer service";
constexpr const wchar_t* kGlobalId = L"timer.global";
const std::vector<std::wstring> kGlobalRecords{L"GlobalFlagSaved", L"GlobalFlagHadValue", L"GlobalFlagPrevious"};

// The global flag, with how it was on record first: type and bytes as they were, so an
// uninstall can put exactly that back. The first install's record is kept for good.
PlannedChange GlobalFlagChange() {
    ChangeRow row;
    row.id = kGlobalId;
    row.step = kStep;
    row.setting = RegistryValuePlace(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue);
    uint32_t saved = 0, had = 0;
    RegistryValue previous, current;
    if (ReadStateDword(L"GlobalFlagSaved", saved) && saved != 0) {
        row.recorded = true;
        ReadStateDword(L"GlobalFlagHadValue", had);
        row.original = RegistryValueText(had != 0 && ReadStateRaw(L"GlobalFlagPrevious", previous), previous);
    }
    const bool present = ReadRawValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, current);
    row.currentRead = true;
    row.current = RegistryValueText(present, current);
    row.ours = RegistryValueText(DwordValue(1));
    row.state = JudgePlanned(row);
    return PlannedChange{std::move(row), 0,
                         [] {
                             uint32_t recorded = 0;
                             if (ReadStateDword(L"GlobalFlagSaved", recorded)) return;
                             RegistryValue was;
                             const bool existed = ReadRawValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, was);
                             if (existed) WriteStateRaw(L"GlobalFlagPrevious", was);
                             else WriteStateDword(L"GlobalFlagPrevious", 0);
                             WriteStateDword(L"GlobalFlagHadValue", existed ? 1 : 0);
                             WriteStateDword(L"GlobalFlagSaved", 1);
                         },
                         [] {
                             uint32_t now = 0;
                             if (ReadDword(kKernelKey, kGlobalTimerValue, now) && now == 1) return true;
                             if (!WriteDword(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, 1)) return false;
                             LogInfo(L"Set GlobalTimerResolutionRequests=1 (system-wide requests; takes full effect after the next "
                                     L"reboot).");
                             if (!GlobalTimerRequestsHonoured()) LogInfo(kPerProcessSentence);
                             return true;
                         }};
}

std::wstring ServiceText(uint32_t resolution) {
    return resolution != 0 ? FormatText(L"installed, holding %.4f ms", resolution / 10000.0)
                           : std::wstring(L"installed, holding the period the benchmark picks");
}

// The service as it is now, in the words of its rows.
std::wstring ServiceNow() {
    uint32_t desired = 0;
    if (QueryTimerServiceState() == TimerServiceState::NotInstalled) return L"not installed";
    return ReadStateDword(L"DesiredResolution", desired) ? ServiceText(desired) : std::wstring(L"installed");
}

std::wstring ServicePlace() { return FormatText(L"service %ls (automatic, LocalSystem)", kServiceName); }

// Restarted 5 s after a first and second failure and a minute after later ones, counted afresh each day.
void SetRestartOnFailure(SC_HANDLE service) {
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 86400;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

void ConfigureServiceExtras(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(kServiceDescription)};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    SetRestartOnFailure(service);
}

UniqueServiceHandle CreateOrReconfigure(SC_HANDLE manager, const std::wstring& binaryPath) {
    UniqueServiceHandle service(CreateServiceW(manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service || GetLastError() != ERROR_SERVICE_EXISTS) return service;
    service.reset(OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS));
    if (!service) return service;
    if (!ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, kServiceDisplayName)) {
        service.reset();
    }
    return service;
}

// The install is only a success once the kernel is seen at the resolution (or finer).
bool VerifyApplied(uint32_t resolution) {
    const ULONGLONG end = GetTickCount64() + 10000;
    uint32_t applied = 0;
    for (;;) {
        uint32_t value = 0;
        if (ReadStateDword(L"AppliedResolution", value)) applied = value;
        if (applied != 0 && applied <= resolution) {
            if (applied < resolution) {
                LogInfo(FormatText(L"Note: the kernel currently reports %.4f ms because another process asks for an "
                                   L"even finer resolution; the service's %.4f ms request is in place.",
                                   applied / 10000.0, resolution / 10000.0));
            }
            return true;
        }
        if (GetTickCount64() >= end) break;
        Sleep(200);
    }
    LogError(FormatText(L"Service is running but the kernel reports %.4f ms instead of %.4f ms (see the log).",
                        applied / 10000.0, resolution / 10000.0));
    return false;
}

void RemoveInstalledExecutable() {
    const std::wstring installed = InstalledExePath();
    if (SamePath(RunningExecutablePath(520), installed)) {
        // The folder is scheduled after the file, so it is empty when its turn comes.
        if (!MoveFileExW(installed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            LogError(FormatText(L"Could not schedule %ls for deletion (error %lu); delete it manually.", installed.c_str(),
                                GetLastError()));
            return;
        }
        MoveFileExW(InstallDirectory().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        LogInfo(L"The running executable will be deleted on the next reboot.");
        return;
    }
    if (!FileExists(installed)) return;
    if (DeleteFileW(installed.c_str())) {
        RemoveDirectoryW(InstallDirectory().c_str());
        LogInfo(FormatText(L"Removed %ls", installed.c_str()));
    } else {
        LogError(FormatText(L"Could not delete %ls (error %lu); delete it manually.", installed.c_str(), GetLastError()));
    }
}

void RestoreGlobalFlag(RestoreLedger& ledger) {
    uint32_t saved = 0;
    if (!ReadStateDword(L"GlobalFlagSaved", saved) || saved == 0 || !ledger.Includes(kGlobalId)) return;
    uint32_t had = 0;
    ReadStateDword(L"GlobalFlagHadValue", had);
    RegistryValue previous;
    bool ok = false;
    if (had != 0) {
        ok = ReadStateRaw(L"GlobalFlagPrevious", previous) &&
             WriteRawValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, previous);
    } else {
        ok = DeleteRegistryValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue);
    }
    if (!ok) {
        LogError(L"GlobalTimerResolutionRequests could not be restored.");
        ledger.Failed(kGlobalRecords);
        return;
    }
    ledger.Restored(kGlobalRecords);
    LogInfo(L"Restored GlobalTimerResolutionRequests to its previous value (reboot to revert the system-wide effect).");
}

HANDLE g_holdEvent = nullptr;

// Ours and the older build's, whichever runs: neither may hold the file or the period while the
// install changes them.
void StopBothServices(const wchar_t* saying) {
    LogInfo(saying);
    StopServiceByName(kServiceName);
    StopServiceByName(kLegacyServiceName);
}

}  // namespace

bool PrepareInstallDirectory() {
    const std::wstring folder = InstallDirectory();
    switch (EnsureProtectedFolder(folder)) {
    case FolderSafety::Created:
    case FolderSafety::Safe:
        return true;
    case FolderSafety::Repaired:
        LogInfo(FolderRepairNote(folder));
        return true;
    case FolderSafety::Replaced:  // only the data folder is replaced
    case FolderSafety::Unsafe:
        break;
    }
    LogError(FormatText(L"%ls could be changed by other users and could not be repaired, so nothing is installed there.",
                        folder.c_str()));
    return false;
}

bool InstallTimerService(uint32_t resolution) {
    if (Feed* feed = CurrentFeed()) {
        feed->Stage(L"INSTALL", FormatText(L"holding %.4f ms from every boot", resolution / 10000.0));
        std::wstring paragraph = FormatText(L"Registers a Windows service that requests %.4f ms at every boot. "
                                            L"GlobalTimerResolutionRequests is set so other processes use the tighter "
                                            L"Sleep/wait timers after the next restart.",
                                            resolution / 10000.0);
        if (!GlobalTimerRequestsHonoured()) paragraph += std::wstring(L" ") + kPerProcessSentence;
        feed->Explanation(L"Installing the auto-start service", paragraph);
    }
    const std::wstring running = RunningExecutablePath(520);
    const std::wstring installed = InstalledExePath();

    if (TimerServiceInstalled()) StopBothServices(L"Stopping previously installed service...");
    {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle legacy(
            manager ? OpenServiceW(manager.get(), kLegacyServiceName, SERVICE_QUERY_STATUS) : nullptr);
        if (legacy) {
            LogInfo(L"Removing the previous Brevitron service (now Quorvantis)...");
            RemoveLegacyService();
        }
    }
    if (!SamePath(running, installed)) {
        if (!PrepareInstallDirectory()) return false;
        LogInfo(FormatText(L"Copying executable to %ls", installed.c_str()));
        std::wstring error;
        if (!CopyOwnImageTo(installed, error)) {
            LogError(error);
            return false;
        }
    }
    WriteStateDword(L"DesiredResolution", resolution);
    WriteStateString(L"InstallPath", installed);
    CommitChange(GlobalFlagChange());

    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        LogError(L"OpenSCManager failed.");
        return false;
    }
    const UniqueServiceHandle service = CreateOrReconfigure(manager.get(), L"\"" + installed + L"\" --service");
    if (!service) {
        LogError(FormatText(L"CreateService failed (error %lu).", GetLastError()));
        return false;
    }
    ConfigureServiceExtras(service.get());

    LogInfo(L"Starting service...");
    if (!StartServiceW(service.get(), 0, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            LogError(FormatText(L"StartService failed (error %lu).", error));
            return false;
        }
    }
    if (!WaitForServiceState(service.get(), SERVICE_RUNNING, 15000)) {
        LogError(L"Service did not reach RUNNING state.");
        return false;
    }
    return VerifyApplied(resolution);
}

bool RemoveTimerService() {
    bool ok = true;
    if (TimerServiceInstalled()) {
        StopBothServices(L"Stopping service...");
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueServiceHandle service(
            manager ? OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_QUERY_STATUS) : nullptr);
        if (!service || !DeleteService(service.get())) {
            const DWORD error = GetLastError();
            // Only the older build's service was there (it goes with the next step), or ours is
            // already on its way out: neither is a failure.
            if (error != ERROR_SERVICE_DOES_NOT_EXIST && error != ERROR_SERVICE_MARKED_FOR_DELETE) {
                LogError(FormatText(L"DeleteService failed (error %lu).", error));
                ok = false;
            }
        }
    } else {
        LogInfo(L"Service is not installed.");
    }
    RemoveLegacyService();
    return ok;
}

bool UninstallEverything() {
    bool ok = RemoveTimerService();
    RunProcess(SystemToolPath(L"schtasks.exe"), FormatText(L"/Delete /F /TN \"%ls\"", kGuardTask), 15000);
    // Every account's "Start with Windows" task: each starts the copy that is about to go.
    for (const std::wstring& task : RecordedTrayTasks()) {
        RunProcess(SystemToolPath(L"schtasks.exe"), FormatText(L"/Delete /F /TN \"%ls\"", task.c_str()), 15000);
        DeleteRegistryValue(RegRoot::LocalMachine, kStateKey, OwnTaskRecord(task));
    }
    // Every restore acts on whatever records exist, so a cancelled or half-failed run is undone
    // as well, each step in its turn.
    RestoreLedger ledger;
    RestoreRecordedSteps(ledger);
    ClearStateKeepingRecords(ledger);
    // What could not be put back waits for the next uninstall; it is no longer a tune to maintain.
    if (ledger.FailedCount() > 0) WriteStateDword(L"RestorePending", 1);
    RemoveInstalledExecutable();
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kOldRunKey, kOldRunValue);
    if (ledger.FailedCount() > 0) {
        LogError(FormatText(L"%d setting(s) could not be restored; their records are kept. Run --uninstall again to retry "
                            L"them.",
                            ledger.FailedCount()));
        ok = false;
    }
    return ok;
}

BOOL WINAPI ConsoleHoldControlHandler(DWORD) {
    if (g_holdEvent != nullptr) SetEvent(g_holdEvent);
    return TRUE;
}

int HoldResolutionInConsole(uint32_t resolution) {
    TimerKernel& kernel = CurrentTimerKernel();
    uint32_t coarsest = 0, finest = 0, current = 0;
    if (kernel.QueryResolution(coarsest, finest, current) != 0) {
        LogError(L"NtQueryTimerResolution failed.");
        return 1;
    }
    uint32_t target = resolution != 0 && resolution >= finest ? resolution : finest;
    if (coarsest != 0 && coarsest < target) target = coarsest;

    // Listening for Ctrl+C starts before the request, so no control can slip past the hold.
    const UniqueKernelHandle released(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_holdEvent = released.get();
    SetConsoleCtrlHandler(ConsoleHoldControlHandler, TRUE);
    const auto stopListening = [] {
        SetConsoleCtrlHandler(ConsoleHoldControlHandler, FALSE);
        g_holdEvent = nullptr;
    };

    KeepResolutionRequestsHonoured();
    uint32_t actual = 0;
    if (kernel.SetResolution(target, true, actual) != 0) {
        stopListening();
        LogError(L"NtSetTimerResolution failed.");
        return 1;
    }
    LogInfo(FormatText(L"Holding timer resolution at %.4f ms in this process. Ctrl+C to release.", actual / 10000.0));
    if (QueryTimerServiceState() == TimerServiceState::Running) {
        LogInfo(L"(The Quorvantis service is also running; the lower of the two requests wins.)");
    }
    WaitForSingleObject(released.get(), INFINITE);
    stopListening();

    kernel.SetResolution(target, false, actual);
    LogInfo(L"\nResolution released.");
    return 0;
}

StepPlan PlanInstall(const PlanContext& context) {
    StepPlan plan;
    plan.step = kStep;
    PlannedChange flag = GlobalFlagChange();
    plan.changes.push_back(std::move(flag));
    // The service and its copy are this program's own: the uninstall removes them, no record needed.
    ChangeRow service;
    service.id = L"timer.service";
    service.setting = ServicePlace();
    service.keeping = ChangeKeeping::Own;
    service.currentRead = true;
    service.current = ServiceNow();
    service.ours = ServiceText(context.resolution);
    service.state = JudgePlanned(service);
    plan.Add(std::move(service), 0, nullptr, nullptr);
    ChangeRow copy;
    copy.id = L"timer.copy";
    copy.setting = L"file " + InstalledExePath();
    copy.keeping = ChangeKeeping::Own;
    copy.currentRead = true;
    copy.current = FileExists(InstalledExePath()) ? L"present" : L"absent";
    copy.ours = L"this program's copy";
    copy.state = ChangeState::WouldChange;
    plan.Add(std::move(copy), 0, nullptr, nullptr);
    return plan;
}

void LedgerInstall(std::vector<ChangeRow>& out) {
    if (QueryTimerServiceState() != TimerServiceState::NotInstalled) {
        ChangeRow service;
        service.id = L"timer.service";
        service.step = kStep;
        service.setting = ServicePlace();
        service.keeping = ChangeKeeping::Own;
        service.recorded = true;
        service.original = L"not installed";
        service.currentRead = true;
        service.current = ServiceNow();
        service.ours = service.current;
        service.state = ChangeState::StillOurs;
        out.push_back(std::move(service));
    }
    if (FileExists(InstalledExePath())) {
        ChangeRow copy;
        copy.id = L"timer.copy";
        copy.step = kStep;
        copy.setting = L"file " + InstalledExePath();
        copy.keeping = ChangeKeeping::Own;
        copy.recorded = true;
        copy.original = L"absent";
        copy.currentRead = true;
        copy.current = L"present";
        copy.ours = L"present";
        copy.state = ChangeState::StillOurs;
        out.push_back(std::move(copy));
    }
    uint32_t saved = 0;
    if (!ReadStateDword(L"GlobalFlagSaved", saved) || saved == 0) return;
    ChangeRow flag = GlobalFlagChange().row;
    flag.state = JudgeRecorded(flag);
    out.push_back(std::move(flag));
}

void RestoreInstall(RestoreLedger& ledger) { RestoreGlobalFlag(ledger); }

bool HardenTimerService() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START)
                : nullptr);
    if (!service) return false;
    ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
    SetRestartOnFailure(service.get());
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
    if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        AppendLogLine(L"The timer service is set to start automatically, but it did not start this time.");
    }
    return true;
}
