#pragma once
// Windows' energy report (powercfg /energy) lists every outstanding timer request: the period a
// program asked for, its process id and its path. This reads them from the report as powercfg
// writes it, XML (/xml) or HTML. The detail names are translated with Windows' language, so an
// entry is recognised by its shape, not its words: a whole-number period, a process id, a path.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TimerHolder {
    uint32_t period = 0;  // 100-ns units
    uint32_t pid = 0;
    std::wstring path;    // as the report gives it (\Device\HarddiskVolume3\...)
    std::wstring Name() const;  // the file name alone
};

// The requests in report order (each process and period once). False when the bytes are not a
// whole report (empty, not markup, or cut short).
bool ParseEnergyReport(std::string_view report, std::vector<TimerHolder>& holders);

// "Held by overlay.exe (PID 4312, 1.0000 ms) and browser.exe (PID 880, 1.0000 ms)."; empty when
// there are none.
std::wstring HoldersText(const std::vector<TimerHolder>& holders);
