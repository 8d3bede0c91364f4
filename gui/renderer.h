#pragma once
// The window's drawing: one Direct3D 11 device, a flip-model swap chain on the window (or, for
// tests and review images, an offscreen target), a Direct2D device context drawing into it,
// DirectWrite text in the program's embedded faces, and the program's images. The Lattice is
// rendered by its own device on its own thread (gui/lattice_renderer.h) and drawn here as a
// bitmap. Only the GUI thread touches this object.
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dwrite_3.h>
#include <dxgi1_2.h>
#include <wincodec.h>

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

#include "foundation/unique_handle.h"
#include "gui/lattice_renderer.h"
#include "gui/ui_types.h"

enum class Image { Logo = 0, Mark, Brand, Count };

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // On the window; false when Direct3D or Direct2D cannot be set up.
    bool Create(HWND window, float dpi);
    // A target of the given size in device pixels, not on screen: the test facility that draws
    // any stage into a PNG.
    bool CreateOffscreen(uint32_t width, uint32_t height, float dpi);
    void Resize(uint32_t width, uint32_t height);
    void SetDpi(float dpi);
    float Dpi() const { return dpi_; }
    // Size of the target in device-independent pixels.
    float Width() const;
    float Height() const;
    D3D_FEATURE_LEVEL FeatureLevel() const { return featureLevel_; }

    // A frame: clear, draw, present. False from BeginFrame when there is no device (the caller
    // waits and tries again); device loss is recovered in EndFrame.
    bool BeginFrame();
    void EndFrame();

    // The offscreen target's pixels (premultiplied BGRA, top-down), and a PNG of them.
    bool ReadPixels(std::vector<uint32_t>& pixels, uint32_t& width, uint32_t& height);
    bool SavePng(const std::wstring& path);

    // Drawing helpers, in device-independent pixels.
    void FillRect(const RectF& rect, const Color& color, float radius = 0);
    void StrokeRect(const RectF& rect, const Color& color, float width = 1, float radius = 0);
    void Line(float x0, float y0, float x1, float y1, const Color& color, float width = 1);
    void Text(const std::wstring& text, const RectF& rect, Font font, const Color& color, Align align = Align::Leading,
              bool middle = false);
    // Width of a single line of text in the format, in device-independent pixels.
    float TextWidth(const std::wstring& text, Font font);
    void DrawImage(Image image, const RectF& rect, float opacity = 1);
    bool HasImage(Image image) const;
    void Glow(float cx, float cy, float radius, const Color& color, float alpha);
    void FillCircle(float cx, float cy, float radius, const Color& color);
    // Many segments or dots in one drawing call each: a chart's series as one path, its samples
    // as one filled shape (a call per segment or dot costs a software rasteriser dearly).
    void Polyline(const PointF* points, size_t count, const Color& color, float width);
    void Dots(const PointF* centres, size_t count, float radius, const Color& color);

    // The family a text format really uses (the embedded one, or a fallback).
    std::wstring FontFamilyOf(Font font) const;
    bool HasPrivateFonts() const { return static_cast<bool>(privateFonts_); }
    // Whether text in this format draws the character with a real glyph (its own face or the
    // fallback chain), not an empty box.
    bool CanDraw(Font font, wchar_t character) const;
    // The format's size in device-independent pixels.
    static float FontSize(Font font);

    // The Lattice.
    LatticeRenderer& Lattice() { return lattice_; }
    // Draws the newest Lattice frame into the rectangle; false when there is none yet.
    bool DrawLattice(const RectF& rect);

private:
    bool CreateDevice();
    bool CreateSwapChain();
    bool CreateTargetBitmap();
    bool CreateDeviceResources();
    void CreateFonts();
    void CreateFormats();
    void CreateImages();
    void Release();
    ID2D1SolidColorBrush* Brush(const Color& color);
    ID2D1Bitmap* GlowBitmap(const Color& color);
    void DrawTextDirect(ID2D1DeviceContext* dc, const std::wstring& text, const D2D1_RECT_F& rect, Font font,
                        ID2D1Brush* brush, Align align, bool middle);
    ID2D1Bitmap1* CachedText(const std::wstring& text, float width, float height, Font font, const Color& color,
                             Align align, bool middle);
    void TrimTextCache();
    void WaitForDevice();
    IDWriteTextFormat* Format(Font font);

    HWND window_ = nullptr;
    bool offscreen_ = false;
    uint32_t offscreenWidth_ = 0, offscreenHeight_ = 0;
    float dpi_ = 96;
    D3D_FEATURE_LEVEL featureLevel_ = D3D_FEATURE_LEVEL_9_1;
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11Query> finished_;
    ComPtr<IDXGISwapChain1> swapChain_;
    ComPtr<ID2D1Factory1> d2dFactory_;
    ComPtr<ID2D1Device> d2dDevice_;
    ComPtr<ID2D1DeviceContext> dc_;
    ComPtr<ID2D1Bitmap1> target_;
    ComPtr<IDWriteFactory> dwrite_;
    ComPtr<IDWriteFontCollection1> privateFonts_;
    ComPtr<IDWriteInMemoryFontFileLoader> memoryLoader_;
    ComPtr<IDWriteFontFallback> fallback_;
    std::array<ComPtr<IDWriteTextFormat>, static_cast<size_t>(Font::Count)> formats_;
    std::array<std::wstring, static_cast<size_t>(Font::Count)> families_;
    ComPtr<ID2D1SolidColorBrush> brush_;
    ComPtr<ID2D1StrokeStyle> roundStroke_;
    ComPtr<IWICImagingFactory> wic_;
    std::array<ComPtr<ID2D1Bitmap>, static_cast<size_t>(Image::Count)> images_;
    struct GlowEntry {
        uint32_t key = 0;  // the colour, with a high bit so black is not "free"
        ComPtr<ID2D1Bitmap> bitmap;
    };
    std::array<GlowEntry, 8> glows_;
    // Text drawn once into a bitmap and reused while it stays the same: laying glyphs out and
    // filling their outlines each frame costs milliseconds per string on a software rasteriser,
    // a bitmap a fraction of one.
    struct TextEntry {
        std::wstring text;
        uint32_t rgb = 0;
        int font = 0, align = 0;
        bool middle = false;
        uint32_t width = 0, height = 0;  // device pixels
        ComPtr<ID2D1Bitmap1> bitmap;
        uint64_t lastFrame = 0;
    };
    std::unordered_map<uint64_t, TextEntry> textCache_;
    uint64_t textPixels_ = 0;
    uint64_t frameNumber_ = 0;
    ComPtr<ID2D1DeviceContext> textDc_;
    ComPtr<ID2D1SolidColorBrush> textBrush_;
    ComPtr<ID2D1Bitmap1> latticeBitmap_;
    uint64_t latticeFrameShown_ = 0;
    int latticeFrameWidth_ = 0, latticeFrameHeight_ = 0;
    bool latticeDirty_ = false;  // a new picture (or a new bitmap) still to be copied
    std::vector<uint32_t> latticePixels_;
    LatticeRenderer lattice_;
};
