// The window's pixels, drawn for real into an offscreen target: the canvas colour, text in the
// embedded faces, the Lattice after samples, and a review image of every stage.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <memory>

#include "foundation/text.h"
#include "gui/full_tune.h"
#include "gui/steps.h"
#include "gui/layout.h"
#include "support/screen_script.h"
#include "support/wait.h"

namespace {

// One window for the suite: the Lattice shader compiles once.
class OffscreenWindow : public testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        script = new ScreenScript();
    }
    static void TearDownTestSuite() {
        delete script;
        script = nullptr;
        CoUninitialize();
    }
    void SetUp() override { ASSERT_TRUE(script->Ready()) << "the offscreen renderer could not be created"; }

    static ScreenScript* script;
};
ScreenScript* OffscreenWindow::script = nullptr;

}  // namespace

TEST_F(OffscreenWindow, ClearsToTheCanvasColourAndDrawsTheHeader) {
    script->Draw(stage::Welcome);
    // The left margin holds nothing but the canvas.
    EXPECT_EQ(script->Pixel(4, 500) & 0xFFFFFF, 0x071638u);
    EXPECT_EQ(script->Pixel(kScreenWidth - 3, kScreenHeight - 3) & 0xFFFFFF, 0x071638u);
    // The title in the display face, and the step line on the right.
    EXPECT_GT(script->InkIn(RectF{60, 16, 560, 70}), 1500u);
    EXPECT_GT(script->InkIn(RectF{kScreenWidth - 400.0f, 16, kScreenWidth - 16.0f, 50}), 100u);
}

TEST_F(OffscreenWindow, TextUsesTheEmbeddedFacesAndHasInk) {
    Renderer& renderer = script->Window().GetRenderer();
    ASSERT_TRUE(renderer.HasPrivateFonts());
    EXPECT_EQ(renderer.FontFamilyOf(Font::Display40), L"Bruno Ace SC");
    EXPECT_EQ(renderer.FontFamilyOf(Font::Paragraph13), L"Philosopher");
    EXPECT_EQ(renderer.FontFamilyOf(Font::Bold16), L"Philosopher");
    EXPECT_EQ(renderer.FontFamilyOf(Font::Gruppo13), L"Gruppo");

    // Each face on an empty canvas: a face that fell back to a missing system font draws nothing.
    for (const Font font : {Font::Display26, Font::Title16Bold, Font::Gruppo12, Font::Paragraph13, Font::Mono12}) {
        ASSERT_TRUE(renderer.BeginFrame());
        renderer.Text(L"Sleep(1) overshoot 0.4983 ms", RectF{20, 20, 600, 80}, font, palette::CoolWhite);
        renderer.EndFrame();
        std::vector<uint32_t> pixels;
        uint32_t width = 0, height = 0;
        ASSERT_TRUE(renderer.ReadPixels(pixels, width, height));
        size_t ink = 0;
        for (uint32_t y = 20; y < 80; ++y) {
            for (uint32_t x = 20; x < 600; ++x) ink += (pixels[y * width + x] & 0xFF0000) > 0x400000 ? 1 : 0;
        }
        EXPECT_GT(ink, 150u) << "format " << static_cast<int>(font) << " (" << ToUtf8(renderer.FontFamilyOf(font)) << ")";
    }
}

TEST_F(OffscreenWindow, LatticeLightsUpOnceSamplesArrive) {
    const ScreenLayout layout = LayoutFor(kScreenWidth, kScreenHeight, stage::Measured);
    // Before any measurement the card shows an empty box.
    ASSERT_TRUE(script->DrawWithLattice(stage::Measured, 120000)) << "the Lattice never became ready";
    const size_t emptyBlue = script->BlueIn(layout.lattice);
    const LatticeRenderer& lattice = script->Window().GetRenderer().Lattice();
    std::printf("Lattice ready after %.0f ms; last picture %.0f ms at %d px\n", lattice.CompileMilliseconds(),
                lattice.LastFrameMilliseconds(), lattice.CurrentSize());

    ASSERT_TRUE(script->Measure());
    ASSERT_TRUE(script->DrawWithLattice(stage::Measured, 60000));
    const size_t fullBlue = script->BlueIn(layout.lattice);
    EXPECT_GT(fullBlue, emptyBlue + 2000) << "empty " << emptyBlue << ", after samples " << fullBlue;
}

// The verification summary shares its card with the verification bars: its numbers have a line
// of their own instead of trailing off after "median".
TEST_F(OffscreenWindow, TheVerificationSummaryKeepsItsNumbersOnASecondLine) {
    ASSERT_TRUE(script->Measure());
    script->Draw(stage::Measured);
    const RectF inner = LayoutFor(kScreenWidth, kScreenHeight, stage::Measured).stepPanel.Inset(18, 14);
    const RectF secondLine{inner.left, inner.top + 92, inner.left + 240, inner.top + 106};
    EXPECT_GT(script->BrightIn(secondLine), 60u) << "the median, mean and missed ticks are not drawn under the first line";
}

// On a software rasteriser a picture made during a frame slows both: the Lattice waits for the
// frame to end, and the window holds its next frame back for the picture, never longer than a
// turn, so a picture that does not come never stops the window.
TEST_F(OffscreenWindow, TheLatticeDrawsBetweenFramesAndNeverHoldsTheWindowLong) {
    ASSERT_TRUE(script->DrawWithLattice(stage::Measured, 120000)) << "the Lattice never became ready";
    App& app = script->Window();
    Renderer& renderer = app.GetRenderer();
    LatticeRenderer& lattice = renderer.Lattice();
    EXPECT_FALSE(app.HoldFrameForLattice());

    ASSERT_TRUE(renderer.BeginFrame());
    app.DrawFrame(1.0 / 60);  // submits the chart
    ASSERT_TRUE(WaitUntil([&] { return lattice.TakesTurn(); }, 10000));
    EXPECT_FALSE(app.GetRenderer().Lattice().WaitFrame(300)) << "a picture was made while the frame was drawn";
    const auto start = std::chrono::steady_clock::now();
    while (app.HoldFrameForLattice()) {
    }
    const double held = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(held, kLatticeTurnMs - 20.0);
    EXPECT_LT(held, kLatticeTurnMs + 1000.0);

    renderer.EndFrame();
    EXPECT_TRUE(app.GetRenderer().Lattice().WaitFrame(60000));
    EXPECT_FALSE(lattice.TakesTurn());
    EXPECT_FALSE(app.HoldFrameForLattice());
}

namespace {

// The rectangles each stage must have drawn something bright into (besides the header).
std::vector<RectF> PrimaryElements(int value) {
    const ScreenLayout l = LayoutFor(kScreenWidth, kScreenHeight, value);
    const RectF& c = l.content;
    if (value == stage::Welcome) {
        const WelcomeLayout w = WelcomeLayoutFor(c, true);
        return {w.title, w.stepBoxes[0], w.stepBoxes[8], w.fidelity[1], w.begin, w.healthButton};
    }
    const float leftRight = c.left + (c.Width() - kGap) * 0.62f;
    if (value == stage::Home) {
        return {RectF{c.left, c.top, leftRight, c.top + 74}, RectF{c.left, c.top + 300, leftRight, c.bottom},
                RectF{leftRight + kGap, c.top, c.right, c.bottom}};
    }
    if (value == stage::Health || value == stage::Review) {
        return {RectF{c.left, c.top, c.right, c.top + 120}, RectF{c.left, c.top + 120, c.right, c.bottom}};
    }
    if (value == stage::FullTune) return {};
    if (value == stage::GameCheck) {
        const float split = c.left + (c.Width() - kGap) * 0.42f;
        return {RectF{c.left, c.top, split, c.top + 120}, RectF{split + kGap, c.top, c.right, c.top + 60}};
    }
    if (value >= stage::Measuring && value <= stage::InstallFailed) {
        return {l.mainChart, l.stepPanel, l.liveChart, l.lattice, l.candidate};
    }
    return {l.mainChart, l.stepPanel};
}

}  // namespace

TEST_F(OffscreenWindow, EveryStageDrawsItsPrimaryElements) {
    ASSERT_TRUE(script->Measure());
    ASSERT_TRUE(script->ScanHealth());
    // Steps that ended, so their screens have something to show.
    script->RunStep(SlotCpu, 0, L"Ultimate Performance power plan", L"The plan the processor settings are written onto.",
                    {{L"plan", L"Ultimate Performance power plan", L"", L"Balanced -> Ultimate Performance", TweakWritten},
                     {L"CPMINCORES", L"core parking min cores", L"", L"10 -> 100", TweakWritten}});
    script->RunStep(SlotMemory, 1, L"Memory compression", L"Turned off so pages are never compressed.",
                    {{L"compression", L"memory compression", L"", L"on -> off", TweakFailed}});
    // The ledger the Health screen lists under its checks.
    script->Hooks().readChanges = [] {
        std::vector<ChangeRow> rows{
            LedgerRow(L"power.threaddpc", L"CPU Tune", L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\kernel\\ThreadDpcEnable",
                      L"absent", L"REG_DWORD 0", L"REG_DWORD 0"),
            LedgerRow(L"gpu.HAGS", L"GPU Config", L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\GraphicsDrivers\\HwSchMode",
                      L"REG_DWORD 1", L"REG_DWORD 1", L"REG_DWORD 2"),
            LedgerRow(L"storage.sysmain", L"Storage", L"service SysMain, start type", L"automatic", L"manual", L"disabled"),
        };
        return rows;
    };
    script->Window().Operations().OpenHealth(false);
    ASSERT_TRUE(script->Window().WaitForBackground(10000));
    script->DrawWithLattice(stage::Home, 60000);

    // A review image of every stage: the header, and each of its main parts drawn.
    for (int value = stage::Welcome; value <= stage::GameCheck; ++value) {
        script->Draw(value);
        const std::wstring name = FormatText(L"%ls\\stage-%02d-%ls.png", ScreensDirectory().c_str(), value,
                                             CaptionOf(value).name);
        EXPECT_TRUE(script->Save(name)) << ToUtf8(name);
        EXPECT_GT(script->BrightIn(RectF{kScreenWidth - 400.0f, 16, kScreenWidth - 16.0f, 50}), 60u) << "stage " << value;
        int part = 0;
        for (const RectF& rect : PrimaryElements(value)) {
            EXPECT_GT(script->BrightIn(rect), 60u) << "stage " << value << ", part " << part;
            ++part;
        }
    }
    script->DrawWithLattice(stage::Measured, 60000);
    script->Save(ScreensDirectory() + L"\\measure.png");
    script->DrawWithLattice(stage::Home, 60000);
    script->Save(ScreensDirectory() + L"\\home.png");

    // Full tune: a tile per running step, each with its name, state, progress and Stop.
    script->HoldSteps({SlotCpu, SlotMemory, SlotService});
    // The status line the Full tune driver keeps in the header, for the steps held here.
    FullTuneInput held;
    for (const int slot : {SlotCpu, SlotMemory, SlotService}) held.state[slot] = StepRunning;
    script->Flow().Main().Stage(L"FULL TUNE", FullTuneStatusLine(held));
    script->Draw(stage::FullTune);
    const ScreenLayout l = LayoutFor(kScreenWidth, kScreenHeight, stage::FullTune);
    const TileGrid grid = FullTuneTiles(3, l.content.Width(), l.content.Height());
    for (int i = 0; i < 3; ++i) {
        const RectF tile = RectF::Xywh(l.content.left + i * (grid.tileWidth + kGap), l.content.top, grid.tileWidth, grid.tileHeight);
        EXPECT_GT(script->BrightIn(tile), 300u) << "tile " << i;
    }
    script->Save(ScreensDirectory() + L"\\full-tune.png");
    script->ReleaseSteps();
}

// GPU Clean draws every phase a driver lookup, download and install can be in; the phases the
// user answers have their buttons, and one that is never started says it is not available.
TEST_F(OffscreenWindow, GpuCleanShowsEachPhaseWithItsActions) {
    const ScreenLayout l = LayoutFor(kScreenWidth, kScreenHeight, stage::GpuClean);
    const RectF inner = l.stepPanel.Inset(18, 14);
    const RectF heading{inner.left, inner.top, inner.right, inner.top + 30};
    const RectF buttons{inner.left, inner.bottom - 38, inner.right, inner.bottom};

    // A build without the driver steps says so instead of looking anything up.
    script->Flow().SetDriverTools(nullptr);
    script->Flow().SetGpuPhase(GpuPhaseNone, L"", GpuDriverOffer{});
    script->Draw(stage::GpuClean);
    script->Save(ScreensDirectory() + L"\\gpu-clean-unavailable.png");
    EXPECT_GT(script->BrightIn(heading), 60u) << "unavailable";
    EXPECT_GT(script->BrightIn(buttons), 200u) << "unavailable";
    script->Flow().SetDriverTools(&ProductDriverTools());

    GpuDriverOffer offer;
    offer.vendor = GpuNvidia;
    offer.found = offer.spaceOk = true;
    offer.adapterName = L"NVIDIA GeForce RTX 4070";
    offer.currentDriver = L"Windows driver  31.0.15.3713";
    offer.version = L"566.36";
    offer.packageName = L"GeForce Game Ready Driver";
    offer.description = L"Keeps the display driver and PhysX.";
    offer.notes = L"About 687 MB.";
    offer.size = 720000000;
    struct Case {
        int phase;
        bool hasButtons;
    };
    for (const Case c : {Case{GpuPhaseLooking, false}, Case{GpuPhaseFound, true}, Case{GpuPhaseDownloading, true},
                         Case{GpuPhaseDownloaded, true}, Case{GpuPhaseInstalling, false}, Case{GpuPhaseInstalled, true},
                         Case{GpuPhaseFailed, true}, Case{GpuPhaseManual, true}}) {
        script->Flow().SetGpuPhase(c.phase, L"The download stopped early.", offer);
        script->Draw(stage::GpuClean);
        script->Save(FormatText(L"%ls\\gpu-clean-phase-%d.png", ScreensDirectory().c_str(), c.phase));
        EXPECT_GT(script->BrightIn(heading), 60u) << "phase " << c.phase;
        EXPECT_GT(script->BrightIn(RectF{inner.left, inner.top + 36, inner.right, inner.top + 80}), 60u) << "phase " << c.phase;
        if (c.hasButtons) EXPECT_GT(script->BrightIn(buttons), 200u) << "phase " << c.phase;
        else EXPECT_LT(script->BrightIn(buttons), 20u) << "phase " << c.phase;
    }
    script->Flow().SetGpuPhase(GpuPhaseNone, L"", GpuDriverOffer{});
}

namespace {

// Every character the product's texts use: printable ASCII and each \uXXXX escape in the
// sources of the folders whose texts reach the window.
std::set<wchar_t> CharactersTheTextsUse() {
    std::set<wchar_t> used;
    for (wchar_t c = 0x20; c < 0x7F; ++c) used.insert(c);
    for (const char* folder : {"app", "gui", "health", "tweaks", "gpu", "driver", "afterburner", "update", "timer", "service"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(QV_SOURCE_ROOT) / folder)) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() || (name.find(".cpp") == std::string::npos && name.find(".h") == std::string::npos)) continue;
            std::ifstream file(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            for (size_t at = text.find("\\u"); at != std::string::npos; at = text.find("\\u", at + 2)) {
                const std::string digits = text.substr(at + 2, 4);
                if (digits.size() == 4 && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                    const auto code = static_cast<wchar_t>(std::stoul(digits, nullptr, 16));
                    if (code != 0xFEFF) used.insert(code);  // the byte-order mark is written to files, never drawn
                }
            }
        }
    }
    return used;
}

}  // namespace

// The Review screen once showed empty boxes for "→": every character the texts use draws with a
// real glyph in every format, and nothing is smaller than 11 pixels at 96 DPI.
TEST_F(OffscreenWindow, EveryCharacterTheTextsUseHasAGlyphAndNoTextIsTooSmall) {
    Renderer& renderer = script->Window().GetRenderer();
    const std::set<wchar_t> used = CharactersTheTextsUse();
    EXPECT_TRUE(used.count(L'\u2192') == 1 && used.count(L'\u2026') == 1) << "the sources were not read";
    for (int index = 0; index < static_cast<int>(Font::Count); ++index) {
        const Font font = static_cast<Font>(index);
        EXPECT_GE(Renderer::FontSize(font), 11.0f) << "format " << index;
        std::wstring missing;
        for (const wchar_t c : used) {
            if (!renderer.CanDraw(font, c)) missing += c;
        }
        EXPECT_EQ(missing, L"") << "format " << index << " (" << ToUtf8(renderer.FontFamilyOf(font)) << ") lacks "
                                << ToUtf8(missing);
    }
}
