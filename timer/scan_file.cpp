#include <windows.h>

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

void WriteScanFile(const std::wstring& path, const std::vector<TimerCandidate>& sweep,
                   const std::vector<TimerCandidate>& finalists) {
    if (PrepareDataDirectory() == FolderSafety::Unsafe) return;
    const std::string bytes = ToUtf8(BuildScanText(sweep, finalists));
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
