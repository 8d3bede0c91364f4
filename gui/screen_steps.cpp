// The step screens (confirmation, item list, failure and result panels), the GPU Clean screen,
// the Full tune tiles and the review screen with the restart buttons.
#include <algorithm>
#include <array>

#include "foundation/text.h"
#include "gui/app.h"
#include "gui/captions.h"
#include "gui/full_tune.h"

namespace {

constexpr int kPrimary = 300, kSkip = 301, kStopStep = 302, kAgain = 303, kHomeButton = 304, kRestart = 310,
              kCloseReview = 311, kRestartNow = 312, kNotYet = 313, kGpuPrimary = 320, kGpuSecondary = 321,
              kGpuSkip = 322, kTileBase = 400;

// What a step's intro, confirmation and failure panels say.
struct StepTexts {
    int slot;
    int intro, running, done, failed;
    const wchar_t* title;
    const wchar_t* text;
    const wchar_t* primary;
    const wchar_t* failure;
    const wchar_t* failureHint;
    const wchar_t* retry;
    int nextStep;  // the guided flow's next step after a skip
};

constexpr StepTexts kSteps[] = {
    {SlotPrepare, stage::PrepareIntro, stage::PrepareRunning, stage::PrepareDone, stage::PrepareFailed,
     L"Create a restore point first",
     L"Writes a System Restore checkpoint named 'Quorvantis pre-tune'. Use it to roll back if a later change is unstable. "
     L"This can take a minute.",
     L"Continue  -  create restore point", L"Restore point could not be created. System Protection may be off.", L"",
     L"Retry", 1},
    {SlotCpu, stage::CpuIntro, stage::CpuRunning, stage::CpuDone, stage::CpuFailed, L"CPU Tune",
     L"On a locked clock the kernel still wakes every ~15 ms to re-evaluate P-states and parked cores. Those DPCs steal "
     L"slices from the game and audio threads. This step disables parking, pins the processor at 100%, and sets the check "
     L"interval to 5 s.",
     L"Continue  -  apply CPU tweaks", L"PPM apply failed - see the log. Timer resolution is still installed.",
     L"Timer resolution is still held. Retry the power-plan writes, or skip to the next step.", L"Retry PPM", 4},
    {SlotGpuSettings, stage::GpuIntro, stage::GpuRunning, stage::GpuDone, stage::GpuFailed, L"GPU Config",
     L"Writes Windows and driver latency settings: hardware-accelerated GPU scheduling, Game DVR and overlay off, NVIDIA "
     L"global 3D (prefer maximum performance, high-performance filtering, VSync off, ultra low latency, ReBAR, CUDA P2 off, "
     L"Ansel off), and AMD Anti-Lag / ULPS.",
     L"Continue  -  apply GPU tweaks", L"GPU apply failed - see the log. Timer resolution is still installed.",
     L"Timer resolution is still held. Retry the GPU writes, or skip to the next step.", L"Retry GPU", 6},
    {SlotAfterburner, stage::AfterburnerIntro, stage::AfterburnerRunning, stage::AfterburnerDone, stage::AfterburnerFailed,
     L"Afterburner and RivaTuner",
     L"The Afterburner download and the OC scan take about 30 minutes. MSI Afterburner 4.6.6 and RivaTuner are installed "
     L"if they are missing. On an NVIDIA GPU the scanner starts on its own. The curve it finds is saved as profile 1 and "
     L"applied every time you log on. This step does not change the GPU driver.",
     L"Continue  -  install and scan", L"Afterburner failed - see the log. The GPU driver settings are unchanged.", L"",
     L"Retry", 7},
    {SlotMemory, stage::MemoryIntro, stage::MemoryRunning, stage::MemoryDone, stage::MemoryFailed,
     L"Pagefile and memory compression",
     L"Keeps a system-managed pagefile so commit never hits a zero-pagefile cliff, and turns off memory compression so "
     L"standby pages are not compressed on a CPU thread.",
     L"Continue  -  apply memory tweaks", L"Memory tweaks failed - see the log. Earlier writes are still in place.", L"",
     L"Retry", 8},
    {SlotStorage, stage::StorageIntro, stage::StorageRunning, stage::StorageDone, stage::StorageFailed,
     L"SSD, PCIe, USB, TRIM",
     L"PCIe ASPM off, disks never spun down, USB selective suspend off, TRIM on, SysMain/Superfetch disabled, hibernate "
     L"off, write cache on, NTFS last-access timestamps off. Windows Search is left running so Start-menu search still "
     L"works.",
     L"Continue  -  apply storage tweaks", L"Storage tweaks failed - see the log. Retry, or skip to Review.", L"", L"Retry",
     9},
};

const StepTexts* TextsOf(int stageValue) {
    for (const StepTexts& t : kSteps) {
        if (stageValue >= t.intro && stageValue <= t.failed) return &t;
    }
    return nullptr;
}

const wchar_t* StatusWord(int status) {
    switch (status) {
    case TweakApplying: return L"applying";
    case TweakWritten: return L"written";
    case TweakFailed: return L"failed";
    case TweakSkipped: return L"left alone";
    default: return L"pending";
    }
}

}  // namespace

// The right column of a step screen: the step's log, errors in the alert colour.
void App::DrawLogColumn(const ScreenLayout& layout) {
    const RectF logRect{layout.liveChart.left, layout.liveChart.top, layout.candidate.right, layout.candidate.bottom};
    ui_.Panel(logRect);
    renderer_.Text(L"Log", RectF{logRect.left + 14, logRect.top + 8, logRect.right, logRect.top + 28}, Font::Title16Bold,
                   palette::CoolWhite);
    float y = logRect.top + 34;
    const size_t rows = static_cast<size_t>(std::max(0.0f, (logRect.bottom - y - 10) / 16));
    const size_t first = view_.log.size() > rows ? view_.log.size() - rows : 0;
    for (size_t i = first; i < view_.log.size(); ++i) {
        const bool error = view_.log[i].rfind(L"ERROR:", 0) == 0;
        renderer_.Text(view_.log[i], RectF{logRect.left + 14, y, logRect.right - 10, y + 16}, Font::Mono10,
                       error ? palette::Alert : palette::Icy);
        y += 16;
    }
}

void App::DrawStepScreen(const ScreenLayout& layout) {
    const int stageValue = workflow_.CurrentStage();
    const StepTexts* t = TextsOf(stageValue);
    if (t == nullptr) return;
    const int slot = t->slot;
    // The explanation of what the step is doing above its panel.
    ui_.Panel(layout.mainChart);
    const RectF chart = layout.mainChart.Inset(18, 14);
    renderer_.Text(view_.explanationTitle.empty() ? std::wstring(t->title) : view_.explanationTitle,
                   RectF{chart.left, chart.top, chart.right, chart.top + 30}, Font::Heading22, palette::CoolWhite);
    renderer_.Text(view_.explanationText.empty() ? std::wstring(t->text) : view_.explanationText,
                   RectF{chart.left, chart.top + 36, chart.right, chart.bottom}, Font::Paragraph16, palette::Icy);
    DrawLogColumn(layout);

    const RectF panel = layout.stepPanel;
    ui_.Panel(panel);
    const RectF inner = panel.Inset(18, 14);
    if (stageValue == t->intro) {
        std::wstring title = t->title;
        if (slot == SlotCpu && cpuProbed_) {
            title = CpuClassLabel(cpuProbe_.cpuClass);
            renderer_.Text(FormatText(L"%ls   %u logical   idle %u MHz  busy %u MHz  cap %u MHz%ls%ls", cpuProbe_.brand.c_str(),
                                      cpuProbe_.logicalProcessors, cpuProbe_.idleMhz, cpuProbe_.busyMhz, cpuProbe_.capMhz,
                                      cpuProbe_.hybrid ? L"   hybrid" : L"",
                                      cpuProbe_.tuneApplied ? L"  \u00B7  reapplying current values" : L""),
                           RectF{inner.left, inner.top + 34, inner.right, inner.top + 54}, Font::Mono10, palette::Icy);
        }
        renderer_.Text(title, RectF{inner.left, inner.top, inner.right, inner.top + 30}, Font::Heading22, palette::CoolWhite);
        std::wstring text = t->text;
        const wchar_t* primary = t->primary;
        if (!StepAvailable(slot)) {
            // Offered only once it can run: the button moves on instead of starting a step that can only fail.
            renderer_.Text(L"Not available in this build. Nothing is downloaded, installed or changed by this step; the "
                           L"guided flow moves on to the next one.",
                           RectF{inner.left, inner.top + 60, inner.right, inner.bottom - 46}, Font::Paragraph13, palette::Icy);
            if (ui_.Button(kPrimary, RectF::Xywh(inner.left, inner.bottom - 38, 300, 36), L"Continue",
                           {ButtonKind::Primary, true, true})) {
                StartGuidedStep(t->nextStep);
            }
            return;
        }
        if (slot == SlotCpu && cpuProbed_ && cpuProbe_.cpuClass == CpuDynamic) {
            text = L"A 5 s check interval delays turbo boost. Apply this only if the multiplier is locked in BIOS.";
            primary = L"Continue anyway";
        }
        renderer_.Text(text, RectF{inner.left, inner.top + 60, inner.right, inner.bottom - 46}, Font::Paragraph13,
                       palette::Icy);
        if (ui_.Button(kPrimary, RectF::Xywh(inner.left, inner.bottom - 38, 300, 36), primary,
                       {ButtonKind::Primary, true, true})) {
            workflow_.StartTweak(slot, true);
        }
        if (ui_.Button(kSkip, RectF::Xywh(inner.left + 312, inner.bottom - 38, 160, 36), L"Skip this step")) {
            StartGuidedStep(t->nextStep);
        }
        return;
    }
    if (stageValue == t->failed) {
        renderer_.Text(L"This step failed", RectF{inner.left, inner.top, inner.right, inner.top + 30}, Font::Heading22,
                       palette::Alert);
        renderer_.Text(t->failure, RectF{inner.left, inner.top + 36, inner.right, inner.top + 60}, Font::Paragraph13,
                       palette::CoolWhite);
        renderer_.Text(t->failureHint, RectF{inner.left, inner.top + 62, inner.right, inner.top + 90}, Font::Paragraph13,
                       palette::Icy);
        if (ui_.Button(kAgain, RectF::Xywh(inner.left, inner.bottom - 38, 180, 36), t->retry, {ButtonKind::Primary, true})) {
            workflow_.ResetSlot(slot);
            workflow_.StartTweak(slot, true);
        }
        if (ui_.Button(kSkip, RectF::Xywh(inner.left + 192, inner.bottom - 38, 140, 36), L"Skip")) StartGuidedStep(t->nextStep);
        return;
    }
    DrawItemList(panel, view_, slot);
}

void App::DrawItemList(const RectF& panel, const StateView& view, int slot) {
    const RectF inner = panel.Inset(18, 14);
    const int state = workflow_.State(slot);
    const size_t total = view.items.size();
    size_t done = 0, applied = 0, skipped = 0;
    for (const TweakItem& item : view.items) {
        if (item.status == TweakWritten || item.status == TweakFailed || item.status == TweakSkipped) ++done;
        if (item.status == TweakWritten) ++applied;
        if (item.status == TweakFailed || item.status == TweakSkipped) ++skipped;
    }
    std::wstring status = L"Preparing\u2026";
    if (total > 0) status = IsBusy(state) ? L"Writing settings." : L"Complete.";
    if (slot == SlotAfterburner && !IsBusy(state) && afterburnerDoneThisRun_ && workflow_.GpuCleanPhase() == GpuPhaseInstalled) {
        status = L"Complete. A later driver install may have cleared the curve. Run this step again if the overclock is gone.";
    }
    renderer_.Text(status, RectF{inner.left, inner.top, inner.right - 120, inner.top + 24}, Font::Bold16, palette::CoolWhite);
    renderer_.Text(FormatText(L"%d / %d", static_cast<int>(done), static_cast<int>(total)),
                   RectF{inner.right - 120, inner.top, inner.right, inner.top + 24}, Font::Mono12, palette::Icy, Align::Trailing);
    float y = inner.top + 30;
    const float bottom = inner.bottom - (HasEnded(state) ? 44 : 44);
    const float row = 18;
    const size_t rows = static_cast<size_t>(std::max(0.0f, (bottom - y) / row));
    // Keep the item being applied in view.
    size_t first = 0;
    for (size_t i = 0; i < total; ++i) {
        if (view.items[i].status == TweakApplying && i >= rows) first = i - rows + 1;
    }
    if (first == 0 && total > rows && state != StepRunning) first = total - rows;
    for (size_t i = first; i < total && i < first + rows; ++i) {
        const TweakItem& item = view.items[i];
        const Color color = item.status == TweakFailed ? palette::Alert
                            : item.status == TweakWritten ? palette::CoolWhite
                            : item.status == TweakApplying ? palette::Electric
                                                           : palette::Muted;
        renderer_.Text(item.title, RectF{inner.left, y, inner.left + inner.Width() * 0.38f, y + row}, Font::Body12, color);
        renderer_.Text(item.detail, RectF{inner.left + inner.Width() * 0.38f, y, inner.right - 80, y + row}, Font::Mono10,
                       palette::Icy);
        renderer_.Text(StatusWord(item.status), RectF{inner.right - 80, y, inner.right, y + row}, Font::Body12, color,
                       Align::Trailing);
        y += row;
    }
    if (IsBusy(state)) {
        if (ui_.Button(kStopStep, RectF::Xywh(inner.right - 140, inner.bottom - 38, 140, 36), L"Stop", {ButtonKind::Danger})) {
            workflow_.StopSlot(slot);
        }
        return;
    }
    if (HasEnded(state)) {
        renderer_.Text(FormatText(L"%d applied", static_cast<int>(applied)) +
                           (skipped > 0 ? FormatText(L"    %d skipped", static_cast<int>(skipped)) : std::wstring()),
                       RectF{inner.left, inner.bottom - 60, inner.right, inner.bottom - 42}, Font::Body12, palette::Icy);
        DrawResultBanner(RectF{inner.left, inner.bottom - 38, inner.right, inner.bottom}, slot);
    }
}

void App::DrawResultBanner(const RectF& rect, int slot) {
    const wchar_t* again = L"Run this step again";
    if (ui_.Button(kAgain, RectF::Xywh(rect.left, rect.top, 220, 36), again, {ButtonKind::Secondary})) {
        workflow_.ResetSlot(slot);
        workflow_.StartTweak(slot, true);
    }
    if (ui_.Button(kHomeButton, RectF::Xywh(rect.left + 232, rect.top, 160, 36), L"Home", {ButtonKind::Primary, true})) {
        GoHome();
    }
}

void App::DrawGpuClean(const ScreenLayout& layout) {
    const int phase = workflow_.GpuCleanPhase();
    const GpuDriverOffer offer = workflow_.GpuOffer();
    ui_.Panel(layout.mainChart);
    const RectF chart = layout.mainChart.Inset(18, 14);
    renderer_.Text(L"GPU Clean", RectF{chart.left, chart.top, chart.right, chart.top + 30}, Font::Heading22, palette::CoolWhite);
    renderer_.Text(L"Display adapter", RectF{chart.left, chart.top + 40, chart.right, chart.top + 60}, Font::Bold13,
                   palette::CoolWhite);
    std::wstring adapter;
    if (!offer.adapterName.empty()) {
        adapter = offer.adapterName;
        if (!offer.currentDriver.empty()) adapter += L"\n" + offer.currentDriver;
        if (!offer.version.empty()) adapter += L"\n" + offer.packageName + L"  " + offer.version;
        if (!offer.notes.empty()) adapter += L"\n" + offer.notes;
    } else {
        const GpuProbeView probe = hooks_.probeGpu ? hooks_.probeGpu() : GpuProbeView{};
        adapter = probe.name + L"\n" + probe.summary;
    }
    renderer_.Text(adapter, RectF{chart.left, chart.top + 62, chart.right, chart.top + 150}, Font::Paragraph13, palette::Icy);
    renderer_.Text(L"NVIDIA and AMD packages are downloaded only from the vendor. You will be asked again before anything "
                   L"is installed.",
                   RectF{chart.left, chart.top + 156, chart.right, chart.bottom}, Font::Paragraph13, palette::Icy);
    DrawLogColumn(layout);

    const RectF panel = layout.stepPanel;
    ui_.Panel(panel);
    const RectF inner = panel.Inset(18, 14);
    const RectF heading{inner.left, inner.top, inner.right, inner.top + 30};
    const RectF body{inner.left, inner.top + 36, inner.right, inner.bottom - 90};
    const RectF primary = RectF::Xywh(inner.left, inner.bottom - 38, 230, 36);
    const RectF secondary = RectF::Xywh(inner.left + 242, inner.bottom - 38, 150, 36);
    const RectF skip = RectF::Xywh(inner.right - 150, inner.bottom - 38, 150, 36);
    auto skipStep = [this] {
        gpuDriverSkipped_ = true;
        StartGuidedStep(5);
    };

    if (!workflow_.GpuCleanAvailable() && phase == GpuPhaseNone) {
        // Said plainly rather than run as a lookup that can only fail.
        renderer_.Text(L"Not available in this build", heading, Font::Heading22, palette::CoolWhite);
        renderer_.Text(L"The driver lookup, download and trimmed install are not part of this build yet. Nothing is looked "
                       L"up, downloaded or installed. Install the vendor's driver by hand if you need a newer one; GPU Config "
                       L"works with the driver already installed.",
                       body, Font::Paragraph13, palette::Icy);
        if (ui_.Button(kGpuPrimary, primary, L"Continue", {ButtonKind::Primary, true})) skipStep();
        if (ui_.Button(kGpuSecondary, secondary, L"Home")) GoHome();
        return;
    }
    switch (phase) {
    case GpuPhaseNone:
    case GpuPhaseLooking:
        renderer_.Text(L"Looking up the current driver", heading, Font::Heading22, palette::CoolWhite);
        renderer_.Text(L"Reading the display adapter and asking the vendor for the current package.", body,
                       Font::Paragraph13, palette::Icy);
        if (phase == GpuPhaseNone && ui_.Button(kGpuPrimary, primary, L"Check again", {ButtonKind::Primary})) {
            workflow_.BeginGpuLookup();
        }
        break;
    case GpuPhaseFound:
    case GpuPhaseDownloading:
    case GpuPhaseDownloaded: {
        renderer_.Text(offer.packageName + (offer.version.empty() ? L"" : L"  " + offer.version), heading, Font::Heading22,
                       palette::CoolWhite);
        std::wstring text = offer.description;
        if (phase == GpuPhaseFound && !offer.Downloadable() && !offer.error.empty()) text += L"\n\n" + offer.error;
        if (phase == GpuPhaseDownloading) text += L"\n\nDownloading. This does not install the driver yet.";
        if (phase == GpuPhaseDownloaded) {
            text += L"\n\nInstall the trimmed driver now? The display will flicker, this window may go blank until the "
                    L"installer finishes, and a restart is required afterward.";
        }
        renderer_.Text(text, body, Font::Paragraph13, palette::Icy);
        if (phase == GpuPhaseFound) {
            if (!offer.Downloadable()) {
                if (ui_.Button(kGpuPrimary, primary, L"Check again", {ButtonKind::Primary})) workflow_.BeginGpuLookup();
            } else {
                const std::wstring label =
                    offer.size > 0 ? L"Download  |  " + FormatSize(offer.size)
                                   : std::wstring(offer.vendor == GpuNvidia ? L"Download NVIDIA driver" : L"Download AMD driver");
                if (ui_.Button(kGpuPrimary, primary, label, {ButtonKind::Primary, true})) workflow_.BeginGpuDownload();
            }
        } else if (phase == GpuPhaseDownloading) {
            const double fraction = std::clamp(view_.progress.fraction, 0.0, 1.0);
            const RectF bar{inner.left, inner.bottom - 78, inner.right, inner.bottom - 70};
            renderer_.FillRect(bar, palette::Blueprint, 4);
            renderer_.FillRect(RectF{bar.left, bar.top, bar.left + bar.Width() * static_cast<float>(fraction), bar.bottom},
                               palette::Electric, 4);
            std::wstring amount = FormatText(L"%d%%", static_cast<int>(fraction * 100));
            if (offer.size > 0) {
                amount += L"    " + FormatSize(static_cast<uint64_t>(fraction * static_cast<double>(offer.size))) + L"  of  " +
                          FormatSize(offer.size);
            }
            renderer_.Text(amount, RectF{inner.left, inner.bottom - 66, inner.right, inner.bottom - 46}, Font::Mono12,
                           palette::CoolWhite);
            if (ui_.Button(kGpuSecondary, RectF::Xywh(inner.right - 140, inner.bottom - 38, 140, 36), L"Stop",
                           {ButtonKind::Danger})) {
                workflow_.StopSlot(SlotGpuDriver);
            }
        } else if (ui_.Button(kGpuPrimary, primary, L"Install trimmed driver", {ButtonKind::Primary, true})) {
            workflow_.BeginGpuInstall();
        }
        break;
    }
    case GpuPhaseInstalling:
        renderer_.Text(L"Installing", heading, Font::Heading22, palette::CoolWhite);
        renderer_.Text(L"Installing the trimmed driver. The display may flicker, and this window may go blank until the "
                       L"installer finishes. Leave this step running.",
                       body, Font::Paragraph13, palette::Icy);
        break;
    case GpuPhaseInstalled:
        renderer_.Text(L"Installed", heading, Font::Heading22, palette::CoolWhite);
        renderer_.Text(L"The trimmed driver is installed. Restart Windows before it is fully in use. GPU Config can write its "
                       L"settings now.",
                       body, Font::Paragraph13, palette::Icy);
        if (ui_.Button(kGpuPrimary, primary, L"Continue  -  configure GPU", {ButtonKind::Primary, true})) ContinueAfterDriver();
        break;
    case GpuPhaseFailed:
        renderer_.Text(L"The driver step failed.", heading, Font::Heading22, palette::Alert);
        renderer_.Text(workflow_.GpuStatusText(), body, Font::Paragraph13, palette::CoolWhite);
        if (ui_.Button(kGpuPrimary, primary, L"Retry", {ButtonKind::Primary})) RetryGpuClean(offer);
        break;
    case GpuPhaseManual:
        renderer_.Text(L"No vendor package can be installed from here.", heading, Font::Heading22, palette::CoolWhite);
        renderer_.Text(L"NVIDIA: graphics driver only. Skip the NVIDIA App, telemetry, ShadowPlay, and HD audio.\n"
                       L"AMD: choose Driver Only. Skip Adrenalin, the overlay, Chill, and the other extras.\n"
                       L"DDU in Safe Mode is optional if an older package left leftovers.\n"
                       L"Afterburner and RivaTuner are installed by the GPU step. BIOS Resizable BAR stays manual.",
                       body, Font::Paragraph13, palette::Icy);
        if (ui_.Button(kGpuPrimary, primary, L"Continue", {ButtonKind::Primary, true})) skipStep();
        if (ui_.Button(kGpuSecondary, secondary, L"Check again")) workflow_.BeginGpuLookup();
        break;
    default:
        break;
    }
    const bool waiting = phase == GpuPhaseFound || phase == GpuPhaseDownloaded || phase == GpuPhaseFailed;
    if (waiting && ui_.Button(kGpuSkip, skip, L"Skip this step")) skipStep();
}

// A failed driver step resumes where it stopped: the install of a package already on disk, the
// download of a package already found, or else the lookup.
void App::RetryGpuClean(const GpuDriverOffer& offer) {
    if (!offer.localPath.empty()) workflow_.BeginGpuInstall();
    else if (offer.Downloadable()) workflow_.BeginGpuDownload();
    else workflow_.BeginGpuLookup();
}

void App::ContinueAfterDriver() {
    if (workflow_.want[SlotGpuSettings] && !workflow_.Busy(SlotGpuSettings)) workflow_.StartGpu(false);
    if (workflow_.want[SlotAfterburner] && StepAvailable(SlotAfterburner) && !workflow_.Busy(SlotAfterburner)) {
        workflow_.StartAfterburner(false);
    }
    if (workflow_.want[SlotGpuSettings]) workflow_.SetStage(workflow_.Busy(SlotGpuSettings) ? stage::GpuRunning : stage::GpuIntro);
    else GoHome();
}

void App::DrawFullTune(const RectF& area) {
    const std::pair<std::wstring, std::wstring> header = workflow_.Main().Header();
    renderer_.Text(header.second, RectF{area.left, area.top - 22, area.right, area.top - 4}, Font::Body12, palette::Icy);
    struct Tile {
        int slot;
        int kind;  // 0 running step, 1 restore point failed, 2 driver choice, 3 Afterburner start
    };
    // At most one tile per slot plus the three choice tiles; kept off the heap since it is rebuilt every frame.
    std::array<Tile, kSlotCount + 3> tiles{};
    size_t count = 0;
    auto add = [&](int slot, int kind) { tiles[count++] = Tile{slot, kind}; };
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (workflow_.Busy(slot)) add(slot, 0);
    }
    const int prepare = workflow_.State(SlotPrepare);
    if ((prepare == StepFailed || prepare == StepStopped) && !restoreFailureAccepted_) add(SlotPrepare, 1);
    const int phase = workflow_.GpuCleanPhase();
    if (workflow_.want[SlotGpuDriver] && !gpuDriverSkipped_ && !workflow_.Busy(SlotGpuDriver) &&
        (phase == GpuPhaseFound || phase == GpuPhaseDownloaded || phase == GpuPhaseFailed || phase == GpuPhaseManual)) {
        add(SlotGpuDriver, 2);
    }
    if (afterburnerWaiting_) add(SlotAfterburner, 3);
    if (count == 0) return;
    const TileGrid grid = FullTuneTiles(static_cast<int>(count), area.Width(), area.Height());
    for (size_t i = 0; i < count; ++i) {
        const int column = static_cast<int>(i) % grid.columns, rowIndex = static_cast<int>(i) / grid.columns;
        const RectF rect = RectF::Xywh(area.left + column * (grid.tileWidth + kGap), area.top + rowIndex * (grid.tileHeight + kGap),
                                       grid.tileWidth, grid.tileHeight);
        ui_.Panel(rect);
        const RectF inner = rect.Inset(14, 12);
        const Tile& tile = tiles[i];
        const int id = kTileBase + static_cast<int>(i) * 4;
        renderer_.Text(SlotName(tile.slot), RectF{inner.left, inner.top, inner.right, inner.top + 24}, Font::Bold16,
                       palette::CoolWhite);
        if (tile.kind == 0) {
            workflow_.StateOf(tile.slot).Snapshot(tileView_);
            const StateView& tileView = tileView_;
            const int state = workflow_.State(tile.slot);
            renderer_.Text(state == StepWaiting ? L"Waiting" : L"Running", RectF{inner.left, inner.top + 26, inner.right, inner.top + 46},
                           Font::Body12, state == StepWaiting ? palette::Muted : palette::Electric);
            renderer_.Text(tileView.tag + L"  /  " + tileView.text, RectF{inner.left, inner.top + 48, inner.right, inner.top + 90},
                           Font::Paragraph13, palette::Icy);
            const RectF bar{inner.left, inner.top + 96, inner.right, inner.top + 104};
            renderer_.FillRect(bar, palette::Blueprint, 4);
            renderer_.FillRect(RectF{bar.left, bar.top,
                                     bar.left + bar.Width() * static_cast<float>(std::clamp(tileView.progress.fraction, 0.0, 1.0)),
                                     bar.bottom},
                               palette::Electric, 4);
            if (ui_.Button(id, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32), L"Stop", {ButtonKind::Danger})) {
                workflow_.StopSlot(tile.slot);
            }
        } else if (tile.kind == 1) {
            renderer_.Text(L"The restore point did not finish. Nothing else has been changed.",
                           RectF{inner.left, inner.top + 30, inner.right, inner.bottom - 40}, Font::Paragraph13, palette::Icy);
            if (ui_.Button(id, RectF::Xywh(inner.left, inner.bottom - 34, 170, 32), L"Retry restore point", {ButtonKind::Primary})) {
                workflow_.ResetSlot(SlotPrepare);
            }
            if (ui_.Button(id + 1, RectF::Xywh(inner.left + 178, inner.bottom - 34, 140, 32), L"Continue anyway")) {
                restoreFailureAccepted_ = true;
            }
        } else if (tile.kind == 2) {
            const wchar_t* text = phase == GpuPhaseManual ? L"No vendor package can be installed from here."
                                  : phase == GpuPhaseFailed ? L"The driver step failed."
                                                            : L"Choose whether to install the graphics driver.";
            renderer_.Text(text, RectF{inner.left, inner.top + 30, inner.right, inner.top + 60}, Font::Paragraph13, palette::Icy);
            const RectF detail{inner.left, inner.top + 60, inner.right, inner.bottom - 40};
            const RectF first = RectF::Xywh(inner.left, inner.bottom - 34, 130, 32);
            if (phase == GpuPhaseFailed) {
                renderer_.Text(workflow_.GpuStatusText(), detail, Font::Paragraph13, palette::Muted);
                if (ui_.Button(id, first, L"Retry", {ButtonKind::Primary})) RetryGpuClean(workflow_.GpuOffer());
            } else if (phase == GpuPhaseFound || phase == GpuPhaseDownloaded) {
                renderer_.Text(L"Installs the graphics driver only.", detail, Font::Paragraph13, palette::Muted);
                if (phase == GpuPhaseFound) {
                    if (ui_.Button(id, first, L"Download driver", {ButtonKind::Primary})) workflow_.BeginGpuDownload();
                } else if (ui_.Button(id, first, L"Install driver", {ButtonKind::Primary})) {
                    workflow_.BeginGpuInstall();
                }
            }
            if (ui_.Button(id + 2, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32),
                           phase == GpuPhaseManual ? L"Continue" : L"Skip")) {
                gpuDriverSkipped_ = true;
            }
        } else {
            renderer_.Text(L"Afterburner downloads, scans the GPU, and saves the curve. This takes about 30 minutes.",
                           RectF{inner.left, inner.top + 30, inner.right, inner.bottom - 40}, Font::Paragraph13, palette::Icy);
            if (ui_.Button(id, RectF::Xywh(inner.left, inner.bottom - 34, 170, 32), L"Start Afterburner", {ButtonKind::Primary})) {
                afterburnerWaiting_ = false;
                workflow_.StartAfterburner(false);
            }
            if (ui_.Button(id + 1, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32), L"Skip")) {
                afterburnerSkipped_ = true;
                afterburnerWaiting_ = false;
            }
        }
    }
}

void App::DrawReview(const RectF& area) {
    ui_.Panel(area);
    const RectF inner = area.Inset(24, 20);
    renderer_.Text(L"Before you restart", RectF{inner.left, inner.top, inner.right, inner.top + 34}, Font::Heading22,
                   palette::CoolWhite);
    renderer_.Text(L"Windows cannot change BIOS. Set these, then restart so they and the kernel flags take effect.",
                   RectF{inner.left, inner.top + 40, inner.right, inner.top + 70}, Font::Paragraph16, palette::Icy);
    renderer_.Text(L"Lock the CPU multiplier. Disable Intel Turbo / EIST / Speed Shift, or AMD PBO / Precision Boost.\n"
                   L"Disable deep C-states. Leave C1 if the machine will not POST without it.\n"
                   L"Enable XMP (Intel) or DOCP (AMD) at the RAM's rated frequency, and DRAM voltage if the profile needs it.\n"
                   L"SATA/NVMe in AHCI. Enable Above 4G / Resizable BAR if you want ReBAR.\n"
                   L"If anything is unstable: Settings \u2192 System Restore \u2192 'Quorvantis pre-tune', or Quorvantis.exe "
                   L"--uninstall.",
                   RectF{inner.left, inner.top + 84, inner.right, inner.bottom - 100}, Font::Paragraph16, palette::CoolWhite);
    DrawRestartButtons(area);
}

void App::DrawRestartButtons(const RectF& panel) {
    const float width = std::min((panel.Width() - 12) / 2, 250.0f);
    const float left = panel.left + (panel.Width() - (2 * width + 12)) / 2;
    const RectF first = RectF::Xywh(left, panel.bottom - 4 - 34, width, 34);
    const RectF second = RectF::Xywh(left + width + 12, panel.bottom - 4 - 34, width, 34);
    if (!confirmOpen_) {
        if (ui_.Button(kRestart, first, L"Restart computer", {ButtonKind::Primary})) confirmOpen_ = true;
        if (ui_.Button(kCloseReview, second, L"Close")) RequestClose();
        return;
    }
    renderer_.Text(L"Windows will restart immediately. Set the BIOS items above on the next boot if they are not set yet.",
                   RectF{panel.left + 16, first.top - 30, panel.right - 16, first.top - 6}, Font::Paragraph13,
                   palette::Alert, Align::Center);
    if (ui_.Button(kRestartNow, first, L"Restart now", {ButtonKind::Danger})) RestartComputer();
    if (ui_.Button(kNotYet, second, L"Not yet")) confirmOpen_ = false;
}
