// The welcome screen with the step selection, the home screen with its tiles, Lattice card and
// health summary, the health screen and the description panel.
#include <algorithm>
#include <cmath>

#include "timer/sweep_plan.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "gui/app.h"
#include "gui/captions.h"

namespace {

constexpr int kStepBoxes = 500, kSelectAll = 510, kClear = 511, kFidelity = 512, kBegin = 520, kHealthButton = 521,
              kTiles = 530, kMaintain = 550, kInstallUpdate = 551, kHealthItems = 600, kCheckAgain = 590,
              kRepair = 591, kRunHealth = 592;

struct HomeTile {
    const wchar_t* name;
    const wchar_t* description;
};

constexpr HomeTile kHomeTiles[] = {
    {L"Full tune",
     L"Makes a restore point first, then measures timing before changing anything else. CPU, memory, and the driver lookup "
     L"then run together. Storage follows the CPU step. GPU settings and Afterburner wait until the driver choice is "
     L"finished."},
    {L"Health",
     L"Opens the health screen. It reads the live settings and lists anything that has drifted. Nothing changes until you "
     L"choose a repair."},
    {L"Measure timing",
     L"Times Sleep(1) across timer resolutions and saves a scan. The heatmap on this screen uses the newest of those "
     L"scans."},
    {L"CPU power",
     L"Writes the processor power plan. Core parking and throttling are turned off, and the plan asks the CPU to stay at a "
     L"high, steady state."},
    {L"GPU driver",
     L"Looks up the current graphics driver and can install a clean copy. This step does not install Afterburner."},
    {L"GPU settings",
     L"Turns on hardware-accelerated GPU scheduling, turns off Game DVR and Game Bar capture, and writes the NVIDIA or AMD "
     L"low-latency profile when that vendor is present."},
    {L"Afterburner",
     L"Installs MSI Afterburner and RivaTuner, runs the overclock scanner, and saves that curve so it applies at sign-in. "
     L"The download and scan take about 30 minutes."},
    {L"Memory", L"Sets the page file and turns memory compression off."},
    {L"Storage", L"Turns SysMain off and checks that TRIM is enabled for the system drive."},
    {L"Restart notes",
     L"Shows the BIOS settings to change by hand, then asks you to restart. Windows cannot write those settings for you."},
};

struct GroupCaption {
    const wchar_t* name;
    const wchar_t* description;
};

constexpr GroupCaption kGroups[] = {
    {L"Timer Resolution",
     L"The boot service and the global flag that hold the chosen timer resolution, plus the resolution Windows is using "
     L"right now."},
    {L"Power and Performance",
     L"Each processor power setting from the CPU step. Green means the live value still matches the tune. Red means it "
     L"has drifted."},
    {L"Graphics Drivers", L"The installed graphics driver. This check does not decide whether a newer driver exists."},
    {L"Windows Configuration", L"Hardware-accelerated GPU scheduling, Game DVR, Game Bar, and the vendor profile."},
    {L"Supporting Utilities",
     L"Whether Afterburner and RivaTuner are installed and set to start at sign-in. A green box does not by itself mean "
     L"an overclock is active."},
    {L"Memory and CPU", L"The page file and memory compression."},
    {L"Hold timer", L"SysMain and TRIM."},
    {L"Other", L"Checks that do not belong to one of the steps above."},
};

const wchar_t* StatusLabel(int status) {
    switch (status) {
    case HealthPassing: return L"Passing";
    case HealthAttention: return L"Needs attention";
    case HealthInformational: return L"Informational";
    case HealthDisabled: return L"Disabled";
    case HealthUnsupported: return L"Unsupported";
    case HealthInaccessible: return L"Inaccessible";
    case HealthError: return L"Error";
    case HealthRestartRequired: return L"Restart required";
    default: return L"Unknown";
    }
}


Color StatusColor(int status) {
    if (status == HealthPassing) return palette::Electric;
    if (IsAttentionStatus(status)) return palette::Alert;
    return palette::Muted;
}

}  // namespace

void App::DrawDescriptionPanel(const RectF& rect) {
    ui_.Panel(rect);
    const bool described = !ui_.descriptionCaption.empty();
    renderer_.Text(described ? ui_.descriptionCaption : L"Home", RectF{rect.left + 14, rect.top + 10, rect.right - 14, rect.top + 32},
                   Font::Bold16, palette::CoolWhite);
    renderer_.Text(described ? ui_.descriptionText
                             : L"Move the pointer over a tool, a tweak, or the house. This panel describes what it does.",
                   RectF{rect.left + 14, rect.top + 36, rect.right - 14, rect.bottom - 10}, Font::Paragraph13, palette::Icy);
}

void App::DrawWelcome(const RectF& area) {
    const WelcomeLayout w = WelcomeLayoutFor(area, workflow_.want[SlotMeasure]);
    ui_.Panel(w.left);
    const RectF l = w.left.Inset(24, 20);
    if (renderer_.HasImage(Image::Brand)) {
        renderer_.DrawImage(Image::Brand, RectF::Xywh(l.left, l.top, std::min(l.Width(), 360.0f), std::min(l.Width(), 360.0f) * 146 / 820));
    } else {
        renderer_.Text(L"QUORVANTIS", RectF{l.left, l.top, l.right, l.top + 50}, Font::Display40, palette::CoolWhite);
    }
    renderer_.Text(L"Fenmarch Systems", RectF{l.left, l.top + 70, l.right, l.top + 92}, Font::Gruppo13, palette::Icy);
    renderer_.Text(L"Timer resolution, CPU power, GPU, memory, and storage. Low-level settings are tuned to harden the "
                   L"machine for a more responsive, lower-latency configuration, without unneeded versatility or fluff. "
                   L"Perfect for gamers and HPC. Uncheck any step you want to skip. Begin makes a restore point first, "
                   L"measures timing next, then runs the remaining steps in a safe order. It asks only before a driver "
                   L"install or Afterburner.",
                   RectF{l.left, l.top + 104, l.right, l.bottom - 50}, Font::Paragraph16, palette::CoolWhite);
    if (ui_.Button(kHealthButton, w.healthButton, L"Health")) {
        OpenHealth();
        StartHealthScan();
    }
    if (updateApplying_.load()) {
        renderer_.Text(L"Downloading the update\u2026", RectF{l.left + 176, l.bottom - 38, l.right, l.bottom}, Font::Body12,
                       palette::Icy, Align::Leading, true);
    }

    ui_.Panel(w.right);
    const RectF r = w.right.Inset(24, 20);
    renderer_.Text(L"Select the steps to run  -  everything is on by default", w.title, Font::Bold16, palette::CoolWhite);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        bool value = workflow_.want[slot];
        ui_.CheckBox(kStepBoxes + slot, w.stepBoxes[slot], SlotName(slot), value);
        workflow_.want[slot] = value;
        if (!StepAvailable(slot)) {
            const RectF& box = w.stepBoxes[slot];
            renderer_.Text(L"not available in this build", RectF{box.left + 130, box.top, r.right, box.bottom}, Font::Body12,
                           palette::Muted, Align::Leading, true);
        }
    }
    if (ui_.Button(kSelectAll, w.selectAll, L"Select all")) workflow_.want.fill(true);
    if (ui_.Button(kClear, w.clear, L"Clear")) workflow_.want.fill(false);
    if (workflow_.want[SlotMeasure]) {
        renderer_.Text(L"How thoroughly should each interval be measured?", RectF{r.left, w.fidelityTop, r.right, w.fidelityTop + 22},
                       Font::Bold13, palette::CoolWhite);
        static constexpr const wchar_t* kLevels[] = {L"Low", L"Medium", L"High"};
        for (int level = 0; level < 3; ++level) {
            const FidelityCounts preset = FidelityPreset(level);
            const std::wstring label = std::wstring(kLevels[level]) + (level == 1 ? L"   (default)" : L"") + L"   " +
                                       EstimateText(preset.estimateSeconds);
            const ButtonKind kind = workflow_.fidelity == level ? ButtonKind::Primary : ButtonKind::Quiet;
            if (ui_.Button(kFidelity + level, w.fidelity[level], label, {kind, false, false, false, Font::Body12})) {
                workflow_.fidelity = level;
            }
        }
        const FidelityCounts chosen = FidelityPreset(workflow_.fidelity);
        renderer_.Text(FormatText(L"%ls%d back-to-back and %d after idle, %d pass%ls", workflow_.fidelity == 1 ? L"Default. " : L"",
                                  static_cast<int>(chosen.samples), static_cast<int>(chosen.samples / 2),
                                  static_cast<int>(chosen.passes), chosen.passes == 1 ? L"" : L"es"),
                       w.fidelityLine, Font::Body12, palette::Icy);
    }
    const bool any = std::any_of(workflow_.want.begin(), workflow_.want.end(), [](bool want) { return want; });
    renderer_.Text(any ? L"The restart screen lists the BIOS settings to set by hand. Press Enter to begin."
                       : L"Select at least one step to tune",
                   w.hint, Font::Body12, any ? palette::Icy : palette::Alert);
    if (ui_.Button(kBegin, w.begin, L"Begin", {ButtonKind::Primary, true, true, !any})) {
        workflow_.SaveSelection();
        fullTuneActive_ = true;
        restoreFailureAccepted_ = false;
        // A step this build cannot run counts as skipped, so the tune never waits for it.
        gpuDriverSkipped_ = !workflow_.want[SlotGpuDriver] || !StepAvailable(SlotGpuDriver);
        afterburnerSkipped_ = !workflow_.want[SlotAfterburner] || !StepAvailable(SlotAfterburner);
        afterburnerWaiting_ = false;
        workflow_.SetStage(stage::FullTune);
        LogInfo(L"Full tune started: " + SelectedStepNames() + L".");
    }
}

void App::DrawHome(const RectF& area) {
    const float leftWidth = (area.Width() - kGap) * 0.62f;
    const RectF left{area.left, area.top, area.left + leftWidth, area.bottom};
    const RectF right{left.right + kGap, area.top, area.right, area.bottom};
    // Tiles, two rows of five.
    const float tileHeight = 74;
    const float tileWidth = (left.Width() - 4 * kGap) / 5;
    for (int i = 0; i < 10; ++i) {
        const RectF tile = RectF::Xywh(left.left + (i % 5) * (tileWidth + kGap), left.top + (i / 5) * (tileHeight + kGap),
                                       tileWidth, tileHeight);
        ui_.Describe(tile, kHomeTiles[i].name, kHomeTiles[i].description);
        if (!ui_.Button(kTiles + i, tile, kHomeTiles[i].name, {ButtonKind::Secondary, false, false, false, Font::Bold13})) continue;
        openedFromHome_ = true;
        switch (i) {
        case 0: workflow_.SetStage(fullTuneActive_ ? stage::FullTune : stage::Welcome); break;
        case 1:
            OpenHealth();
            StartHealthScan();
            break;
        case 2:
            if (!workflow_.Busy(SlotMeasure)) workflow_.StartBenchmark(false);
            workflow_.SetStage(stage::Measuring);
            break;
        case 3:
            if (workflow_.Busy(SlotCpu)) {
                workflow_.SetStage(stage::CpuRunning);
            } else {
                if (hooks_.probeCpu) {
                    cpuProbe_ = hooks_.probeCpu();
                    cpuProbed_ = true;
                }
                workflow_.SetStage(stage::CpuIntro);
            }
            break;
        case 4:
            workflow_.SetStage(stage::GpuClean);
            workflow_.BeginGpuLookup();
            break;
        case 5: workflow_.SetStage(workflow_.Busy(SlotGpuSettings) ? stage::GpuRunning : stage::GpuIntro); break;
        case 6: workflow_.SetStage(workflow_.Busy(SlotAfterburner) ? stage::AfterburnerRunning : stage::AfterburnerIntro); break;
        case 7: workflow_.SetStage(workflow_.Busy(SlotMemory) ? stage::MemoryRunning : stage::MemoryIntro); break;
        case 8: workflow_.SetStage(workflow_.Busy(SlotStorage) ? stage::StorageRunning : stage::StorageIntro); break;
        default:
            workflow_.SetStage(stage::Review);
            workflow_.Main().Stage(L"REVIEW", L"set BIOS, then restart");
            break;
        }
    }
    float y = left.top + 2 * (tileHeight + kGap);
    // The maintain-timing toggle and, when there is one, the update card.
    const RectF toggle = RectF::Xywh(left.left, y, 260, 34);
    ui_.Describe(toggle, settings_.maintainTiming ? L"Maintain timing: on" : L"Maintain timing: off",
                 L"When this is on, Quorvantis reads the monitored settings once a minute and puts back any that have "
                 L"drifted. If the same one keeps resetting, it applies a stronger fix where that is possible.");
    if (ui_.Button(kMaintain, toggle, settings_.maintainTiming ? L"Maintain timing: on" : L"Maintain timing: off",
                   {settings_.maintainTiming ? ButtonKind::Primary : ButtonKind::Secondary})) {
        settings_.maintainTiming = !settings_.maintainTiming;
        settings_.maintainAsked = true;
        SaveMonitorSettings(settings_);
        if (settings_.maintainTiming) ScheduleDriftCheck();
    }
    if (updateMode_) {
        const RectF card{toggle.right + kGap, y, left.right, y + 34};
        renderer_.Text(L"A newer Quorvantis build is ready. This downloads it and starts the installer.",
                       RectF{card.left, card.top, card.right - 150, card.bottom}, Font::Body12, palette::Icy, Align::Leading,
                       true);
        if (ui_.Button(kInstallUpdate, RectF{card.right - 140, card.top, card.right, card.bottom}, L"Install update",
                       {ButtonKind::Primary})) {
            updatePromptRequest_ = true;
        }
    }
    y += 34 + kGap;

    // The Lattice card: the measurement that runs now, else the newest saved scan.
    const RectF latticeCard{left.left, y, left.right, left.bottom};
    const bool measuring = workflow_.Busy(SlotMeasure);
    if (measuring) {
        workflow_.StateOf(SlotMeasure).Snapshot(home_);
        scanLoaded_ = false;  // pick up the finished measurement afterwards
    } else if (!scanLoaded_) {
        scanLoaded_ = true;
        scanFound_ = LoadLatestScan(hooks_.dataDirectory, scanLattice_, scanName_);
    }
    ui_.Panel(latticeCard);
    const RectF square = CenteredSquare(RectF{latticeCard.left + 10, latticeCard.top + 54, latticeCard.right - 10, latticeCard.bottom - 10});
    if (measuring) {
        renderer_.Text(L"Live timer scan", RectF{latticeCard.left + 14, latticeCard.top + 8, latticeCard.right, latticeCard.top + 30},
                       Font::Bold16, palette::CoolWhite);
        renderer_.Text(home_.totalSamples == 0 ? L"The scan is starting."
                                               : L"This 3D chart is the measurement that is running now. It updates as each "
                                                 L"sample lands.",
                       RectF{latticeCard.left + 14, latticeCard.top + 30, latticeCard.right - 14, latticeCard.top + 52},
                       Font::Body12, palette::Icy);
        if (renderer_.Lattice().GetStatus() == LatticeRenderer::Status::Ready) {
            renderer_.Lattice().Submit(home_.lattice, clock_);
            renderer_.DrawLattice(square);
        }
    } else if (scanFound_) {
        renderer_.Text(L"Last timer scan", RectF{latticeCard.left + 14, latticeCard.top + 8, latticeCard.right, latticeCard.top + 30},
                       Font::Bold16, palette::CoolWhite);
        renderer_.Text(L"This 3D chart is the newest finished timer-resolution scan. Brighter cells are where Sleep(1) landed.",
                       RectF{latticeCard.left + 14, latticeCard.top + 30, latticeCard.right - 14, latticeCard.top + 52},
                       Font::Body12, palette::Icy);
        if (renderer_.Lattice().GetStatus() == LatticeRenderer::Status::Ready) {
            renderer_.Lattice().Submit(scanLattice_, clock_);
            renderer_.DrawLattice(square);
        } else if (renderer_.Lattice().GetStatus() == LatticeRenderer::Status::Unavailable) {
            renderer_.Text(L"Lattice renderer unavailable on this device.", square, Font::Body12, palette::Muted, Align::Center, true);
        }
    } else {
        renderer_.Text(L"No timer scan saved yet", RectF{latticeCard.left + 14, latticeCard.top + 8, latticeCard.right, latticeCard.top + 30},
                       Font::Bold16, palette::CoolWhite);
        renderer_.Text(L"No timer scan has been saved yet. Run Measure timing and this chart fills in from that result.",
                       RectF{latticeCard.left + 14, latticeCard.top + 30, latticeCard.right - 14, latticeCard.top + 52},
                       Font::Body12, palette::Icy);
        renderer_.Text(L"Run Measure timing to draw this.", square, Font::Body12, palette::Muted, Align::Center, true);
    }

    // The right column: the description panel and the health summary.
    const RectF description{right.left, right.top, right.right, right.top + 150};
    const RectF health{right.left, description.bottom + kGap, right.right, right.bottom};
    bool running = false;
    const std::vector<HealthCheck> results = ScanResults(&running);
    ui_.Panel(health);
    const RectF h = health.Inset(14, 10);
    if (running) {
        renderer_.Text(L"Checking live settings", RectF{h.left, h.top, h.right, h.top + 24}, Font::Bold16, palette::CoolWhite);
    } else {
        const HealthSummary summary = SummarizeHealth(results);
        renderer_.Text(FormatText(L"%d live    %d need attention    %d other", summary.passing, summary.attention,
                                  summary.informational + summary.other),
                       RectF{h.left, h.top, h.right, h.top + 24}, Font::Bold16, palette::CoolWhite);
        renderer_.Text(L"Not every item applies on all hardware.", RectF{h.left, h.top + 24, h.right, h.top + 44}, Font::Body12,
                       palette::Muted);
    }
    float gy = h.top + 50 - scroll_;
    for (const GroupCaption& group : kGroups) {
        int count = 0, attention = 0;
        for (const HealthCheck& c : results) {
            if (c.group != group.name) continue;
            ++count;
            if (IsAttentionStatus(c.status)) ++attention;
        }
        if (count == 0) continue;
        const RectF row{h.left, gy, h.right, gy + 22};
        if (gy >= h.top + 46 && row.bottom <= h.bottom) {
            ui_.Describe(row, group.name, group.description);
            renderer_.Text(group.name, row, Font::Body12, palette::CoolWhite, Align::Leading, true);
            renderer_.Text(attention > 0 ? FormatText(L"%d need attention", attention) : FormatText(L"%d live", count), row,
                           Font::Body12, attention > 0 ? palette::Alert : palette::Electric, Align::Trailing, true);
        }
        gy += 24;
        for (const HealthCheck& c : results) {
            if (c.group != group.name) continue;
            const RectF item{h.left + 14, gy, h.right, gy + 18};
            if (gy >= h.top + 46 && item.bottom <= h.bottom) {
                std::wstring details = c.explanation + L"\n\nStatus: " + StatusLabel(c.status) + L"\nLive: " + c.observed +
                                       L"\nExpected: " + c.expected;
                if (c.repairStep.empty()) details += L"\n\nThis check only reads the live value.";
                ui_.Describe(item, c.title, details);
                renderer_.Text(c.title, item, Font::Body8, palette::Icy, Align::Leading, true);
                renderer_.Text(StatusLabel(c.status), item, Font::Body8, StatusColor(c.status), Align::Trailing, true);
            }
            gy += 18;
        }
    }
    DrawDescriptionPanel(description);
}

void App::DrawHealth(const RectF& area) {
    bool running = false;
    const std::vector<HealthCheck> results = ScanResults(&running);
    const float listWidth = (area.Width() - kGap) * 0.6f;
    const RectF list{area.left, area.top, area.left + listWidth, area.bottom};
    const RectF detail{list.right + kGap, area.top, area.right, area.bottom};
    ui_.Panel(list);
    const RectF l = list.Inset(16, 12);
    renderer_.Text(L"Health", RectF{l.left, l.top, l.left + 120, l.top + 30}, Font::Heading22, palette::CoolWhite);
    if (running) {
        renderer_.Text(L"Checking the live settings. Nothing is being changed.", RectF{l.left + 110, l.top + 4, l.right, l.top + 28},
                       Font::Body12, palette::Icy);
    }
    const HealthSummary summary = SummarizeHealth(results);
    if (!results.empty()) {
        renderer_.Text(FormatText(L"%d passing   %d attention   %d other", summary.passing, summary.attention,
                                  summary.informational + summary.other),
                       RectF{l.left, l.top + 32, l.right, l.top + 52}, Font::Body12, palette::Icy);
    }
    float y = l.top + 60 - scroll_;
    int index = 0;
    for (const bool attentionFirst : {true, false}) {
        bool heading = false;
        for (const HealthCheck& c : results) {
            const bool attention = IsAttentionStatus(c.status);
            const int itemIndex = index++;
            if (attention != attentionFirst) {
                continue;
            }
            if (!heading) {
                if (y >= l.top + 56 && y + 22 <= l.bottom) {
                    renderer_.Text(attentionFirst ? L"Attention" : L"Passing", RectF{l.left, y, l.right, y + 22}, Font::Bold13,
                                   attentionFirst ? palette::Alert : palette::Electric, Align::Leading, true);
                }
                heading = true;
                y += 24;
            }
            const RectF row{l.left, y, l.right, y + 20};
            if (y >= l.top + 56 && row.bottom <= l.bottom) {
                if (selectedCheck_ == itemIndex) renderer_.FillRect(row, palette::Electric.WithAlpha(0.18f), 4);
                if (ui_.Hovered(row)) ui_.hand = true;
                if (ui_.Clicked(row)) selectedCheck_ = itemIndex;
                renderer_.Text(c.group + L"  |  " + c.title, row.Inset(6, 0), Font::Body12, palette::CoolWhite, Align::Leading, true);
                renderer_.Text(StatusLabel(c.status), row.Inset(6, 0), Font::Body12, StatusColor(c.status), Align::Trailing, true);
            }
            y += 20;
        }
        index = 0;
    }
    ui_.Panel(detail);
    const RectF d = detail.Inset(16, 12);
    if (results.empty()) {
        if (!running && ui_.Button(kRunHealth, RectF::Xywh(d.left, d.top, 200, 36), L"Run health check", {ButtonKind::Primary})) {
            StartHealthScan();
        }
        return;
    }
    if (selectedCheck_ < 0 || selectedCheck_ >= static_cast<int>(results.size())) return;
    const HealthCheck& c = results[selectedCheck_];
    renderer_.Text(c.title, RectF{d.left, d.top, d.right, d.top + 30}, Font::Heading22, palette::CoolWhite);
    renderer_.Text(c.explanation + L"\n\nStatus: " + StatusLabel(c.status) + L"\nLive: " + c.observed + L"\nExpected: " + c.expected,
                   RectF{d.left, d.top + 40, d.right, d.bottom - 50}, Font::Paragraph13, palette::Icy);
    if (ui_.Button(kCheckAgain, RectF::Xywh(d.left, d.bottom - 38, 150, 36), L"Check again")) StartHealthScan();
    const bool repairable = !c.repairStep.empty();
    if (ui_.Button(kRepair, RectF::Xywh(d.left + 162, d.bottom - 38, 150, 36), repairable ? L"Repair this" : L"No repair",
                   {ButtonKind::Primary, false, false, !repairable})) {
        RepairArea(c.repairStep, true);
    }
}
