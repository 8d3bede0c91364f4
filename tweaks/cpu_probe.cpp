#include "tweaks/cpu_probe.h"

#include <windows.h>

#include "foundation/system.h"

#include <algorithm>
#include <vector>
#ifdef _MSC_VER
#include <intrin.h>
#else
#include <cpuid.h>
#endif

#include "foundation/log.h"
#include "foundation/state.h"
#include "foundation/text.h"
#include "tweaks/power_rows.h"
#include "tweaks/power_store.h"

namespace {

void Cpuid(unsigned leaf, unsigned (&regs)[4]) {
#ifdef _MSC_VER
    int out[4];
    __cpuid(out, static_cast<int>(leaf));
    for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned>(out[i]);
#else
    __cpuid(leaf, regs[0], regs[1], regs[2], regs[3]);
#endif
}

// Declared here: the SDK's PROCESSOR_POWER_INFORMATION lives in a header MinGW lacks.
struct ProcessorPowerInformation {
    ULONG number;
    ULONG maxMhz;
    ULONG currentMhz;
    ULONG mhzLimit;
    ULONG maxIdleState;
    ULONG currentIdleState;
};
static_assert(sizeof(ProcessorPowerInformation) == 24);

bool ReadProcessorInformation(std::vector<ProcessorPowerInformation>& info) {
    using CallNtPowerInformationFn = LONG(WINAPI*)(int, PVOID, ULONG, PVOID, ULONG);
    constexpr int kProcessorInformation = 11;
    static const auto call = [] {
        const HMODULE powrprof = static_cast<HMODULE>(LoadSystemLibrary(L"powrprof.dll"));
        return powrprof == nullptr ? nullptr
                                   : reinterpret_cast<CallNtPowerInformationFn>(reinterpret_cast<void*>(
                                         GetProcAddress(powrprof, "CallNtPowerInformation")));
    }();
    if (call == nullptr) return false;
    return call(kProcessorInformation, nullptr, 0, info.data(),
                static_cast<ULONG>(info.size() * sizeof(ProcessorPowerInformation))) == 0;
}

}  // namespace

std::wstring ReadBrandString() {
    unsigned regs[4] = {};
    Cpuid(0x80000000u, regs);
    if (regs[0] <= 0x80000003u) return L"CPU";
    char brand[49] = {};
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
        Cpuid(0x80000002u + leaf, regs);
        for (int r = 0; r < 4; ++r) {
            for (int b = 0; b < 4; ++b) brand[leaf * 16 + r * 4 + b] = static_cast<char>((regs[r] >> (8 * b)) & 0xFF);
        }
    }
    std::string text(brand);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return L"CPU";
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    return std::wstring(text.begin(), text.end());
}

bool IsHybridCpu() {
    using GetCpuSetsFn = BOOL(WINAPI*)(PVOID, ULONG, PULONG, HANDLE, ULONG);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto getCpuSets = kernel == nullptr ? nullptr
                                              : reinterpret_cast<GetCpuSetsFn>(reinterpret_cast<void*>(
                                                    GetProcAddress(kernel, "GetSystemCpuSetInformation")));
    if (getCpuSets == nullptr) return false;
    ULONG length = 0;
    getCpuSets(nullptr, 0, &length, GetCurrentProcess(), 0);
    std::vector<BYTE> buffer(std::max<ULONG>(length, 1));
    if (!getCpuSets(buffer.data(), static_cast<ULONG>(buffer.size()), &length, GetCurrentProcess(), 0)) return false;
    // Records are variable-length: Size (4 bytes), Type (4 bytes), then for a CPU set the
    // EfficiencyClass byte at offset 18 (Id 4, Group 2, LogicalProcessorIndex 1, CoreIndex 1,
    // LastLevelCacheIndex 1, NumaNodeIndex 1 after the header).
    for (ULONG offset = 0; offset + 8 <= length;) {
        ULONG size = 0, type = 0;
        memcpy(&size, buffer.data() + offset, 4);
        memcpy(&type, buffer.data() + offset + 4, 4);
        if (size == 0) break;
        if (type == 0 && offset + 19 <= length && buffer[offset + 18] != 0) return true;
        offset += size;
    }
    return false;
}

uint32_t ReadPerfCheckInterval() {
    PowerStore& store = CurrentPowerStore();
    GUID scheme{};
    if (!store.GetActiveScheme(scheme)) return 0;
    for (const PowerSettingRow& row : CpuTuneRows()) {
        if (std::wstring(row.alias) != L"PERFCHECK") continue;
        uint32_t value = 0;
        return store.ReadValue(scheme, row.subgroup, row.setting, PowerSource::Ac, value) ? value : 0;
    }
    return 0;
}

CpuProbe ProbeCpu() {
    CpuProbe probe;
    probe.brand = ReadBrandString();
    probe.hybrid = IsHybridCpu();
    probe.checkInterval = ReadPerfCheckInterval();
    uint32_t applied = 0;
    probe.tuneApplied = ReadStateDword(L"PpmApplied", applied) && applied != 0;
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    probe.logicalProcessors = std::max<DWORD>(system.dwNumberOfProcessors, 1);
    std::vector<ProcessorPowerInformation> info(probe.logicalProcessors);

    const auto finish = [&](int cpuClass, std::wstring detail) {
        probe.cpuClass = cpuClass;
        probe.detail = std::move(detail);
        if (probe.hybrid) probe.detail += L" (hybrid P+E CPU)";
        return probe;
    };
    Sleep(120);
    if (!ReadProcessorInformation(info)) return finish(CpuUnclear, L"CallNtPowerInformation(ProcessorInformation) failed");
    probe.idleMhz = 0xFFFFFFFFu;
    uint32_t idlePeak = 0;
    for (const auto& p : info) {
        probe.idleMhz = std::min<uint32_t>(probe.idleMhz, p.currentMhz);
        idlePeak = std::max<uint32_t>(idlePeak, p.currentMhz);
        probe.capMhz = std::max<uint32_t>(probe.capMhz, p.maxMhz);
    }
    // One busy core for 90 ms is enough for a boosting processor to raise that core's clock.
    volatile uint64_t spins = 0;
    const ULONGLONG end = GetTickCount64() + 90;
    while (GetTickCount64() < end) spins = spins + 1;
    if (!ReadProcessorInformation(info)) return finish(CpuUnclear, L"frequency query failed after the load probe");
    for (const auto& p : info) {
        probe.busyMhz = std::max<uint32_t>(probe.busyMhz, p.currentMhz);
        probe.capMhz = std::max<uint32_t>(probe.capMhz, p.maxMhz);
    }
    CpuClassification c = ClassifyCpu(probe.idleMhz, idlePeak, probe.busyMhz, probe.capMhz);
    return finish(c.cpuClass, std::move(c.detail));
}

void PrintCpuProbe(const CpuProbe& p) {
    LogInfo(FormatText(L"CPU: %ls  (%u logical processors%ls)", p.brand.c_str(), p.logicalProcessors,
                       p.hybrid ? L", hybrid" : L""));
    LogInfo(FormatText(L"  frequency: idle %u MHz, busy %u MHz, cap %u MHz", p.idleMhz, p.busyMhz, p.capMhz));
    if (p.checkInterval != 0) {
        LogInfo(FormatText(L"  current processor performance time check interval: %u ms", p.checkInterval));
    }
    LogInfo(FormatText(L"  classified: %ls \u2014 %ls", CpuClassLabel(p.cpuClass), p.detail.c_str()));
}
