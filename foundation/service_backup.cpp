#include "foundation/service_backup.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/log.h"
#include "foundation/service_config.h"
#include "foundation/setting_record.h"
#include "foundation/state.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

std::wstring StartName(const std::wstring& serviceName) { return FormatText(L"GpuSvc_%ls_start", serviceName.c_str()); }
std::wstring FailureName(const std::wstring& serviceName) {
    return FormatText(L"GpuSvc_%ls_failure", serviceName.c_str());
}

void RecordStartTypeOnce(SC_HANDLE service, const std::wstring& serviceName) {
    if (StateValueExists(StartName(serviceName))) return;
    DWORD startType = 0xFFFFFFFFu;
    const std::vector<BYTE> config = QueryServiceConfigBlock(service, 0);
    if (!config.empty()) startType = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType;
    WriteStateDword(StartName(serviceName), startType);
}

// Reset period, action count, then each action's type and delay, as DWORDs.
void RecordFailureActionsOnce(SC_HANDLE service, const std::wstring& serviceName) {
    if (StateValueExists(FailureName(serviceName))) return;
    const std::vector<BYTE> config = QueryServiceConfigBlock(service, SERVICE_CONFIG_FAILURE_ACTIONS);
    if (config.empty()) return;
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(config.data());
    std::vector<DWORD> words{actions->dwResetPeriod, actions->cActions};
    for (DWORD i = 0; i < actions->cActions && actions->lpsaActions != nullptr; ++i) {
        words.push_back(static_cast<DWORD>(actions->lpsaActions[i].Type));
        words.push_back(actions->lpsaActions[i].Delay);
    }
    RegistryValue value{REG_BINARY, std::vector<uint8_t>(words.size() * sizeof(DWORD))};
    memcpy(value.bytes.data(), words.data(), value.bytes.size());
    WriteStateRaw(FailureName(serviceName), value);
}

bool RestoreFailureActions(SC_HANDLE service, const std::wstring& serviceName) {
    RegistryValue value;
    if (!ReadStateRaw(FailureName(serviceName), value)) return true;
    if (value.bytes.size() < 2 * sizeof(DWORD) || value.bytes.size() % sizeof(DWORD) != 0) return true;
    std::vector<DWORD> words(value.bytes.size() / sizeof(DWORD));
    memcpy(words.data(), value.bytes.data(), value.bytes.size());
    const DWORD count = std::min<DWORD>(words[1], static_cast<DWORD>((words.size() - 2) / 2));
    std::vector<SC_ACTION> list(count);
    for (DWORD i = 0; i < count; ++i) list[i] = {static_cast<SC_ACTION_TYPE>(words[2 + 2 * i]), words[3 + 2 * i]};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = words[0];
    actions.cActions = count;
    actions.lpsaActions = count > 0 ? list.data() : nullptr;
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions) != FALSE;
}

}  // namespace

namespace {

std::wstring StartTypeText(DWORD startType) {
    switch (startType) {
    case SERVICE_BOOT_START: return L"boot";
    case SERVICE_SYSTEM_START: return L"system";
    case SERVICE_AUTO_START: return L"automatic";
    case SERVICE_DEMAND_START: return L"manual";
    case SERVICE_DISABLED: return L"disabled";
    default: return FormatText(L"start type %lu", static_cast<unsigned long>(startType));
    }
}

constexpr uint32_t kUnknownStartType = 0xFFFFFFFFu;

// A start type the restore can hand back: automatic, manual or system. Unknown (recorded when it
// could not be read, and SERVICE_NO_CHANGE itself), disabled and boot start are left as they are.
bool RestorableStartType(uint32_t startType) {
    return startType == SERVICE_SYSTEM_START || startType == SERVICE_AUTO_START || startType == SERVICE_DEMAND_START;
}

std::wstring Place(const std::wstring& serviceName) { return FormatText(L"service %ls, start type", serviceName.c_str()); }

}  // namespace

void PlanServiceDisabled(StepPlan& plan, const std::wstring& id, const std::wstring& serviceName, size_t item) {
    ChangeRow row;
    row.id = id;
    row.setting = Place(serviceName);
    row.ours = StartTypeText(SERVICE_DISABLED);
    uint32_t recorded = 0;
    if (ReadStateDword(StartName(serviceName), recorded)) {
        row.recorded = true;
        row.original = recorded == kUnknownStartType ? std::wstring(L"(could not be read)") : StartTypeText(recorded);
    }
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (manager && !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        row.currentRead = true;
        row.current = L"not installed";
        plan.LeaveAlone(std::move(row), item, L"the service is not installed, which is as good as disabled");
        return;
    }
    if (service) {
        const std::vector<BYTE> config = QueryServiceConfigBlock(service.get(), 0);
        row.currentRead = !config.empty();
        if (row.currentRead) row.current = StartTypeText(reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType);
    }
    row.state = JudgePlanned(row);
    const auto open = [serviceName](DWORD access) {
        const UniqueServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        return UniqueServiceHandle(scm ? OpenServiceW(scm.get(), serviceName.c_str(), access) : nullptr);
    };
    plan.Add(std::move(row), item,
             [serviceName, open] {
                 const UniqueServiceHandle target = open(SERVICE_QUERY_CONFIG);
                 if (target) RecordStartTypeOnce(target.get(), serviceName);
             },
             [open] {
                 const UniqueServiceHandle target = open(SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP);
                 if (!target) return false;
                 SERVICE_STATUS status{};
                 ControlService(target.get(), SERVICE_CONTROL_STOP, &status);
                 return ChangeServiceConfigW(target.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
             });
}

void PinServiceDisabled(const std::wstring& serviceName) {
    if (serviceName.empty()) return;
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return;
    const UniqueServiceHandle service(OpenServiceW(
        manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP));
    if (!service) return;
    RecordStartTypeOnce(service.get(), serviceName);
    RecordFailureActionsOnce(service.get(), serviceName);
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr);
    SC_ACTION none{SC_ACTION_NONE, 0};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.cActions = 1;
    actions.lpsaActions = &none;
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
}

void RestoreServiceStartType(const std::wstring& id, const std::wstring& serviceName, RestoreLedger& ledger) {
    uint32_t startType = 0;
    const bool haveStart = ReadStateDword(StartName(serviceName), startType);
    const bool haveFailure = StateValueExists(FailureName(serviceName));
    if ((!haveStart && !haveFailure) || !ledger.Includes(id)) return;
    const std::vector<std::wstring> records{StartName(serviceName), FailureName(serviceName)};
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(
        manager ? OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_CHANGE_CONFIG | SERVICE_START) : nullptr);
    if (!service) {
        if (manager && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            ledger.Dropped(records);  // gone: nothing left to restore
            return;
        }
        LogError(FormatText(L"The %ls service could not be opened to restore its start type.", serviceName.c_str()));
        ledger.Failed(records);
        return;
    }
    bool ok = RestoreFailureActions(service.get(), serviceName);
    const bool startRestorable = haveStart && RestorableStartType(startType);
    if (startRestorable) {
        if (ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr)) {
            StartServiceW(service.get(), 0, nullptr);
        } else {
            ok = false;
        }
    }
    if (!ok) {
        LogError(FormatText(L"The %ls service refused to take back its previous settings.", serviceName.c_str()));
        ledger.Failed(records);
        return;
    }
    // A start type that was never known puts nothing back: the record goes, uncounted.
    if (startRestorable || haveFailure) {
        ledger.Restored(records);
    } else {
        ledger.Dropped(records);
    }
}

void LedgerServiceChange(const std::wstring& step, const std::wstring& id, const std::wstring& serviceName,
                         std::vector<ChangeRow>& out) {
    uint32_t recorded = 0;
    if (!ReadStateDword(StartName(serviceName), recorded)) return;
    ChangeRow row;
    row.id = id;
    row.step = step;
    row.setting = Place(serviceName);
    row.recorded = true;
    row.original = recorded == kUnknownStartType ? std::wstring(L"(could not be read)") : StartTypeText(recorded);
    row.ours = StartTypeText(SERVICE_DISABLED);
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (manager && !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        row.state = ChangeState::Gone;
        row.reason = L"service removed";
        out.push_back(std::move(row));
        return;
    }
    if (service) {
        const std::vector<BYTE> config = QueryServiceConfigBlock(service.get(), 0);
        row.currentRead = !config.empty();
        if (row.currentRead) row.current = StartTypeText(reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType);
    }
    row.state = JudgeRecorded(row);
    // Nothing to put back when the start type was never known.
    if (recorded == kUnknownStartType && row.state != ChangeState::Unreadable) {
        row.state = ChangeState::Gone;
        row.reason = L"start type never read";
    }
    out.push_back(std::move(row));
}

std::vector<BYTE> QueryServiceConfigBlock(SC_HANDLE service, DWORD level) {
    DWORD needed = 0;
    if (level == 0) QueryServiceConfigW(service, nullptr, 0, &needed);
    else QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, 1));
    const BOOL ok = level == 0 ? QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                                     static_cast<DWORD>(buffer.size()), &needed)
                               : QueryServiceConfig2W(service, level, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      &needed);
    if (!ok) buffer.clear();
    return buffer;
}
