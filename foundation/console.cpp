#include "foundation/console.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>

#include "foundation/product.h"
#include "foundation/text.h"

namespace {

DWORD StdHandleId(StdStream stream) {
    return stream == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// A stream the user sent to a file or pipe ("> out.txt", "| more") must keep going there.
bool IsRedirected(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE || IsConsole(h)) return false;
    const DWORD type = GetFileType(h);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

void BindStream(FILE* stream, const wchar_t* device, const wchar_t* mode, DWORD stdId) {
    FILE* reopened = nullptr;
    if (_wfreopen_s(&reopened, device, mode, stream) != 0 || reopened == nullptr) return;
    const intptr_t os = _get_osfhandle(_fileno(reopened));
    if (os != -1) SetStdHandle(stdId, reinterpret_cast<HANDLE>(os));
}

}  // namespace

bool StdOutputIsConsole() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }
bool StdErrorIsConsole() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }
bool StdInputIsConsole() { return IsConsole(GetStdHandle(STD_INPUT_HANDLE)); }
bool StdOutputIsRedirected() { return IsRedirected(GetStdHandle(STD_OUTPUT_HANDLE)); }
bool StdErrorIsRedirected() { return IsRedirected(GetStdHandle(STD_ERROR_HANDLE)); }
bool CanAskQuestions() { return StdInputIsConsole() && StdOutputIsConsole(); }

namespace {
std::atomic<bool> g_outputReserved{false};
}  // namespace

void ReserveStdOutput() { g_outputReserved = true; }
bool StdOutputReserved() { return g_outputReserved; }

void WriteReservedStdOutput(std::string_view bytes) {
    const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    if (IsConsole(h)) {
        const std::wstring text = FromUtf8(bytes);
        DWORD written = 0;
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteStd(StdStream stream, std::wstring_view text) {
    if (text.empty()) return;
    if (stream == StdStream::Output && g_outputReserved) return;
    const HANDLE h = GetStdHandle(StdHandleId(stream));
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    if (IsConsole(h)) {
        DWORD written = 0;
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // Files and pipes get what a text-mode stream would write: UTF-8 with CR LF line ends (a line
    // feed that already has its carriage return, as a tool's output has, keeps just the one).
    std::wstring lines;
    lines.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) lines += L'\r';
        lines += text[i];
    }
    const std::string bytes = ToUtf8(lines);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool ReadStdLine(std::wstring& line, size_t maxChars) {
    line.clear();
    const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    if (IsConsole(h)) {
        // The console hands back a whole line at once; anything past the buffer is read and dropped.
        wchar_t buffer[256];
        bool any = false;
        for (;;) {
            DWORD read = 0;
            if (!ReadConsoleW(h, buffer, 256, &read, nullptr) || read == 0) return any;
            any = true;
            for (DWORD i = 0; i < read; ++i) {
                if (buffer[i] == L'\n') return true;
                if (buffer[i] != L'\r' && line.size() < maxChars) line += buffer[i];
            }
        }
    }
    // Files and pipes: byte by byte, so nothing after this line is consumed.
    std::string bytes;
    bool any = false;
    for (;;) {
        char c = 0;
        DWORD read = 0;
        if (!ReadFile(h, &c, 1, &read, nullptr) || read == 0) break;
        any = true;
        if (c == '\n') break;
        if (c != '\r') bytes += c;
    }
    line = FromUtf8(bytes);
    if (line.size() > maxChars) line.resize(maxChars);
    return any;
}

void EnsureConsole() {
    if (StdOutputIsConsole()) return;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const bool keepOut = IsRedirected(out);
    const bool keepErr = IsRedirected(err);
    const bool keepIn = IsRedirected(in);
    // Both output streams already lead somewhere the caller chose: a console would only flash
    // an empty window (a scheduled task, a script capturing the output).
    if (keepOut && keepErr) return;

    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!AllocConsole()) return;
        SetConsoleTitleW(kConsoleTitle);
    }

    if (keepOut) SetStdHandle(STD_OUTPUT_HANDLE, out);
    else BindStream(stdout, L"CONOUT$", L"w", STD_OUTPUT_HANDLE);
    if (keepErr) SetStdHandle(STD_ERROR_HANDLE, err);
    else BindStream(stderr, L"CONOUT$", L"w", STD_ERROR_HANDLE);
    if (keepIn) SetStdHandle(STD_INPUT_HANDLE, in);
    else BindStream(stdin, L"CONIN$", L"r", STD_INPUT_HANDLE);
}

void ShowProgress(std::wstring_view text) {
    static const bool isConsole = StdOutputIsConsole();
    if (!isConsole) return;
    WriteStd(StdStream::Output, ProgressLineText(text));
}

void ClearProgress() {
    static const bool isConsole = StdOutputIsConsole();
    if (!isConsole) return;
    WriteStd(StdStream::Output, ProgressClearText());
}
