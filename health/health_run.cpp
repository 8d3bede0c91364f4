#include <windows.h>
#include <tlhelp32.h>

#include <atomic>

#include <vector>

#include "foundation/log.h"
#include "foundation/service_config.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/windows_version.h"
#include "gpu/adapters.h"
#include "gpu/driver_profile.h"
#include "gpu/gpu_catalogue.h"
#include "health/health_check.h"
#include "health/monitor.h"
#include "health/tool_output.h"
#include "service/step_catalogue.h"
#include "timer/timer_kernel.h"
#include "tweaks/power_rows.h"
#include "tweaks/power_store.h"

namespace {

// Each check sits in the group of the step it answers for, under the caption the catalogue gives.
const wchar_t* GroupOf(int slot) { return StepAt(slot).group; }
const wchar_t* const kGroupTimer = GroupOf(SlotService);
const wchar_t* const kGroupUtilities = GroupOf(SlotAfterburner);
const wchar_t* const kGroupMemory = GroupOf(SlotMemory);
const wchar_t* const kGroupStorage = GroupOf(SlotStorage);

// Appends records and knows when to stop.
class Run {
public:
    explicit Run(const std::atomic<bool>* cancel) : cancel_(cancel) {}
    bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
    HealthCheck New(const wchar_t* id, const wchar_t* group, const std::wstring& title, const wchar_t* repairStep) const {
        HealthCheck check;
        check.id = id;
        check.group = group;
        check.title = title;
        check.repairStep = repairStep;
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        check.checkedAt = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        return check;
    }
    void Add(HealthCheck check) {
        if (!Cancelled()) checks.push_back(std::move(check));
    }
    // The per-tweak rule, with the Monitor key's switches for this check and its step.
    void AddTweak(const std::wstring& id, const wchar_t* group, const std::wstring& title, const wchar_t* repairStep,
                  const wchar_t* step, bool readOk, bool live, const std::wstring& expected, const std::wstring& observed,
                  bool unsupported) {
        if (Cancelled()) return;
        HealthCheck check = New(id.c_str(), group, title, repairStep);
        check.expected = expected;
        check.observed = observed;
        DecideTweakCheck(check, IsCheckDisabled(id), unsupported, readOk, live, IsStepWanted(step));
        checks.push_back(std::move(check));
    }
    std::vector<HealthCheck> checks;

private:
    const std::atomic<bool>* cancel_;
};

// The steps whose choice governs the checks outside the per-tweak rows.
const wchar_t* const kTimerStep = StepAt(SlotService).wantName;
const wchar_t* const kMemoryStep = StepAt(SlotMemory).wantName;
const wchar_t* const kStorageStep = StepAt(SlotStorage).wantName;

void Finish(HealthCheck& check, bool readOk, bool live, const std::wstring& expected, const std::wstring& observed,
            const wchar_t* step) {
    FinishTweakCheck(check, IsCheckDisabled(check.id), readOk, live, expected, observed);
    ApplyStepChoice(check, IsStepWanted(step));
}

void MarkDisabled(HealthCheck& check, const wchar_t* explanation) {
    check.status = HealthDisabled;
    check.explanation = explanation;
    check.repairStep.clear();
}

int ServiceRunState(const wchar_t* name) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return -1;
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
        return -1;
    }
    return status.dwCurrentState == SERVICE_RUNNING ? 1 : 2;
}

void TimerServiceCheck(Run& run) {
    HealthCheck check = run.New(L"timer.service", kGroupTimer, L"Timer service", L"timer");
    int state = ServiceRunState(L"Quorvantis");
    bool legacy = false;
    if (state == 0) {
        state = ServiceRunState(L"Brevitron");
        legacy = state != 0;
    }
    if (state == -1) {
        check.status = HealthInaccessible;
        check.observed = L"service control manager could not be queried";
        check.explanation = L"The service state could not be read. That is not a pass.";
    } else {
        check.expected = L"Quorvantis service running";
        check.observed = state == 1 ? (legacy ? L"legacy Brevitron service is running" : L"Quorvantis service is running")
                         : state == 2 ? L"service is installed but not running"
                                      : L"service is not installed";
        Finish(check, true, state == 1, check.expected, check.observed, kTimerStep);
    }
    run.Add(std::move(check));
}

void GlobalFlagCheck(Run& run) {
    HealthCheck check = run.New(L"timer.global", kGroupTimer, L"System-wide timer requests", L"timer");
    // Absent is the Windows default (0), not an unreadable value.
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, kKernelKey, L"GlobalTimerResolutionRequests", RRF_RT_REG_DWORD,
                                        nullptr, &value, &size);
    const bool absent = status == ERROR_FILE_NOT_FOUND;
    const bool read = status == ERROR_SUCCESS || absent;
    Finish(check, read, status == ERROR_SUCCESS && value == 1, L"GlobalTimerResolutionRequests = 1",
           absent  ? std::wstring(L"GlobalTimerResolutionRequests is not set")
           : read  ? FormatText(L"GlobalTimerResolutionRequests = %lu", static_cast<unsigned long>(value))
                   : std::wstring(L"value unreadable"),
           kTimerStep);
    if (!GlobalTimerRequestsHonoured() && (check.status == HealthPassing || check.status == HealthAttention)) {
        // Here the flag changes nothing, set or not: neither a pass nor something to repair.
        check.status = HealthInformational;
        check.explanation = kPerProcessSentence;
        check.repairStep.clear();
    } else if (check.status == HealthPassing) {
        check.explanation += L" A reboot is still required before this flag affects every process.";
    }
    run.Add(std::move(check));
}

void EffectiveTimerCheck(Run& run) {
    HealthCheck check = run.New(L"timer.effective", kGroupTimer, L"Effective timer resolution", L"");
    uint32_t coarsest = 0, finest = 0, current = 0;
    uint32_t desired = 0;
    const bool chosen = ReadStateDword(L"DesiredResolution", desired) && desired != 0;
    if (IsCheckDisabled(check.id)) {
        MarkDisabled(check, L"This check is turned off in Settings.");
    } else if (CurrentTimerKernel().QueryResolution(coarsest, finest, current) != 0) {
        check.status = HealthError;
        check.observed = L"NtQueryTimerResolution failed";
        check.explanation = L"The effective resolution could not be read. That is not a pass.";
    } else if (!chosen) {
        check.status = HealthInformational;
        check.expected = L"no Quorvantis resolution has been chosen";
        check.observed = FormatText(L"kernel reports %.4f ms", current / 10000.0);
        check.explanation = L"This is the kernel's current report. It is not a configured Quorvantis request, and this "
                            L"check does not hold a timer open.";
    } else {
        check.expected = FormatText(L"configured %.4f ms", desired / 10000.0);
        check.observed = FormatText(L"kernel reports %.4f ms", current / 10000.0);
        const uint32_t gap = current > desired ? current - desired : desired - current;
        if (gap > 500) {
            check.status = HealthAttention;
            check.explanation = L"The kernel is not currently reporting the saved resolution. The effective value can "
                                L"also change when the service is stopped. This check did not hold a timer request open.";
            check.repairStep = L"timer";
            ApplyStepChoice(check, IsStepWanted(kTimerStep));
        } else {
            check.status = HealthPassing;
            check.explanation = L"The kernel's current resolution is close to the value Quorvantis saved. This check did "
                                L"not call NtSetTimerResolution.";
        }
    }
    run.Add(std::move(check));
}

void DriverCheck(Run& run) {
    HealthCheck check = run.New(L"gpu.driver", GroupOf(SlotGpuDriver), L"Installed display driver", L"");
    check.expected = L"a display driver is installed; newest vendor package is not assumed";
    for (int index = 0; index < 16; ++index) {
        const std::wstring key = FormatText(L"%ls\\%04d", kDisplayClassKey, index);
        wchar_t version[128] = {};
        DWORD size = sizeof(version);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DriverVersion", RRF_RT_REG_SZ, nullptr, version, &size) !=
            ERROR_SUCCESS) {
            continue;
        }
        std::wstring name;
        ReadString(RegRoot::LocalMachine, key, L"DriverDesc", name);
        check.status = HealthInformational;
        check.observed = name.empty() ? std::wstring(version) : name + L"  " + version;
        check.explanation = L"This is the driver Windows has recorded. Whether a newer compatible package exists is only "
                            L"known after the GPU Clean lookup, which contacts the vendor. A higher number is not "
                            L"treated as automatically better.";
        run.Add(std::move(check));
        return;
    }
    check.status = HealthAttention;
    check.observed = L"no display driver version was found in the display class";
    check.explanation = L"A missing version here means the adapter record could not be read. It does not by itself "
                        L"prove the newest driver.";
    run.Add(std::move(check));
}

bool ProcessRunning(const wchar_t* exeName) {
    const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) == 0) return true;
    }
    return false;
}


// An optional utility: present passes, absent is only informational (the repair area stays).
struct UtilityFile {
    const wchar_t* id;
    const wchar_t* title;
    const wchar_t* expected;
    const wchar_t* absentExplanation;
    const wchar_t* presentExplanation;
};

void UtilityFileCheck(Run& run, const UtilityFile& u, bool present, const std::wstring& observed) {
    HealthCheck check = run.New(u.id, kGroupUtilities, u.title, L"afterburner");
    check.expected = u.expected;
    check.observed = observed;
    if (IsCheckDisabled(check.id)) {
        MarkDisabled(check, L"This check is turned off in Settings.");
    } else if (!present) {
        check.status = HealthInformational;
        check.explanation = u.absentExplanation;
    } else {
        check.status = HealthPassing;
        check.explanation = u.presentExplanation;
        check.repairStep.clear();
    }
    run.Add(std::move(check));
}

void UtilityChecks(Run& run) {
    const std::wstring base = SystemFolderPath(SystemFolder::ProgramFilesX86);
    const bool installed = !base.empty() && FileExists(base + L"\\MSI Afterburner\\MSIAfterburner.exe");
    UtilityFileCheck(run,
                     {L"util.afterburner", L"MSI Afterburner", L"installed when you opted into the Afterburner step",
                      L"Afterburner is optional. Absence is not a failure, and no overclock is inferred.",
                      L"The Afterburner executable is present. This does not mean a fan curve, voltage, or overclock "
                      L"profile is active."},
                     installed,
                     !installed                               ? L"not installed"
                     : ProcessRunning(L"MSIAfterburner.exe") ? L"installed and running"
                                                              : L"installed, not running");
    const bool rtss = !base.empty() && FileExists(base + L"\\RivaTuner Statistics Server\\RTSS.exe");
    UtilityFileCheck(run,
                     {L"util.rtss", L"RivaTuner Statistics Server", L"installed alongside Afterburner when that step was used",
                      L"RivaTuner is optional and is only expected after the Afterburner step.",
                      L"RTSS is installed. An overlay is not reported as active just because the file exists."},
                     rtss, rtss ? L"RTSS.exe is present" : L"not installed");

    HealthCheck task = run.New(L"util.afterburner-task", kGroupUtilities, L"Afterburner logon task", L"");
    const bool exists =
        RunProcess(SystemToolPath(L"schtasks.exe"), L"/Query /TN \"Quorvantis Afterburner\"", 8000) == 0;
    task.status = HealthInformational;
    task.expected = L"logon task present only after the Afterburner step saved a profile";
    task.observed = exists ? L"scheduled task Quorvantis Afterburner exists" : L"no Quorvantis Afterburner logon task";
    task.explanation = exists ? L"The task exists. That means Afterburner is scheduled at logon. It does not prove the "
                                L"scanned curve is loaded."
                              : L"No Quorvantis logon task was found. That is informational until you run the "
                                L"Afterburner step.";
    run.Add(std::move(task));
}

void MemoryChecks(Run& run) {
    HealthCheck pagefile = run.New(L"memory.pagefile", kGroupMemory, L"Paging file", L"memory");
    wchar_t files[1024] = {};
    DWORD size = sizeof(files);
    const bool read = RegGetValueW(HKEY_LOCAL_MACHINE,
                                   L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                                   L"PagingFiles", RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, files,
                                   &size) == ERROR_SUCCESS;
    const bool set = read && files[0] != L'\0';
    Finish(pagefile, read, set, L"a paging file is configured", set ? L"PagingFiles is set" : L"PagingFiles is empty",
           kMemoryStep);
    run.Add(std::move(pagefile));

    HealthCheck compression = run.New(L"memory.compression", kGroupMemory, L"Memory compression", L"memory");
    if (IsCheckDisabled(compression.id)) {
        MarkDisabled(compression, L"This check is turned off in Settings.");
    } else {
        const std::wstring output =
            CapturePowerShell(L"(Get-MMAgent).MemoryCompression");
        const ToolAnswer answer = MemoryCompressionFromPowerShell(output);
        const bool isFalse = answer == ToolAnswer::No;
        if (answer != ToolAnswer::Unknown) {
            Finish(compression, true, isFalse, L"MemoryCompression = False",
                   isFalse ? L"MemoryCompression = False" : L"MemoryCompression = True", kMemoryStep);
        } else {
            compression.status = HealthUnknown;
            compression.observed = output.empty() ? std::wstring(L"Get-MMAgent returned nothing") : output.substr(0, 80);
            compression.explanation = L"Memory compression could not be read. That is not a pass.";
        }
    }
    run.Add(std::move(compression));
}

// Each row under the id its changes carry ("power.PERFCHECK" for "power.PERFCHECK.ac" and ".dc").
void PowerRowChecks(Run& run, std::span<const PowerSettingRow> rows, const StepEntry& owner, bool classOneUnsupported) {
    const wchar_t* prefix = owner.idPrefix;
    const wchar_t* group = owner.group;
    const wchar_t* area = owner.area;
    const wchar_t* step = owner.wantName;
    PowerStore& store = CurrentPowerStore();
    GUID scheme{};
    const bool haveScheme = store.GetActiveScheme(scheme);
    for (const PowerSettingRow& row : rows) {
        uint32_t live = 0;
        const bool read = haveScheme && store.ReadValue(scheme, row.subgroup, row.setting, PowerSource::Ac, live);
        const std::wstring alias = row.alias;
        const bool unsupported = classOneUnsupported && !read && alias.back() == L'1';
        run.AddTweak(prefix + alias, group, row.title, area, step, read, read && live == row.value,
                     FormatText(L"%lu", static_cast<unsigned long>(row.value)),
                     read ? FormatText(L"%lu", static_cast<unsigned long>(live)) : std::wstring(L"unreadable"), unsupported);
    }
}

void GpuRowChecks(Run& run) {
    const GpuProbeView probe = ProbeGpu();
    DriverProfileSession session;
    const bool sessionOpen = probe.hasNvidia && OpenDriverProfileSession(session);
    for (const GpuTweak& row : GpuCatalogue()) {
        if (run.Cancelled()) break;
        const bool applies = row.vendor == GpuAny || (row.vendor == GpuNvidia && probe.hasNvidia) ||
                             (row.vendor == GpuAmd && probe.hasAmd);
        if (!applies) continue;
        const std::wstring id = std::wstring(StepAt(SlotGpuSettings).idPrefix) + row.alias;
        const auto add = [&](bool readOk, bool live, const std::wstring& expected, const std::wstring& observed,
                             bool unsupported) {
            const StepEntry& owner = StepAt(SlotGpuSettings);
            run.AddTweak(id, owner.group, row.title, owner.area, owner.wantName, readOk, live, expected, observed, unsupported);
        };
        const std::wstring wanted = FormatText(L"%lu", static_cast<unsigned long>(row.value));
        if (row.kind == GpuTweakKind::Service) {
            const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
            const UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), row.serviceName, SERVICE_QUERY_CONFIG)
                                                      : nullptr);
            const bool absent = manager && !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
            DWORD startType = 0;
            bool read = absent;
            if (service) {
                const std::vector<BYTE> block = QueryServiceConfigBlock(service.get());
                read = ServiceConfigOf(block) != nullptr;
                if (read) startType = ServiceConfigOf(block)->dwStartType;
            }
            // Only a service that does not exist is as good as disabled; one that cannot be
            // opened or read is not known to be off.
            add(read, absent || startType == SERVICE_DISABLED, L"disabled or not installed",
                absent  ? std::wstring(L"not installed")
                : read  ? FormatText(L"start type %lu", startType)
                        : std::wstring(L"service could not be opened"),
                false);
        } else if (row.kind == GpuTweakKind::DriverProfile) {
            uint32_t value = 0;
            const bool read = sessionOpen && ReadProfileDword(session, row.settingId, value);
            add(read, read && value == row.value, wanted,
                read ? FormatText(L"%lu", static_cast<unsigned long>(value))
                     : std::wstring(L"NVIDIA profile could not be read"),
                false);
        } else if (row.perAdapter) {
            const std::vector<std::wstring> keys = AdapterKeysForVendor(row.vendor);
            if (keys.empty()) {
                add(false, false, wanted, L"no matching adapter", true);
                continue;
            }
            int readCount = 0, matching = 0;
            for (const std::wstring& key : keys) {
                uint32_t value = 0;
                if (!ReadDword(key, row.valueName, value)) continue;
                ++readCount;
                if (value == row.value) ++matching;
            }
            add(readCount > 0, matching == static_cast<int>(keys.size()), wanted + L" on every adapter",
                FormatText(L"%d of %d adapters match", matching, static_cast<int>(keys.size())), false);
        } else {
            const std::wstring key = row.keyPath;
            const bool perUser = key.find(L"GameBar") != std::wstring::npos ||
                                 key.find(L"CurrentVersion\\GameDVR") != std::wstring::npos;
            uint32_t value = 0;
            const bool read = ReadDwordIn(perUser ? RegRoot::CurrentUser : RegRoot::LocalMachine, key, row.valueName, value);
            add(read, read && value == row.value, wanted,
                read ? FormatText(L"%lu", static_cast<unsigned long>(value)) : std::wstring(L"not set"), false);
        }
    }
    CloseDriverProfileSession(session);
}

void StorageChecks(Run& run) {
    HealthCheck sysMain = run.New(L"storage.sysmain", kGroupStorage, L"SysMain service", L"storage");
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), L"SysMain", SERVICE_QUERY_CONFIG) : nullptr);
    const DWORD openError = GetLastError();
    const std::vector<BYTE> block = service ? QueryServiceConfigBlock(service.get()) : std::vector<BYTE>{};
    if (manager && !service && openError == ERROR_SERVICE_DOES_NOT_EXIST) {
        sysMain.status = HealthInformational;
        sysMain.observed = L"SysMain is not installed";
        sysMain.explanation = L"The service is absent, which already meets the intent of disabling it.";
    } else if (ServiceConfigOf(block) == nullptr) {
        sysMain.status = HealthInaccessible;
        sysMain.explanation = L"SysMain's start type could not be read.";
    } else {
        const DWORD startType = ServiceConfigOf(block)->dwStartType;
        Finish(sysMain, true, startType == SERVICE_DISABLED, L"start type disabled", FormatText(L"start type %lu", startType),
               kStorageStep);
    }
    run.Add(std::move(sysMain));

    HealthCheck trim = run.New(L"storage.trim", kGroupStorage, L"TRIM / delete notification", L"storage");
    const std::wstring output = RunCapture(SystemToolPath(L"fsutil.exe"), L"behavior query DisableDeleteNotify");
    const ToolAnswer trimAnswer = TrimEnabledFromFsutil(output);
    const bool on = trimAnswer == ToolAnswer::Yes;
    const bool off = trimAnswer == ToolAnswer::No;
    if (on || off) {
        Finish(trim, true, on, L"DisableDeleteNotify = 0 (TRIM on)",
               on ? L"DisableDeleteNotify = 0" : L"DisableDeleteNotify = 1", kStorageStep);
    } else {
        trim.status = HealthUnknown;
        trim.observed = output.empty() ? std::wstring(L"fsutil returned nothing") : output.substr(0, 120);
        trim.explanation = L"TRIM state could not be read. That is not a pass.";
    }
    run.Add(std::move(trim));
}

}  // namespace

std::vector<HealthCheck> RunHealthChecks(const std::atomic<bool>* cancel) {
    Run run(cancel);
    TimerServiceCheck(run);
    GlobalFlagCheck(run);
    EffectiveTimerCheck(run);
    if (run.Cancelled()) return run.checks;
    DriverCheck(run);
    if (run.Cancelled()) return run.checks;
    UtilityChecks(run);
    if (run.Cancelled()) return run.checks;
    MemoryChecks(run);
    if (run.Cancelled()) return run.checks;
    PowerRowChecks(run, CpuTuneRows(), StepAt(SlotCpu), true);
    PowerRowChecks(run, StoragePowerRows(), StepAt(SlotStorage), false);
    if (run.Cancelled()) return run.checks;
    GpuRowChecks(run);
    StorageChecks(run);
    if (!run.Cancelled()) AppendHealthLog(SummarizeHealth(run.checks).text);
    return run.checks;
}
