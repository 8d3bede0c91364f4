#include "foundation/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "foundation/product.h"
#include "foundation/system.h"
#include "foundation/unique_handle.h"

namespace {

bool TokenIsElevated() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
    return elevation.TokenIsElevated != 0;
}

bool ShellRunAs(const std::wstring& executable, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return false;
    // Nobody waits for the elevated copy: it reports through its own console or window and the log.
    const UniqueKernelHandle process(info.hProcess);
    return true;
}

void RealMessageBox(const std::wstring& text, const std::wstring& caption, bool error) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | (error ? MB_ICONERROR : MB_ICONWARNING));
}

const ElevationSeam kRealSeam{TokenIsElevated, ShellRunAs, RealMessageBox};
const ElevationSeam* g_seam = &kRealSeam;

}  // namespace

void SetElevationSeam(const ElevationSeam* seam) { g_seam = seam != nullptr ? seam : &kRealSeam; }

bool IsElevated() { return g_seam->isElevated(); }

std::wstring ElevationParameterText(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) text += L' ';
        text += L'"';
        size_t backslashes = 0;
        for (const wchar_t c : argument) {
            if (c == L'\\') {
                ++backslashes;
            } else {
                // Backslashes stay as they are, except a run right before a quote: the
                // elevated copy's argument splitter would otherwise eat one of them.
                if (c == L'"') text.append(backslashes + 1, L'\\');
                backslashes = 0;
            }
            text += c;
        }
        // The same holds for a run before the closing quote, or it would escape that quote.
        text.append(backslashes, L'\\');
        text += L'"';
    }
    return text;
}

bool RelaunchElevated(const std::vector<std::wstring>& arguments) {
    return g_seam->shellRunAs(RunningExecutablePath(520), ElevationParameterText(arguments));
}

void ShowRightsMessage(const std::wstring& text, bool error) { g_seam->messageBox(text, kProductName, error); }
