// The Full tune screen: a tile per running step (with its progress, newest log lines and item
// states) and the tiles that wait for the user's choice.
#include <algorithm>
#include <array>

#include "foundation/text.h"
#include "gui/full_tune.h"
#include "gui/screens/screen.h"

namespace {

constexpr int kTileBase = 400;

enum class TileKind { Running, RestoreFailed, DriverChoice, AfterburnerStart };

struct Tile {
    int slot;
    TileKind kind;
};

// Below the progress bar: the items so far, then as many of the newest log lines as fit.
void DrawTileWork(ScreenContext& c, const StepBrief& brief, const RectF& area) {
    float y = area.top;
    if (!brief.items.empty()) {
        int written = 0, failed = 0, left = 0, pending = 0;
        const wchar_t* current = nullptr;
        for (const TweakItem& item : brief.items) {
            switch (item.status) {
            case TweakWritten: ++written; break;
            case TweakFailed: ++failed; break;
            case TweakSkipped: ++left; break;
            case TweakApplying: current = item.title.c_str(); break;
            default: ++pending; break;
            }
        }
        std::wstring line = FormatText(L"%d written", written);
        if (failed > 0) line += FormatText(L"  \u00B7  %d failed", failed);
        if (left > 0) line += FormatText(L"  \u00B7  %d left alone", left);
        if (pending > 0) line += FormatText(L"  \u00B7  %d to go", pending);
        c.renderer.Text(line, RectF{area.left, y, area.right, y + 18}, Font::Body12, failed > 0 ? palette::Alert : palette::Icy);
        y += 18;
        if (current != nullptr) {
            c.renderer.Text(std::wstring(L"now: ") + current, RectF{area.left, y, area.right, y + 18}, Font::Body12,
                            palette::Electric);
            y += 18;
        }
    }
    constexpr float kLine = 15;
    const size_t fit = static_cast<size_t>(std::max(0.0f, (area.bottom - y) / kLine));
    const size_t first = brief.log.size() > fit ? brief.log.size() - fit : 0;
    for (size_t i = first; i < brief.log.size(); ++i) {
        const bool error = brief.log[i].rfind(L"ERROR:", 0) == 0;
        c.renderer.Text(brief.log[i], RectF{area.left, y, area.right, y + kLine}, Font::Mono11,
                        error ? palette::Alert : palette::Muted);
        y += kLine;
    }
}

void DrawRunningTile(ScreenContext& c, const FrameSnapshot& s, int slot, const RectF& inner, int id, ScreenOps& ops) {
    const StepBrief& brief = s.briefs[slot];
    const bool waiting = s.state[slot] == StepWaiting;
    c.renderer.Text(waiting ? L"Waiting" : L"Running", RectF{inner.left, inner.top + 26, inner.right, inner.top + 46},
                    Font::Body12, waiting ? palette::Muted : palette::Electric);
    c.renderer.Text(brief.tag + L"  /  " + brief.text, RectF{inner.left, inner.top + 48, inner.right, inner.top + 90},
                    Font::Paragraph13, palette::Icy);
    const RectF bar{inner.left, inner.top + 96, inner.right, inner.top + 104};
    c.renderer.FillRect(bar, palette::Blueprint, 4);
    c.renderer.FillRect(RectF{bar.left, bar.top,
                              bar.left + bar.Width() * static_cast<float>(std::clamp(brief.progress.fraction, 0.0, 1.0)),
                              bar.bottom},
                        palette::Electric, 4);
    DrawTileWork(c, brief, RectF{inner.left, inner.top + 112, inner.right, inner.bottom - 40});
    if (c.ui.Button(id, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32), L"Stop", {ButtonKind::Danger})) {
        ops.StopStep(slot);
    }
}

void DrawDriverChoice(ScreenContext& c, const FrameSnapshot& s, const RectF& inner, int id, ScreenOps& ops) {
    const int phase = s.gpuPhase;
    const wchar_t* text = phase == GpuPhaseManual ? L"No vendor package can be installed from here."
                          : phase == GpuPhaseFailed ? L"The driver step failed."
                                                    : L"Choose whether to install the graphics driver.";
    c.renderer.Text(text, RectF{inner.left, inner.top + 30, inner.right, inner.top + 60}, Font::Paragraph13, palette::Icy);
    const RectF detail{inner.left, inner.top + 60, inner.right, inner.bottom - 40};
    const RectF first = RectF::Xywh(inner.left, inner.bottom - 34, 130, 32);
    if (phase == GpuPhaseFailed) {
        c.renderer.Text(s.gpuStatus, detail, Font::Paragraph13, palette::Muted);
        if (c.ui.Button(id, first, L"Retry", {ButtonKind::Primary})) ops.RetryGpuClean();
    } else if (phase == GpuPhaseFound || phase == GpuPhaseDownloaded) {
        c.renderer.Text(L"Installs the graphics driver only.", detail, Font::Paragraph13, palette::Muted);
        if (phase == GpuPhaseFound) {
            if (c.ui.Button(id, first, L"Download driver", {ButtonKind::Primary})) ops.GpuDownload();
        } else if (c.ui.Button(id, first, L"Install driver", {ButtonKind::Primary})) {
            ops.GpuInstall();
        }
    }
    if (c.ui.Button(id + 2, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32),
                    phase == GpuPhaseManual ? L"Continue" : L"Skip")) {
        ops.SkipGpuDriver(false);
    }
}

}  // namespace

void DrawFullTune(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    // The status line is the header's (one line, above the divider); the tiles start below it.
    const RectF& area = c.layout.content;
    // At most one tile per slot plus the three choice tiles; kept off the heap since it is rebuilt every frame.
    std::array<Tile, kSlotCount + 3> tiles{};
    size_t count = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (IsBusy(s.state[slot])) tiles[count++] = Tile{slot, TileKind::Running};
    }
    const int prepare = s.state[SlotPrepare];
    if ((prepare == StepFailed || prepare == StepStopped) && !s.restoreFailureAccepted) {
        tiles[count++] = Tile{SlotPrepare, TileKind::RestoreFailed};
    }
    if (s.want[SlotGpuDriver] && !s.gpuDriverSkipped && !IsBusy(s.state[SlotGpuDriver]) && GpuDriverWaitsForUser(s.gpuPhase)) {
        tiles[count++] = Tile{SlotGpuDriver, TileKind::DriverChoice};
    }
    if (s.afterburnerWaiting) tiles[count++] = Tile{SlotAfterburner, TileKind::AfterburnerStart};
    if (count == 0) return;
    const TileGrid grid = FullTuneTiles(static_cast<int>(count), area.Width(), area.Height());
    for (size_t i = 0; i < count; ++i) {
        const int column = static_cast<int>(i) % grid.columns, rowIndex = static_cast<int>(i) / grid.columns;
        const RectF rect = RectF::Xywh(area.left + column * (grid.tileWidth + kGap), area.top + rowIndex * (grid.tileHeight + kGap),
                                       grid.tileWidth, grid.tileHeight);
        c.ui.Panel(rect);
        const RectF inner = rect.Inset(14, 12);
        const Tile& tile = tiles[i];
        const int id = kTileBase + static_cast<int>(i) * 4;
        c.renderer.Text(SlotName(tile.slot), RectF{inner.left, inner.top, inner.right, inner.top + 24}, Font::Bold16,
                        palette::CoolWhite);
        switch (tile.kind) {
        case TileKind::Running: DrawRunningTile(c, s, tile.slot, inner, id, ops); break;
        case TileKind::RestoreFailed:
            c.renderer.Text(L"The restore point did not finish. Nothing else has been changed.",
                            RectF{inner.left, inner.top + 30, inner.right, inner.bottom - 40}, Font::Paragraph13, palette::Icy);
            if (c.ui.Button(id, RectF::Xywh(inner.left, inner.bottom - 34, 170, 32), L"Retry restore point",
                            {ButtonKind::Primary})) {
                ops.RetryRestorePoint();
            }
            if (c.ui.Button(id + 1, RectF::Xywh(inner.left + 178, inner.bottom - 34, 140, 32), L"Continue anyway")) {
                ops.AcceptRestoreFailure();
            }
            break;
        case TileKind::DriverChoice: DrawDriverChoice(c, s, inner, id, ops); break;
        case TileKind::AfterburnerStart:
            c.renderer.Text(L"Afterburner downloads, scans the GPU, and saves the curve. This takes about 30 minutes.",
                            RectF{inner.left, inner.top + 30, inner.right, inner.bottom - 40}, Font::Paragraph13, palette::Icy);
            if (c.ui.Button(id, RectF::Xywh(inner.left, inner.bottom - 34, 170, 32), L"Start Afterburner",
                            {ButtonKind::Primary})) {
                ops.StartAfterburnerInTune();
            }
            if (c.ui.Button(id + 1, RectF::Xywh(inner.right - 100, inner.bottom - 34, 100, 32), L"Skip")) {
                ops.SkipAfterburnerInTune();
            }
            break;
        }
    }
}
