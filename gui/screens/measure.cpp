// The measure screen (stages 5..11): the sweep chart, the live chart, the Lattice card, the
// candidate panel, and in the step panel the measurement's or the install's panel with the
// verification bars beside it while the finalists are re-measured.
#include <algorithm>
#include <cmath>

#include "foundation/text.h"
#include "gui/screens/screen.h"
#include "timer/sweep_plan.h"

namespace {

constexpr int kStopMeasure = 200, kContinueInstall = 201, kCloseMeasure = 202, kTryAgain = 203, kRetryInstall = 204,
              kOpenLog = 205, kContinueNext = 206;

double Ms(uint32_t units) { return units / 10000.0; }

// A chart's plotting area inside its card, with room for the axis labels.
RectF PlotArea(const RectF& card) { return RectF{card.left + 58, card.top + 40, card.right - 44, card.bottom - 30}; }

float MapY(double value, double low, double high, const RectF& plot) {
    const double t = high > low ? (value - low) / (high - low) : 0;
    return plot.bottom - static_cast<float>(std::clamp(t, 0.0, 1.0)) * plot.Height();
}

float MapX(double value, double low, double high, const RectF& plot) {
    const double t = high > low ? (value - low) / (high - low) : 0.5;
    return plot.left + static_cast<float>(std::clamp(t, 0.0, 1.0)) * plot.Width();
}

void DrawSweepChart(ScreenContext& cx, const FrameSnapshot& snap, MeasureScreenState& state, const RectF& rect) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    const std::vector<CandidateSummary>& c = view.sweep.candidates;
    bool any = false;
    double low = 1e9, high = -1e9;
    for (const CandidateSummary& s : c) {
        if (!s.measured) continue;
        any = true;
        for (const double v : {s.loop.mean, s.loop.median, s.idle.mean, s.score}) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    cx.renderer.Text(L"Sweep", RectF{rect.left + 14, rect.top + 10, rect.right - 14, rect.top + 32}, Font::Title16Bold,
                   palette::CoolWhite);
    cx.renderer.Text(any ? L"overshoot vs requested resolution" : L"Measuring the untuned Sleep(1) baseline\u2026",
                   RectF{rect.left + 80, rect.top + 12, rect.right - 14, rect.top + 32}, Font::Gruppo13, palette::Icy);
    if (c.empty() || !any) return;
    const RectF plot = PlotArea(rect);
    if (plot.Width() < 40 || plot.Height() < 40) return;
    const double pad = std::max(0.02, (high - low) * 0.08);
    low -= pad;
    high += pad;
    const double firstPeriod = Ms(c.front().period), lastPeriod = Ms(c.back().period);

    // Axes: overshoot on the left, late % on the right, the requested period below.
    const Ticks yTicks = NiceTicks(low, high, 5);
    for (int i = 0; i < yTicks.count; ++i) {
        const double v = yTicks.first + i * yTicks.step;
        const float y = MapY(v, low, high, plot);
        cx.renderer.Line(plot.left, y, plot.right, y, palette::Muted.WithAlpha(0.25f), 1);
        cx.renderer.Text(FormatText(L"%+.2f", v), RectF{rect.left + 4, y - 8, plot.left - 6, y + 8}, Font::Mono11,
                       palette::Muted, Align::Trailing);
    }
    cx.renderer.Text(L"ms", RectF{rect.left + 4, plot.top - 22, plot.left, plot.top - 6}, Font::Mono11, palette::Muted,
                   Align::Trailing);
    cx.renderer.Text(L"late %", RectF{plot.right + 2, plot.top - 22, rect.right - 2, plot.top - 6}, Font::Mono11,
                   palette::Alert.WithAlpha(0.8f));
    const Ticks xTicks = NiceTicks(firstPeriod, lastPeriod, 6);
    for (int i = 0; i < xTicks.count; ++i) {
        const double v = xTicks.first + i * xTicks.step;
        const float x = MapX(v, firstPeriod, lastPeriod, plot);
        cx.renderer.Text(FormatText(L"%.3f", v), RectF{x - 30, plot.bottom + 6, x + 30, plot.bottom + 22}, Font::Mono11,
                       palette::Muted, Align::Center);
    }

    // Late-percentage bars behind the lines, on their own 0..100 % scale.
    const float barWidth = std::max(1.0f, plot.Width() / static_cast<float>(c.size()) * 0.6f);
    for (const CandidateSummary& s : c) {
        if (!s.measured || s.loop.latePercent <= 0) continue;
        const float x = MapX(Ms(s.period), firstPeriod, lastPeriod, plot);
        const float y = MapY(std::min(100.0, s.loop.latePercent), 0, 100, plot);
        cx.renderer.FillRect(RectF{x - barWidth / 2, y, x + barWidth / 2, plot.bottom}, palette::Alert.WithAlpha(0.35f));
    }
    // Each series is one path; a candidate not measured breaks it.
    std::vector<PointF>& points = state.chartPoints;
    const auto flush = [&](const Color& color, float width) {
        cx.renderer.Polyline(points.data(), points.size(), color, width);
        points.clear();
    };
    const auto line = [&](auto value, const Color& color, float width) {
        points.clear();
        for (size_t k = 0; k < c.size(); ++k) {
            const double v = value(k);
            if (!c[k].measured || v >= 1e8) {
                flush(color, width);
                continue;
            }
            points.push_back(PointF{MapX(Ms(c[k].period), firstPeriod, lastPeriod, plot), MapY(v, low, high, plot)});
        }
        flush(color, width);
    };
    line([&](size_t k) { return c[k].loop.mean; }, palette::Electric, 2);
    line([&](size_t k) { return c[k].loop.median; }, palette::CoolWhite.WithAlpha(0.7f), 1.2f);
    line([&](size_t k) { return c[k].idle.mean; }, palette::Icy, 1.5f);
    if (view.sweep.smoothed.size() == c.size()) {
        line([&](size_t k) { return view.sweep.smoothed[k]; }, palette::Alert, 1.6f);
    } else {
        line([&](size_t k) { return c[k].score; }, palette::Alert, 1.6f);
    }

    // Markers: the best, the margin target, where ticks stop being missed, the selection.
    const auto marker = [&](int index, const std::wstring& label, const Color& color, float row) {
        if (index < 0 || index >= static_cast<int>(c.size())) return;
        const float x = MapX(Ms(c[index].period), firstPeriod, lastPeriod, plot);
        cx.renderer.Line(x, plot.top, x, plot.bottom, color.WithAlpha(0.6f), 1.2f);
        cx.renderer.Text(label, RectF{x + 4, plot.top + row, x + 240, plot.top + row + 16}, Font::Mono11, color);
    };
    const bool finished = view.sweep.justMeasured < 0 && view.sweep.pass == view.sweep.passCount && view.sweep.pass > 0;
    marker(view.sweep.firstNeverMissing, L"no missed ticks from here", palette::Icy, 36);
    if (view.sweep.best >= 0) {
        marker(view.sweep.best,
               FormatText(L"%ls %.4f", finished ? L"best" : L"leading", Ms(c[view.sweep.best].period)), palette::Electric, 2);
    }
    if (view.sweep.target >= 0 && view.sweep.target < static_cast<int>(c.size())) {
        marker(view.sweep.target,
               FormatText(L"target %.4f (+%.4f margin)", Ms(c[view.sweep.target].period), Ms(view.sweep.margin)),
               palette::CoolWhite, 18);
    }
    const ResultView& result = snap.result;
    if (result.selected != 0 && snap.state[SlotMeasure] == StepFinished) {
        const float x = MapX(Ms(result.selected), firstPeriod, lastPeriod, plot);
        cx.renderer.Line(x, plot.top, x, plot.bottom, palette::CoolWhite, 2);
        cx.renderer.Text(FormatText(L"SELECTED %.4f ms", Ms(result.selected)),
                       RectF{x + 4, plot.bottom - 20, x + 220, plot.bottom - 4}, Font::Mono11, palette::CoolWhite);
    }

    // Legend.
    const struct {
        const wchar_t* text;
        Color color;
    } legend[] = {{L"mean (loop)", palette::Electric},
                  {L"median", palette::CoolWhite.WithAlpha(0.7f)},
                  {L"mean (idle)", palette::Icy},
                  {L"score", palette::Alert}};
    float lx = rect.right - 14 - 4 * 96;
    for (const auto& entry : legend) {
        cx.renderer.Line(lx, rect.top + 20, lx + 16, rect.top + 20, entry.color, 2);
        cx.renderer.Text(entry.text, RectF{lx + 20, rect.top + 12, lx + 96, rect.top + 28}, Font::Body12, palette::Icy);
        lx += 96;
    }
}

void DrawLiveChart(ScreenContext& cx, const FrameSnapshot& snap, MeasureScreenState& state, const RectF& rect) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    cx.renderer.Text(L"Live", RectF{rect.left + 14, rect.top + 8, rect.right - 14, rect.top + 28}, Font::Title16Bold,
                   palette::CoolWhite);
    cx.renderer.Text(L"Sleep(1) overshoot, held until the next wake", RectF{rect.left + 56, rect.top + 10, rect.right - 14, rect.top + 28},
                   Font::Gruppo12, palette::Icy);
    const RectF plot{rect.left + 46, rect.top + 34, rect.right - 12, rect.bottom - 24};
    if (view.samples.empty() || plot.Height() < 20) {
        cx.renderer.Text(L"waiting for samples\u2026", plot, Font::Body12, palette::Muted, Align::Center, true);
        return;
    }
    constexpr double kLow = -0.05, kHigh = 1.25;
    // Tick lines of the newest sample's period: when a wake-up lands if it is on time, late by one tick, ...
    const uint32_t period = static_cast<uint32_t>(std::max(0, view.samples.back().period));
    if (period > 0) {
        for (int i = 0; i < 8; ++i) {
            const double at = TickLine(period, i);
            if (at > kHigh) break;
            const float y = MapY(at, kLow, kHigh, plot);
            cx.renderer.Line(plot.left, y, plot.right, y, i == 0 ? palette::Electric.WithAlpha(0.8f) : palette::Muted.WithAlpha(0.5f),
                           1);
            if (i > 0) {
                cx.renderer.Text(TickLineLabel(i), RectF{plot.right - 80, y - 15, plot.right, y - 1}, Font::Body11, palette::Muted,
                               Align::Trailing);
            }
        }
    }
    for (const double v : {0.0, 0.5, 1.0}) {
        const float y = MapY(v, kLow, kHigh, plot);
        cx.renderer.Text(FormatText(L"%+.2f", v), RectF{rect.left + 2, y - 8, plot.left - 4, y + 8}, Font::Mono11,
                       palette::Muted, Align::Trailing);
    }
    // The samples in three colours, each colour one shape.
    const size_t n = view.samples.size();
    const float step = plot.Width() / static_cast<float>(std::max<size_t>(n, 2) - 1);
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<PointF>& points = state.chartPoints;
        points.clear();
        for (size_t i = 0; i < n; ++i) {
            const SampleRecord& s = view.samples[i];
            const bool late = s.period > 0 && IsLateSample(static_cast<uint32_t>(s.period), s.overshoot);
            const int sampleKind = late ? 2 : s.idle ? 1 : 0;
            if (sampleKind != kind) continue;
            points.push_back(PointF{plot.left + step * static_cast<float>(i), MapY(s.overshoot, kLow, kHigh, plot)});
        }
        cx.renderer.Dots(points.data(), points.size(), 1.8f, kind == 2 ? palette::Alert : kind == 1 ? palette::Icy : palette::Electric);
    }
    const struct {
        const wchar_t* text;
        Color color;
    } legend[] = {{L"back-to-back", palette::Electric}, {L"after idle", palette::Icy}, {L"missed a tick", palette::Alert}};
    float lx = plot.left;
    for (const auto& entry : legend) {
        cx.renderer.FillCircle(lx + 4, rect.bottom - 12, 3, entry.color);
        cx.renderer.Text(entry.text, RectF{lx + 12, rect.bottom - 20, lx + 110, rect.bottom - 4}, Font::Body12, palette::Icy);
        lx += 110;
    }
}

void DrawLatticeCard(ScreenContext& cx, const FrameSnapshot& snap, const RectF& rect) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    cx.renderer.Text(L"Lattice", RectF{rect.left + 14, rect.top + 8, rect.right - 14, rect.top + 28}, Font::Title16Bold,
                   palette::CoolWhite);
    uint64_t late = 0;
    for (const PeriodCounts& p : view.periods) late += p.late;
    std::wstring caption = L"late %  \u00D7  measured latency  \u00D7  sample n";
    if (view.verificationSeen) {
        caption = FormatText(L"verification  |  128\u00B3  |  n = %u  |  missed %u", static_cast<unsigned>(view.totalSamples),
                             static_cast<unsigned>(late));
    } else if (view.sweep.pass > 0) {
        caption = FormatText(L"pass %d of %d  |  late %% \u00D7 latency \u00D7 n  |  n = %u", view.sweep.pass,
                             view.sweep.passCount, static_cast<unsigned>(view.totalSamples));
    }
    cx.renderer.Text(caption, RectF{rect.left + 84, rect.top + 10, rect.right - 14, rect.top + 28}, Font::Gruppo12, palette::Icy);
    const RectF picture{rect.left + 10, rect.top + 34, rect.right - 10, rect.bottom - 10};
    DrawLatticeInto(cx, picture, view.lattice, snap.clock);
}

void DrawCandidatePanel(ScreenContext& cx, const FrameSnapshot& snap, const RectF& rect) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    cx.renderer.Text(L"statistics of the candidate being measured", RectF{rect.left + 14, rect.top + 8, rect.right - 14, rect.top + 26},
                   Font::Gruppo12, palette::Icy);
    const CandidateSummary* shown = nullptr;
    std::wstring phase = L"sweep";
    if (view.verificationSeen && !view.verification.finalists.empty()) {
        const int i = std::clamp(view.verification.justMeasured, 0, static_cast<int>(view.verification.finalists.size()) - 1);
        shown = &view.verification.finalists[i];
        phase = L"verification";
    } else if (view.sweep.justMeasured >= 0 && view.sweep.justMeasured < static_cast<int>(view.sweep.candidates.size())) {
        shown = &view.sweep.candidates[view.sweep.justMeasured];
        phase = view.sweep.pass <= 1 ? L"first pass" : L"sweep";
    }
    const ResultView& result = snap.result;
    if (result.selected != 0 && snap.state[SlotMeasure] == StepFinished) {
        for (const CandidateSummary& f : view.verification.finalists) {
            if (f.period == result.selected) {
                shown = &f;
                phase = L"selected";
            }
        }
    }
    if (shown == nullptr) return;
    cx.renderer.Text(L"Candidate", RectF{rect.left + 14, rect.top + 30, rect.left + 120, rect.top + 50}, Font::Bold13,
                   palette::CoolWhite);
    cx.renderer.Text(FormatText(L"%.4f ms  |  %ls", Ms(shown->period), phase.c_str()),
                   RectF{rect.left + 110, rect.top + 30, rect.right - 14, rect.top + 50}, Font::Mono12, palette::CoolWhite);
    const struct {
        const wchar_t* label;
        std::wstring value;
    } rows[] = {
        {L"median", FormatText(L"%+.4f", shown->loop.median)},
        {L"mean", FormatText(L"%+.4f", shown->loop.mean)},
        {L"stdev", FormatText(L"%.4f", shown->loop.stdev)},
        {L"missed ticks", FormatText(L"%.1f%%", shown->loop.latePercent)},
        {L"mean after idle", FormatText(L"%+.4f", shown->idle.mean)},
        {L"missed after idle", FormatText(L"%.1f%%", shown->idle.latePercent)},
    };
    float y = rect.top + 56;
    const float rowHeight = std::max(14.0f, std::min(20.0f, (rect.bottom - y - 30) / 6));
    for (const auto& row : rows) {
        cx.renderer.Text(row.label, RectF{rect.left + 14, y, rect.left + 160, y + rowHeight}, Font::Body12, palette::Icy);
        cx.renderer.Text(row.value, RectF{rect.left + 160, y, rect.right - 14, y + rowHeight}, Font::Mono12, palette::CoolWhite,
                       Align::Trailing);
        y += rowHeight;
    }
    cx.renderer.Text(L"SCORE", RectF{rect.left + 14, y + 2, rect.left + 160, y + 24}, Font::Bold13, palette::CoolWhite);
    cx.renderer.Text(FormatText(L"%.3f", shown->score), RectF{rect.left + 160, y + 2, rect.right - 14, y + 24}, Font::MonoBold15,
                   palette::Electric, Align::Trailing);
}

void DrawVerificationBars(ScreenContext& cx, const FrameSnapshot& snap, const RectF& rect) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    cx.renderer.Text(L"interleaved re-measure of the leading candidates", RectF{rect.left + 14, rect.top + 8, rect.right - 14, rect.top + 28},
                   Font::Title16Bold, palette::CoolWhite);
    cx.renderer.Text(L"Top candidates are re-measured in interleaved rounds under the same load. The lowest verified score at "
                   L"or above the safety margin is selected.",
                   RectF{rect.left + 14, rect.top + 30, rect.right - 14, rect.top + 84}, Font::Paragraph13, palette::Icy);
    const std::vector<CandidateSummary>& f = view.verification.finalists;
    if (f.empty()) return;
    double worst = 0;
    for (const CandidateSummary& c : f) worst = std::max(worst, c.measured ? c.score : 0.0);
    const float top = rect.top + 88, bottom = rect.bottom - 24;
    const float rowHeight = std::min(30.0f, (bottom - top) / static_cast<float>(f.size()));
    const float barLeft = rect.left + 110, barRight = std::max(barLeft + 60, rect.right - 190);
    for (size_t i = 0; i < f.size(); ++i) {
        const CandidateSummary& c = f[i];
        const float y = top + rowHeight * static_cast<float>(i);
        const bool below = view.verification.marginTarget >= 0 && c.period < static_cast<uint32_t>(view.verification.marginTarget);
        const bool current = static_cast<int>(i) == view.verification.justMeasured;
        cx.renderer.Text(FormatText(L"%.4f ms", Ms(c.period)), RectF{rect.left + 14, y, barLeft - 6, y + rowHeight},
                       Font::Mono12, current ? palette::CoolWhite : palette::Icy, Align::Leading, true);
        const float w = worst > 0 && c.measured ? static_cast<float>(c.score / worst) * (barRight - barLeft) : 0;
        cx.renderer.FillRect(RectF{barLeft, y + 4, barLeft + std::max(2.0f, w), y + rowHeight - 4},
                           (below ? palette::Muted : palette::Electric).WithAlpha(current ? 1.0f : 0.75f), 3);
        cx.renderer.Text(c.measured ? FormatText(L"%.4f", c.score) : std::wstring(L"-"),
                       RectF{barRight + 6, y, barRight + 70, y + rowHeight}, Font::Mono11, palette::CoolWhite, Align::Leading, true);
        cx.renderer.Text(below ? std::wstring(L"below target")
                             : FormatText(L"%.1f%%  n=%u", c.loop.latePercent, static_cast<unsigned>(c.loop.count)),
                       RectF{barRight + 70, y, rect.right - 10, y + rowHeight}, Font::Mono11,
                       below ? palette::Muted : palette::Icy, Align::Leading, true);
    }
    cx.renderer.Text(L"score (mean + stdev)", RectF{barLeft, bottom + 2, rect.right - 14, bottom + 20}, Font::Body12,
                     palette::Muted);
}

void DrawMeasurePanel(ScreenContext& cx, const FrameSnapshot& snap, MeasureScreenState& state, const RectF& rect, ScreenOps& ops) {
    const StateView& view = snap.view;
    cx.ui.Panel(rect);
    const int stageValue = snap.stage;
    const RectF inner = rect.Inset(18, 14);
    if (stageValue == stage::MeasureFailed || stageValue == stage::MeasureStopped) {
        cx.renderer.Text(stageValue == stage::MeasureStopped ? L"Benchmark stopped" : L"Benchmark failed",
                       RectF{inner.left, inner.top, inner.right, inner.top + 30}, Font::Heading22, palette::Alert);
        cx.renderer.Text(L"Nothing was changed.", RectF{inner.left, inner.top + 36, inner.right, inner.top + 60}, Font::Paragraph13,
                       palette::CoolWhite);
        if (!view.text.empty() && stageValue == stage::MeasureFailed) {
            cx.renderer.Text(view.text, RectF{inner.left, inner.top + 62, inner.right, inner.top + 110}, Font::Paragraph13,
                           palette::Icy);
        }
        if (cx.ui.Button(kTryAgain, RectF::Xywh(inner.left, inner.bottom - 38, 180, 36), L"Try again",
                       {ButtonKind::Primary, true})) {
            ops.StartMeasure();
        }
        return;
    }
    if (stageValue == stage::Measured) {
        const ResultView& r = snap.result;
        state.fadeA = std::min(1.0, state.fadeA + cx.ui.dt * 1.5);
        const float fade = static_cast<float>(state.fadeA > 0 ? state.fadeA : 1);
        cx.renderer.Text(FormatText(L"%.4f ms", Ms(r.selected)), RectF{inner.left, inner.top, inner.right, inner.top + 46},
                       Font::Display40, palette::CoolWhite.WithAlpha(fade));
        cx.renderer.Text(FormatText(L"best measured %.4f ms  +  %.4f ms safety margin", Ms(r.bestMeasured), Ms(r.marginApplied)),
                       RectF{inner.left, inner.top + 50, inner.right, inner.top + 70}, Font::Mono12, palette::Icy);
        // Two lines of their own: the monospaced face does not wrap, and beside the verification
        // bars one line is cut short.
        cx.renderer.Text(FormatText(L"verified over %u samples:", static_cast<unsigned>(r.loopStats.count)),
                       RectF{inner.left, inner.top + 72, inner.right, inner.top + 90}, Font::Mono12, palette::Icy);
        cx.renderer.Text(FormatText(L"median %+.4f, mean %+.4f, %.1f%% missed a tick", r.loopStats.median, r.loopStats.mean,
                                  r.loopStats.latePercent),
                       RectF{inner.left, inner.top + 90, inner.right, inner.top + 108}, Font::Mono12, palette::Icy);
        const float buttonsY = inner.bottom - 38;
        if (!snap.want[SlotService]) {
            cx.renderer.Text(L"The boot service will not be installed. Continue to the next selected step.",
                           RectF{inner.left, inner.top + 114, inner.right, inner.top + 154}, Font::Paragraph13,
                           palette::CoolWhite);
            if (cx.ui.Button(kContinueNext, RectF::Xywh(inner.left, buttonsY, 180, 36), L"Continue", {ButtonKind::Primary, true})) {
                ops.StartGuidedStep(3);
            }
            return;
        }
        cx.renderer.Text(L"Install a boot service that holds this period at every startup.",
                       RectF{inner.left, inner.top + 114, inner.right, inner.top + 156}, Font::Paragraph13, palette::CoolWhite);
        if (!view.system.elevated) {
            cx.renderer.Text(L"installing needs administrator rights", RectF{inner.left, inner.top + 156, inner.right, inner.top + 176},
                           Font::Body12, palette::Alert);
        }
        // The panel shares its width with the verification bars: the buttons share what is left.
        const float closeWidth = std::min(140.0f, inner.Width() * 0.3f);
        const float installWidth = std::min(280.0f, inner.Width() - closeWidth - 12);
        if (cx.ui.Button(kContinueInstall, RectF::Xywh(inner.left, buttonsY, installWidth, 36), L"Continue  -  install service",
                       {ButtonKind::Primary, true, true})) {
            ops.StartInstall(r.selected);
        }
        if (cx.ui.Button(kCloseMeasure, RectF::Xywh(inner.left + installWidth + 12, buttonsY, closeWidth, 36), L"Close")) {
            ops.GoHome();
        }
        return;
    }
    // Measuring.
    cx.renderer.Text(view.progressSeen ? FormatText(L"%.0f%%", view.progress.fraction * 100) : std::wstring(L"starting"),
                   RectF{inner.left, inner.top, inner.left + 200, inner.top + 30}, Font::Heading22, palette::CoolWhite);
    const RectF bar{inner.left, inner.top + 40, inner.right, inner.top + 50};
    cx.renderer.FillRect(bar, palette::Blueprint, 5);
    cx.renderer.FillRect(RectF{bar.left, bar.top, bar.left + bar.Width() * static_cast<float>(std::clamp(view.progress.fraction, 0.0, 1.0)),
                             bar.bottom},
                       palette::Electric, 5);
    if (view.baselinePresent) {
        cx.renderer.Text(FormatText(L"untuned Sleep(1) overshoots by %+.2f ms  -  default ~15.6 ms clock", view.baseline.median),
                       RectF{inner.left, inner.top + 60, inner.right, inner.top + 82}, Font::Mono12, palette::Icy);
    }
    if (!view.explanationTitle.empty()) {
        cx.renderer.Text(view.explanationTitle, RectF{inner.left, inner.top + 90, inner.right, inner.top + 110}, Font::Bold13,
                       palette::CoolWhite);
        cx.renderer.Text(view.explanationText, RectF{inner.left, inner.top + 110, inner.right - 160, inner.bottom},
                       Font::Paragraph13, palette::Icy);
    }
    if (cx.ui.Button(kStopMeasure, RectF::Xywh(inner.right - 140, inner.bottom - 38, 140, 36), L"Stop",
                   {ButtonKind::Danger})) {
        ops.StopStep(SlotMeasure);
    }
}

void DrawInstallPanel(ScreenContext& cx, const FrameSnapshot& snap, const RectF& rect, ScreenOps& ops) {
    cx.ui.Panel(rect);
    const RectF inner = rect.Inset(18, 14);
    const int stageValue = snap.stage;
    cx.renderer.Text(L"Installing the auto-start service", RectF{inner.left, inner.top, inner.right, inner.top + 30},
                   Font::Heading22, palette::CoolWhite);
    const std::pair<std::wstring, std::wstring>& header = snap.serviceHeader;
    if (stageValue == stage::Installing) {
        cx.renderer.Text(header.second, RectF{inner.left, inner.top + 40, inner.right, inner.top + 64}, Font::Paragraph13,
                       palette::Icy);
        return;
    }
    const ResultView& r = snap.result;
    if (stageValue == stage::Installed) {
        cx.renderer.Text(FormatText(L"Service running: holding %.4f ms now and at every boot", Ms(r.selected)),
                       RectF{inner.left, inner.top + 40, inner.right, inner.top + 64}, Font::Paragraph16, palette::CoolWhite);
        return;
    }
    cx.renderer.Text(L"Install failed - see the log for details.", RectF{inner.left, inner.top + 40, inner.right, inner.top + 64},
                   Font::Paragraph16, palette::Alert);
    if (cx.ui.Button(kRetryInstall, RectF::Xywh(inner.left, inner.bottom - 38, 180, 36), L"Retry install",
                   {ButtonKind::Primary, true})) {
        ops.StartInstall(r.selected);
    }
    if (cx.ui.Button(kOpenLog, RectF::Xywh(inner.left + 192, inner.bottom - 38, 140, 36), L"Open log")) ops.OpenLog();
}

}  // namespace

void DrawMeasure(ScreenContext& cx, const FrameSnapshot& snap, MeasureScreenState& state, ScreenOps& ops) {
    const ScreenLayout& layout = cx.layout;
    DrawSweepChart(cx, snap, state, layout.mainChart);
    DrawLiveChart(cx, snap, state, layout.liveChart);
    DrawLatticeCard(cx, snap, layout.lattice);
    DrawCandidatePanel(cx, snap, layout.candidate);
    if (snap.stage >= stage::Installing) {
        DrawInstallPanel(cx, snap, layout.stepPanel, ops);
        return;
    }
    // The interleaved re-measure of the finalists shares the step panel with the measurement's
    // own panel, from its first round to the result.
    const bool verifying = snap.view.verificationSeen && (snap.stage == stage::Measuring || snap.stage == stage::Measured);
    if (!verifying) {
        DrawMeasurePanel(cx, snap, state, layout.stepPanel, ops);
        return;
    }
    const RectF& panel = layout.stepPanel;
    const float split = panel.left + (panel.Width() - kGap) * 0.46f;
    DrawMeasurePanel(cx, snap, state, RectF{panel.left, panel.top, split, panel.bottom}, ops);
    DrawVerificationBars(cx, snap, RectF{split + kGap, panel.top, panel.right, panel.bottom});
}
