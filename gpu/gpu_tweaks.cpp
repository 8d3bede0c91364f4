#include "gpu/gpu_tweaks.h"

#include <windows.h>

#include <vector>

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "gpu/adapters.h"
#include "gpu/driver_profile.h"
#include "gpu/gpu_catalogue.h"
#include "gpu/service_backup.h"
#include "timer/sampling.h"
#include "tweaks/tweak_walk.h"

namespace {

std::wstring Name(const wchar_t* format, const std::wstring& id) { return FormatText(format, id.c_str()); }

// The per-user copies of the Game Bar and Game DVR switches are recorded as well (under
// "<alias>_CU"), so the uninstall puts back what this step changed in the user's hive too.
void RecordUserValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName) {
    uint32_t previous = 0;
    const bool had = ReadDwordIn(RegRoot::CurrentUser, keyPath, valueName, previous);
    WriteStateDword(Name(L"Gpu_%ls_had", id), had ? 1 : 0);
    if (had) WriteStateDword(Name(L"Gpu_%ls", id), previous);
    WriteStateString(Name(L"Gpu_%ls_key", id), keyPath);
    WriteStateString(Name(L"Gpu_%ls_name", id), valueName);
}

void RestoreValueIn(RegRoot root, const std::wstring& id, int& counter) {
    uint32_t had = 0;
    std::wstring key, name;
    if (!ReadStateDword(Name(L"Gpu_%ls_had", id), had)) return;
    if (!ReadStateString(Name(L"Gpu_%ls_key", id), key) || !ReadStateString(Name(L"Gpu_%ls_name", id), name)) return;
    if (had != 0) {
        uint32_t previous = 0;
        if (ReadStateDword(Name(L"Gpu_%ls", id), previous) && WriteDword(root, key, name, previous)) ++counter;
        return;
    }
    UniqueKey opened;
    const HKEY hive = root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_SET_VALUE, opened.put()) != ERROR_SUCCESS) return;
    const LSTATUS status = RegDeleteValueW(opened.get(), name.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) ++counter;
}

bool ApplyRegistryRow(const GpuTweak& row) {
    const std::wstring alias = row.alias;
    if (row.perAdapter) {
        const std::vector<std::wstring> keys = AdapterKeysForVendor(row.vendor);
        int written = 0;
        for (size_t k = 0; k < keys.size(); ++k) {
            RecordGpuValue(FormatText(L"%ls_%02u", row.alias, static_cast<unsigned>(k)), keys[k], row.valueName);
            if (WriteDword(RegRoot::LocalMachine, keys[k], row.valueName, row.value)) ++written;
        }
        if (written > 0) LogInfo(FormatText(L"    wrote on %d adapter key(s).", written));
        return written > 0;
    }
    const std::wstring key = row.keyPath;
    if (key.find(L"GameBar") != std::wstring::npos) {
        RecordGpuValue(alias, key, row.valueName);
        RecordUserValue(alias + L"_CU", key, row.valueName);
        const bool written = WriteDword(RegRoot::CurrentUser, key, row.valueName, row.value);
        RecordGpuValue(alias + L"_LM", key, row.valueName);
        WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
        return written;
    }
    if (key.find(L"CurrentVersion\\GameDVR") != std::wstring::npos) {
        RecordUserValue(alias + L"_CU", key, row.valueName);
        const bool written = WriteDword(RegRoot::CurrentUser, key, row.valueName, row.value);
        RecordGpuValue(alias, key, row.valueName);
        WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
        return written;
    }
    RecordGpuValue(alias, key, row.valueName);
    return WriteDword(RegRoot::LocalMachine, key, row.valueName, row.value);
}

bool ServiceExists(const wchar_t* name) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    return static_cast<bool>(UniqueServiceHandle(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS)));
}

bool ApplyServiceRow(const GpuTweak& row) {
    if (DisableServiceWithBackup(row.serviceName)) return true;
    LogInfo(L"    service not present (already gone, or this driver did not install it).");
    // A service that is not there is as good as disabled; one that refused stays a failure.
    return !ServiceExists(row.serviceName);
}

bool ApplyDriverProfileRow(const GpuTweak& row, DriverProfileSession& session, bool sessionOpen) {
    uint32_t previous = 0;
    if (sessionOpen && ReadProfileDword(session, row.settingId, previous)) {
        WriteStateDword(FormatText(L"GpuDrs_%08X", row.settingId), previous);
        WriteStateDword(FormatText(L"GpuDrs_%08X_had", row.settingId), 1);
    }
    if (sessionOpen && WriteProfileDword(session, row.settingId, row.value)) return true;
    LogInfo(L"    NVAPI SetSetting failed (driver too old, or this ID is not in the profile).");
    return false;
}

void RestoreServiceRow(const GpuTweak& row, int& restored) {
    uint32_t startType = 0;
    if (!ReadStateDword(FormatText(L"GpuSvc_%ls_start", row.serviceName), startType)) return;
    if (startType == 0 || startType == SERVICE_DISABLED) return;
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), row.serviceName, SERVICE_CHANGE_CONFIG | SERVICE_START) : nullptr);
    // A start type that could not be read was recorded as -1, which is SERVICE_NO_CHANGE itself.
    if (service && ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr)) {
        StartServiceW(service.get(), 0, nullptr);
        ++restored;
    }
}

}  // namespace

void RecordGpuValue(const std::wstring& id, const std::wstring& keyPath, const std::wstring& valueName) {
    uint32_t previous = 0;
    const bool had = ReadDword(keyPath, valueName, previous);
    WriteStateDword(Name(L"Gpu_%ls_had", id), had ? 1 : 0);
    if (had) WriteStateDword(Name(L"Gpu_%ls", id), previous);
    WriteStateString(Name(L"Gpu_%ls_key", id), keyPath);
    WriteStateString(Name(L"Gpu_%ls_name", id), valueName);
}

void RestoreGpuValue(const std::wstring& id, int& counter) { RestoreValueIn(RegRoot::LocalMachine, id, counter); }

bool ApplyGpuTweaks() {
    const GpuProbeView probe = ProbeGpu();
    PrintGpuProbe(probe);
    FeedExplanation(L"GPU driver optimization",
                    L"HAGS, overlays off, NVIDIA global 3D (max performance, high-performance filtering, VSync off, "
                    L"ultra low latency, ReBAR, P2 off) and AMD Anti-Lag / ULPS.");
    FeedStage(L"GPU", L"writing Windows / driver graphics settings");
    LogInfo(L"Applying GPU driver optimization tweaks.");

    std::vector<const GpuTweak*> rows;
    for (const GpuTweak& row : GpuCatalogue()) {
        if (row.vendor == GpuAny || (row.vendor == GpuNvidia && probe.hasNvidia) || (row.vendor == GpuAmd && probe.hasAmd)) {
            rows.push_back(&row);
        }
    }
    if (rows.empty()) {
        LogError(L"No GPU tweaks apply to the adapters on this machine.");
        return false;
    }
    std::vector<TweakItem> list;
    for (const GpuTweak* row : rows) list.push_back({row->alias, row->title, row->description, row->detail, TweakPending});
    ItemList items(std::move(list));
    items.Publish();
    DwellCancellable(1600);

    DriverProfileSession session;
    bool sessionOpen = false;
    if (probe.hasNvidia) {
        sessionOpen = OpenDriverProfileSession(session);
        if (!sessionOpen) {
            LogInfo(L"  nvapi64.dll could not open a DRS session; NVIDIA control-panel (DRS) values will be retried via "
                    L"registry only.");
        }
    }
    int written = 0;
    int failed = 0;
    const auto finishSession = [&] {
        if (written > 0) SaveDriverProfiles(session);
        CloseDriverProfileSession(session);
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const GpuTweak& row = *rows[i];
        if (IsCancelled()) {
            finishSession();
            return false;
        }
        items.Begin(i);
        FeedStage(L"GPU", FormatText(L"%ls  %ls", row.alias, row.detail));
        LogInfo(L"");
        LogInfo(FormatText(L"  %ls (%ls)", row.title, row.alias));
        LogInfo(FormatText(L"    %ls", row.description));
        LogInfo(FormatText(L"    %ls", row.detail));
        DwellCancellable(row.pause);
        if (IsCancelled()) {
            finishSession();
            return false;
        }
        bool ok = false;
        switch (row.kind) {
        case GpuTweakKind::Registry:
            ok = ApplyRegistryRow(row);
            break;
        case GpuTweakKind::Service:
            ok = ApplyServiceRow(row);
            break;
        case GpuTweakKind::DriverProfile:
            ok = ApplyDriverProfileRow(row, session, sessionOpen);
            break;
        }
        items.Finish(i, ok ? TweakWritten : TweakFailed);
        if (ok) {
            LogInfo(L"    written.");
            ++written;
        } else {
            ++failed;
        }
        DwellCancellable(500);
    }
    finishSession();
    if (written == 0) {
        LogError(L"No GPU setting could be written.");
        return false;
    }
    WriteStateDword(L"GpuApplied", 1);
    FeedExplanation(L"GPU tweaks applied",
                    FormatText(L"Wrote %d graphics setting(s)%ls. Restart so HAGS and ReBAR take effect.", written,
                               failed != 0 ? FormatText(L", %d did not confirm", failed).c_str() : L""));
    LogInfo(FormatText(L"Applied %d GPU tweak(s)%ls. Reboot for HAGS / ReBAR. Uninstall restores the previous values.",
                       written, failed != 0 ? FormatText(L", %d failed", failed).c_str() : L""));
    DwellCancellable(1600);
    return true;
}

bool RestoreGpuTweaks() {
    const std::wstring schtasks = L"C:\\Windows\\System32\\schtasks.exe";
    RunProcess(schtasks, L"/Delete /F /TN \"Quorvantis Afterburner\"", 15000);
    RunProcess(schtasks, L"/Delete /F /TN \"Quorvantis RivaTuner\"", 15000);
    uint32_t applied = 0;
    if (!ReadStateDword(L"GpuApplied", applied) || applied == 0) return true;

    DriverProfileSession session;
    const bool sessionOpen = OpenDriverProfileSession(session);
    int restored = 0;
    for (const GpuTweak& row : GpuCatalogue()) {
        switch (row.kind) {
        case GpuTweakKind::DriverProfile: {
            uint32_t had = 0, previous = 0;
            if (sessionOpen && ReadStateDword(FormatText(L"GpuDrs_%08X_had", row.settingId), had) && had != 0 &&
                ReadStateDword(FormatText(L"GpuDrs_%08X", row.settingId), previous) &&
                WriteProfileDword(session, row.settingId, previous)) {
                ++restored;
            }
            break;
        }
        case GpuTweakKind::Service:
            RestoreServiceRow(row, restored);
            break;
        case GpuTweakKind::Registry: {
            const std::wstring alias = row.alias;
            RestoreGpuValue(alias, restored);
            RestoreGpuValue(alias + L"_LM", restored);
            RestoreValueIn(RegRoot::CurrentUser, alias + L"_CU", restored);
            for (unsigned k = 0; k < 32; ++k) RestoreGpuValue(FormatText(L"%ls_%02u", row.alias, k), restored);
            break;
        }
        }
    }
    SaveDriverProfiles(session);
    CloseDriverProfileSession(session);
    LogInfo(FormatText(L"Restored %d GPU setting(s) to their previous values.", restored));
    return true;
}
