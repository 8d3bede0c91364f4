#pragma once
// Whether the processor runs at a locked frequency or boosts: CPU Tune's settings are meant for
// a locked multiplier, so the console words its question by this class.
#include <cstdint>
#include <string>

enum CpuClass : int { CpuLocked = 0, CpuDynamic = 1, CpuUnclear = 2 };

struct CpuProbe {
    int cpuClass = CpuUnclear;
    uint32_t idleMhz = 0;
    uint32_t busyMhz = 0;
    uint32_t capMhz = 0;
    uint32_t logicalProcessors = 1;
    uint32_t checkInterval = 0;  // ms; 0 unknown
    bool hybrid = false;
    bool tuneApplied = false;
    std::wstring brand;
    std::wstring detail;
};

struct CpuClassification {
    int cpuClass = CpuUnclear;
    std::wstring detail;
};
// idlePeak is the fastest processor at idle; the others are as in CpuProbe.
CpuClassification ClassifyCpu(uint32_t idleMhz, uint32_t idlePeakMhz, uint32_t busyMhz, uint32_t capMhz);
const wchar_t* CpuClassLabel(int cpuClass);

CpuProbe ProbeCpu();
void PrintCpuProbe(const CpuProbe& probe);
std::wstring ReadBrandString();
bool IsHybridCpu();
uint32_t ReadPerfCheckInterval();
