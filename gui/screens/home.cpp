// The home screen: the tiles, the maintain-timing toggle and the update card, the Lattice card
// and the health summary with the description panel.
#include <algorithm>

#include "foundation/text.h"
#include "gui/screens/screen.h"

namespace {

constexpr int kTiles = 530, kMaintain = 550, kInstallUpdate = 551, kGameCheck = 552;
constexpr float kTileHeight = 74;

void DrawTiles(ScreenContext& c, const RectF& left, ScreenOps& ops) {
    const float tileWidth = (left.Width() - 4 * kGap) / 5;
    for (int i = 0; i < kHomeTileCount; ++i) {
        const RectF tile = RectF::Xywh(left.left + (i % 5) * (tileWidth + kGap), left.top + (i / 5) * (kTileHeight + kGap),
                                       tileWidth, kTileHeight);
        const HomeTile text = HomeTileAt(i);
        c.ui.Describe(tile, text.name, text.description);
        if (c.ui.Button(kTiles + i, tile, text.name, {ButtonKind::Secondary, false, false, false, Font::Bold13})) {
            ops.OpenHomeTile(i);
        }
    }
}

void DrawLatticeCard(ScreenContext& c, const FrameSnapshot& s, const RectF& card) {
    Renderer& g = c.renderer;
    const bool measuring = IsBusy(s.state[SlotMeasure]);
    c.ui.Panel(card);
    const RectF title{card.left + 14, card.top + 8, card.right, card.top + 30};
    const RectF line{card.left + 14, card.top + 30, card.right - 14, card.top + 52};
    const RectF picture{card.left + 10, card.top + 54, card.right - 10, card.bottom - 10};
    if (measuring) {
        g.Text(L"Live timer scan", title, Font::Bold16, palette::CoolWhite);
        g.Text(s.measuring.totalSamples == 0 ? L"The scan is starting."
                                             : L"This 3D chart is the measurement that is running now. It updates as each "
                                               L"sample lands.",
               line, Font::Body12, palette::Icy);
        DrawLatticeInto(c, picture, s.measuring.lattice, s.clock);
    } else if (s.scanFound && s.scan != nullptr) {
        g.Text(L"Last timer scan", title, Font::Bold16, palette::CoolWhite);
        g.Text(L"This 3D chart is the newest finished timer-resolution scan. Brighter cells are where Sleep(1) landed.", line,
               Font::Body12, palette::Icy);
        DrawLatticeInto(c, picture, *s.scan, s.clock);
    } else {
        g.Text(L"No timer scan saved yet", title, Font::Bold16, palette::CoolWhite);
        g.Text(L"No timer scan has been saved yet. Run Measure timing and this chart fills in from that result.", line,
               Font::Body12, palette::Icy);
        g.Text(L"Run Measure timing to draw this.", picture, Font::Body12, palette::Muted, Align::Center, true);
    }
}

void DrawHealthSummary(ScreenContext& c, const FrameSnapshot& s, const RectF& health, HomeScreenState& state) {
    Renderer& g = c.renderer;
    c.ui.Panel(health);
    const RectF h = health.Inset(14, 10);
    if (s.healthRunning) {
        g.Text(L"Checking live settings", RectF{h.left, h.top, h.right, h.top + 24}, Font::Bold16, palette::CoolWhite);
    } else {
        const HealthSummary summary = SummarizeHealth(s.health);
        g.Text(FormatText(L"%d live    %d need attention    %d other", summary.passing, summary.attention,
                          summary.informational + summary.other),
               RectF{h.left, h.top, h.right, h.top + 24}, Font::Bold16, palette::CoolWhite);
        g.Text(L"Not every item applies on all hardware.", RectF{h.left, h.top + 24, h.right, h.top + 44}, Font::Body12,
               palette::Muted);
    }
    constexpr float kGroupRow = 24, kItemRow = 20;
    const float listTop = h.top + 50;
    // The list scrolls with the wheel, never past its end.
    float content = 0;
    for (const HealthGroupCaption& group : HealthGroups()) {
        const auto inGroup = std::count_if(s.health.begin(), s.health.end(), [&](const HealthCheck& check) {
            return check.group == group.name;
        });
        if (inGroup > 0) content += kGroupRow + static_cast<float>(inGroup) * kItemRow;
    }
    state.scroll = std::clamp(state.scroll - static_cast<float>(c.ui.input.wheel) * 40, 0.0f,
                              std::max(0.0f, content - (h.bottom - listTop)));
    float y = listTop - state.scroll;
    for (const HealthGroupCaption& group : HealthGroups()) {
        // Only items that pass are live: a group of unreadable or unsupported items is not.
        const HealthSummary counted = CountHealthGroup(s.health, group.name);
        if (counted.passing + counted.attention + counted.informational + counted.other == 0) continue;
        const int attention = counted.attention;
        const RectF row{h.left, y, h.right, y + 22};
        if (y >= listTop - 4 && row.bottom <= h.bottom) {
            c.ui.Describe(row, group.name, group.description);
            g.Text(group.name, row, Font::Body12, palette::CoolWhite, Align::Leading, true);
            g.Text(attention > 0 ? FormatText(L"%d need attention", attention) : FormatText(L"%d live", counted.passing), row,
                   Font::Body12, attention > 0 ? palette::Alert : palette::Electric, Align::Trailing, true);
        }
        y += kGroupRow;
        for (const HealthCheck& check : s.health) {
            if (check.group != group.name) continue;
            const RectF item{h.left + 14, y, h.right, y + kItemRow};
            if (y >= listTop - 4 && item.bottom <= h.bottom) {
                c.ui.Describe(item, check.title, HealthDetails(check));
                g.Text(check.title, item, Font::Body11, palette::Icy, Align::Leading, true);
                g.Text(HealthStatusName(check.status), item, Font::Body11, HealthStatusColor(check.status), Align::Trailing,
                       true);
            }
            y += kItemRow;
        }
    }
}

}  // namespace

void DrawHome(ScreenContext& c, const FrameSnapshot& s, HomeScreenState& state, ScreenOps& ops) {
    const RectF& area = c.layout.content;
    const float leftWidth = (area.Width() - kGap) * 0.62f;
    const RectF left{area.left, area.top, area.left + leftWidth, area.bottom};
    const RectF right{left.right + kGap, area.top, area.right, area.bottom};
    DrawTiles(c, left, ops);
    float y = left.top + 2 * (kTileHeight + kGap);
    // The maintain-timing toggle and, when there is one, the update card.
    const RectF toggle = RectF::Xywh(left.left, y, 260, 34);
    const wchar_t* maintain = s.maintainTiming ? L"Maintain timing: on" : L"Maintain timing: off";
    c.ui.Describe(toggle, maintain,
                  L"When this is on, Quorvantis reads the monitored settings once a minute and puts back any that have "
                  L"drifted. If the same one keeps resetting, it applies a stronger fix where that is possible.");
    if (c.ui.Button(kMaintain, toggle, maintain, {s.maintainTiming ? ButtonKind::Primary : ButtonKind::Secondary})) {
        ops.ToggleMaintainTiming();
    }
    const RectF game = RectF::Xywh(toggle.right + kGap, y, 200, 34);
    c.ui.Describe(game, L"Check in a game",
                  L"While your game runs, Quorvantis alternates 30 s blocks holding the timer period and releasing it, "
                  L"captures the frame times with PresentMon, and says whether holding it changed the 99th-percentile "
                  L"frame time.");
    if (c.ui.Button(kGameCheck, game, L"Check in a game")) ops.OpenGameCheck();
    if (s.updateMode) {
        const RectF card{game.right + kGap, y, left.right, y + 34};
        c.renderer.Text(L"A newer Quorvantis build is ready. This downloads it and starts the installer.",
                        RectF{card.left, card.top, card.right - 150, card.bottom}, Font::Body12, palette::Icy,
                        Align::Leading, true);
        if (c.ui.Button(kInstallUpdate, RectF{card.right - 140, card.top, card.right, card.bottom}, L"Install update",
                        {ButtonKind::Primary})) {
            ops.RequestUpdatePrompt();
        }
    }
    y += 34 + kGap;
    DrawLatticeCard(c, s, RectF{left.left, y, left.right, left.bottom});
    const RectF description{right.left, right.top, right.right, right.top + 150};
    DrawHealthSummary(c, s, RectF{right.left, description.bottom + kGap, right.right, right.bottom}, state);
    DrawDescriptionPanel(c, description);
}
