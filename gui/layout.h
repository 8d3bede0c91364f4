#pragma once
// Where things go on the window, in device-independent pixels: pure arithmetic of the screen
// rules, tested without pixels.
#include <string>
#include <vector>

#include "gui/ui_types.h"

inline constexpr float kMargin = 16;
inline constexpr float kGap = 12;
inline constexpr float kHeaderBottom = 94;
inline constexpr float kContentTop = 122;

struct ScreenLayout {
    RectF header;   // the top band
    RectF content;  // below the header to the bottom margin
    // The step screens: a left column (main chart over the step panel) and a right column
    // (live chart, Lattice, candidate panel).
    RectF mainChart, stepPanel;
    RectF liveChart, lattice, candidate;
};

// The step panel is 360 high for the restore point and stages 12..34, 236 for the
// measurement and install stages (5..11).
ScreenLayout LayoutFor(float width, float height, int stageValue);

// The welcome screen: the text panel on the left, the step selection on the right. The
// fidelity buttons exist only while Measure is selected.
struct WelcomeLayout {
    RectF left, right;
    RectF healthButton;
    RectF title;
    RectF stepBoxes[9];
    RectF selectAll, clear;
    float fidelityTop = 0;
    RectF fidelity[4];  // adaptive (recommended), low, medium, high
    RectF fidelityLine;
    RectF hint, begin;
};
WelcomeLayout WelcomeLayoutFor(const RectF& content, bool measureSelected);

// The largest square inside a rectangle, centred.
RectF CenteredSquare(const RectF& rect);

// An axis with round ticks covering [low, high]: the first tick, the step and the count.
struct Ticks {
    double first = 0, step = 1;
    int count = 0;
};
Ticks NiceTicks(double low, double high, int wanted);

// "~35 s", "~3 min 30 s", "~4 min": the fidelity time estimates of the welcome screen.
std::wstring EstimateText(double seconds);

// The label of the live chart's tick line at index (1: "2nd tick", 2: "3rd tick", 3: "4th tick", ...).
std::wstring TickLineLabel(int index);

// The Full tune tile grid: columns and rows for n tiles in a panel.
struct TileGrid {
    int columns = 1, rows = 1;
    float tileWidth = 0, tileHeight = 0;
};
TileGrid FullTuneTiles(int tiles, float panelWidth, float panelHeight);
// How many step tiles fit the Full tune panel: the parallel limit of its scheduler.
int FullTuneParallelLimit(float contentWidth, float contentHeight);
