// A tweak step's screen: its explanation and log, and the confirmation, item list or failure
// panel, all from the step's row of the table.
#include <algorithm>

#include "foundation/text.h"
#include "gui/screens/screen.h"

namespace {

constexpr int kPrimary = 300, kSkip = 301, kStopStep = 302, kAgain = 303, kHomeButton = 304;

const wchar_t* StatusWord(int status) {
    switch (status) {
    case TweakApplying: return L"applying";
    case TweakWritten: return L"written";
    case TweakFailed: return L"failed";
    case TweakSkipped: return L"left alone";
    default: return L"pending";
    }
}

// The title line of an intro panel, with what the probe found: the CPU's class and frequencies,
// or that the GPU settings are applied already.
std::wstring IntroTitle(ScreenContext& c, const FrameSnapshot& s, const StepRow& step, const RectF& inner) {
    std::wstring title = step.panel.title;
    if (step.slot == SlotCpu) {
        const RectF line{inner.left, inner.top + 34, inner.right, inner.top + 54};
        if (!s.cpuProbed) {
            c.renderer.Text(L"Reading the processor\u2026", line, Font::Mono11, palette::Muted);
            return title;
        }
        title = CpuClassLabel(s.cpu.cpuClass);
        c.renderer.Text(FormatText(L"%ls   %u logical   idle %u MHz  busy %u MHz  cap %u MHz%ls%ls", s.cpu.brand.c_str(),
                                   s.cpu.logicalProcessors, s.cpu.idleMhz, s.cpu.busyMhz, s.cpu.capMhz,
                                   s.cpu.hybrid ? L"   hybrid" : L"",
                                   s.cpu.tuneApplied ? L"  \u00B7  reapplying current values" : L""),
                        line, Font::Mono11, palette::Icy);
    } else if (step.slot == SlotGpuSettings && s.gpuProbed && s.gpu.tweaksApplied) {
        title += L"  \u00B7  reapplying current values";
    }
    return title;
}

void DrawIntro(ScreenContext& c, const FrameSnapshot& s, const StepRow& step, const RectF& inner, ScreenOps& ops) {
    c.renderer.Text(IntroTitle(c, s, step, inner), RectF{inner.left, inner.top, inner.right, inner.top + 30}, Font::Heading22,
                    palette::CoolWhite);
    const RectF body{inner.left, inner.top + 60, inner.right, inner.bottom - 46};
    if (!s.available[step.slot]) {
        // Offered only once it can run: the button moves on instead of starting a step that can only fail.
        c.renderer.Text(L"Not available in this build. Nothing is downloaded, installed or changed by this step; the "
                        L"guided flow moves on to the next one.",
                        body, Font::Paragraph13, palette::Icy);
        if (c.ui.Button(kPrimary, RectF::Xywh(inner.left, inner.bottom - 38, 300, 36), L"Continue",
                        {ButtonKind::Primary, true, true})) {
            ops.StartGuidedStep(step.slot + 1);
        }
        return;
    }
    std::wstring text = step.panel.text;
    const wchar_t* primary = step.panel.primary;
    if (step.slot == SlotCpu && s.cpuProbed && s.cpu.cpuClass == CpuDynamic) {
        text = L"A 5 s check interval delays turbo boost. Apply this only if the multiplier is locked in BIOS.";
        primary = L"Continue anyway";
    }
    c.renderer.Text(text, body, Font::Paragraph13, palette::Icy);
    if (c.ui.Button(kPrimary, RectF::Xywh(inner.left, inner.bottom - 38, 300, 36), primary, {ButtonKind::Primary, true, true})) {
        ops.StartStep(step.slot);
    }
    if (c.ui.Button(kSkip, RectF::Xywh(inner.left + 312, inner.bottom - 38, 160, 36), L"Skip this step")) {
        ops.StartGuidedStep(step.slot + 1);
    }
}

void DrawFailure(ScreenContext& c, const StepRow& step, const RectF& inner, ScreenOps& ops) {
    c.renderer.Text(L"This step failed", RectF{inner.left, inner.top, inner.right, inner.top + 30}, Font::Heading22,
                    palette::Alert);
    c.renderer.Text(step.panel.failure, RectF{inner.left, inner.top + 36, inner.right, inner.top + 60}, Font::Paragraph13,
                    palette::CoolWhite);
    c.renderer.Text(step.panel.failureHint, RectF{inner.left, inner.top + 62, inner.right, inner.top + 90}, Font::Paragraph13,
                    palette::Icy);
    if (c.ui.Button(kAgain, RectF::Xywh(inner.left, inner.bottom - 38, 180, 36), step.panel.retry, {ButtonKind::Primary, true})) {
        ops.RetryStep(step.slot);
    }
    if (c.ui.Button(kSkip, RectF::Xywh(inner.left + 192, inner.bottom - 38, 140, 36), L"Skip")) {
        ops.StartGuidedStep(step.slot + 1);
    }
}

void DrawItemList(ScreenContext& c, const FrameSnapshot& s, const RectF& panel, int slot, ScreenOps& ops) {
    Renderer& g = c.renderer;
    const RectF inner = panel.Inset(18, 14);
    const StateView& view = s.view;
    const int state = s.state[slot];
    const size_t total = view.items.size();
    size_t done = 0, applied = 0, skipped = 0;
    for (const TweakItem& item : view.items) {
        if (item.status == TweakWritten || item.status == TweakFailed || item.status == TweakSkipped) ++done;
        if (item.status == TweakWritten) ++applied;
        if (item.status == TweakFailed || item.status == TweakSkipped) ++skipped;
    }
    std::wstring status = L"Preparing\u2026";
    if (total > 0) status = IsBusy(state) ? L"Writing settings." : L"Complete.";
    if (slot == SlotAfterburner && !IsBusy(state) && s.afterburnerAfterDriver) {
        status = L"Complete. A later driver install may have cleared the curve. Run this step again if the overclock is gone.";
    }
    g.Text(status, RectF{inner.left, inner.top, inner.right - 120, inner.top + 24}, Font::Bold16, palette::CoolWhite);
    g.Text(FormatText(L"%d / %d", static_cast<int>(done), static_cast<int>(total)),
           RectF{inner.right - 120, inner.top, inner.right, inner.top + 24}, Font::Mono12, palette::Icy, Align::Trailing);
    float y = inner.top + 30;
    const float bottom = inner.bottom - 44;
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
        g.Text(item.title, RectF{inner.left, y, inner.left + inner.Width() * 0.38f, y + row}, Font::Body12, color);
        g.Text(item.detail, RectF{inner.left + inner.Width() * 0.38f, y, inner.right - 80, y + row}, Font::Mono11, palette::Icy);
        g.Text(StatusWord(item.status), RectF{inner.right - 80, y, inner.right, y + row}, Font::Body12, color, Align::Trailing);
        y += row;
    }
    if (IsBusy(state)) {
        if (c.ui.Button(kStopStep, RectF::Xywh(inner.right - 140, inner.bottom - 38, 140, 36), L"Stop", {ButtonKind::Danger})) {
            ops.StopStep(slot);
        }
        return;
    }
    if (!HasEnded(state)) return;
    g.Text(FormatText(L"%d applied", static_cast<int>(applied)) +
               (skipped > 0 ? FormatText(L"    %d skipped", static_cast<int>(skipped)) : std::wstring()),
           RectF{inner.left, inner.bottom - 60, inner.right, inner.bottom - 42}, Font::Body12, palette::Icy);
    // The result banner: the step again, or home.
    if (c.ui.Button(kAgain, RectF::Xywh(inner.left, inner.bottom - 38, 220, 36), L"Run this step again", {ButtonKind::Secondary})) {
        ops.RetryStep(slot);
    }
    if (c.ui.Button(kHomeButton, RectF::Xywh(inner.left + 232, inner.bottom - 38, 160, 36), L"Home", {ButtonKind::Primary, true})) {
        ops.GoHome();
    }
}

}  // namespace

void DrawStep(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    const StepRow* step = StepShownBy(s.stage);
    if (step == nullptr || step->intro < 0) return;
    const ScreenLayout& layout = c.layout;
    // The explanation of what the step is doing above its panel.
    c.ui.Panel(layout.mainChart);
    const RectF chart = layout.mainChart.Inset(18, 14);
    c.renderer.Text(s.view.explanationTitle.empty() ? std::wstring(step->panel.title) : s.view.explanationTitle,
                    RectF{chart.left, chart.top, chart.right, chart.top + 30}, Font::Heading22, palette::CoolWhite);
    c.renderer.Text(s.view.explanationText.empty() ? std::wstring(step->panel.text) : s.view.explanationText,
                    RectF{chart.left, chart.top + 36, chart.right, chart.bottom}, Font::Paragraph16, palette::Icy);
    DrawLogColumn(c, s);

    const RectF panel = layout.stepPanel;
    c.ui.Panel(panel);
    const RectF inner = panel.Inset(18, 14);
    if (s.stage == step->intro) DrawIntro(c, s, *step, inner, ops);
    else if (s.stage == step->stages.failed) DrawFailure(c, *step, inner, ops);
    else DrawItemList(c, s, panel, step->slot, ops);
}
