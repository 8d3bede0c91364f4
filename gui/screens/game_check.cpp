// The game check: choose the running game, how long and PresentMon, start; the run's lines while
// it runs; then the verdict, both arms' figures and their frame times against percentile.
#include <algorithm>
#include <cmath>

#include "foundation/text.h"
#include "gui/screens/screen.h"
#include "timer/game_plot.h"

namespace {

constexpr int kRefresh = 620, kChoosePresentMon = 621, kStart = 622, kStop = 623, kMinutesBase = 630, kProgramBase = 640;
constexpr int kMinuteChoices[] = {2, 4, 8, 15};
constexpr int kMostPrograms = 12;
constexpr float kRow = 30;
constexpr Color kHeldColour = palette::Electric;
constexpr Color kReleasedColour = palette::Alert;

void DrawChoices(ScreenContext& c, const FrameSnapshot& s, GameCheckScreenState& state, const RectF& panel, ScreenOps& ops) {
    c.ui.Panel(panel);
    const RectF inner = panel.Inset(20, 16);
    c.renderer.Text(L"Check in a game", RectF{inner.left, inner.top, inner.right, inner.top + 24}, Font::Title16Bold,
                    palette::CoolWhite);
    c.renderer.Text(L"Start your game and play. Blocks of 30 s then alternate between holding the installed timer period and "
                    L"releasing it (A B B A B A A B), with the timer service paused meanwhile and started again afterwards. "
                    L"PresentMon captures the frames; the first 3 s of each block are dropped.",
                    RectF{inner.left, inner.top + 30, inner.right, inner.top + 104}, Font::Paragraph13, palette::Icy);
    float y = inner.top + 112;
    const bool running = s.game.running;
    c.renderer.Text(L"Game", RectF{inner.left, y, inner.right - 110, y + 22}, Font::Bold13, palette::CoolWhite);
    if (c.ui.Button(kRefresh, RectF{inner.right - 100, y - 4, inner.right, y + 22}, L"Refresh", {ButtonKind::Quiet, false, false, running})) {
        ops.OpenGameCheck();
    }
    y += 28;
    if (s.game.programs.empty()) {
        c.renderer.Text(L"No program with a window was found. Start the game, then Refresh.",
                        RectF{inner.left, y, inner.right, y + 20}, Font::Body12, palette::Muted);
        y += 26;
    }
    const int shown = std::min(static_cast<int>(s.game.programs.size()), kMostPrograms);
    for (int i = 0; i < shown; ++i) {
        const std::wstring& program = s.game.programs[static_cast<size_t>(i)];
        const float column = (inner.Width() - 8) / 2;
        const RectF row = RectF::Xywh(inner.left + (i % 2) * (column + 8), y + (i / 2) * kRow, column, kRow - 4);
        const bool chosen = _wcsicmp(program.c_str(), state.chosen.c_str()) == 0;
        if (c.ui.Button(kProgramBase + i, row, program, {chosen ? ButtonKind::Primary : ButtonKind::Secondary, false, false, running})) {
            state.chosen = program;
        }
    }
    y += static_cast<float>((shown + 1) / 2) * kRow + 10;
    c.renderer.Text(L"Minutes", RectF{inner.left, y, inner.right, y + 22}, Font::Bold13, palette::CoolWhite);
    y += 26;
    for (size_t i = 0; i < std::size(kMinuteChoices); ++i) {
        const int minutes = kMinuteChoices[i];
        const RectF box = RectF::Xywh(inner.left + static_cast<float>(i) * 70, y, 62, 26);
        if (c.ui.Button(kMinutesBase + static_cast<int>(i), box, std::to_wstring(minutes),
                        {state.minutes == minutes ? ButtonKind::Primary : ButtonKind::Secondary, false, false, running})) {
            state.minutes = minutes;
        }
    }
    y += 40;
    c.renderer.Text(L"PresentMon", RectF{inner.left, y, inner.right, y + 22}, Font::Bold13, palette::CoolWhite);
    y += 24;
    c.renderer.Text(s.game.presentMon.empty() ? std::wstring(L"Intel's release 2.3.1, downloaded once and checked, "
                                                             L"or choose your own copy")
                                              : s.game.presentMon,
                    RectF{inner.left, y, inner.right, y + 18}, Font::Mono11, s.game.presentMon.empty() ? palette::Muted : palette::Icy);
    y += 24;
    if (c.ui.Button(kChoosePresentMon, RectF::Xywh(inner.left, y, 200, 30), L"Choose PresentMon\u2026",
                    {ButtonKind::Secondary, false, false, running})) {
        ops.ChoosePresentMon();
    }
    const RectF start = RectF::Xywh(inner.left, inner.bottom - 36, 200, 36);
    if (running) {
        if (c.ui.Button(kStop, start, L"Stop", {ButtonKind::Danger})) ops.StopGameCheck();
        return;
    }
    const bool ready = !state.chosen.empty();
    if (c.ui.Button(kStart, start, L"Start", {ButtonKind::Primary, ready, ready, !ready})) ops.StartGameCheck(state.chosen, state.minutes);
}

// Frame time against percentile on the saved picture's tail scale.
void DrawCurves(ScreenContext& c, const GameCheckView& g, const RectF& rect) {
    const RectF plot{rect.left + 46, rect.top + 8, rect.right - 12, rect.bottom - 26};
    const auto [lowHeld, highHeld] = std::minmax_element(g.heldCurve.begin(), g.heldCurve.end());
    const auto [lowReleased, highReleased] = std::minmax_element(g.releasedCurve.begin(), g.releasedCurve.end());
    double low = std::min(*lowHeld, *lowReleased), high = std::max(*highHeld, *highReleased);
    const double pad = std::max(0.5, (high - low) * 0.06);
    low = std::max(0.0, low - pad);
    high += pad;
    const auto x = [&](size_t point) {
        return plot.left + plot.Width() * static_cast<float>(point) / static_cast<float>(kGameCurvePoints - 1);
    };
    const auto y = [&](double ms) { return plot.bottom - plot.Height() * static_cast<float>((ms - low) / (high - low)); };
    c.renderer.Line(plot.left, plot.bottom, plot.right, plot.bottom, palette::Muted, 1);
    c.renderer.Line(plot.left, plot.top, plot.left, plot.bottom, palette::Muted, 1);
    for (const double ms : {low + (high - low) * 0.1, (low + high) / 2, high - (high - low) * 0.1}) {
        c.renderer.Text(FormatText(L"%.1f", ms), RectF{rect.left, y(ms) - 8, plot.left - 6, y(ms) + 8}, Font::Mono11, palette::Icy,
                        Align::Trailing);
    }
    const struct {
        double fraction;
        const wchar_t* label;
    } marks[] = {{0.5, L"median"}, {0.9, L"90th"}, {0.99, L"99th"}, {0.999, L"99.9th"}};
    for (const auto& mark : marks) {
        const float at = plot.left + plot.Width() * static_cast<float>(TailPositionOf(mark.fraction));
        c.renderer.Line(at, plot.top, at, plot.bottom, palette::Blueprint, 1);
        c.renderer.Text(mark.label, RectF{at - 40, plot.bottom + 4, at + 40, plot.bottom + 20}, Font::Body11, palette::Icy, Align::Center);
    }
    for (const auto& [curve, colour] : {std::pair{&g.releasedCurve, kReleasedColour}, std::pair{&g.heldCurve, kHeldColour}}) {
        for (size_t i = 1; i < curve->size(); ++i) {
            c.renderer.Line(x(i - 1), y((*curve)[i - 1]), x(i), y((*curve)[i]), colour, 2);
        }
    }
}

void DrawOutcome(ScreenContext& c, const FrameSnapshot& s, const RectF& panel) {
    c.ui.Panel(panel);
    const RectF inner = panel.Inset(20, 16);
    const GameCheckView& g = s.game;
    if (g.heldCurve.empty() || g.releasedCurve.empty() || g.running) {
        c.renderer.Text(g.running ? L"Running" : g.finished ? L"Ended without an answer" : L"Nothing measured yet",
                        RectF{inner.left, inner.top, inner.right, inner.top + 24}, Font::Title16Bold, palette::CoolWhite);
        float y = inner.top + 32;
        for (const std::wstring& line : g.log) {
            const bool error = line.rfind(L"ERROR:", 0) == 0;
            c.renderer.Text(line, RectF{inner.left, y, inner.right, y + 16}, Font::Mono11, error ? palette::Alert : palette::Icy);
            y += 17;
        }
        return;
    }
    c.renderer.Text(g.verdict, RectF{inner.left, inner.top, inner.right, inner.top + 44}, Font::Paragraph13, palette::CoolWhite);
    c.renderer.Line(inner.left, inner.top + 58, inner.left + 18, inner.top + 58, kHeldColour, 3);
    c.renderer.Text(g.heldLine, RectF{inner.left + 26, inner.top + 50, inner.right, inner.top + 66}, Font::Body11, palette::Icy);
    c.renderer.Line(inner.left, inner.top + 78, inner.left + 18, inner.top + 78, kReleasedColour, 3);
    c.renderer.Text(g.releasedLine, RectF{inner.left + 26, inner.top + 70, inner.right, inner.top + 86}, Font::Body11, palette::Icy);
    DrawCurves(c, g, RectF{inner.left, inner.top + 100, inner.right, inner.bottom});
}

}  // namespace

void DrawGameCheck(ScreenContext& c, const FrameSnapshot& s, GameCheckScreenState& state, ScreenOps& ops) {
    const RectF& area = c.layout.content;
    const float leftWidth = (area.Width() - kGap) * 0.42f;
    DrawChoices(c, s, state, RectF{area.left, area.top, area.left + leftWidth, area.bottom}, ops);
    DrawOutcome(c, s, RectF{area.left + leftWidth + kGap, area.top, area.right, area.bottom});
}
