// MSI Afterburner, its overclock scanner and its installer, played by one program that acts by
// the name it is copied under:
//   MSIAfterburner.exe          publishes the control shared memory and the "MSI Afterburner"
//                               window; acknowledges an apply command on MACMCmdNotification;
//                               writes Profiles\<gpu>.cfg with a [Startup] curve as it closes
//   MSIOCScanner_x64.exe        the "MSI Overclocking Scanner" window: button 1001 (Scan/Stop) and
//                               status 1007, which a pressed Scan advances through a script
//   MSIAfterburnerSetup466.exe  /S installs MSIAfterburner.exe, the scanner and MSIAfterburner.cfg
//                               under QV_FAKE_PROGRAMS_X86\MSI Afterburner (or /D=<folder>) and
//                               records the program as its installer does (InstallPath)
// QV_FAKE_SCAN_SCRIPT: status lines separated by "|" (default: a successful scan);
// QV_FAKE_SCAN_READY=0: the status stays empty until Scan is pressed; QV_FAKE_AB_ACK=0: never
// acknowledges; QV_FAKE_AB_GPU: the GPU identifier in the shared memory; QV_FAKE_EXIT_<name>:
// exit code. Calls are appended to QV_FAKE_TOOL_LOG.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "helper_common.h"

namespace {

using helper::Environment;
using helper::SelfPath;

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

void Record(const std::string& line) { helper::AppendToolLog(line); }

bool WriteText(const std::wstring& path, const std::string& text) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return written == text.size();
}

// ---- Afterburner --------------------------------------------------------------------------

constexpr char kGpu[] = "VEN_10DE&DEV_2786&SUBSYS_51431458&REV_A1&BUS_1&DEV_0&FN_0";
constexpr size_t kHeader = 36, kEntry = 3760;
HANDLE g_mutex = nullptr;
uint8_t* g_memory = nullptr;
UINT g_notification = 0;

LRESULT CALLBACK AfterburnerProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == g_notification && g_notification != 0) {
        if (Environment(L"QV_FAKE_AB_ACK") != L"0" && WaitForSingleObject(g_mutex, 5000) == WAIT_OBJECT_0) {
            uint32_t command = 0;
            std::memcpy(&command, g_memory + 32, 4);
            if (command == 0x00AB0001) {
                const uint32_t zero = 0;
                std::memcpy(g_memory + 32, &zero, 4);
                Record("afterburner applied");
            }
            ReleaseMutex(g_mutex);
        }
        return 0;
    }
    if (message == WM_CLOSE) {
        const std::wstring profile = Folder(SelfPath()) + L"\\Profiles\\" + std::wstring(kGpu, kGpu + sizeof(kGpu) - 1) + L".cfg";
        WriteText(profile, "[Startup]\r\nFormat=2\r\nCoreClkBoost=105000\r\nVFCurve=000002007F000000\r\nMemClkBoost=0\r\n"
                           "[Defaults]\r\nFormat=2\r\n");
        // A second NVIDIA card's profile, written last: only the identifier tells them apart.
        Sleep(30);
        WriteText(Folder(SelfPath()) + L"\\Profiles\\VEN_10DE&DEV_2882&SUBSYS_00000000&REV_A1&BUS_2&DEV_0&FN_0.cfg",
                  "[Startup]\r\nFormat=2\r\nCoreClkBoost=0\r\nVFCurve=0000\r\n");
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

int RunAfterburner() {
    // As started: the arguments a logon task passed, if any.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string started = "afterburner started";
    for (int i = 1; i < argc; ++i) {
        started += ' ';
        for (const wchar_t* c = argv[i]; *c != 0; ++c) started += static_cast<char>(*c < 128 ? *c : '?');
    }
    LocalFree(argv);
    Record(started);
    g_mutex = CreateMutexW(nullptr, FALSE, L"Global\\Access_MACMSharedMemory");
    const size_t size = kHeader + kEntry;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), L"MACMSharedMemory");
    g_memory = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
    const uint32_t header[] = {0x4D41434D, 0x00020000, static_cast<uint32_t>(kHeader), 1, static_cast<uint32_t>(kEntry), 0, 0, 0, 0};
    std::memcpy(g_memory, header, sizeof(header));
    // The SDK's layout: entries right after the header; in an entry the flag word first and the
    // GPU identifier 3500 bytes in.
    // QV_FAKE_AB_GPU: the identifier another program in the session published first.
    const std::wstring published = Environment(L"QV_FAKE_AB_GPU");
    if (published.empty()) {
        std::memcpy(g_memory + kHeader + 3500, kGpu, sizeof(kGpu));
    } else {
        for (size_t i = 0; i < published.size() && i < 259; ++i) g_memory[kHeader + 3500 + i] = static_cast<uint8_t>(published[i]);
    }
    const uint32_t flags = 0x00060C01;
    std::memcpy(g_memory + kHeader, &flags, 4);
    g_notification = RegisterWindowMessageW(L"MACMCmdNotification");
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AfterburnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FakeAfterburner";
    RegisterClassW(&windowClass);
    CreateWindowExW(0, L"FakeAfterburner", L"MSI Afterburner v4.6.6", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                    windowClass.hInstance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    Record("afterburner closed");
    return 0;
}

// ---- Scanner ------------------------------------------------------------------------------

std::vector<std::wstring> g_script;
size_t g_next = 0;
std::wstring g_status;

LRESULT CALLBACK ScannerProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(w) == 1001) {
            wchar_t caption[16] = {};
            GetDlgItemTextW(window, 1001, caption, 16);
            if (std::wstring(caption) == L"Scan") {
                Record("scan pressed");
                SetDlgItemTextW(window, 1001, L"Stop");
                SetTimer(window, 1, 300, nullptr);
            }
        }
        return 0;
    case WM_TIMER:
        if (g_next < g_script.size()) {
            g_status += (g_status.empty() ? L"" : L"\r\n") + g_script[g_next++];
            SetDlgItemTextW(window, 1007, g_status.c_str());
        }
        if (g_next >= g_script.size()) {
            KillTimer(window, 1);
            SetDlgItemTextW(window, 1001, L"Scan");
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, w, l);
    }
}

int RunScanner() {
    Record("scanner started");
    std::wstring script = Environment(L"QV_FAKE_SCAN_SCRIPT");
    if (script.empty()) {
        script = L"Start scanning|Scanning point 1 of 3|Scanning point 2 of 3|Scanning point 3 of 3|Scan succeeded|"
                 L"Overclocked curve exported";
    }
    for (size_t start = 0; start <= script.size();) {
        size_t end = script.find(L'|', start);
        if (end == std::wstring::npos) end = script.size();
        g_script.push_back(script.substr(start, end - start));
        start = end + 1;
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ScannerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FakeScanner";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"FakeScanner", L"MSI Overclocking Scanner v1.0.0", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                  200, nullptr, nullptr, windowClass.hInstance, nullptr);
    CreateWindowExW(0, L"BUTTON", L"Scan", WS_CHILD | WS_VISIBLE, 10, 10, 80, 24, window, reinterpret_cast<HMENU>(1001),
                    windowClass.hInstance, nullptr);
    if (Environment(L"QV_FAKE_SCAN_READY") != L"0") g_status = L"Connected to MSI Afterburner";
    CreateWindowExW(0, L"STATIC", g_status.c_str(), WS_CHILD | WS_VISIBLE, 10, 40, 380, 140, window, reinterpret_cast<HMENU>(1007),
                    windowClass.hInstance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

// ---- Installer ----------------------------------------------------------------------------

// As its NSIS installer does: "/D=<folder>" (last, unquoted) chooses the folder, and the
// program's full path is recorded as InstallPath under HKLM\SOFTWARE\MSI\Afterburner in the
// 32-bit view (QV_FAKE_AFTERBURNER_KEY names another key for a test of its own).
int RunInstallerRole() {
    Record("afterburner setup");
    const std::wstring root = Environment(L"QV_FAKE_PROGRAMS_X86");
    const std::wstring line = GetCommandLineW();
    const size_t chosen = line.rfind(L" /D=");
    const std::wstring folder = chosen != std::wstring::npos ? line.substr(chosen + 4) : root + L"\\MSI Afterburner";
    if (chosen == std::wstring::npos && root.empty()) return 2;
    WriteText(folder + L"\\MSIAfterburner.cfg",
              "[Settings]\r\nStartWithWindows = 0\r\nStartMinimized = 0\r\nRememberSettings = 0\r\nStartupDelay = 10\r\nFirstRun = 1\r\n"
              "UnlockVoltageControl = 0\r\nEnableServer = 0\r\n");
    WriteText(folder + L"\\Bundle\\OCScanner\\placeholder", "");
    const std::wstring self = SelfPath();
    if (!CopyFileW(self.c_str(), (folder + L"\\MSIAfterburner.exe").c_str(), FALSE)) return 3;
    if (!CopyFileW(self.c_str(), (folder + L"\\Bundle\\OCScanner\\MSIOCScanner_x64.exe").c_str(), FALSE)) return 3;
    const std::wstring key = Environment(L"QV_FAKE_AFTERBURNER_KEY").empty() ? L"SOFTWARE\\MSI\\Afterburner"
                                                                            : Environment(L"QV_FAKE_AFTERBURNER_KEY");
    const std::wstring program = folder + L"\\MSIAfterburner.exe";
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS) {
        return 4;
    }
    RegSetValueExW(opened, L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                   static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring name = SelfPath();
    name = name.substr(name.find_last_of(L'\\') + 1);
    name = name.substr(0, name.rfind(L'.'));
    helper::RecordEnvironment(name);
    int code = 0;
    if (_wcsicmp(name.c_str(), L"MSIAfterburner") == 0) code = RunAfterburner();
    else if (_wcsicmp(name.c_str(), L"MSIOCScanner_x64") == 0) code = RunScanner();
    else if (_wcsicmp(name.c_str(), L"MSIAfterburnerSetup466") == 0) code = RunInstallerRole();
    const std::wstring exitCode = Environment(L"QV_FAKE_EXIT_" + name);
    return exitCode.empty() ? code : _wtoi(exitCode.c_str());
}
