#include "foundation/log.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "foundation/console.h"
#include "foundation/feed.h"
#include "foundation/named_objects.h"
#include "foundation/protected_folder.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

LocalStamp NowStamp() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return LocalStamp{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// The log is moved aside past this size, one older copy kept: a window left in the tray adds a
// health line a minute, and nothing undo relies on lives in the log.
constexpr uint64_t kLogRotationBytes = 4ull << 20;

// Every process that appends (the service, the window, a console command) takes this mutex
// around the size check, the move and the write, so a line never lands in a file being moved
// and no two rotations race. It lives in the program's private namespace, so no other program
// can hold it; a lock that cannot be had only costs the rotation's safety, never the line.
class CrossProcessLogLock {
public:
    CrossProcessLogLock() : mutex_(CurrentObjectNamespace().OpenMutex(L"Log")) {
        if (mutex_) {
            const DWORD wait = WaitForSingleObject(mutex_.get(), 2000);
            held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~CrossProcessLogLock() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    CrossProcessLogLock(const CrossProcessLogLock&) = delete;
    CrossProcessLogLock& operator=(const CrossProcessLogLock&) = delete;
    bool Held() const { return held_; }

private:
    UniqueKernelHandle mutex_;
    bool held_ = false;
};

void RotateIfLarge(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size <= kLogRotationBytes) return;
    // A copy another process holds open right now is moved on a later line.
    MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
}

void AppendBytes(const std::string& bytes, DWORD shareMode) {
    const FolderSafety folder = PrepareDataDirectory();
    if (folder == FolderSafety::Unsafe) return;  // an elevated write there could be redirected
    static std::atomic<bool> replacementNoted{false};
    if (folder == FolderSafety::Replaced && !replacementNoted.exchange(true)) {
        AppendBytes(BuildLogLine(NowStamp(), FolderReplacedNote(DataDirectory(), DataFolderMovedAside())), shareMode);
    }
    const CrossProcessLogLock lock;
    if (lock.Held()) RotateIfLarge(LogFilePath());
    // Other roles (the service, the window, a console command) append to the same file; one that
    // is writing at this very moment holds it for a few milliseconds, so a busy file is tried again.
    UniqueKernelHandle file;
    for (int attempt = 0; attempt < 50; ++attempt) {
        file = AdoptFileHandle(CreateFileW(LogFilePath().c_str(), FILE_APPEND_DATA, shareMode, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    if (!file) return;  // a log that cannot be opened loses the line, never the operation
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

std::wstring LogFilePath() { return DataDirectory() + L"\\Quorvantis.log"; }

void AppendLogLine(const std::wstring& text) {
    static std::mutex logMutex;
    const std::lock_guard<std::mutex> lock(logMutex);
    AppendBytes(BuildLogLine(NowStamp(), text), FILE_SHARE_READ | FILE_SHARE_WRITE);
}

void AppendHealthLog(const std::wstring& text) {
    AppendBytes(BuildHealthLine(NowStamp(), text), FILE_SHARE_READ);
}

void LogInfo(const std::wstring& text) {
    // A console, a file or a pipe: every line reaches wherever standard output leads.
    WriteStd(StdStream::Output, text + L"\n");
    AppendLogLine(text);
    if (Feed* feed = CurrentFeed()) feed->LogLine(text);
}

namespace {
std::mutex g_lastErrorMutex;
std::wstring g_lastError;
}  // namespace

std::wstring LastLoggedError() {
    const std::lock_guard<std::mutex> lock(g_lastErrorMutex);
    return g_lastError;
}

void LogError(const std::wstring& text) {
    {
        const std::lock_guard<std::mutex> lock(g_lastErrorMutex);
        g_lastError = text;
    }
    // Standard error redirected on its own gets the errors alone. Otherwise they show on the
    // console, and a redirected standard output keeps them too, in order with the other lines.
    if (StdErrorIsRedirected()) {
        WriteStd(StdStream::Error, text + L"\n");
    } else {
        if (StdErrorIsConsole() || StdOutputIsConsole()) WriteStd(StdStream::Error, text + L"\n");
        if (StdOutputIsRedirected()) WriteStd(StdStream::Output, text + L"\n");
    }
    const std::wstring marked = L"ERROR: " + text;
    AppendLogLine(marked);
    if (Feed* feed = CurrentFeed()) feed->LogLine(marked);
}
