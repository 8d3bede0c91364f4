// The window's pixels, drawn for real into an offscreen target: the canvas colour, text in the
// embedded faces, the Lattice after samples, and a review image of every stage.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "foundation/text.h"
#include "gui/captions.h"
#include "gui/layout.h"
#include "support/screen_script.h"

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

TEST_F(OffscreenWindow, LatticeLightsUpOnceSamplesArriveAndEveryStageIsDrawn) {
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
    script->Save(ScreensDirectory() + L"\\lattice-measured.png");

    // Steps that ended, so their screens have something to show.
    script->RunStep(SlotCpu, 0, L"Ultimate Performance power plan", L"The plan the processor settings are written onto.",
                    {{L"plan", L"Ultimate Performance power plan", L"", L"Balanced -> Ultimate Performance", TweakWritten},
                     {L"CPMINCORES", L"core parking min cores", L"", L"10 -> 100", TweakWritten}});
    script->RunStep(SlotMemory, 1, L"Memory compression", L"Turned off so pages are never compressed.",
                    {{L"compression", L"memory compression", L"", L"on -> off", TweakFailed}});

    // A review image of every stage; each must at least draw its header and something below it.
    for (int value = stage::Welcome; value <= stage::FullTune; ++value) {
        script->Draw(value);
        const std::wstring name = FormatText(L"%ls\\stage-%02d-%ls.png", ScreensDirectory().c_str(), value,
                                             CaptionOf(value).name);
        EXPECT_TRUE(script->Save(name)) << ToUtf8(name);
        EXPECT_GT(script->InkIn(RectF{kScreenWidth - 400.0f, 16, kScreenWidth - 16.0f, 50}), 100u) << "stage " << value;
        // Full tune shows tiles only while a run is on.
        if (value == stage::FullTune) continue;
        EXPECT_GT(script->InkIn(RectF{16, kContentTop, kScreenWidth - 16.0f, kScreenHeight - 16.0f}), 2000u)
            << "stage " << value;
    }
}
