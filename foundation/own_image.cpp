#include "foundation/own_image.h"

#include <windows.h>

#include <vector>

#include "foundation/files.h"
#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"

namespace {

UniqueKernelHandle g_image;

// The whole file from its start, whatever was read through the handle before.
bool ReadAll(HANDLE file, std::vector<char>& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t got = 0;
        const uint32_t want = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (!ReadFileAt(file, done, bytes.data() + done, want, got) || got == 0) return false;
        done += got;
    }
    return true;
}

}  // namespace

void* OpenFileHeld(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool CopyHeldFile(void* source, const std::wstring& destination, std::wstring& error) {
    std::vector<char> bytes;
    if (source == nullptr || !ReadAll(source, bytes)) {
        error = L"The program file could not be read.";
        return false;
    }
    const std::wstring temporary = destination + L".new";
    {
        const UniqueKernelHandle out(static_cast<HANDLE>(CreateNewFile(temporary)));
        DWORD written = 0;
        if (!out || !WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            const DWORD code = GetLastError();
            DeleteFileW(temporary.c_str());
            error = FormatText(L"CopyFile failed (error %lu). Is the old service still running?", code);
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileW(temporary.c_str());
        error = FormatText(L"CopyFile failed (error %lu). Is the old service still running?", code);
        return false;
    }
    return true;
}

bool SameAsHeldFile(void* source, const std::wstring& path) {
    std::vector<char> held, other;
    const UniqueKernelHandle file = AdoptFileHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                                OPEN_EXISTING, 0, nullptr));
    return source != nullptr && file && ReadAll(source, held) && ReadAll(file.get(), other) && held == other;
}

void HoldOwnImage() {
    const std::wstring path = RunningExecutablePath(520);
    if (!path.empty()) g_image.reset(static_cast<HANDLE>(OpenFileHeld(path)));
}

bool OwnImageHeld() { return static_cast<bool>(g_image); }

void ReleaseOwnImage() { g_image.reset(); }

bool CopyOwnImageTo(const std::wstring& destination, std::wstring& error) {
    if (!g_image) {
        error = FormatText(L"The program file could not be held unchanged (another program has it open for writing), "
                           L"so it was not copied to %ls.",
                           destination.c_str());
        return false;
    }
    return CopyHeldFile(g_image.get(), destination, error);
}

bool SameAsOwnImage(const std::wstring& path) { return g_image && SameAsHeldFile(g_image.get(), path); }
