#include "timer/clock_holders.h"

#include <windows.h>

#include "foundation/elevation.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/protected_folder.h"
#include "foundation/system.h"
#include "foundation/text.h"

namespace {
constexpr uint64_t kLargestReport = 32ull << 20;
constexpr uint32_t kReportSeconds = 5;
}  // namespace

std::optional<std::vector<TimerHolder>> FindClockHolders() {
    std::vector<TimerHolder> holders;
    if (!IsElevated()) {
        LogInfo(L"Timer holders: the energy report needs administrator rights; not run.");
        return std::nullopt;
    }
    // In the protected data folder: nobody else can put a report there for us to believe.
    if (PrepareDataDirectory() == FolderSafety::Unsafe) return std::nullopt;
    const std::wstring report = DataDirectory() + L"\\energy-report.xml";
    DeleteFileW(report.c_str());
    const uint32_t exit = RunProcess(SystemToolPath(L"powercfg.exe"),
                                     FormatText(L"/energy /xml /output \"%ls\" /duration %lu", report.c_str(),
                                                static_cast<unsigned long>(kReportSeconds)),
                                     (kReportSeconds + 60) * 1000);
    std::string bytes;
    {
        const HeldFile file(report);
        uint64_t size = 0;
        if (!file.Held() || !file.Size(size) || size > kLargestReport) {
            LogInfo(FormatText(L"Timer holders: powercfg made no energy report (exit %lu).", static_cast<unsigned long>(exit)));
            DeleteFileW(report.c_str());
            return std::nullopt;
        }
        bytes.reserve(static_cast<size_t>(size));
        ReadFileChunks(file.Handle(), [&](const uint8_t* chunk, size_t count) {
            bytes.append(reinterpret_cast<const char*>(chunk), count);
            return bytes.size() <= kLargestReport;
        });
    }
    DeleteFileW(report.c_str());
    if (!ParseEnergyReport(bytes, holders)) {
        LogInfo(L"Timer holders: the energy report could not be read.");
        return std::nullopt;
    }
    // This process's own request is not another program's (the command leaves out the service's).
    const DWORD self = GetCurrentProcessId();
    std::erase_if(holders, [&](const TimerHolder& h) { return h.pid == self; });
    return holders;
}
