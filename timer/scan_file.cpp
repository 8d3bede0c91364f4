#include <windows.h>

#include "foundation/files.h"
#include "foundation/protected_folder.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "timer/report.h"

std::wstring MakeScanPath() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return DataDirectory() + ScanFileName(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

bool WriteScanFile(const std::wstring& path, const std::vector<TimerCandidate>& sweep,
                   const std::vector<TimerCandidate>& finalists) {
    if (PrepareDataDirectory() == FolderSafety::Unsafe) return false;
    const std::string bytes = ToUtf8(BuildScanText(sweep, finalists));
    // Made new: a file or link someone left under that name is never what is written through.
    const UniqueKernelHandle file(static_cast<HANDLE>(CreateNewFile(path)));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}
