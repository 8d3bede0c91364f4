#include "service/service_control.h"

#include <windows.h>

#include "foundation/log.h"
#include "foundation/unique_handle.h"
#include "service/service_wait.h"

namespace {

UniqueServiceHandle OpenManager(DWORD access = SC_MANAGER_CONNECT) {
    return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

UniqueServiceHandle OpenNamedService(const UniqueServiceHandle& manager, const wchar_t* name, DWORD access) {
    return UniqueServiceHandle(OpenServiceW(manager.get(), name, access));
}

}  // namespace

bool WaitForServiceState(SC_HANDLE service, DWORD state, uint32_t timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                  &needed)) {
            return false;
        }
        if (status.dwCurrentState == state) return true;
        Sleep(200);
        if (GetTickCount64() > end) return false;
    }
}

TimerServiceState QueryTimerServiceState() {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return TimerServiceState::NotInstalled;
    UniqueServiceHandle service = OpenNamedService(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (!service) service = OpenNamedService(manager, kLegacyServiceName, SERVICE_QUERY_STATUS);
    if (!service) return TimerServiceState::NotInstalled;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) return TimerServiceState::Stopped;
    return status.dwCurrentState == SERVICE_RUNNING ? TimerServiceState::Running : TimerServiceState::Stopped;
}

bool TimerServiceInstalled() {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return false;
    return OpenNamedService(manager, kServiceName, SERVICE_QUERY_STATUS) ||
           OpenNamedService(manager, kLegacyServiceName, SERVICE_QUERY_STATUS);
}

uint32_t ServiceProcessId(const wchar_t* name) {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return 0;
    const UniqueServiceHandle service = OpenNamedService(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                          &needed)) {
        return 0;
    }
    return status.dwCurrentState == SERVICE_STOPPED ? 0 : status.dwProcessId;
}

bool StopServiceByName(const wchar_t* name) {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return false;
    const UniqueServiceHandle service = OpenNamedService(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) return true;
    // STOPPED is reported before the process has exited and let go of its executable; a copy
    // over that file right away fails with a sharing violation. Its process is waited for too.
    SERVICE_STATUS_PROCESS before{};
    DWORD needed = 0;
    UniqueKernelHandle process;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&before), sizeof(before),
                             &needed) &&
        before.dwProcessId != 0) {
        process.reset(OpenProcess(SYNCHRONIZE, FALSE, before.dwProcessId));
    }
    const ULONGLONG start = GetTickCount64();
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!WaitForServiceState(service.get(), SERVICE_STOPPED, 15000)) return false;
    if (process) {
        const ULONGLONG spent = GetTickCount64() - start;
        WaitForSingleObject(process.get(), spent < 15000 ? static_cast<DWORD>(15000 - spent) : 0);
    }
    return true;
}

bool RemoveLegacyService() {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return false;
    const UniqueServiceHandle service =
        OpenNamedService(manager, kLegacyServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) return true;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(service.get(), SERVICE_STOPPED, 8000);
    // A deleted service lingers until its last handle closes; that is gone enough.
    return DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

void StartTimerServiceNoWait() {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return;
    const UniqueServiceHandle service = OpenNamedService(manager, kServiceName, SERVICE_START);
    if (service) StartServiceW(service.get(), 0, nullptr);
}

bool StartServiceAndWait(const wchar_t* name, uint32_t timeoutMs) {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) return false;
    const UniqueServiceHandle service = OpenNamedService(manager, name, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!service) return false;
    const bool started = StartServiceW(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
    return started && WaitForServiceState(service.get(), SERVICE_RUNNING, timeoutMs);
}

int StartOrStopCommand(bool start) {
    const UniqueServiceHandle manager = OpenManager();
    if (!manager) {
        LogError(L"OpenSCManager failed.");
        return 1;
    }
    if (!OpenNamedService(manager, kServiceName, SERVICE_QUERY_STATUS)) {
        LogError(L"Service is not installed.");
        return 1;
    }
    if (start) {
        if (StartServiceAndWait(kServiceName, 15000)) {
            LogInfo(L"Service started.");
            return 0;
        }
        LogInfo(L"Service failed to start.");
        return 1;
    }
    const bool ours = StopServiceByName(kServiceName);
    const bool legacy = StopServiceByName(kLegacyServiceName);
    if (ours && legacy) {
        LogInfo(L"Service stopped.");
        return 0;
    }
    LogInfo(L"Service did not stop cleanly.");
    return 1;
}
