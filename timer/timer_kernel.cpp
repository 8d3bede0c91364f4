#include "timer/timer_kernel.h"

#include <windows.h>

#include "timer/clock_holders.h"

namespace {

using NtSetTimerResolutionFn = LONG(NTAPI*)(ULONG desired, BOOLEAN set, PULONG current);
using NtQueryTimerResolutionFn = LONG(NTAPI*)(PULONG maximum, PULONG minimum, PULONG current);

// STATUS_NOT_IMPLEMENTED stands in when ntdll lacks the export (it never does on Windows 10/11).
constexpr LONG kMissingExport = static_cast<LONG>(0xC0000002);

template <typename Fn>
Fn NtdllExport(const char* name) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

class WindowsTimerKernel final : public TimerKernel {
public:
    int32_t SetResolution(uint32_t desired, bool set, uint32_t& current) override {
        static const auto fn = NtdllExport<NtSetTimerResolutionFn>("NtSetTimerResolution");
        if (fn == nullptr) return kMissingExport;
        ULONG now = 0;
        const LONG status = fn(desired, set ? TRUE : FALSE, &now);
        current = now;
        return status;
    }
    int32_t QueryResolution(uint32_t& coarsest, uint32_t& finest, uint32_t& current) override {
        static const auto fn = NtdllExport<NtQueryTimerResolutionFn>("NtQueryTimerResolution");
        if (fn == nullptr) return kMissingExport;
        ULONG maximum = 0, minimum = 0, now = 0;
        const LONG status = fn(&maximum, &minimum, &now);
        coarsest = maximum;
        finest = minimum;
        current = now;
        return status;
    }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    int64_t Counter() override {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    int64_t CounterFrequency() override {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }
    uint64_t TickCount64() override { return GetTickCount64(); }
    std::optional<std::vector<TimerHolder>> OtherHolders() override { return FindClockHolders(); }
};

WindowsTimerKernel g_windowsKernel;
TimerKernel* g_kernel = &g_windowsKernel;

}  // namespace

TimerKernel& CurrentTimerKernel() { return *g_kernel; }
void SetTimerKernel(TimerKernel* kernel) {
    g_kernel = kernel != nullptr ? kernel : &g_windowsKernel;
    SetPacingClock(kernel);
}
