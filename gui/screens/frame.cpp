// What every screen shares: the header with the house, the stage's screen, the step log column,
// the description panel and the Lattice of a card.
#include <algorithm>
#include <cwctype>

#include "foundation/product.h"
#include "foundation/text.h"
#include "gui/screens/screen.h"

namespace {

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// The house is cut into the frame: a notch in the background with a bright outline.
void DrawHouse(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    const RectF house = RectF::Xywh(kMargin, kMargin + 6, 40, 40);
    const bool enabled = s.stage != stage::Home;
    const bool hovered = enabled && c.ui.Hovered(house);
    if (hovered) c.ui.hand = true;
    const Color edge = hovered ? palette::CoolWhite : palette::Icy;
    const float l = house.left + 6, r = house.right - 6, t = house.top + 4, b = house.bottom - 6;
    const float mid = (l + r) / 2, eave = t + (b - t) * 0.45f;
    Renderer& g = c.renderer;
    g.FillRect(RectF{l + 3, eave, r - 3, b}, palette::Background.WithAlpha(0.9f), 2);
    g.Line(l, eave + 2, mid, t, edge, 2.2f);
    g.Line(mid, t, r, eave + 2, edge, 2.2f);
    g.Line(l + 3, eave, l + 3, b, edge, 2.2f);
    g.Line(r - 3, eave, r - 3, b, edge, 2.2f);
    g.Line(l + 3, b, r - 3, b, edge, 2.2f);
    g.Line(mid - 4, b, mid - 4, b - 9, edge, 1.6f);
    g.Line(mid + 4, b, mid + 4, b - 9, edge, 1.6f);
    g.Line(mid - 4, b - 9, mid + 4, b - 9, edge, 1.6f);
    c.ui.Describe(house, L"Home",
                  L"Returns to this screen. The house is cut into the window rather than drawn as a button. A tune you "
                  L"already started keeps its place until that step finishes.");
    if (enabled && c.ui.Clicked(house)) ops.GoHome();
}

// One line, cut with an ellipsis where it would run past the width: wrapped, a long status line
// would cross the divider under the header. Measured again only when the text changes.
const std::wstring& OneLine(Renderer& g, const std::wstring& text, Font font, float width) {
    static std::wstring lastText, lastFit;
    static Font lastFont{};
    static float lastWidth = -1;
    if (text == lastText && font == lastFont && width == lastWidth) return lastFit;
    lastText = text;
    lastFont = font;
    lastWidth = width;
    lastFit = text;
    if (g.TextWidth(text, font) > width) {
        size_t fits = 0, tooLong = text.size();
        while (tooLong - fits > 1) {
            const size_t middle = (fits + tooLong) / 2;
            if (g.TextWidth(text.substr(0, middle) + L"\u2026", font) <= width) fits = middle;
            else tooLong = middle;
        }
        lastFit = text.substr(0, fits) + L"\u2026";
    }
    return lastFit;
}

}  // namespace

void DrawHeader(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    Renderer& g = c.renderer;
    const RectF& h = c.layout.header;
    DrawHouse(c, s, ops);
    float x = h.left + 52;
    if (g.HasImage(Image::Logo)) {
        g.DrawImage(Image::Logo, RectF::Xywh(x, h.top, 62, 62));
        x += 70;
    }
    g.Text(L"QUORVANTIS", RectF{x, h.top - 2, h.right - 360, h.top + 50}, Font::Display40, palette::CoolWhite);
    g.Text(FormatText(L"Fenmarch Systems  |  %ls", kPublisherWebHost), RectF{x + 2, h.top + 50, h.right - 360, h.bottom},
           Font::Gruppo13, palette::Icy);

    const StepCaption caption = CaptionOf(s.stage);
    const std::wstring name = Upper(caption.name);
    const std::wstring stepLine =
        caption.number > 0 ? FormatText(L"STEP %d OF %d  |  %ls", caption.number, kStepCount, name.c_str()) : name;
    g.Text(stepLine, RectF{h.right - 520, h.top + 4, h.right, h.top + 30}, Font::Title16Bold, palette::CoolWhite,
           Align::Trailing);
    const bool named = caption.number > 0 || s.stage == stage::Health || s.stage == stage::Home;
    std::wstring second = named ? FormatText(L"%ls - %ls | v%ls", caption.name, caption.tagline, s.version.c_str())
                                : FormatText(L"Quorvantis | v%ls", s.version.c_str());
    const int slot = SlotShownBy(s.stage);
    if (slot >= 0 && s.view.progressSeen && s.view.progress.elapsed > 0) {
        second += L"   elapsed " + FormatMinSec(s.view.progress.elapsed);
        if (s.view.progress.remaining > 0) second += L"  |  remaining ~" + FormatMinSec(s.view.progress.remaining);
    }
    g.Text(second, RectF{h.right - 620, h.top + 32, h.right, h.top + 56}, Font::Gruppo13, palette::Icy, Align::Trailing);
    // The stage header of the step (or of the screen) below the caption.
    std::pair<std::wstring, std::wstring> header = s.mainHeader;
    if (slot >= 0) header = {s.view.tag, s.view.text};
    if (s.stage >= stage::Installing && s.stage <= stage::InstallFailed) header = s.serviceHeader;
    if (!header.first.empty()) {
        const RectF line{h.right - 620, h.top + 56, h.right, h.bottom};
        g.Text(OneLine(g, header.first + (header.second.empty() ? L"" : L"  /  " + header.second), Font::Mono11, line.Width() - 4), line,
               Font::Mono11, palette::Muted, Align::Trailing);
    }
    g.Line(h.left, h.bottom + 8, h.right, h.bottom + 8, palette::Muted.WithAlpha(0.5f), 1);
}

void DrawScreen(ScreenContext& c, const FrameSnapshot& s, ScreenStates& states, ScreenOps& ops) {
    if (s.stage >= stage::Measuring && s.stage <= stage::InstallFailed) {
        DrawMeasure(c, s, states.measure, ops);
        return;
    }
    switch (s.stage) {
    case stage::Welcome: DrawWelcome(c, s, ops); break;
    case stage::Home: DrawHome(c, s, states.home, ops); break;
    case stage::Health: DrawHealth(c, s, states.health, ops); break;
    case stage::FullTune: DrawFullTune(c, s, ops); break;
    case stage::GpuClean: DrawGpuClean(c, s, ops); break;
    case stage::Review: DrawReview(c, s, states.review, ops); break;
    case stage::GameCheck: DrawGameCheck(c, s, states.game, ops); break;
    default:
        if (SlotShownBy(s.stage) >= 0) DrawStep(c, s, ops);
        else DrawReview(c, s, states.review, ops);
        break;
    }
}

// The right column of a step screen: the step's log, errors in the alert colour.
void DrawLogColumn(ScreenContext& c, const FrameSnapshot& s) {
    const ScreenLayout& layout = c.layout;
    const RectF logRect{layout.liveChart.left, layout.liveChart.top, layout.candidate.right, layout.candidate.bottom};
    c.ui.Panel(logRect);
    c.renderer.Text(L"Log", RectF{logRect.left + 14, logRect.top + 8, logRect.right, logRect.top + 28}, Font::Title16Bold,
                    palette::CoolWhite);
    float y = logRect.top + 34;
    const std::vector<std::wstring>& log = s.view.log;
    const size_t rows = static_cast<size_t>(std::max(0.0f, (logRect.bottom - y - 10) / 16));
    const size_t first = log.size() > rows ? log.size() - rows : 0;
    for (size_t i = first; i < log.size(); ++i) {
        const bool error = log[i].rfind(L"ERROR:", 0) == 0;
        c.renderer.Text(log[i], RectF{logRect.left + 14, y, logRect.right - 10, y + 16}, Font::Mono11,
                        error ? palette::Alert : palette::Icy);
        y += 16;
    }
}

void DrawDescriptionPanel(ScreenContext& c, const RectF& rect) {
    c.ui.Panel(rect);
    const bool described = !c.ui.descriptionCaption.empty();
    c.renderer.Text(described ? c.ui.descriptionCaption : L"Home",
                    RectF{rect.left + 14, rect.top + 10, rect.right - 14, rect.top + 32}, Font::Bold16, palette::CoolWhite);
    c.renderer.Text(described ? c.ui.descriptionText
                              : L"Move the pointer over a tool, a tweak, or the house. This panel describes what it does.",
                    RectF{rect.left + 14, rect.top + 36, rect.right - 14, rect.bottom - 10}, Font::Paragraph13,
                    palette::Icy);
}

void DrawLatticeInto(ScreenContext& c, const RectF& area, const LatticeData& data, double clock) {
    LatticeRenderer& lattice = c.renderer.Lattice();
    switch (lattice.GetStatus()) {
    case LatticeRenderer::Status::Unavailable:
        c.renderer.Text(L"Lattice renderer unavailable on this device.", area, Font::Body12, palette::Muted, Align::Center,
                        true);
        break;
    case LatticeRenderer::Status::Ready:
        // The picture takes the card's shape, so it fills it.
        lattice.Submit(data, clock, area.Height() > 0 ? area.Width() / area.Height() : 1.0f);
        c.renderer.DrawLattice(area);
        break;
    case LatticeRenderer::Status::Starting:
        break;  // compiling: the card stays empty until it is ready
    }
}
