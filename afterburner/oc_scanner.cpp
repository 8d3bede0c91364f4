// The overclock scanner driven from outside: Afterburner and the scanner started, Scan pressed
// once the scanner is ready, the scan followed through its status line, the result applied and
// copied onto profile 1. Every wait has a limit.
#include <windows.h>
#include <objbase.h>

#include <algorithm>

#include "afterburner/afterburner.h"
#include "afterburner/process_windows.h"
#include "afterburner/afterburner_text.h"
#include "foundation/child_process.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/unique_handle.h"

namespace {

constexpr int kScanButton = 1001;

bool Cancelled(Feed* feed) { return feed != nullptr && feed->CancelQuery(); }

struct Started {
    UniqueKernelHandle process;
    DWORD id = 0;
};

bool StartProgram(const std::wstring& path, Started& started) {
    std::wstring line = L"\"" + path + L"\"";
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ChildLaunch launch;
    launch.KeepTemporaryFolder();  // the program stays open after the scan
    if (!launch.Start(path, line, folder, 0, startup, false, info)) return false;
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
    return true;
}

HWND FindScannerWindow(DWORD process) { return FindProcessWindow(process, L"MSI Overclocking Scanner", true); }

std::wstring ButtonCaption(HWND button) {
    wchar_t caption[65] = {};
    if (button != nullptr) GetWindowTextW(button, caption, 64);
    return caption;
}

// WM_CLOSE to every top-level window of the process, then a bounded wait, then the end.
void CloseProgram(Started& program, DWORD waitMs, UINT exitCode) {
    if (!program.process) return;
    CloseProcessWindows(program.id);
    if (WaitForSingleObject(program.process.get(), waitMs) != WAIT_OBJECT_0) TerminateProcess(program.process.get(), exitCode);
}

void CloseScanner(Started& scanner, DWORD waitMs, UINT exitCode) {
    if (!scanner.process) return;
    const HWND window = FindScannerWindow(scanner.id);
    if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(scanner.process.get(), waitMs) != WAIT_OBJECT_0) TerminateProcess(scanner.process.get(), exitCode);
}

bool StopBoth(Started& scanner, Started& afterburner, std::wstring& error) {
    if (scanner.process) TerminateProcess(scanner.process.get(), 1);
    error = L"Stopped.";
    CloseProgram(afterburner, 5000, 1);
    return false;
}

struct ComApartment {
    const bool ready = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~ComApartment() {
        if (ready) CoUninitialize();
    }
};

}  // namespace

bool RunOcScanner(const AfterburnerSetup& setup, const std::wstring& afterburnerPath, const std::wstring& scannerPath, Feed* feed,
                  std::wstring& error) {
    if (Cancelled(feed)) {
        error = L"Stopped.";
        return false;
    }
    if (feed != nullptr) {
        feed->Stage(L"AFTERBURNER", L"scanning a stable overclock");
        feed->Explanation(L"OC scanner",
                          L"The Afterburner download and this scan take about 30 minutes. Leave the scanner window open. The curve "
                          L"is saved as profile 1 and applied at every logon.");
    }
    LogInfo(L"Starting MSI Afterburner, then the OC scanner.");
    Started afterburner, scanner;
    if (!StartProgram(afterburnerPath, afterburner)) {
        LogInfo(L"MSI Afterburner did not start, so the OC scanner did not run.");
        return false;
    }
    for (int i = 0; i < 8 && !Cancelled(feed); ++i) Sleep(500);
    if (!StartProgram(scannerPath, scanner)) {
        LogInfo(L"The OC scanner did not start. Afterburner will still apply its saved settings at logon.");
        return false;
    }
    const ComApartment apartment;
    const auto readStatus = [&](HWND window) { return window != nullptr && setup.readStatus ? setup.readStatus(window) : std::wstring(); };

    // Press Scan once the scanner is ready, retrying while it reports it could not start.
    const ULONGLONG pressPhase = GetTickCount64();
    ULONGLONG lastPress = 0;
    int presses = 0;
    bool started = false;
    while (GetTickCount64() - pressPhase < 30000) {
        if (Cancelled(feed)) return StopBoth(scanner, afterburner, error);
        const HWND window = FindScannerWindow(scanner.id);
        if (window == nullptr) {
            Sleep(250);
            continue;
        }
        const std::wstring status = readStatus(window);
        const HWND button = GetDlgItem(window, kScanButton);
        const std::wstring caption = ButtonCaption(button);
        if (caption == L"Stop" || ScanActivitySeen(status)) {
            started = true;
            break;
        }
        const bool ready = status.find(L"Connected to MSI Afterburner") != std::wstring::npos ||
                           (status.empty() && GetTickCount64() - pressPhase > 4000);
        const bool retryDue = (presses == 1 || presses == 2) && status.find(L"Failed to start scanning") != std::wstring::npos &&
                              GetTickCount64() - lastPress > 4000;
        if (button != nullptr && IsWindowEnabled(button) && caption == L"Scan" && ready && (presses == 0 || retryDue)) {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(kScanButton, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            LogInfo(L"Pressed Scan.");
            ++presses;
            lastPress = GetTickCount64();
        }
        Sleep(400);
    }
    if (!started) {
        LogInfo(L"The OC scanner opened, but the scan did not start. The window was left open.");
        return false;
    }

    LogInfo(L"The OC scan is running.");
    const ULONGLONG scanStart = GetTickCount64();
    bool curve = false;
    for (;;) {
        const bool ended = WaitForSingleObject(scanner.process.get(), 1000) == WAIT_OBJECT_0;
        if (Cancelled(feed)) return StopBoth(scanner, afterburner, error);
        const ULONGLONG elapsed = GetTickCount64() - scanStart;
        const HWND window = FindScannerWindow(scanner.id);
        const std::wstring status = readStatus(window);
        const std::wstring caption = ButtonCaption(window != nullptr ? GetDlgItem(window, kScanButton) : nullptr);
        double p = 0;
        if (!ScanProgress(status, p)) p = static_cast<double>(elapsed) / 1800000.0;
        if (feed != nullptr) feed->Progress(0.30 + 0.65 * std::min(p, 1.0), static_cast<double>(elapsed) / 1000.0, 0);
        const ScanOutcome outcome = ClassifyScanStatus(status);
        if (outcome == ScanOutcome::Succeeded) {
            ScanOutcome final = outcome;
            std::wstring latest = status;
            for (int waited = 0; waited < 15000 && latest.find(L"Overclocked curve exported") == std::wstring::npos; waited += 500) {
                Sleep(500);
                latest = readStatus(FindScannerWindow(scanner.id));
                final = ClassifyScanStatus(latest);
                if (final == ScanOutcome::Failed) break;
            }
            curve = final != ScanOutcome::Failed;
            break;
        }
        const bool stalled = caption == L"Scan" && elapsed > 8000 && !ScanActivitySeen(status);
        if (outcome == ScanOutcome::Failed || stalled || ended) break;
        if (elapsed >= 2700000) {
            LogInfo(L"The OC scanner is still running after 45 minutes. It was left open.");
            return false;
        }
    }

    if (!curve) {
        LogInfo(L"The OC scanner finished without a new curve. Afterburner will still apply its saved settings at logon.");
        CloseScanner(scanner, 15000, 0);
        CloseProgram(afterburner, 15000, 0);
        return false;
    }
    LogInfo(L"The OC scanner finished and sent the curve to Afterburner.");
    std::string identifier;
    LogInfo(ApplyCurveThroughSharedMemory(afterburner.id, identifier)
                ? L"Applied the scanned curve on the GPU."
                : L"Afterburner did not confirm the apply. The exported curve is still saved if it wrote its profile.");
    Sleep(2000);
    CloseScanner(scanner, 15000, 0);
    // Afterburner writes its profile file as it closes.
    CloseProgram(afterburner, 15000, 0);
    const std::wstring folder = afterburnerPath.substr(0, afterburnerPath.find_last_of(L'\\'));
    std::wstring resultLine;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (CopyScannedCurve(folder, identifier, resultLine)) {
            LogInfo(resultLine);
            return true;
        }
        Sleep(400);
    }
    LogInfo(L"The scanned curve was not copied onto Afterburner profile 1.");
    return false;
}
