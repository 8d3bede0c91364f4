#include "gui/app.h"

#include <windows.h>
#include <dwmapi.h>
#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/log.h"
#include "foundation/system.h"
#include "foundation/text.h"

namespace {

constexpr const wchar_t* kWindowClass = L"Quorvantis.Gui";
constexpr const wchar_t* kWindowTitle = L"Quorvantis  |  Fenmarch Systems";
constexpr int kIconResource = kAppIconResource;
constexpr int kStartupDialog = 100;
// DWMWINDOWATTRIBUTE values newer than some SDKs' headers: dark title bar (Windows 10 20H1 on),
// border and caption colours (Windows 11 on; earlier builds ignore them).
constexpr DWORD kDwmUseDarkMode = 20;
constexpr DWORD kDwmBorderColour = 34;
constexpr DWORD kDwmCaptionColour = 35;

template <typename Fn>
Fn User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

UINT SystemDpi() {
    const auto getDpiForSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
    return getDpiForSystem != nullptr ? getDpiForSystem() : 96;
}

int MetricForDpi(int index, UINT dpi) {
    const auto forDpi = User32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(index, dpi) : MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), 96);
}

// The monitor's effective DPI through Shcore, loaded at run time (missing before Windows 8.1).
UINT MonitorDpi(HWND window) {
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto getDpiForMonitor = reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(LoadSystemLibrary(L"Shcore.dll")), "GetDpiForMonitor")));
    UINT x = 96, y = 96;
    if (getDpiForMonitor == nullptr ||
        FAILED(getDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y))) {
        return 96;
    }
    return std::max<UINT>(x, 96);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        // The handle is known here, before CreateWindowExW returns it.
        static_cast<App*>(create->lpCreateParams)->AttachWindow(window);
    }
    auto* app = reinterpret_cast<App*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (app == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return app->HandleMessage(message, wParam, lParam);
}

INT_PTR CALLBACK StartupDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(dialog, 1001, BST_CHECKED);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IsDlgButtonChecked(dialog, 1001) == BST_CHECKED ? 1 : 0);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

int RunApp(const GuiHooks& hooks) {
    // The window's state (ten shared states with their grids and rings) is megabytes: heap, not stack.
    const auto app = std::make_unique<App>(hooks);
    return app->Run();
}

App::App(const GuiHooks& hooks)
    : hooks_(hooks), workflow_(hooks, [this] { RequestClose(); }), ui_(renderer_) {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&lastFrame_);
}

App::~App() {
    jobs_.Stop();
    if (scanThread_.joinable()) {
        scanStop_.store(true);
        scanThread_.join();
    }
    updater_.Stop();
    workflow_.Shutdown();
}

bool App::CreateOffscreen(uint32_t width, uint32_t height, float dpi) {
    dpi_ = dpi;
    return renderer_.CreateOffscreen(width, height, dpi);
}

bool App::CreateMainWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    if (windowClass.hIcon == nullptr) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    const UINT dpi = SystemDpi();
    dpi_ = static_cast<float>(dpi);
    RECT frame{0, 0, MulDiv(1340, static_cast<int>(dpi), 96), MulDiv(880, static_cast<int>(dpi), 96)};
    const auto adjustForDpi = User32Function<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (adjustForDpi != nullptr) adjustForDpi(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
    else AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = work.left + std::max(0, static_cast<int>((work.right - work.left - width) / 2));
    const int y = work.top + std::max(0, static_cast<int>((work.bottom - work.top - height) / 2));
    window_ = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr, nullptr,
                              instance, this);
    return window_ != nullptr;
}

void App::BuildIcons() {
    const UINT dpi = static_cast<UINT>(dpi_);
    UniqueIcon big(BuildAppIcon(std::max(48, MetricForDpi(SM_CXICON, dpi)), false));
    UniqueIcon small(BuildAppIcon(std::max(24, MetricForDpi(SM_CXSMICON, dpi)), false));
    // The window lets go of the old icons before they are destroyed.
    if (window_ != nullptr) {
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    }
    bigIcon_ = std::move(big);
    smallIcon_ = std::move(small);
}

void App::ApplyDwmAttributes() {
    const BOOL dark = TRUE;
    const COLORREF caption = 0x00381607;  // the background colour, as COLORREF (blue, green, red)
    DwmSetWindowAttribute(window_, kDwmUseDarkMode, &dark, sizeof(dark));
    DwmSetWindowAttribute(window_, kDwmCaptionColour, &caption, sizeof(caption));
    DwmSetWindowAttribute(window_, kDwmBorderColour, &caption, sizeof(caption));
}

void App::AddTrayIcon() {
    const int size = std::clamp(MetricForDpi(SM_CXSMICON, MonitorDpi(window_)), 32, 64);
    // The fallback is shared: Windows keeps it, nothing destroys it.
    const HICON fallback = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    tray_.Add(window_, kTrayCallbackMessage, UniqueIcon(BuildAppIcon(size, false)), fallback);
}

int App::Ask(const std::wstring& text, unsigned flags) {
    return hooks_.ask ? hooks_.ask(text, flags) : MessageBoxW(window_, text.c_str(), L"Quorvantis", flags);
}

void App::StartUpdateCheck() {
    // Announced at once, even while the window waits hidden in the tray.
    updater_.StartCheck(hooks_.checkUpdate, [this] {
        if (window_ != nullptr) PostMessageW(window_, kUpdateCheckedMessage, 0, 0);
    });
}

void App::ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD icon) { tray_.Balloon(title, text, icon); }

MonitorSettings App::Settings() const {
    const std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_;
}

void App::SaveSettings(const MonitorSettings& settings) {
    bool autostartChanged = false;
    {
        const std::lock_guard<std::mutex> lock(settingsMutex_);
        autostartChanged = settings_.launchAtLogin != settings.launchAtLogin || !settings_.startupAsked;
        settings_ = settings;
    }
    if (!SaveMonitorSettings(settings)) LogError(L"The monitor settings could not be saved; they hold until Quorvantis closes.");
    if (autostartChanged) SyncLaunchAtLogin(settings.launchAtLogin);
}

void App::SyncLaunchAtLogin(bool on) {
    if (!hooks_.launchAtLogin) return;
    jobs_.Post([this, on] {
        std::wstring error;
        if (!hooks_.launchAtLogin(on, error)) LogError(error);
    });
}

void App::RefreshTray() {
    if (!tray_.Present()) return;
    std::vector<HealthCheck> results = ScanResults();
    const HealthSummary summary = SummarizeHealth(results);
    const int size = std::clamp(MetricForDpi(SM_CXSMICON, MonitorDpi(window_)), 32, 64);
    std::wstring tip = L"Quorvantis";
    if (updateMode_) tip += L": update available";
    else if (summary.attention > 0) tip += L": " + summary.text;
    else if (!results.empty()) tip += L": nothing needs attention";
    tray_.Update(UniqueIcon(BuildAppIcon(size, updateMode_ && blinkPhase_)),
                 summary.attention > 0 ? LoadIconW(nullptr, IDI_WARNING) : nullptr, tip);
}

void App::ShowMainWindow() {
    if (window_ == nullptr) return;
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
}

void App::RequestClose() {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void App::GoHome() {
    // Every visit shows the newest saved scan, whichever screen measured it.
    scanLoadWanted_ = true;
    workflow_.SetStage(stage::Home);
}

void App::OpenHealth(bool scan) {
    workflow_.SetStage(stage::Health);
    if (scan) StartHealthScan();
    // The ledger asks services and the driver store, so it is read on the worker, once per visit.
    if (hooks_.readChanges) {
        jobs_.Post([this] {
            std::vector<ChangeRow> rows = hooks_.readChanges();
            const std::lock_guard<std::mutex> lock(probeMutex_);
            changes_ = std::move(rows);
            changesRead_ = true;
        });
    }
}

void App::PutBackChange(const ChangeRow& change) {
    if (!hooks_.revertChange) return;
    const std::wstring id = change.id;
    std::wstring question = FormatText(L"Put %ls back to %ls?\n\n%ls\nNow: %ls", id.c_str(), change.original.c_str(),
                                       change.setting.c_str(), change.currentRead ? change.current.c_str() : L"(could not be read)");
    if (change.state == ChangeState::ChangedSince) {
        question += L"\n\nSomeone else changed it since Quorvantis wrote " + change.ours + L"; their value is replaced too.";
    }
    AskAfterFrame([this, id, question] {
        if (Ask(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
        {
            const std::lock_guard<std::mutex> lock(probeMutex_);
            puttingBack_ = true;
            putBackOutcome_.clear();
        }
        // Writes the registry, services and the driver store: never on the window's thread.
        jobs_.Post([this, id] {
            std::wstring outcome;
            hooks_.revertChange(id, outcome);
            std::vector<ChangeRow> rows = hooks_.readChanges ? hooks_.readChanges() : std::vector<ChangeRow>{};
            const std::lock_guard<std::mutex> lock(probeMutex_);
            changes_ = std::move(rows);
            puttingBack_ = false;
            putBackOutcome_ = outcome;
        });
    });
}

void App::OpenLog() {
    // Notepad is never started with our rights; where it cannot be started as the user at the
    // desk, the path is what they get.
    if (!OpenInNotepad(hooks_.logPath)) Ask(L"The log is at " + hooks_.logPath + L".", MB_OK | MB_ICONINFORMATION);
}

void App::RestartComputer() {
    if (!hooks_.restart) return;
    std::wstring error;
    if (!hooks_.restart(L"Quorvantis: restarting. In BIOS, lock the CPU multiplier, disable deep C-states, enable XMP "
                        L"or DOCP, and turn on Above 4G if you want Resizable BAR.",
                        error)) {
        LogError(L"Windows did not restart: " + error);
        Ask(L"Windows did not restart: " + error + L" Restart from the Start menu to finish.", MB_OK | MB_ICONWARNING);
    }
}

void App::UseScanResults(std::vector<HealthCheck> results) {
    const std::lock_guard<std::mutex> lock(scanMutex_);
    scanResults_ = std::move(results);
    scanGeneration_.fetch_add(1);
}

std::vector<HealthCheck> App::ScanResults(bool* running) const {
    const std::lock_guard<std::mutex> lock(scanMutex_);
    if (running != nullptr) *running = scanBusy_.load();
    return scanResults_;
}

void App::StartHealthScan() {
    if (scanBusy_.exchange(true)) return;
    if (scanThread_.joinable()) scanThread_.join();
    scanStop_.store(false);
    // The settings as they are now; the tray menu may change them while the scan runs.
    const MonitorSettings settings = Settings();
    scanThread_ = std::thread([this, settings] {
        std::vector<HealthCheck> results = RunHealthChecks(&scanStop_);
        bool somethingNew = false;
        {
            const std::lock_guard<std::mutex> lock(scanMutex_);
            std::vector<std::wstring> flagged = FlaggedItems(results);
            somethingNew = AnyNewlyFlagged(flagged_, flagged);
            if (!scanStop_.load()) {
                scanResults_ = std::move(results);
                flagged_ = std::move(flagged);
                scanGeneration_.fetch_add(1);
            }
        }
        nextScan_ = GetTickCount64() + static_cast<ULONGLONG>(settings.scanHours) * 3600000ull;
        scanBusy_.store(false);
        scanGeneration_.fetch_add(1);
        if (window_ != nullptr) {
            if (settings.notify && somethingNew) PostMessageW(window_, kScanAlertMessage, 0, 0);
            PostMessageW(window_, kScanFinishedMessage, 0, 0);
        }
    });
}

void App::ScheduleDriftCheck() {
    monitor_.nextDrift = GetTickCount64() + kDriftInterval;
    if (!scanBusy_.load() && !monitor_.driftPending) {
        monitor_.driftPending = true;
        StartHealthScan();
    }
}

void App::MinuteTick() {
    monitor_.nextScan = nextScan_.load();
    const MonitorSettings settings = Settings();
    switch (::MinuteTick(settings.paused, settings.maintainTiming, scanBusy_.load(), GetTickCount64(), monitor_)) {
    case MinuteAction::Scan:
    case MinuteAction::DriftCheck: StartHealthScan(); break;
    case MinuteAction::None: break;
    }
}

void App::OnScanFinished() {
    RefreshTray();
    if (!monitor_.driftPending) return;
    monitor_.driftPending = false;
    const MonitorSettings settings = Settings();
    if (!settings.maintainTiming || settings.paused) return;
    std::vector<HealthCheck> results = ScanResults();
    // Hardening copies the program and registers tasks (seconds): it runs on the worker.
    DriftRepair(
        results,
        [this](const std::wstring& area) {
            if (hooks_.guardArea) jobs_.Post([this, area] { hooks_.guardArea(area); });
        },
        [this](const std::wstring& area) { RepairArea(area, false); });
}

void App::OnScanAlert() {
    const std::vector<HealthCheck> results = ScanResults();
    const auto first = std::find_if(results.begin(), results.end(), [](const HealthCheck& c) { return IsAttentionStatus(c.status); });
    if (!TakeBalloonTurn(Settings().notify, tray_.Present(), first != results.end(), GetTickCount64(), monitor_)) return;
    ShowBalloon(L"Quorvantis", first->title + L": " + first->observed, NIIF_WARNING);
}

void App::OnTrayEvent(LPARAM event) {
    switch (LOWORD(event)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        ShowMainWindow();
        if (IsSetupComplete()) GoHome();
        break;
    case NIN_BALLOONUSERCLICK:
        ShowMainWindow();
        if (updateMode_) {
            updatePromptRequest_ = true;
            HandleUpdate();  // the question comes now, not on the next frame, which a hidden window never draws
            AskQueuedQuestions();
        }
        else GoHome();
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
}

void App::ShowTrayMenu() {
    const UniqueMenu owned(CreatePopupMenu());
    const HMENU menu = owned.get();
    if (menu == nullptr) return;
    MonitorSettings settings = Settings();
    AppendMenuW(menu, MF_STRING, 4100, L"Open Quorvantis");
    AppendMenuW(menu, MF_STRING, 4101, L"Run health check");
    AppendMenuW(menu, MF_STRING, 4102, settings.paused ? L"Resume monitoring" : L"Pause monitoring");
    AppendMenuW(menu, MF_STRING, 4103, L"Settings");
    AppendMenuW(menu, MF_STRING, 4105,
                settings.launchAtLogin ? L"Start with Windows, minimized: on" : L"Start with Windows, minimized: off");
    AppendMenuW(menu, MF_STRING, 4106, settings.notify ? L"Notifications: on" : L"Notifications: off");
    AppendMenuW(menu, MF_STRING, 4107, settings.maintainTiming ? L"Maintain timing: on" : L"Maintain timing: off");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, 4104, L"Exit");
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window_);
    const int command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
    switch (command) {
    case 4100:
    case 4103:
        ShowMainWindow();
        if (IsSetupComplete()) GoHome();
        break;
    case 4101:
        ShowMainWindow();
        OpenHealth(true);
        break;
    case 4102:
        settings.paused = !settings.paused;
        SaveSettings(settings);
        break;
    case 4105:
        settings.launchAtLogin = !settings.launchAtLogin;
        settings.startMinimized = settings.launchAtLogin;
        if (settings.launchAtLogin) settings.closeToTray = true;
        SaveSettings(settings);
        break;
    case 4106:
        settings.notify = !settings.notify;
        SaveSettings(settings);
        break;
    case 4107:
        ToggleMaintainTiming();
        break;
    case 4104:
        quitting_ = true;
        DestroyWindow(window_);
        break;
    default:
        break;
    }
}

void App::ChooseOpeningStage() {
    if (hooks_.yes) {
        // The unattended flow runs the steps the user chose: the stored selection with the
        // command line's "--no-..." switches on top.
        if (IsSetupComplete()) workflow_.LoadSelection();
        workflow_.ApplyCommandLineSelection();
    }
    if (hooks_.yes && hooks_.resolution != 0 && workflow_.Wanted(SlotService)) {
        workflow_.SetInstallPeriod(hooks_.resolution);
        workflow_.SetStage(stage::Measured);
        if (!workflow_.Busy(SlotService)) workflow_.StartInstall(false, hooks_.resolution);
        workflow_.SetStage(stage::Installing);
    } else if (hooks_.yes && hooks_.resolution == 0 && workflow_.Wanted(SlotMeasure)) {
        if (!workflow_.Busy(SlotMeasure)) workflow_.StartBenchmark(false);
        workflow_.SetStage(stage::Measuring);
    } else if (hooks_.yes) {
        StartNextWantedStep(SlotService);
    } else if (IsSetupComplete()) {
        workflow_.LoadSelection();
        GoHome();
    } else {
        workflow_.SetStage(stage::Welcome);
    }
}

void App::AskStartupQuestion() {
    const INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kStartupDialog), window_,
                                           StartupDialogProcedure, 0);
    const bool on = answer == 1;
    MonitorSettings settings = Settings();
    settings.closeToTray = on;
    settings.startMinimized = on;
    settings.launchAtLogin = on;
    settings.trayPrompted = true;
    settings.startupAsked = true;
    SaveSettings(settings);
}

void App::AskMaintainQuestion() {
    MonitorSettings settings = Settings();
    if (hooks_.yes || settings.maintainAsked) return;
    const int answer = MessageBoxW(window_,
                                   L"Automatically maintain the timing structure?\n\nOnce a minute, Quorvantis reads the "
                                   L"monitored settings and puts back any that have drifted. You can change this later "
                                   L"from the tray menu or the home screen.",
                                   L"Quorvantis", MB_YESNO | MB_ICONQUESTION);
    settings.maintainTiming = answer == IDYES;
    settings.maintainAsked = true;
    SaveSettings(settings);
    if (settings.maintainTiming) ScheduleDriftCheck();
}

int App::Run() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (const auto setContext = User32Function<SetContextFn>("SetProcessDpiAwarenessContext")) {
        setContext(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    }
    if (!CreateMainWindow()) return 1;
    BuildIcons();
    ApplyDwmAttributes();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!renderer_.Create(window_, dpi_)) {
        MessageBoxW(nullptr, L"Direct2D initialisation failed. Use the command line: Quorvantis.exe --cli", L"Quorvantis",
                    MB_ICONERROR);
        DestroyWindow(window_);
        CoUninitialize();
        return 1;
    }
    {
        const std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_ = LoadMonitorSettings();
    }
    const MonitorSettings settings = Settings();
    showMessage_ = RegisterWindowMessageW(L"Quorvantis.Show");
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    // Explorer runs unelevated: without this its message never reaches an elevated window.
    if (taskbarCreated_ != 0) ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    AddTrayIcon();
    if (hooks_.removeLegacyService) hooks_.removeLegacyService();
    // An older build's Run value goes, and a choice made but not yet a task becomes one.
    const bool autostart = settings.launchAtLogin && settings.startupAsked;
    if (hooks_.launchAtLoginNeedsRepair && hooks_.launchAtLoginNeedsRepair(autostart)) SyncLaunchAtLogin(autostart);

    const bool askStartup = !hooks_.yes && !settings.startupAsked;
    ShowWindow(window_, !askStartup && settings.startMinimized && !hooks_.yes ? SW_HIDE : SW_SHOW);

    SetTimer(window_, kMinuteTimer, 60000, nullptr);
    nextScan_ = GetTickCount64() + static_cast<ULONGLONG>(settings.scanHours) * 3600000ull;
    if (!settings.paused) StartHealthScan();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    if (hooks_.systemInfo) workflow_.Main().System(hooks_.systemInfo());
    QueryPerformanceCounter(&lastFrame_);

    if (!IsSetupComplete()) workflow_.ApplyCommandLineSelection();
    ChooseOpeningStage();
    StartUpdateCheck();
    if (askStartup) AskStartupQuestion();
    AskMaintainQuestion();

    MessageLoop();
    Shutdown();
    return updater_.Applied() ? 2 : 0;
}

void App::MessageLoop() {
    running_ = true;
    while (running_) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                running_ = false;
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!running_) break;
        if (window_ == nullptr || IsIconic(window_) || !IsWindowVisible(window_)) {
            // Nothing is drawn while hidden. Steps, a tune or repairs under way still move on
            // four times a second; otherwise the thread sleeps until a message comes.
            if (BackgroundWorkPending()) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 250, QS_ALLINPUT);
                Tick();
                AskQueuedQuestions();
            } else {
                WaitMessage();
            }
            QueryPerformanceCounter(&lastFrame_);  // no leap in the animations when shown again
            continue;
        }
        if (HoldFrameForLattice()) continue;
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        double dt = static_cast<double>(now.QuadPart - lastFrame_.QuadPart) / static_cast<double>(frequency_.QuadPart);
        lastFrame_ = now;
        dt = std::clamp(dt, 0.0, 0.05);
        if (!renderer_.BeginFrame()) {
            Sleep(100);
            continue;
        }
        DrawFrame(dt);
        renderer_.EndFrame();
        // Questions open their own message loop: only once the frame is shown.
        AskQueuedQuestions();
    }
}

bool App::HoldFrameForLattice() {
    LatticeRenderer& lattice = renderer_.Lattice();
    if (!lattice.TakesTurn()) {
        latticeHeldSince_ = 0;
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    if (latticeHeldSince_ == 0) latticeHeldSince_ = now;
    const ULONGLONG held = now - latticeHeldSince_;
    if (held >= kLatticeTurnMs) return false;  // a picture that does not end never stops the window
    const HANDLE over = lattice.TurnOver();
    MsgWaitForMultipleObjects(1, &over, FALSE, static_cast<DWORD>(kLatticeTurnMs - held), QS_ALLINPUT);
    return true;
}

void App::Shutdown() {
    // Every stop flag first, so the threads end together; then each is joined.
    updater_.Stop();
    workflow_.RequestStop();
    jobs_.Stop();
    scanStop_.store(true);
    if (scanThread_.joinable()) scanThread_.join();
    workflow_.Shutdown();
    renderer_.Lattice().Stop();
    bigIcon_.reset();
    smallIcon_.reset();
    // A measurement stopped the service for an install that never finished: start it again.
    if (workflow_.serviceStoppedByMeasurement.load() && !workflow_.serviceInstalledSince.load() &&
        !updater_.Applied() && hooks_.startService) {
        hooks_.startService();
    }
    CoUninitialize();
}

LRESULT App::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == showMessage_ && showMessage_ != 0) {
        ShowMainWindow();
        return 0;
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // A new Explorer has an empty notification area: a monitor kept there would be unreachable.
        // Whatever the old one left of the icon goes first, so the add is never a duplicate.
        if (tray_.AddAgain()) LogInfo(L"The taskbar started again; the tray icon is back.");
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        tray_.Remove();
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) renderer_.Resize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        ValidateRect(window_, nullptr);
        return 0;
    case WM_CLOSE:
        if (quitting_ || updater_.Applied() || !Settings().closeToTray) DestroyWindow(window_);
        else ShowWindow(window_, SW_HIDE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, cursorHand_ ? IDC_HAND : IDC_ARROW));
            return 1;
        }
        break;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = static_cast<LONG>(dpi_ * 1040 / 96);
        info->ptMinTrackSize.y = static_cast<LONG>(dpi_ * 700 / 96);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            if (states_.review.confirmOpen) states_.review.confirmOpen = false;
            else PostMessageW(window_, WM_CLOSE, 0, 0);
        } else if (wParam == VK_RETURN) {
            pending_.enter = true;
        }
        return 0;
    case WM_MOUSEMOVE:
        pending_.x = static_cast<float>(static_cast<short>(LOWORD(lParam))) * 96 / dpi_;
        pending_.y = static_cast<float>(static_cast<short>(HIWORD(lParam))) * 96 / dpi_;
        return 0;
    case WM_LBUTTONDOWN:
        buttonDown_ = true;
        pending_.down = true;
        SetCapture(window_);
        return 0;
    case WM_LBUTTONUP:
        if (buttonDown_ && queuedClicks_ < clicks_.size()) {
            clicks_[queuedClicks_++] = {static_cast<float>(static_cast<short>(LOWORD(lParam))) * 96 / dpi_,
                                        static_cast<float>(static_cast<short>(HIWORD(lParam))) * 96 / dpi_};
        }
        buttonDown_ = false;
        pending_.down = false;
        ReleaseCapture();
        return 0;
    case WM_MOUSEWHEEL:
        // Each screen scrolls its own list by the notches of the frame, within that list.
        pending_.wheel += GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        renderer_.SetDpi(dpi_);
        BuildIcons();
        const auto* suggested = reinterpret_cast<RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kMinuteTimer) MinuteTick();
        if (wParam == kBlinkTimer && updateMode_) {
            blinkPhase_ = !blinkPhase_;
            RefreshTray();
        }
        return 0;
    case kTrayCallbackMessage:
        OnTrayEvent(lParam);
        return 0;
    case kScanFinishedMessage:
        OnScanFinished();
        return 0;
    case kScanAlertMessage:
        OnScanAlert();
        return 0;
    case kUpdateCheckedMessage:
        HandleUpdate();
        AskQueuedQuestions();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}
