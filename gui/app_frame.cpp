// One frame of the window: the update handling, the Full tune tick, the automatic advance and
// the stage changes, the header, the current screen, the click effects and the fade-in veil.
#include <algorithm>
#include <cmath>

#include "foundation/log.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "gui/app.h"
#include "gui/captions.h"
#include "gui/full_tune.h"

namespace {

constexpr int kHouseButton = 900;

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

}  // namespace

bool App::StepAvailable(int slot) const {
    if (slot == SlotAfterburner) return static_cast<bool>(hooks_.stepAfterburner);
    if (slot == SlotGpuDriver) return workflow_.GpuCleanAvailable();
    return true;
}

std::wstring App::SelectedStepNames() const {
    std::wstring names;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!workflow_.want[slot]) continue;
        if (!names.empty()) names += L", ";
        names += SlotName(slot);
    }
    return names.empty() ? std::wstring(L"nothing") : names;
}

void App::Tick() {
    const ScreenLayout layout = LayoutFor(renderer_.Width(), renderer_.Height(), workflow_.CurrentStage());
    if (fullTuneActive_ && workflow_.CurrentStage() == stage::FullTune) FullTuneTick(layout);
    AutoAdvance();
    workflow_.AdvanceStage();
    WatchRepairs();
}

bool App::BackgroundWorkPending() const {
    if (interactiveRepairSlot_ >= 0 || rescanAfterRepairs_) return true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const int state = workflow_.State(slot);
        if (IsBusy(state) || state != lastSeen_[slot] || automaticRepair_[slot]) return true;
    }
    return false;
}

void App::DrawFrame(double dt) {
    clock_ += dt;
    if (queuedClicks_ > 0) {
        pending_.click = true;
        pending_.clickX = clicks_[0].first;
        pending_.clickY = clicks_[0].second;
        std::copy(clicks_.begin() + 1, clicks_.begin() + static_cast<std::ptrdiff_t>(queuedClicks_), clicks_.begin());
        --queuedClicks_;
    }
    ui_.BeginFrame(pending_, dt, clock_);
    // Clicks, Enter and the wheel belong to one frame; the pointer stays where it is.
    pending_.click = false;
    pending_.enter = false;
    pending_.wheel = 0;

    HandleUpdate();
    Tick();
    const ScreenLayout layout = LayoutFor(renderer_.Width(), renderer_.Height(), workflow_.CurrentStage());

    const int slot = SlotShownBy(workflow_.CurrentStage());
    // The measure screen draws the measurement under the install too.
    const int shown = workflow_.CurrentStage() >= stage::Measuring && workflow_.CurrentStage() <= stage::InstallFailed
                          ? static_cast<int>(SlotMeasure)
                          : slot;
    if (shown >= 0) workflow_.StateOf(shown).Snapshot(view_);

    DrawHeader(layout);
    DrawScreen(layout);
    ui_.EndFrame();
    DrawVeil(dt);
    cursorHand_ = ui_.hand;
}

void App::DrawVeil(double dt) {
    veil_ = std::min(1.0, veil_ + 1.4 * dt);
    if (veil_ >= 1) return;
    const float opacity = static_cast<float>(std::pow(1 - veil_, 3));
    renderer_.FillRect(RectF{0, 0, renderer_.Width(), renderer_.Height()}, palette::Background.WithAlpha(opacity));
}

bool App::DrawHouse() {
    const RectF house = RectF::Xywh(kMargin, kMargin + 6, 40, 40);
    const int stageValue = workflow_.CurrentStage();
    const bool enabled = stageValue != stage::Home;
    const bool hovered = enabled && ui_.Hovered(house);
    if (hovered) ui_.hand = true;
    const Color edge = hovered ? palette::CoolWhite : palette::Icy;
    // The house is cut into the frame: a notch in the background with a bright outline.
    const float l = house.left + 6, r = house.right - 6, t = house.top + 4, b = house.bottom - 6;
    const float mid = (l + r) / 2, eave = t + (b - t) * 0.45f;
    renderer_.FillRect(RectF{l + 3, eave, r - 3, b}, palette::Background.WithAlpha(0.9f), 2);
    renderer_.Line(l, eave + 2, mid, t, edge, 2.2f);
    renderer_.Line(mid, t, r, eave + 2, edge, 2.2f);
    renderer_.Line(l + 3, eave, l + 3, b, edge, 2.2f);
    renderer_.Line(r - 3, eave, r - 3, b, edge, 2.2f);
    renderer_.Line(l + 3, b, r - 3, b, edge, 2.2f);
    renderer_.Line(mid - 4, b, mid - 4, b - 9, edge, 1.6f);
    renderer_.Line(mid + 4, b, mid + 4, b - 9, edge, 1.6f);
    renderer_.Line(mid - 4, b - 9, mid + 4, b - 9, edge, 1.6f);
    ui_.Describe(house, L"Home",
                 L"Returns to this screen. The house is cut into the window rather than drawn as a button. A tune you "
                 L"already started keeps its place until that step finishes.");
    if (enabled && ui_.Clicked(house)) {
        GoHome();
        return true;
    }
    return false;
}

void App::DrawHeader(const ScreenLayout& layout) {
    const RectF& h = layout.header;
    DrawHouse();
    float x = h.left + 52;
    if (renderer_.HasImage(Image::Logo)) {
        renderer_.DrawImage(Image::Logo, RectF::Xywh(x, h.top, 62, 62));
        x += 70;
    }
    renderer_.Text(L"QUORVANTIS", RectF{x, h.top - 2, h.right - 360, h.top + 50}, Font::Display40, palette::CoolWhite);
    renderer_.Text(FormatText(L"Fenmarch Systems  |  %ls", kPublisherWebHost), RectF{x + 2, h.top + 50, h.right - 360, h.bottom},
                   Font::Gruppo13, palette::Icy);

    const int stageValue = workflow_.CurrentStage();
    const StepCaption caption = CaptionOf(stageValue);
    const std::wstring name = Upper(caption.name);
    const std::wstring stepLine =
        caption.number > 0 ? FormatText(L"STEP %d OF %d  |  %ls", caption.number, kStepCount, name.c_str()) : name;
    const RectF right{h.right - 520, h.top + 4, h.right, h.top + 30};
    renderer_.Text(stepLine, right, Font::Title16Bold, palette::CoolWhite, Align::Trailing);
    const bool named = caption.number > 0 || stageValue == stage::Health || stageValue == stage::Home;
    std::wstring second = named ? FormatText(L"%ls - %ls | v%ls", caption.name, caption.tagline, hooks_.version.c_str())
                                : FormatText(L"Quorvantis | v%ls", hooks_.version.c_str());
    if (SlotShownBy(stageValue) >= 0 && view_.progressSeen && view_.progress.elapsed > 0) {
        second += L"   elapsed " + FormatMinSec(view_.progress.elapsed);
        if (view_.progress.remaining > 0) second += L"  |  remaining ~" + FormatMinSec(view_.progress.remaining);
    }
    renderer_.Text(second, RectF{h.right - 620, h.top + 32, h.right, h.top + 56}, Font::Gruppo13, palette::Icy,
                   Align::Trailing);
    // The stage header of the step (or of the screen) below the caption.
    std::pair<std::wstring, std::wstring> header = workflow_.Main().Header();
    const int slot = SlotShownBy(stageValue);
    if (slot >= 0) header = {view_.tag, view_.text};
    if (stageValue >= stage::Installing && stageValue <= stage::InstallFailed) header = workflow_.StateOf(SlotService).Header();
    if (!header.first.empty()) {
        renderer_.Text(header.first + (header.second.empty() ? L"" : L"  /  " + header.second),
                       RectF{h.right - 620, h.top + 56, h.right, h.bottom}, Font::Mono10, palette::Muted, Align::Trailing);
    }
    renderer_.Line(h.left, h.bottom + 8, h.right, h.bottom + 8, palette::Muted.WithAlpha(0.5f), 1);
}

void App::DrawScreen(const ScreenLayout& layout) {
    const int stageValue = workflow_.CurrentStage();
    if (stageValue >= stage::Measuring && stageValue <= stage::InstallFailed) {
        DrawMeasureScreen(layout);
        return;
    }
    switch (stageValue) {
    case stage::Welcome: DrawWelcome(layout.content); break;
    case stage::Home: DrawHome(layout.content); break;
    case stage::Health: DrawHealth(layout.content); break;
    case stage::FullTune: DrawFullTune(layout.content); break;
    case stage::GpuClean: DrawGpuClean(layout); break;
    case stage::Review: DrawReview(layout.content); break;
    default:
        if (SlotShownBy(stageValue) >= 0) DrawStepScreen(layout);
        else DrawReview(layout.content);
        break;
    }
}

void App::HandleUpdate() {
    if (!updateChecked_.load() || updateApplying_.load()) return;
    bool available = false;
    std::wstring version, notes;
    {
        const std::lock_guard<std::mutex> lock(updateMutex_);
        available = updateAvailable_;
        version = update_.version;
        notes = update_.notes;
    }
    if (available && !updateAnnounced_) {
        updateAnnounced_ = true;
        updateMode_ = true;
        if (window_ != nullptr) SetTimer(window_, 8, 450, nullptr);
        ShowBalloon(L"Quorvantis update", L"Version " + version + L" is ready. Open Quorvantis to install it.", NIIF_INFO);
    }
    if (updateFailed_.exchange(false)) {
        MessageBoxW(window_, updateStatus_.empty() ? L"The update could not be installed." : updateStatus_.c_str(),
                    L"Quorvantis", MB_ICONWARNING);
    }
    if (!updatePromptRequest_ || !available) return;
    updatePromptRequest_ = false;
    std::wstring text = L"Quorvantis " + version + L" is available.\nThis copy is " + hooks_.version + L".";
    if (!notes.empty()) text += L"\n\n" + (notes.size() > 500 ? notes.substr(0, 500) + L"\u2026" : notes);
    const bool servicePresent = hooks_.systemInfo && hooks_.systemInfo().serviceState != 0;
    text += servicePresent ? L"\n\nDownload it and replace this copy, including the installed service? Quorvantis will "
                             L"close and open the new version."
                           : L"\n\nDownload it and replace this copy? Quorvantis will close and open the new version.";
    if (MessageBoxW(window_, text.c_str(), L"Quorvantis", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | MB_SETFOREGROUND) !=
        IDYES) {
        return;
    }
    if (!hooks_.applyUpdate || applyThread_.joinable()) return;
    updateApplying_.store(true);
    AppUpdate chosen;
    {
        const std::lock_guard<std::mutex> lock(updateMutex_);
        chosen = update_;
    }
    applyThread_ = std::thread([this, chosen] {
        std::wstring error;
        const int result = hooks_.applyUpdate(
            chosen,
            [this](const std::wstring& status) {
                const std::lock_guard<std::mutex> lock(updateMutex_);
                updateStatus_ = status;
            },
            updateStop_, error);
        if (result == 0) {
            updateApplied_.store(true);
            RequestClose();
        } else {
            {
                const std::lock_guard<std::mutex> lock(updateMutex_);
                updateStatus_ = error;
            }
            updateFailed_.store(true);
        }
        updateApplying_.store(false);
    });
}

void App::AutoAdvance() {
    // A request from the GPU driver screen to start GPU settings, taken once.
    if (gpuDeferredStart_ && !workflow_.Busy(SlotGpuSettings)) {
        gpuDeferredStart_ = false;
        workflow_.StartGpu(false);
    }
    std::array<int, kSlotCount> now{};
    for (int slot = 0; slot < kSlotCount; ++slot) now[slot] = workflow_.State(slot);
    if (hooks_.yes && !fullTuneActive_) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (now[slot] != StepFinished || lastSeen_[slot] == StepFinished) continue;
            // A measurement goes straight on to its install when the service is wanted.
            if (slot == SlotMeasure && workflow_.want[SlotService]) {
                if (!workflow_.Busy(SlotService) && workflow_.State(SlotService) != StepFinished) workflow_.StartInstall(false, 0);
                workflow_.SetStage(stage::Installing);
            } else if (slot != SlotGpuDriver) {
                StartNextWantedStep(slot);
            }
            break;  // the first newly finished slot only
        }
    }
    // The measure screen's result fades in once the measurement or the install has finished.
    if ((now[SlotMeasure] == StepFinished && lastSeen_[SlotMeasure] != StepFinished) ||
        (now[SlotService] == StepFinished && lastSeen_[SlotService] != StepFinished)) {
        measureFadeA_ = measureFadeB_ = 0.0001;
    }
    lastSeen_ = now;
}

// The automatic flow ("--yes") moves on to the next step the user left selected; the guided
// steps are numbered as the slots are, and anything after the last is the review.
void App::StartNextWantedStep(int after) {
    int next = after + 1;
    while (next < kSlotCount && (!workflow_.want[next] || !StepAvailable(next))) ++next;
    StartGuidedStep(next);
}

void App::StartGuidedStep(int step) {
    switch (step) {
    case 0:
        workflow_.SetStage(stage::PrepareIntro);
        workflow_.Main().Stage(L"PREPARE", L"create a System Restore point");
        break;
    case 1: workflow_.StartBenchmark(true); break;
    case 2: workflow_.StartInstall(true, 0); break;
    case 3: {
        if (hooks_.probeCpu) {
            cpuProbe_ = hooks_.probeCpu();
            cpuProbed_ = true;
        }
        if (cpuProbed_ && cpuProbe_.cpuClass == CpuDynamic) {
            workflow_.SetStage(stage::CpuIntro);
            workflow_.Main().Stage(L"CPU TUNE", L"dynamic boost detected. A 5000 ms interval would delay turbo");
        } else {
            workflow_.StartPpm(true);
        }
        break;
    }
    case 4:
        workflow_.SetStage(stage::GpuClean);
        workflow_.Main().Stage(L"GPU CLEAN", L"looking up the current driver");
        workflow_.BeginGpuLookup();
        break;
    case 5:
        if (hooks_.yes) workflow_.StartGpu(true);
        else workflow_.SetStage(stage::GpuIntro);
        break;
    case 6: workflow_.SetStage(stage::AfterburnerIntro); break;
    case 7: workflow_.SetStage(workflow_.Busy(SlotMemory) ? stage::MemoryRunning : stage::MemoryIntro); break;
    case 8: workflow_.SetStage(workflow_.Busy(SlotStorage) ? stage::StorageRunning : stage::StorageIntro); break;
    default:
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
        break;
    }
}

void App::RepairArea(const std::wstring& area, bool interactive) {
    int slot = -1;
    if (area == L"ppm") slot = SlotCpu;
    else if (area == L"gpu") slot = SlotGpuSettings;
    else if (area == L"memory") slot = SlotMemory;
    else if (area == L"storage") slot = SlotStorage;
    else if (area == L"afterburner") slot = SlotAfterburner;
    else if (area == L"timer") slot = SlotService;
    if (slot < 0) return;
    if (!StepAvailable(slot)) {
        if (interactive) {
            MessageBoxW(window_, FormatText(L"%ls is not available in this build, so it cannot repair this.", SlotName(slot)).c_str(),
                        L"Quorvantis", MB_OK | MB_ICONINFORMATION);
        }
        return;
    }
    uint32_t desired = 0;
    if (slot == SlotService) {
        desired = hooks_.systemInfo ? hooks_.systemInfo().desiredResolution : 0;
        if (desired == 0) {
            if (interactive) {
                MessageBoxW(window_, L"Measure a timer resolution before repairing the timer service.", L"Quorvantis",
                            MB_ICONINFORMATION);
            }
            return;
        }
    }
    if (workflow_.Busy(slot)) {
        if (interactive) MessageBoxW(window_, L"That step is already running.", L"Quorvantis", MB_ICONINFORMATION);
        return;
    }
    if (interactive && MessageBoxW(window_,
                                   L"This changes the selected Windows setting using the existing Quorvantis step. It does "
                                   L"not install a driver unless you chose the graphics or Afterburner repair.",
                                   L"Quorvantis", MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
        return;
    }
    if (!interactive) {
        AppendHealthLog(L"automatic repair " + area);
        automaticRepair_[slot] = true;
    } else {
        interactiveRepairSlot_ = slot;
    }
    if (slot == SlotService) workflow_.StartInstall(false, desired);
    else workflow_.StartTweak(slot, false);
}

void App::WatchRepairs() {
    if (interactiveRepairSlot_ >= 0 && HasEnded(workflow_.State(interactiveRepairSlot_))) {
        AppendHealthLog(workflow_.State(interactiveRepairSlot_) == StepFinished ? L"repair finished" : L"repair failed");
        interactiveRepairSlot_ = -1;
        rescanAfterRepairs_ = true;
    }
    bool anyBusy = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!automaticRepair_[slot]) continue;
        if (HasEnded(workflow_.State(slot))) {
            AppendHealthLog(workflow_.State(slot) == StepFinished ? L"automatic repair finished"
                                                                  : L"automatic repair failed");
            automaticRepair_[slot] = false;
            rescanAfterRepairs_ = true;
        } else {
            anyBusy = true;
        }
    }
    if (rescanAfterRepairs_ && !anyBusy && !scanBusy_.load() && !monitor_.driftPending) {
        rescanAfterRepairs_ = false;
        StartHealthScan();
    }
}

void App::FullTuneTick(const ScreenLayout& layout) {
    FullTuneInput in;
    in.want = workflow_.want;
    for (int slot = 0; slot < kSlotCount; ++slot) in.state[slot] = workflow_.State(slot);
    in.gpuPhase = workflow_.GpuCleanPhase();
    in.restoreFailureAccepted = restoreFailureAccepted_;
    in.gpuDriverSkipped = gpuDriverSkipped_;
    in.afterburnerSkipped = afterburnerSkipped_;
    in.afterburnerWaiting = afterburnerWaiting_;
    in.periodKnown = workflow_.LatestResult().selected != 0 || hooks_.resolution != 0;
    in.limit = FullTuneParallelLimit(layout.content.Width(), layout.content.Height());
    while (FullTuneBusy(in) < in.limit) {
        const FullTuneStart start = NextFullTuneStart(in);
        if (start == FullTuneStart::None) break;
        switch (start) {
        case FullTuneStart::Prepare: workflow_.StartPrepare(false); break;
        case FullTuneStart::Measure: workflow_.StartBenchmark(false); break;
        case FullTuneStart::Cpu: workflow_.StartPpm(false); break;
        case FullTuneStart::Memory: workflow_.StartMemory(false); break;
        case FullTuneStart::Storage: workflow_.StartStorage(false); break;
        case FullTuneStart::Install: workflow_.StartInstall(false, 0); break;
        case FullTuneStart::GpuLookup: workflow_.BeginGpuLookup(); break;
        case FullTuneStart::Gpu: workflow_.StartGpu(false); break;
        case FullTuneStart::None: break;
        }
        const int slot = SlotOfStart(start);
        in.state[slot] = workflow_.State(slot) == StepIdle ? StepRunning : workflow_.State(slot);
        if (slot == SlotGpuDriver) in.gpuPhase = workflow_.GpuCleanPhase();
    }
    if (AfterburnerMayWait(in)) afterburnerWaiting_ = true;
    in.afterburnerWaiting = afterburnerWaiting_;
    workflow_.Main().Stage(L"FULL TUNE", FullTuneStatusLine(in));
    if (FullTuneComplete(in)) {
        LogInfo(L"Full tune complete. " + FullTuneStatusLine(in));
        fullTuneActive_ = false;
        afterburnerWaiting_ = false;
        workflow_.SetStage(stage::Review);
        workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
    }
}
