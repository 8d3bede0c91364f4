#include "gui/renderer.h"

#include <cmath>
#include <cstring>

namespace {

struct TextStyle {
    const wchar_t* family;
    DWRITE_FONT_WEIGHT weight;
    float size;
    bool wrap;
    bool privateFace;  // from the embedded faces; Consolas comes from the system
};

constexpr TextStyle kFormats[static_cast<size_t>(Font::Count)] = {
    {L"Bruno Ace SC", DWRITE_FONT_WEIGHT_NORMAL, 26, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_BOLD, 16, false, true},
    {L"Gruppo", DWRITE_FONT_WEIGHT_NORMAL, 12, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_NORMAL, 12, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_NORMAL, 11, false, true},
    {L"Gruppo", DWRITE_FONT_WEIGHT_NORMAL, 13, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_NORMAL, 13.5f, true, true},
    {L"Consolas", DWRITE_FONT_WEIGHT_NORMAL, 12.5f, false, false},
    {L"Consolas", DWRITE_FONT_WEIGHT_NORMAL, 11, false, false},
    {L"Consolas", DWRITE_FONT_WEIGHT_BOLD, 15, false, false},
    {L"Bruno Ace SC", DWRITE_FONT_WEIGHT_NORMAL, 40, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_BOLD, 13.5f, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_BOLD, 16, false, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_BOLD, 22, true, true},
    {L"Philosopher", DWRITE_FONT_WEIGHT_NORMAL, 16, true, true},
};

constexpr const wchar_t* kFontResources[] = {L"FONT_PHILOSOPHER", L"FONT_PHILOSOPHER_BOLD", L"FONT_BRUNO", L"FONT_GRUPPO",
                                             L"FONT_FALLBACK"};
// The embedded face that draws what the others lack ("→", "…", "×", ...), and the ranges it takes
// over. Plain ASCII is never among them: a run that falls back must end at the next ordinary
// character, or the rest of a line changes face.
constexpr const wchar_t* kFallbackFamily = L"DejaVu Sans";
constexpr DWRITE_UNICODE_RANGE kFallbackRanges[] = {{0x00A0, 0x017F}, {0x2010, 0x205E}, {0x2070, 0x209F},
                                                    {0x20AC, 0x20AC}, {0x2190, 0x22FF}, {0x2500, 0x25FF}, {0xFFFD, 0xFFFD}};
constexpr const wchar_t* kImageResources[] = {L"LOGO_PNG", L"MARK_PNG", L"BRAND_PNG"};

// One character as DirectWrite's fallback reads text, to ask which face would draw it. COM
// interfaces have no virtual destructor; this one lives on its caller's stack.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class SingleCharacterSource final : public IDWriteTextAnalysisSource {
public:
    explicit SingleCharacterSource(wchar_t character) : text_{character, 0} {}
    virtual ~SingleCharacterSource() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (id == __uuidof(IUnknown) || id == __uuidof(IDWriteTextAnalysisSource)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }   // lives on the caller's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTextAtPosition(UINT32 position, const WCHAR** text, UINT32* length) override {
        *text = position < 1 ? text_ + position : nullptr;
        *length = position < 1 ? 1 - position : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTextBeforePosition(UINT32 position, const WCHAR** text, UINT32* length) override {
        *text = position == 1 ? text_ : nullptr;
        *length = position == 1 ? 1 : 0;
        return S_OK;
    }
    DWRITE_READING_DIRECTION STDMETHODCALLTYPE GetParagraphReadingDirection() override {
        return DWRITE_READING_DIRECTION_LEFT_TO_RIGHT;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleName(UINT32, UINT32* length, const WCHAR** locale) override {
        *locale = L"en-us";
        *length = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberSubstitution(UINT32, UINT32* length, IDWriteNumberSubstitution** substitution) override {
        *substitution = nullptr;
        *length = 1;
        return S_OK;
    }

private:
    wchar_t text_[2];
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

D2D1_COLOR_F ToD2D(const Color& c) { return D2D1_COLOR_F{c.r, c.g, c.b, c.a}; }
D2D1_RECT_F ToD2D(const RectF& r) { return D2D1_RECT_F{r.left, r.top, r.right, r.bottom}; }

bool Resource(const wchar_t* name, const void*& bytes, DWORD& size) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return false;
    const HGLOBAL loaded = LoadResource(module, found);
    bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    size = SizeofResource(module, found);
    return bytes != nullptr && size > 0;
}

bool FamilyIn(IDWriteFontCollection* collection, const wchar_t* family) {
    UINT32 index = 0;
    BOOL exists = FALSE;
    return collection != nullptr && SUCCEEDED(collection->FindFamilyName(family, &index, &exists)) && exists;
}

}  // namespace

Renderer::Renderer() = default;

Renderer::~Renderer() {
    lattice_.Stop();
    Release();
}

void Renderer::Release() {
    latticeBitmap_.reset();
    latticeFrameShown_ = 0;
    for (auto& image : images_) image.reset();
    for (GlowEntry& glow : glows_) glow = GlowEntry{};
    textCache_.clear();
    textPixels_ = 0;
    textBrush_.reset();
    textDc_.reset();
    finished_.reset();
    brush_.reset();
    roundStroke_.reset();
    target_.reset();
    dc_.reset();
    d2dDevice_.reset();
    swapChain_.reset();
    context_.reset();
    device_.reset();
}

bool Renderer::CreateDevice() {
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_3,  D3D_FEATURE_LEVEL_9_1};
    for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
        if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 6,
                                        D3D11_SDK_VERSION, device_.put(), &featureLevel_, context_.put()))) {
            return true;
        }
    }
    return false;
}

bool Renderer::CreateSwapChain() {
    ComPtr<IDXGIDevice1> dxgiDevice;
    if (FAILED(device_.As(dxgiDevice))) return false;
    dxgiDevice->SetMaximumFrameLatency(1);
    ComPtr<IDXGIAdapter> adapter;
    ComPtr<IDXGIFactory2> factory;
    if (FAILED(dxgiDevice->GetAdapter(adapter.put())) ||
        FAILED(adapter->GetParent(__uuidof(IDXGIFactory2), factory.putVoid()))) {
        return false;
    }
    RECT client{};
    GetClientRect(window_, &client);
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = std::max<LONG>(1, client.right - client.left);
    desc.Height = std::max<LONG>(1, client.bottom - client.top);
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 2;
    desc.Scaling = DXGI_SCALING_NONE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL;
    desc.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
    if (FAILED(factory->CreateSwapChainForHwnd(device_.get(), window_, &desc, nullptr, nullptr, swapChain_.put()))) {
        // Older systems refuse the unscaled flip model.
        desc.Scaling = DXGI_SCALING_STRETCH;
        if (FAILED(factory->CreateSwapChainForHwnd(device_.get(), window_, &desc, nullptr, nullptr, swapChain_.put()))) {
            return false;
        }
    }
    factory->MakeWindowAssociation(window_, DXGI_MWA_NO_ALT_ENTER);
    return true;
}

bool Renderer::CreateTargetBitmap() {
    target_.reset();
    if (offscreen_) {
        const D2D1_BITMAP_PROPERTIES1 properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                                 dpi_,
                                                 dpi_,
                                                 D2D1_BITMAP_OPTIONS_TARGET,
                                                 nullptr};
        if (FAILED(dc_->CreateBitmap(D2D1_SIZE_U{offscreenWidth_, offscreenHeight_}, nullptr, 0, &properties,
                                     target_.put()))) {
            return false;
        }
    } else {
        ComPtr<IDXGISurface> surface;
        if (FAILED(swapChain_->GetBuffer(0, __uuidof(IDXGISurface), surface.putVoid()))) return false;
        const D2D1_BITMAP_PROPERTIES1 properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE},
                                                 dpi_,
                                                 dpi_,
                                                 D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
                                                 nullptr};
        if (FAILED(dc_->CreateBitmapFromDxgiSurface(surface.get(), &properties, target_.put()))) return false;
    }
    dc_->SetTarget(target_.get());
    return true;
}

bool Renderer::CreateDeviceResources() {
    if (!CreateDevice()) return false;
    if (!offscreen_ && !CreateSwapChain()) return false;
    if (!d2dFactory_) {
        const D2D1_FACTORY_OPTIONS options{};
        if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), &options,
                                     d2dFactory_.putVoid()))) {
            return false;
        }
    }
    ComPtr<IDXGIDevice> dxgiDevice;
    if (FAILED(device_.As(dxgiDevice)) || FAILED(d2dFactory_->CreateDevice(dxgiDevice.get(), d2dDevice_.put())) ||
        FAILED(d2dDevice_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, dc_.put()))) {
        return false;
    }
    dc_->SetDpi(dpi_, dpi_);
    if (!CreateTargetBitmap()) return false;
    if (FAILED(dc_->CreateSolidColorBrush(ToD2D(palette::CoolWhite), brush_.put()))) return false;
    // The text cache draws with a context of its own, so a miss never disturbs the frame's target.
    if (SUCCEEDED(d2dDevice_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, textDc_.put()))) {
        textDc_->SetDpi(dpi_, dpi_);
        textDc_->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
        if (FAILED(textDc_->CreateSolidColorBrush(ToD2D(palette::CoolWhite), textBrush_.put()))) textDc_.reset();
    }
    const D2D1_STROKE_STYLE_PROPERTIES1 stroke{D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND, D2D1_CAP_STYLE_ROUND,
                                               D2D1_LINE_JOIN_ROUND, 10, D2D1_DASH_STYLE_SOLID, 0,
                                               D2D1_STROKE_TRANSFORM_TYPE_NORMAL};
    ComPtr<ID2D1StrokeStyle1> style;
    if (SUCCEEDED(d2dFactory_->CreateStrokeStyle(&stroke, nullptr, 0, style.put()))) {
        roundStroke_.reset(style.get());
        style.get()->AddRef();
    }
    if (!dwrite_) {
        if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                       reinterpret_cast<IUnknown**>(dwrite_.put())))) {
            return false;
        }
        CreateFonts();
        CreateFormats();
    }
    CreateImages();
    return true;
}

void Renderer::CreateFonts() {
    ComPtr<IDWriteFactory5> factory5;
    if (FAILED(dwrite_.As(factory5))) return;  // no in-memory fonts before Windows 10 1703
    if (FAILED(factory5->CreateInMemoryFontFileLoader(memoryLoader_.put())) ||
        FAILED(factory5->RegisterFontFileLoader(memoryLoader_.get()))) {
        memoryLoader_.reset();
        return;
    }
    ComPtr<IDWriteFontSetBuilder1> builder;
    if (FAILED(factory5->CreateFontSetBuilder(builder.put()))) return;
    for (const wchar_t* name : kFontResources) {
        const void* bytes = nullptr;
        DWORD size = 0;
        if (!Resource(name, bytes, size)) continue;
        ComPtr<IDWriteFontFile> file;
        if (SUCCEEDED(memoryLoader_->CreateInMemoryFontFileReference(factory5.get(), bytes, size, nullptr, file.put()))) {
            builder->AddFontFile(file.get());
        }
    }
    ComPtr<IDWriteFontSet> set;
    if (FAILED(builder->CreateFontSet(set.put()))) return;
    if (FAILED(factory5->CreateFontCollectionFromFontSet(set.get(), privateFonts_.put()))) return;
    // Characters a face lacks come from the embedded fallback face, then from the system's own
    // fallback (other scripts: a power plan named in Japanese, say).
    ComPtr<IDWriteFontFallbackBuilder> fallback;
    if (FAILED(factory5->CreateFontFallbackBuilder(fallback.put()))) return;
    const wchar_t* families[] = {kFallbackFamily};
    fallback->AddMapping(kFallbackRanges, static_cast<UINT32>(std::size(kFallbackRanges)), families, 1, privateFonts_.get());
    ComPtr<IDWriteFontFallback> system;
    if (SUCCEEDED(factory5->GetSystemFontFallback(system.put()))) fallback->AddMappings(system.get());
    fallback->CreateFontFallback(fallback_.put());
}

bool Renderer::CanDraw(Font font, wchar_t character) const {
    const size_t index = static_cast<size_t>(font);
    if (index >= formats_.size() || !formats_[index]) return false;
    IDWriteTextFormat* format = formats_[index].get();
    ComPtr<IDWriteFontCollection> collection;
    format->GetFontCollection(collection.put());
    // The format's own face first.
    if (collection) {
        UINT32 at = 0;
        BOOL exists = FALSE;
        ComPtr<IDWriteFontFamily> family;
        ComPtr<IDWriteFont> face;
        if (SUCCEEDED(collection->FindFamilyName(families_[index].c_str(), &at, &exists)) && exists &&
            SUCCEEDED(collection->GetFontFamily(at, family.put())) &&
            SUCCEEDED(family->GetFirstMatchingFont(kFormats[index].weight, DWRITE_FONT_STRETCH_NORMAL, DWRITE_FONT_STYLE_NORMAL,
                                                   face.put()))) {
            BOOL has = FALSE;
            if (SUCCEEDED(face->HasCharacter(character, &has)) && has) return true;
        }
    }
    // Then what the format falls back to, as a layout would.
    ComPtr<IDWriteTextFormat1> format1;
    ComPtr<IDWriteFontFallback> fallback;
    if (FAILED(formats_[index].As(format1)) || FAILED(format1->GetFontFallback(fallback.put())) || !fallback) return false;
    SingleCharacterSource source(character);
    UINT32 mapped = 0;
    float scale = 1;
    ComPtr<IDWriteFont> face;
    if (FAILED(fallback->MapCharacters(&source, 0, 1, collection.get(), families_[index].c_str(), kFormats[index].weight,
                                       DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, &mapped, face.put(), &scale)) ||
        !face) {
        return false;
    }
    BOOL has = FALSE;
    return SUCCEEDED(face->HasCharacter(character, &has)) && has;
}

float Renderer::FontSize(Font font) {
    const size_t index = static_cast<size_t>(font);
    return index < std::size(kFormats) ? kFormats[index].size : 0;
}

void Renderer::CreateFormats() {
    ComPtr<IDWriteFontCollection> system;
    dwrite_->GetSystemFontCollection(system.put());
    ComPtr<IDWriteInlineObject> ellipsis;
    for (size_t i = 0; i < formats_.size(); ++i) {
        const TextStyle& style = kFormats[i];
        IDWriteFontCollection* collection = nullptr;
        std::wstring family = style.family;
        if (style.privateFace && FamilyIn(privateFonts_.get(), style.family)) {
            collection = privateFonts_.get();
        } else if (FamilyIn(system.get(), style.family)) {
            collection = system.get();
        } else if (FamilyIn(system.get(), L"Segoe UI")) {
            family = L"Segoe UI";
            collection = system.get();
        } else if (FamilyIn(privateFonts_.get(), L"Philosopher")) {
            // Without Segoe UI (Wine has none) text would lay out empty; the embedded face is
            // the last resort, so nothing silently disappears.
            family = L"Philosopher";
            collection = privateFonts_.get();
        } else {
            family = L"Segoe UI";
        }
        if (FAILED(dwrite_->CreateTextFormat(family.c_str(), collection, style.weight, DWRITE_FONT_STYLE_NORMAL,
                                             DWRITE_FONT_STRETCH_NORMAL, style.size, L"en-us", formats_[i].put()))) {
            continue;
        }
        families_[i] = family;
        ComPtr<IDWriteTextFormat1> format1;
        if (fallback_ && SUCCEEDED(formats_[i].As(format1))) format1->SetFontFallback(fallback_.get());
        if (!style.wrap) {
            formats_[i]->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
            ellipsis.reset();
            if (SUCCEEDED(dwrite_->CreateEllipsisTrimmingSign(formats_[i].get(), ellipsis.put()))) {
                const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
                formats_[i]->SetTrimming(&trimming, ellipsis.get());
            }
        }
    }
}

void Renderer::CreateImages() {
    if (!wic_ && FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         __uuidof(IWICImagingFactory), wic_.putVoid()))) {
        return;
    }
    for (size_t i = 0; i < images_.size(); ++i) {
        const void* bytes = nullptr;
        DWORD size = 0;
        if (!Resource(kImageResources[i], bytes, size)) continue;
        ComPtr<IWICStream> stream;
        ComPtr<IWICBitmapDecoder> decoder;
        ComPtr<IWICBitmapFrameDecode> frame;
        ComPtr<IWICFormatConverter> converter;
        if (FAILED(wic_->CreateStream(stream.put())) ||
            FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), size)) ||
            FAILED(wic_->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.put())) ||
            FAILED(decoder->GetFrame(0, frame.put())) || FAILED(wic_->CreateFormatConverter(converter.put())) ||
            FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                         WICBitmapPaletteTypeMedianCut))) {
            continue;
        }
        ComPtr<ID2D1Bitmap1> bitmap;
        if (SUCCEEDED(dc_->CreateBitmapFromWicBitmap(converter.get(), nullptr, bitmap.put()))) {
            images_[i].reset(bitmap.get());
            bitmap.get()->AddRef();
        }
    }
}

bool Renderer::Create(HWND window, float dpi) {
    window_ = window;
    dpi_ = dpi;
    offscreen_ = false;
    if (!CreateDeviceResources()) {
        Release();
        return false;
    }
    lattice_.Start();
    return true;
}

bool Renderer::CreateOffscreen(uint32_t width, uint32_t height, float dpi) {
    offscreen_ = true;
    offscreenWidth_ = std::max<uint32_t>(1, width);
    offscreenHeight_ = std::max<uint32_t>(1, height);
    dpi_ = dpi;
    if (!CreateDeviceResources()) {
        Release();
        return false;
    }
    lattice_.Start();
    return true;
}

void Renderer::Resize(uint32_t width, uint32_t height) {
    if (offscreen_ || !swapChain_ || !dc_) return;
    dc_->SetTarget(nullptr);
    target_.reset();
    swapChain_->ResizeBuffers(0, std::max<uint32_t>(1, width), std::max<uint32_t>(1, height), DXGI_FORMAT_UNKNOWN, 0);
    CreateTargetBitmap();
}

void Renderer::SetDpi(float dpi) {
    dpi_ = dpi;
    if (!dc_) return;
    dc_->SetDpi(dpi, dpi);
    dc_->SetTarget(nullptr);
    CreateTargetBitmap();
    latticeBitmap_.reset();
    if (textDc_) textDc_->SetDpi(dpi, dpi);
    textCache_.clear();
    textPixels_ = 0;
}

float Renderer::Width() const {
    if (!target_) return 0;
    return target_->GetSize().width;
}

float Renderer::Height() const {
    if (!target_) return 0;
    return target_->GetSize().height;
}

bool Renderer::BeginFrame() {
    if (!dc_ || !target_) {
        // Lost and not yet recreated: try again, then let the caller wait.
        Release();
        if (!CreateDeviceResources()) {
            Release();
            return false;
        }
    }
    ++frameNumber_;
    TrimTextCache();
    lattice_.WindowFrameBegins();
    dc_->BeginDraw();
    dc_->SetTransform(D2D1::IdentityMatrix());
    dc_->Clear(ToD2D(palette::Background));
    return true;
}

void Renderer::EndFrame() {
    HRESULT hr = dc_->EndDraw();
    if (SUCCEEDED(hr) && swapChain_) hr = swapChain_->Present(1, 0);
    if (SUCCEEDED(hr) && offscreen_) WaitForDevice();
    lattice_.WindowFrameEnds();
    if (hr == static_cast<HRESULT>(D2DERR_RECREATE_TARGET) || hr == DXGI_ERROR_DEVICE_REMOVED ||
        hr == DXGI_ERROR_DEVICE_RESET) {
        Release();  // the next BeginFrame builds everything again on the same window
    }
}

// Offscreen there is no presentation to pace the frames: wait until the device has drawn this
// one, as a swap chain with one frame of latency would, so work never piles up behind it.
void Renderer::WaitForDevice() {
    if (!finished_) {
        const D3D11_QUERY_DESC desc{D3D11_QUERY_EVENT, 0};
        if (FAILED(device_->CreateQuery(&desc, finished_.put()))) return;
    }
    context_->End(finished_.get());
    context_->Flush();
    BOOL done = FALSE;
    while (context_->GetData(finished_.get(), &done, sizeof(done), 0) == S_FALSE) Sleep(1);
}

bool Renderer::ReadPixels(std::vector<uint32_t>& pixels, uint32_t& width, uint32_t& height) {
    if (!offscreen_ || !target_) return false;
    const D2D1_SIZE_U size = target_->GetPixelSize();
    const D2D1_BITMAP_PROPERTIES1 properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                             dpi_,
                                             dpi_,
                                             D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
                                             nullptr};
    ComPtr<ID2D1Bitmap1> readable;
    if (FAILED(dc_->CreateBitmap(size, nullptr, 0, &properties, readable.put()))) return false;
    if (FAILED(readable->CopyFromBitmap(nullptr, target_.get(), nullptr))) return false;
    D2D1_MAPPED_RECT mapped{};
    if (FAILED(readable->Map(D2D1_MAP_OPTIONS_READ, &mapped))) return false;
    width = size.width;
    height = size.height;
    pixels.resize(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(&pixels[static_cast<size_t>(y) * width], mapped.bits + static_cast<size_t>(y) * mapped.pitch,
                    static_cast<size_t>(width) * 4);
    }
    readable->Unmap();
    return true;
}

bool Renderer::SavePng(const std::wstring& path) {
    std::vector<uint32_t> pixels;
    uint32_t width = 0, height = 0;
    if (!wic_ || !ReadPixels(pixels, width, height)) return false;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(wic_->CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
        FAILED(wic_->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.put(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(width, height))) {
        return false;
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(frame->SetPixelFormat(&format))) return false;
    if (format != GUID_WICPixelFormat32bppBGRA) return false;
    // The frame is drawn opaque, so premultiplied and straight alpha are the same bytes.
    if (FAILED(frame->WritePixels(height, width * 4, width * height * 4, reinterpret_cast<BYTE*>(pixels.data())))) {
        return false;
    }
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

ID2D1SolidColorBrush* Renderer::Brush(const Color& color) {
    brush_->SetColor(ToD2D(color));
    return brush_.get();
}

IDWriteTextFormat* Renderer::Format(Font font) { return formats_[static_cast<size_t>(font)].get(); }

std::wstring Renderer::FontFamilyOf(Font font) const { return families_[static_cast<size_t>(font)]; }

void Renderer::FillRect(const RectF& rect, const Color& color, float radius) {
    if (radius > 0) dc_->FillRoundedRectangle(D2D1_ROUNDED_RECT{ToD2D(rect), radius, radius}, Brush(color));
    else dc_->FillRectangle(ToD2D(rect), Brush(color));
}

void Renderer::StrokeRect(const RectF& rect, const Color& color, float width, float radius) {
    if (radius > 0) dc_->DrawRoundedRectangle(D2D1_ROUNDED_RECT{ToD2D(rect), radius, radius}, Brush(color), width);
    else dc_->DrawRectangle(ToD2D(rect), Brush(color), width);
}

void Renderer::Line(float x0, float y0, float x1, float y1, const Color& color, float width) {
    dc_->DrawLine(D2D1_POINT_2F{x0, y0}, D2D1_POINT_2F{x1, y1}, Brush(color), width, roundStroke_.get());
}

void Renderer::FillCircle(float cx, float cy, float radius, const Color& color) {
    dc_->FillEllipse(D2D1_ELLIPSE{D2D1_POINT_2F{cx, cy}, radius, radius}, Brush(color));
}

void Renderer::DrawTextDirect(ID2D1DeviceContext* dc, const std::wstring& text, const D2D1_RECT_F& rect, Font font,
                              ID2D1Brush* brush, Align align, bool middle) {
    IDWriteTextFormat* format = Format(font);
    if (format == nullptr) return;
    format->SetTextAlignment(align == Align::Center     ? DWRITE_TEXT_ALIGNMENT_CENTER
                             : align == Align::Trailing ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                                        : DWRITE_TEXT_ALIGNMENT_LEADING);
    format->SetParagraphAlignment(middle ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    dc->DrawText(text.c_str(), static_cast<UINT32>(text.size()), format, rect, brush, D2D1_DRAW_TEXT_OPTIONS_CLIP);
}

namespace {

uint32_t Rgb8(const Color& color) {
    const auto channel = [](float c) { return static_cast<uint32_t>(std::clamp(c, 0.0f, 1.0f) * 255 + 0.5f); };
    return (channel(color.r) << 16) | (channel(color.g) << 8) | channel(color.b);
}

uint64_t TextHash(const std::wstring& text, uint32_t rgb, int font, int align, bool middle, uint32_t width,
                  uint32_t height) {
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&hash](uint64_t value) {
        hash ^= value;
        hash *= 1099511628211ull;
    };
    for (const wchar_t c : text) mix(static_cast<uint64_t>(c));
    mix(rgb);
    mix(static_cast<uint64_t>(font) << 8 | static_cast<uint64_t>(align) << 4 | (middle ? 1u : 0u));
    mix(static_cast<uint64_t>(width) << 32 | height);
    return hash;
}

constexpr uint32_t kLargestCachedText = 2048;          // device pixels a side
constexpr uint64_t kTextCachePixels = 16ull << 20;     // about 64 MB of bitmaps at most
constexpr uint64_t kTextUnusedFrames = 120;            // about two seconds at the display rate

}  // namespace

ID2D1Bitmap1* Renderer::CachedText(const std::wstring& text, float width, float height, Font font, const Color& color,
                                   Align align, bool middle) {
    const float scale = dpi_ / 96;
    const uint32_t pw = static_cast<uint32_t>(std::ceil(width * scale)), ph = static_cast<uint32_t>(std::ceil(height * scale));
    if (!textDc_ || pw == 0 || ph == 0 || pw > kLargestCachedText || ph > kLargestCachedText) return nullptr;
    const uint32_t rgb = Rgb8(color);
    const uint64_t hash = TextHash(text, rgb, static_cast<int>(font), static_cast<int>(align), middle, pw, ph);
    const auto found = textCache_.find(hash);
    if (found != textCache_.end()) {
        TextEntry& entry = found->second;
        if (entry.text == text && entry.rgb == rgb && entry.font == static_cast<int>(font) &&
            entry.align == static_cast<int>(align) && entry.middle == middle && entry.width == pw && entry.height == ph) {
            entry.lastFrame = frameNumber_;
            return entry.bitmap.get();
        }
    }
    ComPtr<ID2D1Bitmap1> bitmap;
    const D2D1_BITMAP_PROPERTIES1 properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, dpi_, dpi_,
                                             D2D1_BITMAP_OPTIONS_TARGET, nullptr};
    if (FAILED(textDc_->CreateBitmap(D2D1_SIZE_U{pw, ph}, nullptr, 0, &properties, bitmap.put()))) return nullptr;
    textDc_->SetTarget(bitmap.get());
    textDc_->BeginDraw();
    textDc_->Clear(D2D1_COLOR_F{0, 0, 0, 0});
    textBrush_->SetColor(D2D1_COLOR_F{color.r, color.g, color.b, 1});
    DrawTextDirect(textDc_.get(), text, D2D1_RECT_F{0, 0, pw / scale, ph / scale}, font, textBrush_.get(), align, middle);
    const HRESULT drawn = textDc_->EndDraw();
    textDc_->SetTarget(nullptr);
    if (FAILED(drawn)) return nullptr;
    TextEntry& entry = textCache_[hash];
    if (entry.bitmap) textPixels_ -= static_cast<uint64_t>(entry.width) * entry.height;
    entry = TextEntry{text, rgb, static_cast<int>(font), static_cast<int>(align), middle, pw, ph, std::move(bitmap), frameNumber_};
    textPixels_ += static_cast<uint64_t>(pw) * ph;
    return entry.bitmap.get();
}

void Renderer::TrimTextCache() {
    if (textPixels_ <= kTextCachePixels && textCache_.size() <= 2048) return;
    // Drop what has not been drawn for a while; if that is not enough, all but this frame's.
    for (const uint64_t age : {kTextUnusedFrames, uint64_t{1}}) {
        for (auto it = textCache_.begin(); it != textCache_.end();) {
            if (frameNumber_ - it->second.lastFrame >= age) {
                textPixels_ -= static_cast<uint64_t>(it->second.width) * it->second.height;
                it = textCache_.erase(it);
            } else {
                ++it;
            }
        }
        if (textPixels_ <= kTextCachePixels / 2) return;
    }
}

void Renderer::Polyline(const PointF* points, size_t count, const Color& color, float width) {
    if (count < 2) return;
    ComPtr<ID2D1PathGeometry> path;
    ComPtr<ID2D1GeometrySink> sink;
    if (FAILED(d2dFactory_->CreatePathGeometry(path.put())) || FAILED(path->Open(sink.put()))) return;
    sink->BeginFigure(D2D1_POINT_2F{points[0].x, points[0].y}, D2D1_FIGURE_BEGIN_HOLLOW);
    for (size_t i = 1; i < count; ++i) sink->AddLine(D2D1_POINT_2F{points[i].x, points[i].y});
    sink->EndFigure(D2D1_FIGURE_END_OPEN);
    if (SUCCEEDED(sink->Close())) dc_->DrawGeometry(path.get(), Brush(color), width, roundStroke_.get());
}

void Renderer::Dots(const PointF* centres, size_t count, float radius, const Color& color) {
    if (count == 0) return;
    ComPtr<ID2D1PathGeometry> path;
    ComPtr<ID2D1GeometrySink> sink;
    if (FAILED(d2dFactory_->CreatePathGeometry(path.put())) || FAILED(path->Open(sink.put()))) return;
    // Octagons: at these sizes they read as round.
    constexpr float kCos = 0.9238795f, kSin = 0.3826834f;
    const D2D1_POINT_2F corners[8] = {{kCos, kSin}, {kSin, kCos}, {-kSin, kCos}, {-kCos, kSin},
                                      {-kCos, -kSin}, {-kSin, -kCos}, {kSin, -kCos}, {kCos, -kSin}};
    for (size_t i = 0; i < count; ++i) {
        const float x = centres[i].x, y = centres[i].y;
        sink->BeginFigure(D2D1_POINT_2F{x + corners[0].x * radius, y + corners[0].y * radius}, D2D1_FIGURE_BEGIN_FILLED);
        for (int k = 1; k < 8; ++k) sink->AddLine(D2D1_POINT_2F{x + corners[k].x * radius, y + corners[k].y * radius});
        sink->EndFigure(D2D1_FIGURE_END_CLOSED);
    }
    if (SUCCEEDED(sink->Close())) dc_->FillGeometry(path.get(), Brush(color), nullptr);
}

void Renderer::Text(const std::wstring& text, const RectF& rect, Font font, const Color& color, Align align, bool middle) {
    if (text.empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
    // Whole device pixels, so the cached picture lands exactly where the text would.
    const float scale = dpi_ / 96;
    const float left = std::round(rect.left * scale) / scale, top = std::round(rect.top * scale) / scale;
    if (ID2D1Bitmap1* bitmap = CachedText(text, rect.Width(), rect.Height(), font, color, align, middle)) {
        const D2D1_SIZE_F size = bitmap->GetSize();
        dc_->DrawBitmap(bitmap, D2D1_RECT_F{left, top, left + size.width, top + size.height}, color.a,
                        D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, nullptr);
        return;
    }
    DrawTextDirect(dc_.get(), text, ToD2D(rect), font, Brush(color), align, middle);
}

float Renderer::TextWidth(const std::wstring& text, Font font) {
    IDWriteTextFormat* format = Format(font);
    if (format == nullptr || text.empty()) return 0;
    ComPtr<IDWriteTextLayout> layout;
    if (FAILED(dwrite_->CreateTextLayout(text.c_str(), static_cast<UINT32>(text.size()), format, 100000, 1000,
                                         layout.put()))) {
        return 0;
    }
    DWRITE_TEXT_METRICS metrics{};
    layout->GetMetrics(&metrics);
    return metrics.widthIncludingTrailingWhitespace;
}

bool Renderer::HasImage(Image image) const { return static_cast<bool>(images_[static_cast<size_t>(image)]); }

void Renderer::DrawImage(Image image, const RectF& rect, float opacity) {
    ID2D1Bitmap* bitmap = images_[static_cast<size_t>(image)].get();
    if (bitmap == nullptr) return;
    dc_->DrawBitmap(bitmap, ToD2D(rect), opacity, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
}

// A soft disc of the colour, fading linearly to nothing at its edge. Made once per colour as a
// small bitmap and scaled: gradient brushes would be made per call, and Wine draws radial
// gradients as solid discs.
ID2D1Bitmap* Renderer::GlowBitmap(const Color& color) {
    const uint32_t key = (static_cast<uint32_t>(color.r * 255) << 16) | (static_cast<uint32_t>(color.g * 255) << 8) |
                         static_cast<uint32_t>(color.b * 255) | 0x01000000u;
    for (GlowEntry& entry : glows_) {
        if (entry.key == key) return entry.bitmap.get();
    }
    GlowEntry* slot = nullptr;
    for (GlowEntry& entry : glows_) {
        if (entry.key == 0) {
            slot = &entry;
            break;
        }
    }
    if (slot == nullptr) slot = &glows_[0];  // more colours than slots: one makes room
    constexpr int kSize = 64;
    std::vector<uint32_t> pixels(kSize * kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const float dx = (x + 0.5f) / kSize * 2 - 1, dy = (y + 0.5f) / kSize * 2 - 1;
            const float a = std::max(0.0f, 1 - std::sqrt(dx * dx + dy * dy));
            const auto channel = [a](float c, int shift) { return static_cast<uint32_t>(c * a * 255 + 0.5f) << shift; };
            pixels[static_cast<size_t>(y) * kSize + x] =
                channel(1, 24) | channel(color.r, 16) | channel(color.g, 8) | channel(color.b, 0);
        }
    }
    ComPtr<ID2D1Bitmap> bitmap;
    const D2D1_BITMAP_PROPERTIES properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, 96, 96};
    if (FAILED(dc_->CreateBitmap(D2D1_SIZE_U{kSize, kSize}, pixels.data(), kSize * 4, properties, bitmap.put()))) {
        return nullptr;
    }
    slot->key = key;
    slot->bitmap = std::move(bitmap);
    return slot->bitmap.get();
}

void Renderer::Glow(float cx, float cy, float radius, const Color& color, float alpha) {
    ID2D1Bitmap* glow = GlowBitmap(color);
    if (glow == nullptr || radius <= 0) return;
    dc_->DrawBitmap(glow, D2D1_RECT_F{cx - radius, cy - radius, cx + radius, cy + radius}, std::clamp(alpha, 0.0f, 1.0f),
                    D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
}

bool Renderer::DrawLattice(const RectF& rect) {
    int width = 0, height = 0;
    if (lattice_.TakeFrame(latticeFrameShown_, latticePixels_, width, height)) {
        latticeFrameWidth_ = width;
        latticeFrameHeight_ = height;
        latticeDirty_ = true;
    }
    if (latticeFrameWidth_ <= 0 || latticeFrameHeight_ <= 0 || latticePixels_.empty()) return false;
    if (!latticeBitmap_) {
        const D2D1_BITMAP_PROPERTIES1 properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                                 96,
                                                 96,
                                                 D2D1_BITMAP_OPTIONS_NONE,
                                                 nullptr};
        if (FAILED(dc_->CreateBitmap(D2D1_SIZE_U{kLatticeTexture, kLatticeTexture}, nullptr, 0, &properties,
                                     latticeBitmap_.put()))) {
            return false;
        }
        latticeDirty_ = true;
    }
    const uint32_t w = static_cast<uint32_t>(latticeFrameWidth_), h = static_cast<uint32_t>(latticeFrameHeight_);
    if (latticeDirty_) {
        const D2D1_RECT_U region{0, 0, w, h};
        latticeBitmap_->CopyFromMemory(&region, latticePixels_.data(), w * 4);
        latticeDirty_ = false;
    }
    // The picture is smaller than the card while frames are expensive: scaled up smoothly.
    const D2D1_RECT_F source{0, 0, static_cast<float>(w), static_cast<float>(h)};
    dc_->DrawBitmap(latticeBitmap_.get(), ToD2D(rect), 1, D2D1_INTERPOLATION_MODE_HIGH_QUALITY_CUBIC, &source, nullptr);
    return true;
}
