#include "service/timer_service.h"

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "service/service_control.h"
#include "timer/timer_kernel.h"

namespace {

// Shared by the service's main thread and the dispatcher thread that runs the handler.
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;
// The state key as it was when the service started, opened once: every publication goes through
// this handle, so a key the uninstall deleted meanwhile refuses the value rather than coming back.
UniqueKey g_stateKey;

void Publish(uint32_t applied) {
    if (!g_stateKey) return;
    const DWORD value = applied;
    RegSetValueExW(g_stateKey.get(), L"AppliedResolution", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Asks for the target, lets the kernel settle and publishes the period it reports.
int32_t RequestAndPublish(TimerKernel& kernel, uint32_t target) {
    uint32_t current = 0;
    const int32_t status = kernel.SetResolution(target, true, current);
    if (status != 0) return status;
    kernel.Sleep(5);
    uint32_t coarsest = 0, finest = 0;
    kernel.QueryResolution(coarsest, finest, current);
    Publish(current);
    return 0;
}

}  // namespace

uint32_t ChooseServiceTarget(uint32_t desired, uint32_t legacyDesired, uint32_t finest, uint32_t coarsest) {
    uint32_t target = desired != 0 ? desired : legacyDesired;
    if (target == 0 || target < finest) target = finest;
    if (coarsest != 0 && target > coarsest) target = coarsest;
    return target;
}

bool StartHolding(uint32_t& target) {
    TimerKernel& kernel = CurrentTimerKernel();
    uint32_t coarsest = 0, finest = 0, current = 0;
    kernel.QueryResolution(coarsest, finest, current);
    uint32_t desired = 0;
    uint32_t legacy = 0;
    if (!ReadStateDword(L"DesiredResolution", desired)) desired = 0;
    if (desired == 0 && !ReadDword(kLegacyStateKey, L"DesiredResolution", legacy)) legacy = 0;
    target = ChooseServiceTarget(desired, legacy, finest, coarsest);

    KeepResolutionRequestsHonoured();
    g_stateKey.reset();
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStateKey, 0, KEY_SET_VALUE, g_stateKey.put());
    Publish(0);
    if (RequestAndPublish(kernel, target) != 0) {
        AppendLogLine(L"service: NtSetTimerResolution failed");
        return false;
    }
    kernel.QueryResolution(coarsest, finest, current);
    AppendLogLine(FormatText(L"service: holding resolution %lu (%.4f ms); kernel reports %.4f ms",
                             static_cast<unsigned long>(target), target / 10000.0, current / 10000.0));
    return true;
}

void KeepHolding(HANDLE stopEvent, uint32_t target, uint32_t intervalMs) {
    TimerKernel& kernel = CurrentTimerKernel();
    // Re-asserting keeps the request in force and the published value fresh; a failure here
    // changes nothing and is tried again next time.
    while (WaitForSingleObject(stopEvent, intervalMs) == WAIT_TIMEOUT) RequestAndPublish(kernel, target);
}

void StopHolding(uint32_t target) {
    uint32_t ignored = 0;
    CurrentTimerKernel().SetResolution(target, false, ignored);
    // Nothing is held any more; into the key the service started with, which an uninstall may
    // have deleted since (and then it stays deleted).
    Publish(0);
    g_stateKey.reset();
    AppendLogLine(L"service: stopped, resolution released");
}

void ReportServiceStatus(DWORD state, DWORD exitCode) {
    if (g_statusHandle == nullptr) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = 5000;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 1 : 0;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI TimerServiceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // Stop pending goes out before the event, so the manager never sees running after a stop.
        ReportServiceStatus(SERVICE_STOP_PENDING, 0);
        if (g_stopEvent != nullptr) SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI TimerServiceMain(DWORD, LPWSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, TimerServiceControlHandler, nullptr);
    if (g_statusHandle == nullptr) return;
    ReportServiceStatus(SERVICE_START_PENDING, 0);
    AppendLogLine(L"service: starting");
    const UniqueKernelHandle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopEvent = stopEvent.get();

    uint32_t target = 0;
    if (!StartHolding(target)) {
        ReportServiceStatus(SERVICE_STOPPED, 1);
        return;
    }
    ReportServiceStatus(SERVICE_RUNNING, 0);
    KeepHolding(g_stopEvent, target, kReassertIntervalMs);
    StopHolding(target);
    ReportServiceStatus(SERVICE_STOPPED, 0);
    g_stopEvent = nullptr;
}
