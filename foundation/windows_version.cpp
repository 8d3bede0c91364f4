#include "foundation/windows_version.h"

#include <windows.h>

#include <atomic>

namespace {
std::atomic<uint32_t> g_standIn{0};
}  // namespace

void SetWindowsBuildNumber(uint32_t build) { g_standIn.store(build); }

uint32_t WindowsBuildNumber() {
    if (const uint32_t standIn = g_standIn.load(); standIn != 0) return standIn;
    // GetVersionEx lies to unmanifested callers; RtlGetVersion does not.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return 0;
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtlGetVersion == nullptr) return 0;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) return 0;
    return info.dwBuildNumber;
}

bool GlobalTimerRequestsHonoured() { return GlobalTimerRequestsHonouredOn(WindowsBuildNumber()); }
