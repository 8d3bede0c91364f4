#include "gui/layout.h"

#include <algorithm>
#include <cmath>

#include "foundation/text.h"

ScreenLayout LayoutFor(float width, float height, int stageValue) {
    ScreenLayout l;
    l.header = RectF{kMargin, kMargin, width - kMargin, kHeaderBottom};
    l.content = RectF{kMargin, kContentTop, width - kMargin, height - kMargin};
    const float leftWidth = (l.content.Width() - kGap) * 0.62f;
    const RectF left{l.content.left, l.content.top, l.content.left + leftWidth, l.content.bottom};
    const RectF right{left.right + kGap, l.content.top, l.content.right, l.content.bottom};
    const bool measuring = stageValue >= 5 && stageValue <= 11;
    const float panel = std::min(measuring ? 236.0f : 360.0f, std::max(0.0f, left.Height() - kGap - 80));
    l.stepPanel = RectF{left.left, left.bottom - panel, left.right, left.bottom};
    l.mainChart = RectF{left.left, left.top, left.right, l.stepPanel.top - kGap};
    const float usable = std::max(0.0f, right.Height() - 2 * kGap);
    const float live = usable * 0.22f;
    const float lattice = usable * 0.52f;
    l.liveChart = RectF{right.left, right.top, right.right, right.top + live};
    l.lattice = RectF{right.left, l.liveChart.bottom + kGap, right.right, l.liveChart.bottom + kGap + lattice};
    l.candidate = RectF{right.left, l.lattice.bottom + kGap, right.right, right.bottom};
    return l;
}

WelcomeLayout WelcomeLayoutFor(const RectF& content, bool measureSelected) {
    WelcomeLayout w;
    w.left = RectF{content.left, content.top, content.left + content.Width() * 0.5f - kGap / 2, content.bottom};
    w.right = RectF{w.left.right + kGap, content.top, content.right, content.bottom};
    const RectF l = w.left.Inset(24, 20);
    w.healthButton = RectF::Xywh(l.left, l.bottom - 38, 160, 36);
    const RectF r = w.right.Inset(24, 20);
    w.title = RectF{r.left, r.top, r.right, r.top + 24};
    float y = r.top + 32;
    for (RectF& box : w.stepBoxes) {
        box = RectF{r.left, y, r.left + 260, y + 24};
        y += 26;
    }
    w.selectAll = RectF::Xywh(r.left + 280, r.top + 32, 120, 30);
    w.clear = RectF::Xywh(r.left + 280, r.top + 68, 120, 30);
    y += 8;
    w.fidelityTop = y;
    if (measureSelected) {
        y += 26;
        for (RectF& level : w.fidelity) {
            level = RectF::Xywh(r.left, y, 380, 28);
            y += 32;
        }
        w.fidelityLine = RectF{r.left, y, r.right, y + 20};
    }
    w.hint = RectF{r.left, r.bottom - 70, r.right, r.bottom - 46};
    w.begin = RectF::Xywh(r.left, r.bottom - 38, 200, 36);
    return w;
}

RectF CenteredSquare(const RectF& rect) {
    const float side = std::max(0.0f, std::min(rect.Width(), rect.Height()));
    const float x = rect.left + (rect.Width() - side) / 2;
    const float y = rect.top + (rect.Height() - side) / 2;
    return RectF::Xywh(x, y, side, side);
}

Ticks NiceTicks(double low, double high, int wanted) {
    Ticks t;
    if (!(high > low) || wanted < 1) {
        t.first = low;
        t.step = 1;
        t.count = 1;
        return t;
    }
    const double raw = (high - low) / wanted;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = m * magnitude;
        if (step >= raw) break;
    }
    t.step = step;
    t.first = std::ceil(low / step - 1e-9) * step;
    t.count = static_cast<int>(std::floor((high - t.first) / step + 1e-9)) + 1;
    return t;
}

std::wstring EstimateText(double seconds) {
    const int s = std::max(1, static_cast<int>(std::lround(seconds)));
    if (s <= 89) return FormatText(L"~%d s", std::max(5, (s + 2) / 5 * 5));
    const int m = s / 60;
    const int t = (s - 60 * m + 5) / 10;
    if (t == 0) return FormatText(L"~%d min", m);
    if (t == 6) return FormatText(L"~%d min", m + 1);
    return FormatText(L"~%d min %d s", m, 10 * t);
}

TileGrid FullTuneTiles(int tiles, float panelWidth, float panelHeight) {
    TileGrid g;
    const int n = std::max(1, tiles);
    g.columns = 1;
    for (int j = 1; j <= n; ++j) {
        if (panelWidth >= j * 300.0f + (j - 1) * kGap) g.columns = j;
    }
    g.rows = (n + g.columns - 1) / g.columns;
    g.tileWidth = (panelWidth - (g.columns - 1) * kGap) / g.columns;
    g.tileHeight = (panelHeight - (g.rows - 1) * kGap) / g.rows;
    return g;
}

int FullTuneParallelLimit(float contentWidth, float contentHeight) {
    const int columns = std::clamp(static_cast<int>(std::floor((contentWidth + kGap) / 312)), 1, 4);
    const int rows = std::clamp(static_cast<int>(std::floor((contentHeight + kGap) / 208)), 1, 3);
    return columns * rows;
}

std::wstring TickLineLabel(int index) {
    const int n = index + 1;
    const int tens = n % 100, ones = n % 10;
    const wchar_t* suffix = tens >= 11 && tens <= 13 ? L"th" : ones == 1 ? L"st" : ones == 2 ? L"nd" : ones == 3 ? L"rd" : L"th";
    return FormatText(L"%d%ls tick", n, suffix);
}
