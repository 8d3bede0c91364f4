#include "gui/app.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>

#include "foundation/log.h"
#include "gui/layout.h"
#include "health/monitor.h"

namespace {

// Posted by the health-scan thread.
constexpr UINT kScanFinishedMessage = WM_APP + 1;
constexpr UINT kScanAlertMessage = WM_APP + 2;
constexpr UINT_PTR kMinuteTimer = 7;
constexpr size_t kTileLogLines = 8;

}  // namespace

int RunApp(const GuiHooks& hooks) {
    // The window's state (ten shared states with their grids and rings) is megabytes: heap, not stack.
    const auto app = std::make_unique<App>(hooks);
    return app->Run();
}

App::App(const GuiHooks& hooks)
    : hooks_(hooks),
      host_(*this, renderer_),
      questions_(hooks),
      workflow_(hooks, [this] { host_.Close(); }),
      ui_(renderer_),
      feeds_(hooks, jobs_, questions_),
      flow_(hooks, workflow_, feeds_),
      monitor_(hooks, jobs_, questions_, workflow_, flow_),
      update_(hooks, questions_, tray_, host_),
      game_(hooks, jobs_),
      actions_(WindowParts{hooks, workflow_, flow_, monitor_, feeds_, update_, host_, questions_, game_}) {}

App::~App() {
    game_.Stop();
    game_.Join();
    jobs_.Stop();
    monitor_.Stop();
    update_.Stop();
    workflow_.Shutdown();
}

bool App::CreateOffscreen(uint32_t width, uint32_t height, float dpi) {
    host_.UseDpi(dpi);
    return renderer_.CreateOffscreen(width, height, dpi);
}

int App::Run() {
    if (!host_.Create()) return 1;
    const HWND window = host_.Window();
    questions_.SetOwner(window);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!renderer_.Create(window, host_.Dpi())) {
        MessageBoxW(nullptr, L"Direct2D initialisation failed. Use the command line: Quorvantis.exe --cli", L"Quorvantis",
                    MB_ICONERROR);
        host_.Destroy();
        CoUninitialize();
        return 1;
    }
    showMessage_ = RegisterWindowMessageW(L"Quorvantis.Show");
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    // Explorer runs unelevated: without this its message never reaches an elevated window.
    if (taskbarCreated_ != 0) ChangeWindowMessageFilterEx(window, taskbarCreated_, MSGFLT_ALLOW, nullptr);
    tray_.AddFor(window);
    if (hooks_.removeLegacyService) hooks_.removeLegacyService();
    monitor_.Start([this](bool newlyFlagged) {
        if (newlyFlagged) host_.Post(kScanAlertMessage);
        host_.Post(kScanFinishedMessage);
    });
    const MonitorSettings settings = monitor_.Settings();
    const bool askStartup = !hooks_.yes && !settings.startupAsked;
    ShowWindow(window, !askStartup && settings.startMinimized && !hooks_.yes ? SW_HIDE : SW_SHOW);
    SetTimer(window, kMinuteTimer, 60000, nullptr);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    if (hooks_.systemInfo) workflow_.Main().System(hooks_.systemInfo());

    flow_.Open();
    update_.StartCheck();
    if (askStartup) monitor_.AskStartupQuestion(window);
    monitor_.AskMaintainQuestion();

    host_.MessageLoop();
    Shutdown();
    return update_.Applied() ? 2 : 0;
}

void App::Shutdown() {
    // Every stop flag first, so the threads end together; then each is joined.
    update_.Stop();
    workflow_.RequestStop();
    game_.Stop();
    jobs_.Stop();
    monitor_.Stop();
    // A game check stopped here still lets go of the period and starts the paused service again.
    game_.Join();
    workflow_.Shutdown();
    renderer_.Lattice().Stop();
    // A measurement stopped the service for an install that never finished: start it again.
    if (workflow_.serviceStoppedByMeasurement.load() && !workflow_.serviceInstalledSince.load() && !update_.Applied() &&
        hooks_.startService) {
        hooks_.startService();
    }
    CoUninitialize();
}

void App::RefreshTray() { tray_.Show(monitor_.Results(), update_.Mode(), update_.Dim()); }

void App::OnTrayEvent(LPARAM event) {
    switch (LOWORD(event)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        host_.Show();
        if (IsSetupComplete()) flow_.GoHome();
        return;
    case NIN_BALLOONUSERCLICK:
        host_.Show();
        if (update_.Mode()) {
            update_.RequestPrompt();
            update_.Handle();  // the question comes now, not on the next frame, which a hidden window never draws
            questions_.AskQueued();
        } else {
            flow_.GoHome();
        }
        return;
    case WM_RBUTTONUP: break;
    default: return;
    }
    MonitorSettings settings = monitor_.Settings();
    switch (tray_.ShowMenu(settings)) {
    case TrayCommand::Open:
        host_.Show();
        if (IsSetupComplete()) flow_.GoHome();
        break;
    case TrayCommand::Scan:
        host_.Show();
        actions_.OpenHealth(true);
        break;
    case TrayCommand::TogglePause:
        settings.paused = !settings.paused;
        monitor_.SaveSettings(settings);
        break;
    case TrayCommand::ToggleStartup:
        settings.launchAtLogin = !settings.launchAtLogin;
        settings.startMinimized = settings.launchAtLogin;
        if (settings.launchAtLogin) settings.closeToTray = true;
        monitor_.SaveSettings(settings);
        break;
    case TrayCommand::ToggleNotify:
        settings.notify = !settings.notify;
        monitor_.SaveSettings(settings);
        break;
    case TrayCommand::ToggleMaintain: monitor_.ToggleMaintainTiming(); break;
    case TrayCommand::Exit:
        quitting_ = true;
        host_.Destroy();
        break;
    case TrayCommand::None: break;
    }
}

bool App::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (message == showMessage_ && showMessage_ != 0) {
        host_.Show();
        return true;
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // A new Explorer has an empty notification area: a monitor kept there would be unreachable.
        // Whatever the old one left of the icon goes first, so the add is never a duplicate.
        if (tray_.AddAgain()) LogInfo(L"The taskbar started again; the tray icon is back.");
        return true;
    }
    switch (message) {
    case WM_DESTROY:
        tray_.Remove();
        PostQuitMessage(0);
        return true;
    case WM_CLOSE:
        if (quitting_ || update_.Applied() || !monitor_.Settings().closeToTray) host_.Destroy();
        else ShowWindow(host_.Window(), SW_HIDE);
        return true;
    case WM_KEYDOWN:
        if (wParam != VK_ESCAPE) return false;
        if (states_.review.confirmOpen) states_.review.confirmOpen = false;
        else host_.Close();
        return true;
    case WM_TIMER:
        if (wParam == kMinuteTimer) monitor_.MinuteTick();
        if (wParam == kBlinkTimer && update_.Blink()) RefreshTray();
        return true;
    case kTrayCallbackMessage: OnTrayEvent(lParam); return true;
    case kScanFinishedMessage:
        RefreshTray();
        monitor_.OnScanFinished();
        return true;
    case kScanAlertMessage: {
        std::wstring text;
        if (monitor_.TakeBalloon(tray_.Present(), text)) tray_.Balloon(L"Quorvantis", text, NIIF_WARNING);
        return true;
    }
    case kUpdateCheckedMessage:
        update_.Handle();
        questions_.AskQueued();
        return true;
    default: return false;
    }
}

void App::Tick() {
    update_.Handle();
    const ScreenLayout fullTune = LayoutFor(renderer_.Width(), renderer_.Height(), stage::FullTune);
    // The measure screen's result fades in once the measurement or the install has finished.
    if (flow_.Tick(fullTune.content.Width(), fullTune.content.Height())) states_.measure.fadeA = 0.0001;
    monitor_.WatchRepairs();
}

bool App::WorkPending() const { return flow_.WorkPending() || monitor_.WorkPending() || game_.Busy(); }

void App::TakeSnapshot(double dt) {
    FrameSnapshot& s = snap_;
    s.stage = workflow_.CurrentStage();
    s.clock = clock_;
    s.version = hooks_.version;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        s.state[slot] = workflow_.State(slot);
        s.want[slot] = workflow_.Wanted(slot);
    }
    s.fidelity = workflow_.Fidelity();
    const ScreenHeader fixed = FixedHeaderOf(s.stage);
    s.mainHeader = fixed.tag != nullptr ? std::pair<std::wstring, std::wstring>{fixed.tag, fixed.text} : workflow_.Main().Header();
    const int shown = s.stage >= stage::Measuring && s.stage <= stage::InstallFailed ? static_cast<int>(SlotMeasure)
                                                                                     : SlotShownBy(s.stage);
    if (shown >= 0) workflow_.StateOf(shown).Snapshot(s.view);
    s.elevated = s.view.system.elevated;
    if (s.stage >= stage::Installing && s.stage <= stage::InstallFailed) s.serviceHeader = workflow_.StateOf(SlotService).Header();
    if (s.stage == stage::Home && IsBusy(s.state[SlotMeasure])) workflow_.StateOf(SlotMeasure).Snapshot(s.measuring);
    if (s.stage == stage::FullTune) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (IsBusy(s.state[slot])) workflow_.StateOf(slot).Brief(s.briefs[slot], kTileLogLines);
        }
    }
    if (s.stage >= stage::Measuring && s.stage <= stage::InstallFailed) s.result = workflow_.LatestResult();
    // What changes rarely is copied only when it changed.
    const uint64_t gpu = workflow_.GpuGeneration();
    if (gpu != gpuShown_) {
        gpuShown_ = gpu;
        s.gpuPhase = workflow_.GpuCleanPhase();
        s.offer = workflow_.GpuOffer();
        s.gpuStatus = workflow_.GpuStatusText();
    }
    s.gpuCleanAvailable = workflow_.GpuCleanAvailable();
    feeds_.Fill(s);
    monitor_.Fill(s);
    flow_.Fill(s);
    if (s.stage == stage::GameCheck) game_.Fill(s.game);
    s.updateMode = update_.Mode();
    s.updateApplying = update_.Applying();
    // The measurement's result fades in; the time step belongs to the frame.
    MeasureScreenState& measure = states_.measure;
    if (measure.fadeA > 0) measure.fadeA = std::min(1.0, measure.fadeA + dt * 1.5);
}

void App::Frame(double dt) {
    clock_ += dt;
    ui_.BeginFrame(host_.TakeInput(), dt, clock_);
    LARGE_INTEGER frequency{}, before{}, after{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    Tick();
    TakeSnapshot(dt);
    QueryPerformanceCounter(&after);
    frameWorkMs_ = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    const ScreenLayout layout = LayoutFor(renderer_.Width(), renderer_.Height(), snap_.stage);
    ScreenContext context{renderer_, ui_, layout};
    DrawHeader(context, snap_, actions_);
    DrawScreen(context, snap_, states_, actions_);
    ui_.EndFrame();
    veil_ = std::min(1.0, veil_ + 1.4 * dt);
    if (veil_ < 1) {
        const float opacity = static_cast<float>(std::pow(1 - veil_, 3));
        renderer_.FillRect(RectF{0, 0, renderer_.Width(), renderer_.Height()}, palette::Background.WithAlpha(opacity));
    }
    host_.SetHandCursor(ui_.hand);
}
