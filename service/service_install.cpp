#include "service/service_install.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/own_image.h"
#include "foundation/protected_folder.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/windows_version.h"
#include "service/service_control.h"
#include "service/service_wait.h"
#include "foundation/pacing.h"
#include "timer/timer_kernel.h"
#include "gpu/gpu_tweaks.h"
#include "tweaks/cpu_tune.h"
#include "tweaks/memory_storage.h"
#include "tweaks/restore_point.h"

namespace {

// The first install records how the global flag was, type and bytes as they were, so an
// uninstall can put exactly that back.
void RecordAndSetGlobalFlag() {
    RegistryValue previous;
    const bool had = ReadRawValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, previous);
    uint32_t saved = 0;
    if (!ReadStateDword(L"GlobalFlagSaved", saved)) {
        if (had) WriteStateRaw(L"GlobalFlagPrevious", previous);
        else WriteStateDword(L"GlobalFlagPrevious", 0);
        WriteStateDword(L"GlobalFlagHadValue", had ? 1 : 0);
        WriteStateDword(L"GlobalFlagSaved", 1);
    }
    uint32_t current = 0;
    const bool isOne = ReadDword(kKernelKey, kGlobalTimerValue, current) && current == 1;
    if (!isOne) {
        WriteDword(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, 1);
        LogInfo(L"Set GlobalTimerResolutionRequests=1 (system-wide requests; takes full effect after the next reboot).");
        if (!GlobalTimerRequestsHonoured()) LogInfo(kPerProcessSentence);
    }
}

void ConfigureServiceExtras(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(kServiceDescription)};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 86400;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
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
    if (!ReadStateDword(L"GlobalFlagSaved", saved) || saved == 0) return;
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
        ledger.Failed({L"GlobalFlagSaved", L"GlobalFlagHadValue", L"GlobalFlagPrevious"});
        return;
    }
    ledger.Restored();
    LogInfo(L"Restored GlobalTimerResolutionRequests to its previous value (reboot to revert the system-wide effect).");
}

HANDLE g_holdEvent = nullptr;

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

    if (TimerServiceInstalled()) {
        LogInfo(L"Stopping previously installed service...");
        StopServiceByName(kServiceName);
        StopServiceByName(kLegacyServiceName);
    }
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
    RecordAndSetGlobalFlag();

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

bool UninstallEverything() {
    bool ok = true;
    if (TimerServiceInstalled()) {
        LogInfo(L"Stopping service...");
        StopServiceByName(kServiceName);
        StopServiceByName(kLegacyServiceName);
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
    RunProcess(SystemToolPath(L"schtasks.exe"), L"/Delete /F /TN \"Quorvantis Guard\"", 15000);
    // Every restore acts on whatever records exist, so a cancelled or half-failed run is undone
    // as well. The plan goes back last, once every power value is in the plan it came from.
    RestoreLedger ledger;
    RestoreCpuTune(ledger);
    RestoreGpuTweaks(ledger);
    RestoreMemory(ledger);
    RestoreStorage(ledger);
    RestorePowerPlan(ledger);
    RecoverRestorePointFrequency(&ledger);
    RestoreGlobalFlag(ledger);
    ClearStateKeepingRecords(ledger);
    // What could not be put back waits for the next uninstall; it is no longer a tune to maintain.
    if (ledger.FailedCount() > 0) WriteStateDword(L"RestorePending", 1);
    RemoveInstalledExecutable();
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quorvantis");
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
    if (QueryTimerServiceState() == 1) {
        LogInfo(L"(The Quorvantis service is also running; the lower of the two requests wins.)");
    }
    WaitForSingleObject(released.get(), INFINITE);
    stopListening();

    kernel.SetResolution(target, false, actual);
    LogInfo(L"\nResolution released.");
    return 0;
}

void DescribeInstall(bool planned, uint32_t resolution, std::vector<ChangeRow>& out) {
    const std::wstring step = L"Timer service";
    uint32_t saved = 0, had = 0;
    const bool recorded = ReadStateDword(L"GlobalFlagSaved", saved) && saved != 0;
    if (planned || recorded) {
        ChangeRow flag;
        flag.step = step;
        flag.setting = RegistryValuePlace(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue);
        RegistryValue previous, current;
        if (recorded) {
            flag.recorded = true;
            ReadStateDword(L"GlobalFlagHadValue", had);
            flag.original = RegistryValueText(had != 0 && ReadStateRaw(L"GlobalFlagPrevious", previous), previous);
        }
        const bool present = ReadRawValue(RegRoot::LocalMachine, kKernelKey, kGlobalTimerValue, current);
        flag.currentRead = true;
        flag.current = RegistryValueText(present, current);
        flag.ours = RegistryValueText(DwordValue(1));
        flag.state = planned ? JudgePlanned(flag) : JudgeRecorded(flag);
        out.push_back(std::move(flag));
    }
    if (!planned) return;
    // The service and its copy are this program's own: the uninstall removes them, no record needed.
    uint32_t desired = 0;
    const int state = QueryTimerServiceState();
    ChangeRow service;
    service.step = step;
    service.setting = FormatText(L"service %ls (automatic, LocalSystem)", kServiceName);
    service.currentRead = true;
    service.current = state == 0 ? std::wstring(L"not installed")
                      : ReadStateDword(L"DesiredResolution", desired)
                          ? FormatText(L"installed, holding %.4f ms", desired / 10000.0)
                          : std::wstring(L"installed");
    service.ours = resolution != 0 ? FormatText(L"installed, holding %.4f ms", resolution / 10000.0)
                                   : std::wstring(L"installed, holding the period the benchmark picks");
    service.state = JudgePlanned(service);
    out.push_back(service);
    ChangeRow copy;
    copy.step = step;
    copy.setting = L"file " + InstalledExePath();
    copy.currentRead = true;
    copy.current = FileExists(InstalledExePath()) ? L"present" : L"absent";
    copy.ours = L"this program's copy";
    copy.state = ChangeState::WouldChange;
    out.push_back(std::move(copy));
}

std::vector<ChangeRow> RecordedChanges() {
    std::vector<ChangeRow> rows;
    DescribePrepare(false, rows);
    DescribeInstall(false, 0, rows);
    DescribeCpuTune(false, rows);
    DescribeGpuTweaks(false, rows);
    DescribeMemory(false, rows);
    DescribeStorage(false, rows);
    return rows;
}

std::vector<std::wstring> UninstallPlan(const std::vector<ChangeRow>& rows) {
    std::vector<std::wstring> plan;
    if (TimerServiceInstalled()) plan.push_back(FormatText(L"stop and remove the %ls service", kServiceName));
    bool guarded = false;
    for (const wchar_t* mark : {L"GuardTimer", L"GuardPpm", L"GuardStorage", L"GuardGpu", L"GuardMemory"}) {
        guarded = guarded || StateValueExists(mark);
    }
    if (guarded) plan.push_back(L"remove the startup guard task \"Quorvantis Guard\"");
    int putBack = 0, changedSince = 0, restoredAlready = 0;
    for (const ChangeRow& row : rows) {
        if (!row.recorded) continue;
        if (row.state == ChangeState::AlreadyRestored) ++restoredAlready;
        else ++putBack;
        if (row.state == ChangeState::ChangedSince) ++changedSince;
    }
    if (putBack > 0) {
        plan.push_back(FormatText(L"put back %d setting(s) to the values on record%ls", putBack,
                                  changedSince > 0
                                      ? FormatText(L" (%d changed since by someone else also get their recorded value back)",
                                                   changedSince)
                                            .c_str()
                                      : L""));
    }
    if (restoredAlready > 0) plan.push_back(FormatText(L"drop %d record(s) whose setting is already back", restoredAlready));
    std::wstring text;
    if (ReadStateString(L"PpmPreviousScheme", text)) plan.push_back(L"make power plan " + text + L" active again");
    if (ReadStateString(L"PpmCreatedScheme", text)) plan.push_back(L"delete the Ultimate Performance plan it made, " + text);
    if (FileExists(InstalledExePath())) plan.push_back(L"delete " + InstalledExePath());
    plan.push_back(L"turn \"Maintain timing\" off and delete HKLM\\" + std::wstring(kStateKey));
    return plan;
}
