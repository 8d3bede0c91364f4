#include "service/service_query.h"

#include <windows.h>

#include "foundation/unique_handle.h"

int QueryTimerServiceState() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return 0;
    // An older build's service counts only when ours is not there.
    UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    if (!service) service.reset(OpenServiceW(manager.get(), kLegacyServiceName, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) return 2;
    return status.dwCurrentState == SERVICE_RUNNING ? 1 : 2;
}
