#include "gui/health_monitor.h"

#include <algorithm>

#include "foundation/log.h"
#include "foundation/text.h"

namespace {

constexpr int kStartupDialog = 100;  // resources/quorvantis.rc
constexpr int kStartupCheckbox = 1001;

INT_PTR CALLBACK StartupDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(dialog, kStartupCheckbox, BST_CHECKED);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IsDlgButtonChecked(dialog, kStartupCheckbox) == BST_CHECKED ? 1 : 0);
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

ULONGLONG NextScanAfter(const MonitorSettings& settings) {
    return GetTickCount64() + static_cast<ULONGLONG>(settings.scanHours) * 3600000ull;
}

}  // namespace

HealthMonitor::HealthMonitor(const GuiHooks& hooks, BackgroundJobs& jobs, Questions& questions, Workflow& workflow,
                             const FlowDriver& flow)
    : hooks_(hooks), jobs_(jobs), questions_(questions), workflow_(workflow), flow_(flow) {}

HealthMonitor::~HealthMonitor() { Stop(); }

void HealthMonitor::Stop() {
    scanStop_.store(true);
    if (scanThread_.joinable()) scanThread_.join();
}

void HealthMonitor::Start(Finished finished) {
    finished_ = std::move(finished);
    {
        const std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_ = LoadMonitorSettings();
    }
    const MonitorSettings settings = Settings();
    // An older build's Run value goes, and a choice made but not yet a task becomes one.
    const bool autostart = settings.launchAtLogin && settings.startupAsked;
    if (hooks_.launchAtLoginNeedsRepair && hooks_.launchAtLoginNeedsRepair(autostart)) SyncLaunchAtLogin(autostart);
    nextScan_ = NextScanAfter(settings);
    if (!settings.paused) StartScan();
}

MonitorSettings HealthMonitor::Settings() const {
    const std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_;
}

void HealthMonitor::SaveSettings(const MonitorSettings& settings) {
    bool autostartChanged = false;
    {
        const std::lock_guard<std::mutex> lock(settingsMutex_);
        autostartChanged = settings_.launchAtLogin != settings.launchAtLogin || !settings_.startupAsked;
        settings_ = settings;
    }
    if (!SaveMonitorSettings(settings)) LogError(L"The monitor settings could not be saved; they hold until Quorvantis closes.");
    if (autostartChanged) SyncLaunchAtLogin(settings.launchAtLogin);
}

void HealthMonitor::SyncLaunchAtLogin(bool on) {
    if (!hooks_.launchAtLogin) return;
    jobs_.Post([this, on] {
        std::wstring error;
        if (!hooks_.launchAtLogin(on, error)) LogError(error);
    });
}

void HealthMonitor::ToggleMaintainTiming() {
    MonitorSettings settings = Settings();
    settings.maintainTiming = !settings.maintainTiming;
    settings.maintainAsked = true;
    SaveSettings(settings);
    if (settings.maintainTiming) ScheduleDriftCheck();
}

void HealthMonitor::AskStartupQuestion(HWND owner) {
    const INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kStartupDialog), owner,
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

void HealthMonitor::AskMaintainQuestion() {
    MonitorSettings settings = Settings();
    if (hooks_.yes || settings.maintainAsked) return;
    const int answer = questions_.Ask(L"Automatically maintain the timing structure?\n\nOnce a minute, Quorvantis reads the "
                                      L"monitored settings and puts back any that have drifted. You can change this later "
                                      L"from the tray menu or the home screen.",
                                      MB_YESNO | MB_ICONQUESTION);
    settings.maintainTiming = answer == IDYES;
    settings.maintainAsked = true;
    SaveSettings(settings);
    if (settings.maintainTiming) ScheduleDriftCheck();
}

void HealthMonitor::StartScan() {
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
        nextScan_ = NextScanAfter(settings);
        scanBusy_.store(false);
        scanGeneration_.fetch_add(1);
        if (finished_) finished_(settings.notify && somethingNew);
    });
}

std::vector<HealthCheck> HealthMonitor::Results(bool* running) const {
    const std::lock_guard<std::mutex> lock(scanMutex_);
    if (running != nullptr) *running = scanBusy_.load();
    return scanResults_;
}

void HealthMonitor::UseResults(std::vector<HealthCheck> results) {
    const std::lock_guard<std::mutex> lock(scanMutex_);
    scanResults_ = std::move(results);
    scanGeneration_.fetch_add(1);
}

void HealthMonitor::DriftCheckNow() {
    clock_.driftPending = true;
    OnScanFinished();
}

void HealthMonitor::ScheduleDriftCheck() {
    clock_.nextDrift = GetTickCount64() + kDriftInterval;
    if (!scanBusy_.load() && !clock_.driftPending) {
        clock_.driftPending = true;
        StartScan();
    }
}

void HealthMonitor::MinuteTick() {
    clock_.nextScan = nextScan_.load();
    const MonitorSettings settings = Settings();
    switch (::MinuteTick(settings.paused, settings.maintainTiming, scanBusy_.load(), GetTickCount64(), clock_)) {
    case MinuteAction::Scan:
    case MinuteAction::DriftCheck: StartScan(); break;
    case MinuteAction::None: break;
    }
}

void HealthMonitor::OnScanFinished() {
    if (!clock_.driftPending) return;
    clock_.driftPending = false;
    const MonitorSettings settings = Settings();
    if (!settings.maintainTiming || settings.paused) return;
    // Hardening copies the program and registers tasks (seconds): it runs on the worker.
    DriftRepair(
        Results(),
        [this](const std::wstring& area) {
            if (hooks_.guardArea) jobs_.Post([this, area] { hooks_.guardArea(area); });
        },
        [this](const std::wstring& area) { RepairArea(area, false); });
}

bool HealthMonitor::TakeBalloon(bool trayPresent, std::wstring& text) {
    const std::vector<HealthCheck> results = Results();
    const auto first = std::find_if(results.begin(), results.end(), [](const HealthCheck& c) { return IsAttentionStatus(c.status); });
    if (!TakeBalloonTurn(Settings().notify, trayPresent, first != results.end(), GetTickCount64(), clock_)) return false;
    text = first->title + L": " + first->observed;
    return true;
}

void HealthMonitor::RepairArea(const std::wstring& area, bool interactive) {
    const int slot = SlotRepairing(area.c_str());
    if (slot < 0) return;
    const auto tell = [this, interactive](const std::wstring& text) {
        if (interactive) questions_.TellLater(text, MB_ICONINFORMATION);
    };
    const uint32_t desired = slot == SlotService && hooks_.systemInfo ? hooks_.systemInfo().desiredResolution : 0;
    switch (CheckRepair(slot, flow_.Slots(), desired)) {
    case RepairRefusal::NotInThisBuild:
        tell(FormatText(L"%ls is not available in this build, so it cannot repair this.", SlotName(slot)));
        return;
    case RepairRefusal::NoPeriodMeasured: tell(L"Measure a timer resolution before repairing the timer service."); return;
    case RepairRefusal::AlreadyRunning: tell(L"That step is already running."); return;
    case RepairRefusal::None: break;
    }
    const auto start = [this, slot, desired, interactive, area] {
        if (workflow_.Busy(slot)) return;
        if (!interactive) {
            AppendHealthLog(L"automatic repair " + area);
            repairs_.automatic[slot] = true;
        } else {
            repairs_.interactiveSlot = slot;
        }
        if (slot == SlotService) workflow_.StartInstall(false, desired);
        else workflow_.StartTweak(slot, false);
    };
    if (!interactive) {
        start();
        return;
    }
    questions_.Later([this, start] {
        if (questions_.Ask(L"This changes the selected Windows setting using the existing Quorvantis step. It does not "
                           L"install a driver unless you chose the graphics or Afterburner repair.",
                           MB_OKCANCEL | MB_ICONWARNING) == IDOK) {
            start();
        }
    });
}

void HealthMonitor::WatchRepairs() {
    std::vector<RepairEnded> ended;
    const bool rescan = ::WatchRepairs(repairs_, flow_.Slots(), scanBusy_.load(), clock_.driftPending, ended);
    for (const RepairEnded& repair : ended) {
        AppendHealthLog(repair.automatic ? (repair.finished ? L"automatic repair finished" : L"automatic repair failed")
                                         : (repair.finished ? L"repair finished" : L"repair failed"));
    }
    if (rescan) StartScan();
}

bool HealthMonitor::WorkPending() const {
    if (repairs_.interactiveSlot >= 0 || repairs_.rescanWanted) return true;
    return std::any_of(repairs_.automatic.begin(), repairs_.automatic.end(), [](bool on) { return on; });
}

void HealthMonitor::Fill(FrameSnapshot& s) {
    const uint64_t generation = scanGeneration_.load();
    if (generation != generationShown_) {
        generationShown_ = generation;
        s.health = Results();
    }
    s.healthRunning = scanBusy_.load();
    s.maintainTiming = Settings().maintainTiming;
}
