#include "gpu/service_backup.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "foundation/state.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

bool DisableServiceWithBackup(const std::wstring& serviceName) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    const UniqueServiceHandle service(OpenServiceW(
        manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP));
    if (!service) return false;

    DWORD startType = 0xFFFFFFFFu;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, 1));
    if (QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed)) {
        startType = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    }
    WriteStateDword(FormatText(L"GpuSvc_%ls_start", serviceName.c_str()), startType);

    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
}
