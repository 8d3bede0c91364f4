// The welcome screen: what Quorvantis does, and the step selection with the fidelity choice.
#include <algorithm>
#include <iterator>

#include "foundation/text.h"
#include "gui/screens/screen.h"
#include "timer/sweep_plan.h"

namespace {
constexpr int kStepBoxes = 500, kSelectAll = 510, kClear = 511, kFidelity = 512, kBegin = 520, kHealthButton = 521;
}  // namespace

void DrawWelcome(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    Renderer& g = c.renderer;
    Ui& ui = c.ui;
    const WelcomeLayout w = WelcomeLayoutFor(c.layout.content, s.want[SlotMeasure]);
    ui.Panel(w.left);
    const RectF l = w.left.Inset(24, 20);
    if (g.HasImage(Image::Brand)) {
        g.DrawImage(Image::Brand, RectF::Xywh(l.left, l.top, std::min(l.Width(), 360.0f), std::min(l.Width(), 360.0f) * 146 / 820));
    } else {
        g.Text(L"QUORVANTIS", RectF{l.left, l.top, l.right, l.top + 50}, Font::Display40, palette::CoolWhite);
    }
    g.Text(L"Fenmarch Systems", RectF{l.left, l.top + 70, l.right, l.top + 92}, Font::Gruppo13, palette::Icy);
    g.Text(L"Timer resolution, CPU power, GPU, memory, and storage. Low-level settings are tuned to harden the "
           L"machine for a more responsive, lower-latency configuration, without unneeded versatility or fluff. "
           L"Perfect for gamers and HPC. Uncheck any step you want to skip. Begin makes a restore point first, "
           L"measures timing next, then runs the remaining steps in a safe order. It asks only before a driver "
           L"install or Afterburner.",
           RectF{l.left, l.top + 104, l.right, l.bottom - 50}, Font::Paragraph16, palette::CoolWhite);
    if (ui.Button(kHealthButton, w.healthButton, L"Health")) ops.OpenHealth(true);
    if (s.updateApplying) {
        g.Text(L"Downloading the update\u2026", RectF{l.left + 176, l.bottom - 38, l.right, l.bottom}, Font::Body12,
               palette::Icy, Align::Leading, true);
    }

    ui.Panel(w.right);
    const RectF r = w.right.Inset(24, 20);
    g.Text(L"Select the steps to run  -  everything is on by default", w.title, Font::Bold16, palette::CoolWhite);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        bool value = s.want[slot];
        ui.CheckBox(kStepBoxes + slot, w.stepBoxes[slot], SlotName(slot), value);
        if (value != s.want[slot]) ops.SetWanted(slot, value);
        if (!s.available[slot]) {
            const RectF& box = w.stepBoxes[slot];
            g.Text(L"not available in this build", RectF{box.left + 130, box.top, r.right, box.bottom}, Font::Body12,
                   palette::Muted, Align::Leading, true);
        }
    }
    if (ui.Button(kSelectAll, w.selectAll, L"Select all")) ops.SetAllWanted(true);
    if (ui.Button(kClear, w.clear, L"Clear")) ops.SetAllWanted(false);
    if (s.want[SlotMeasure]) {
        g.Text(L"How thoroughly should each interval be measured?", RectF{r.left, w.fidelityTop, r.right, w.fidelityTop + 22},
               Font::Bold13, palette::CoolWhite);
        // Adaptive first: it matches medium's picks in about half of medium's time.
        static constexpr int kLevels[] = {kAdaptiveFidelity, 0, 1, 2};
        static constexpr const wchar_t* kNames[] = {L"Adaptive   (recommended)", L"Low", L"Medium", L"High"};
        for (size_t i = 0; i < std::size(kLevels); ++i) {
            const int level = kLevels[i];
            const FidelityCounts preset = FidelityPreset(level);
            const std::wstring time = preset.adaptive ? EstimateText(preset.expectedSeconds) + L", at most " +
                                                            EstimateText(preset.estimateSeconds)
                                                      : EstimateText(preset.estimateSeconds);
            const std::wstring label = std::wstring(kNames[i]) + L"   " + time;
            const ButtonKind kind = s.fidelity == level ? ButtonKind::Primary : ButtonKind::Quiet;
            if (ui.Button(kFidelity + static_cast<int>(i), w.fidelity[i], label, {kind, false, false, false, Font::Body12})) {
                ops.SetFidelity(level);
            }
        }
        const FidelityCounts chosen = FidelityPreset(s.fidelity);
        const std::wstring detail =
            chosen.adaptive
                ? FormatText(L"Every interval %d back-to-back and %d after idle once, then up to %d rounds of %d more where the "
                             L"pick is decided",
                             static_cast<int>(chosen.samples), static_cast<int>(std::max<uint32_t>(chosen.samples / 2, 5)),
                             static_cast<int>(chosen.extraRounds), static_cast<int>(chosen.roundSamples))
                : FormatText(L"%d back-to-back and %d after idle, %d pass%ls", static_cast<int>(chosen.samples),
                             static_cast<int>(chosen.samples / 2), static_cast<int>(chosen.passes),
                             chosen.passes == 1 ? L"" : L"es");
        g.Text(detail, w.fidelityLine, Font::Body12, palette::Icy);
    }
    const bool any = std::any_of(s.want.begin(), s.want.end(), [](bool want) { return want; });
    g.Text(any ? L"The restart screen lists the BIOS settings to set by hand. Press Enter to begin."
               : L"Select at least one step to tune",
           w.hint, Font::Body12, any ? palette::Icy : palette::Alert);
    if (ui.Button(kBegin, w.begin, L"Begin", {ButtonKind::Primary, true, true, !any})) ops.BeginFullTune();
}
