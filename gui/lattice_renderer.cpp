#include "gui/lattice_renderer.h"

#include <windows.h>
#include <d3d11.h>
#include <d3dcompiler.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/system.h"
#include "foundation/unique_handle.h"
#include "gui/lattice_source.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The embedded shader source (RCDATA "LATTICE_HLSL").
std::string EmbeddedSource() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, L"LATTICE_HLSL", MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return {};
    const HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    return std::string(static_cast<const char*>(bytes), SizeofResource(module, found));
}

using CompileFn = HRESULT(WINAPI*)(LPCVOID, SIZE_T, LPCSTR, const D3D_SHADER_MACRO*, ID3DInclude*, LPCSTR, LPCSTR, UINT,
                                   UINT, ID3DBlob**, ID3DBlob**);

// Everything the Lattice draws with, on its own device.
struct LatticeDevice {
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<ID3D11VertexShader> vertexShader;
    ComPtr<ID3D11PixelShader> initShader, marchShader, composeShader;
    ComPtr<ID3D11Buffer> constants;
    ComPtr<ID3D11SamplerState> sampler;
    ComPtr<ID3D11RasterizerState> rasterizer;
    ComPtr<ID3D11BlendState> blend;
    ComPtr<ID3D11Texture2D> histTex, statTex, target, staging;
    ComPtr<ID3D11ShaderResourceView> histView, statView;
    ComPtr<ID3D11RenderTargetView> targetView;
    // Two sets of the four march-state targets, written and read in turn.
    static constexpr int kStateTargets = 4;
    ComPtr<ID3D11Texture2D> stateTex[2][kStateTargets];
    ComPtr<ID3D11RenderTargetView> stateTarget[2][kStateTargets];
    ComPtr<ID3D11ShaderResourceView> stateView[2][kStateTargets];
    std::vector<float> hist = std::vector<float>(kLatticeSize * kLatticeSize * 4);
    std::vector<float> stat = std::vector<float>(kLatticeSize * 2 * 4);

    bool CreateDevice() {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                            D3D_FEATURE_LEVEL_10_0};
        D3D_FEATURE_LEVEL got{};
        for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
            if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, 0, levels, 4, D3D11_SDK_VERSION, device.put(), &got,
                                            context.put()))) {
                return true;
            }
        }
        return false;
    }

    bool Compile(const std::string& text, const char* entry, const char* profile, ComPtr<ID3DBlob>& code) {
        static const auto compile = reinterpret_cast<CompileFn>(reinterpret_cast<void*>(
            GetProcAddress(static_cast<HMODULE>(LoadSystemLibrary(L"d3dcompiler_47.dll")), "D3DCompile")));
        if (compile == nullptr) return false;
        ComPtr<ID3DBlob> errors;
        if (FAILED(compile(text.data(), text.size(), "lattice.hlsl", nullptr, nullptr, entry, profile,
                           D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, code.put(), errors.put()))) {
            if (errors) OutputDebugStringA(static_cast<const char*>(errors->GetBufferPointer()));
            return false;
        }
        return true;
    }

    bool CreateTexture(UINT width, UINT height, DXGI_FORMAT format, UINT bind, D3D11_USAGE usage, UINT cpu,
                       ComPtr<ID3D11Texture2D>& texture) {
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = width;
        desc.Height = height;
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = format;
        desc.SampleDesc.Count = 1;
        desc.Usage = usage;
        desc.BindFlags = bind;
        desc.CPUAccessFlags = cpu;
        return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, texture.put()));
    }

    bool Create(double& compileMs, LatticeFaults* faults = nullptr) {
        if (faults != nullptr && faults->failCreate.load()) return false;
        if (!CreateDevice() || device->GetFeatureLevel() < D3D_FEATURE_LEVEL_10_0) return false;
        const std::string text = LatticeShaderText();
        if (text.empty()) return false;
        const auto start = Clock::now();
        ComPtr<ID3DBlob> vs, init, march, compose;
        if (!Compile(text, "vs", "vs_4_0", vs) || !Compile(text, "init", "ps_4_0", init) ||
            !Compile(text, "ps", "ps_4_0", march) || !Compile(text, "compose", "ps_4_0", compose)) {
            return false;
        }
        if (FAILED(device->CreateVertexShader(vs->GetBufferPointer(), vs->GetBufferSize(), nullptr, vertexShader.put())) ||
            FAILED(device->CreatePixelShader(init->GetBufferPointer(), init->GetBufferSize(), nullptr, initShader.put())) ||
            FAILED(device->CreatePixelShader(march->GetBufferPointer(), march->GetBufferSize(), nullptr, marchShader.put())) ||
            FAILED(device->CreatePixelShader(compose->GetBufferPointer(), compose->GetBufferSize(), nullptr,
                                             composeShader.put()))) {
            return false;
        }
        D3D11_BUFFER_DESC buffer{};
        buffer.ByteWidth = 16;
        buffer.Usage = D3D11_USAGE_DEFAULT;
        buffer.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        if (FAILED(device->CreateBuffer(&buffer, nullptr, constants.put()))) return false;
        D3D11_SAMPLER_DESC samplerDesc{};
        samplerDesc.Filter = D3D11_FILTER_MIN_MAG_MIP_POINT;
        samplerDesc.AddressU = samplerDesc.AddressV = samplerDesc.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
        samplerDesc.MaxLOD = D3D11_FLOAT32_MAX;
        if (FAILED(device->CreateSamplerState(&samplerDesc, sampler.put()))) return false;
        // The one triangle built from the vertex id faces away under the default culling.
        D3D11_RASTERIZER_DESC rasterDesc{};
        rasterDesc.FillMode = D3D11_FILL_SOLID;
        rasterDesc.CullMode = D3D11_CULL_NONE;
        rasterDesc.DepthClipEnable = TRUE;
        if (FAILED(device->CreateRasterizerState(&rasterDesc, rasterizer.put()))) return false;
        D3D11_BLEND_DESC blendDesc{};
        blendDesc.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
        if (FAILED(device->CreateBlendState(&blendDesc, blend.put()))) return false;
        if (!CreateTexture(kLatticeSize, kLatticeSize, DXGI_FORMAT_R32G32B32A32_FLOAT, D3D11_BIND_SHADER_RESOURCE,
                           D3D11_USAGE_DEFAULT, 0, histTex) ||
            !CreateTexture(kLatticeSize, 2, DXGI_FORMAT_R32G32B32A32_FLOAT, D3D11_BIND_SHADER_RESOURCE,
                           D3D11_USAGE_DEFAULT, 0, statTex) ||
            !CreateTexture(kLatticeTexture, kLatticeTexture, DXGI_FORMAT_B8G8R8A8_UNORM, D3D11_BIND_RENDER_TARGET,
                           D3D11_USAGE_DEFAULT, 0, target) ||
            !CreateTexture(kLatticeTexture, kLatticeTexture, DXGI_FORMAT_B8G8R8A8_UNORM, 0, D3D11_USAGE_STAGING,
                           D3D11_CPU_ACCESS_READ, staging)) {
            return false;
        }
        for (int set = 0; set < 2; ++set) {
            for (int i = 0; i < kStateTargets; ++i) {
                if (!CreateTexture(kLatticeTexture, kLatticeTexture, DXGI_FORMAT_R32G32B32A32_FLOAT,
                                   D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE, D3D11_USAGE_DEFAULT, 0,
                                   stateTex[set][i]) ||
                    FAILED(device->CreateRenderTargetView(stateTex[set][i].get(), nullptr, stateTarget[set][i].put())) ||
                    FAILED(device->CreateShaderResourceView(stateTex[set][i].get(), nullptr, stateView[set][i].put()))) {
                    return false;
                }
            }
        }
        if (FAILED(device->CreateShaderResourceView(histTex.get(), nullptr, histView.put())) ||
            FAILED(device->CreateShaderResourceView(statTex.get(), nullptr, statView.put())) ||
            FAILED(device->CreateRenderTargetView(target.get(), nullptr, targetView.put()))) {
            return false;
        }
        // The first picture pays for the rasteriser's own shader compilation: part of getting ready.
        std::vector<uint32_t> first;
        const auto empty = std::make_unique<LatticeData>();
        int width = 0, height = 0;
        if (Draw(*empty, 0, 32, 1, first, width, height) != Drawn::Picture) return false;
        compileMs = MillisecondsSince(start);
        return true;
    }

    void Fill(const LatticeData& data) {
        for (int row = 0; row < kLatticeSize; ++row) {
            for (int column = 0; column < kLatticeSize; ++column) {
                const LatticeCell& cell = data.At(row, column);
                float* texel = &hist[(static_cast<size_t>(row) * kLatticeSize + column) * 4];
                const float all = cell.all;
                texel[0] = all;
                texel[1] = all > 0 ? cell.idle / all : 0;
                texel[2] = all > 0 ? cell.late / all : 0;
                texel[3] = all > 0 ? cell.loop / all : 0;
            }
        }
        for (int column = 0; column < kLatticeSize; ++column) {
            const LatticeColumn& c = data.columns[column];
            float* first = &stat[static_cast<size_t>(column) * 4];
            float* second = &stat[(static_cast<size_t>(kLatticeSize) + column) * 4];
            first[0] = c.loopMean;
            first[1] = c.idleMean;
            first[2] = c.p99;
            first[3] = c.spread;
            second[0] = c.lateFraction;
            second[1] = c.score;
            second[2] = c.presence;
            second[3] = 0;
        }
    }

    // Draws into the top-left width x height of the texture (the longer side `size`, the other
    // from the aspect) and reads that region back.
    enum class Drawn { Picture, Stopped, Failed };
    Drawn Draw(const LatticeData& data, double seconds, int size, float aspect, std::vector<uint32_t>& pixels, int& width,
               int& height, const std::atomic<bool>* stop = nullptr, LatticeFaults* faults = nullptr) {
        aspect = std::clamp(aspect, 0.25f, 4.0f);
        width = aspect >= 1 ? size : std::max(1, static_cast<int>(size * aspect + 0.5f));
        height = aspect >= 1 ? std::max(1, static_cast<int>(size / aspect + 0.5f)) : size;
        Fill(data);
        context->UpdateSubresource(histTex.get(), 0, nullptr, hist.data(), kLatticeSize * 16, 0);
        context->UpdateSubresource(statTex.get(), 0, nullptr, stat.data(), kLatticeSize * 16, 0);
        const float frame[4] = {static_cast<float>(seconds), static_cast<float>(size),
                                static_cast<float>(width) / static_cast<float>(height), 0};
        context->UpdateSubresource(constants.get(), 0, nullptr, frame, 0, 0);

        D3D11_VIEWPORT viewport{0, 0, static_cast<float>(width), static_cast<float>(height), 0, 1};
        context->RSSetViewports(1, &viewport);
        context->RSSetState(rasterizer.get());
        context->OMSetBlendState(blend.get(), nullptr, 0xFFFFFFFF);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->IASetInputLayout(nullptr);
        context->VSSetShader(vertexShader.get(), nullptr, 0);
        ID3D11SamplerState* samplers[] = {sampler.get()};
        context->PSSetSamplers(0, 1, samplers);
        ID3D11Buffer* buffers[] = {constants.get()};
        context->PSSetConstantBuffers(0, 1, buffers);
        ID3D11ShaderResourceView* grids[] = {histView.get(), statView.get()};
        context->PSSetShaderResources(0, 2, grids);
        ID3D11ShaderResourceView* noState[kStateTargets] = {};

        // Set every ray up in the first set, then march, each pass reading one set and writing the other.
        ID3D11RenderTargetView* targets[kStateTargets] = {};
        for (int i = 0; i < kStateTargets; ++i) targets[i] = stateTarget[0][i].get();
        context->OMSetRenderTargets(kStateTargets, targets, nullptr);
        context->PSSetShader(initShader.get(), nullptr, 0);
        context->Draw(3, 0);
        int current = 0;
        context->PSSetShader(marchShader.get(), nullptr, 0);
        for (int pass = 0; pass < kLatticePasses; ++pass) {
            const int next = 1 - current;
            context->PSSetShaderResources(2, kStateTargets, noState);
            for (int i = 0; i < kStateTargets; ++i) targets[i] = stateTarget[next][i].get();
            context->OMSetRenderTargets(kStateTargets, targets, nullptr);
            ID3D11ShaderResourceView* views[kStateTargets] = {};
            for (int i = 0; i < kStateTargets; ++i) views[i] = stateView[current][i].get();
            context->PSSetShaderResources(2, kStateTargets, views);
            context->Draw(3, 0);
            current = next;
        }
        ID3D11RenderTargetView* picture[] = {targetView.get()};
        context->OMSetRenderTargets(1, picture, nullptr);
        ID3D11ShaderResourceView* views[kStateTargets] = {};
        for (int i = 0; i < kStateTargets; ++i) views[i] = stateView[current][i].get();
        context->PSSetShaderResources(2, kStateTargets, views);
        context->PSSetShader(composeShader.get(), nullptr, 0);
        context->Draw(3, 0);
        ID3D11ShaderResourceView* none[2 + kStateTargets] = {};
        context->PSSetShaderResources(0, 2 + kStateTargets, none);
        context->OMSetRenderTargets(0, nullptr, nullptr);

        const D3D11_BOX region{0, 0, 0, static_cast<UINT>(width), static_cast<UINT>(height), 1};
        context->CopySubresourceRegion(staging.get(), 0, 0, 0, 0, target.get(), 0, &region);
        context->Flush();
        // Poll rather than block: a blocking read-back can hold the driver's process-wide lock
        // for the whole picture and stall the window's own drawing meanwhile.
        D3D11_MAPPED_SUBRESOURCE mapped{};
        if (faults != nullptr) faults->attempts.fetch_add(1);
        for (;;) {
            HRESULT hr = context->Map(staging.get(), 0, D3D11_MAP_READ, D3D11_MAP_FLAG_DO_NOT_WAIT, &mapped);
            if (SUCCEEDED(hr) && faults != nullptr && faults->failDraws.load() > 0) {
                context->Unmap(staging.get(), 0);
                faults->failDraws.fetch_sub(1);
                hr = DXGI_ERROR_DEVICE_REMOVED;
            }
            if (SUCCEEDED(hr)) break;
            if (stop != nullptr && stop->load()) return Drawn::Stopped;
            if (hr != DXGI_ERROR_WAS_STILL_DRAWING) return Drawn::Failed;
            Sleep(2);
        }
        pixels.resize(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            std::memcpy(&pixels[static_cast<size_t>(y) * width], static_cast<const BYTE*>(mapped.pData) + y * mapped.RowPitch,
                        static_cast<size_t>(width) * 4);
        }
        context->Unmap(staging.get(), 0);
        return Drawn::Picture;
    }
};

// A frame over this long makes the next one smaller, one under it lets it grow back; the
// steps keep the picture a multiple of 32 pixels.
constexpr double kSlowFrameMs = 120;
constexpr double kFastFrameMs = 40;
// Pictures this fast come from a GPU (the read-back's 2 ms polls may last a 15.6 ms timer tick):
// they leave the window's cores alone and take no turns, which would only hold frames back.
constexpr double kTurnsFromMs = 40;
constexpr int kSmallestSize = 160;
constexpr double kRestFactor = 2;
// After a picture that could not be made: rest this long before the next attempt (doubling up
// to a second), and give up on the device after this many failures in a row.
constexpr double kFailureRestMs = 100;
constexpr int kFailuresBeforeNewDevice = 3;
constexpr int kNewDevicesAllowed = 3;

}  // namespace

std::string LatticeShaderText() { return BuildLatticeSource(EmbeddedSource(), kLatticeStepsPerPass); }

LatticeRenderer::~LatticeRenderer() { Stop(); }

void LatticeRenderer::Start() {
    if (thread_.joinable()) return;
    stop_.store(false);
    status_.store(Status::Starting);
    thread_ = std::thread([this] { Run(); });
}

void LatticeRenderer::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
    }
    wake_.notify_all();
    frameReady_.notify_all();
    if (thread_.joinable()) thread_.join();
    turn_.store(false);
    SetEvent(turnOver_.get());
}

void LatticeRenderer::WindowFrameBegins() {
    const std::lock_guard<std::mutex> lock(mutex_);
    inFrame_ = true;
}

void LatticeRenderer::WindowFrameEnds() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        inFrame_ = false;
    }
    wake_.notify_all();
}

void LatticeRenderer::Submit(const LatticeData& data, double seconds, float aspect) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending_ = data;
        pendingSeconds_ = seconds;
        pendingAspect_ = aspect;
        ++submitted_;
    }
    wake_.notify_one();
}

bool LatticeRenderer::TakeFrame(uint64_t& frame, std::vector<uint32_t>& pixels, int& width, int& height) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (frameId_ == frame || picture_.empty()) return false;
    frame = frameId_;
    pixels = picture_;
    width = pictureWidth_;
    height = pictureHeight_;
    return true;
}

bool LatticeRenderer::WaitFrame(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t wanted = submitted_;
    return frameReady_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return stop_.load() || status_.load() == Status::Unavailable || rendered_ >= wanted;
    }) && rendered_ >= wanted && !picture_.empty();
}

void LatticeRenderer::Run() {
    // A COM apartment of its own for the device and the compiler.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        auto device = std::make_unique<LatticeDevice>();
        double compileMs = 0;
        if (!device->Create(compileMs, faults_)) {
            status_.store(Status::Unavailable);
            frameReady_.notify_all();
            CoUninitialize();
            return;
        }
        compileMs_.store(compileMs);
        status_.store(Status::Ready);

        const auto owned = std::make_unique<LatticeData>();  // 132 KB: not on a thread's stack
        LatticeData& data = *owned;
        std::vector<uint32_t> pixels;
        int size = kLatticeTexture / 2;
        int failures = 0, newDevices = 0;
        double rest = 0;
        bool takeTurns = true;  // until a picture shows how long one takes
        for (;;) {
            double seconds = 0;
            float aspect = 1;
            uint64_t taken = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_.load() || submitted_ > rendered_; });
                if (stop_.load()) break;
                if (takeTurns) {
                    // Our turn: the window holds its next frame back until the picture is made.
                    ResetEvent(turnOver_.get());
                    turn_.store(true);
                    wake_.wait(lock, [&] { return stop_.load() || !inFrame_; });
                    if (stop_.load()) break;
                }
                data = pending_;
                seconds = pendingSeconds_;
                aspect = pendingAspect_;
                taken = submitted_;
            }
            const auto start = Clock::now();
            int width = 0, height = 0;
            const LatticeDevice::Drawn drawn = device->Draw(data, seconds, size, aspect, pixels, width, height, &stop_, faults_);
            turn_.store(false);
            SetEvent(turnOver_.get());
            if (drawn == LatticeDevice::Drawn::Stopped) break;
            if (drawn == LatticeDevice::Drawn::Failed) {
                // A device that was removed (a driver install does that) fails every picture from
                // then on: make a new one, and say plainly when that cannot be done. Never retry at
                // once: the submission that failed is still pending and would spin the thread.
                if (++failures >= kFailuresBeforeNewDevice) {
                    failures = 0;
                    auto fresh = std::make_unique<LatticeDevice>();
                    double ignored = 0;
                    if (++newDevices > kNewDevicesAllowed || !fresh->Create(ignored, faults_)) {
                        status_.store(Status::Unavailable);
                        frameReady_.notify_all();
                        break;
                    }
                    device = std::move(fresh);
                }
                rest = rest == 0 ? kFailureRestMs : std::min(rest * 2, 1000.0);
            } else {
                const double spent = MillisecondsSince(start);
                failures = 0;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    picture_.swap(pixels);
                    pictureWidth_ = width;
                    pictureHeight_ = height;
                    rendered_ = taken;
                    ++frameId_;
                }
                frameReady_.notify_all();
                frameMs_.store(spent);
                if (spent > kSlowFrameMs && size > kSmallestSize) size = std::max(kSmallestSize, (size * 3 / 4) / 32 * 32);
                else if (spent < kFastFrameMs && size < kLatticeTexture) size = std::min(kLatticeTexture, (size * 5 / 4 + 31) / 32 * 32);
                size_.store(size);
                // On a software rasteriser the picture takes the processor from the window: rest
                // twice as long as it took, so the chart gets at most a third of the time.
                rest = std::min(spent * kRestFactor, 1000.0);
                takeTurns = spent >= kTurnsFromMs;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::duration<double, std::milli>(rest), [&] { return stop_.load(); });
            if (stop_.load()) break;
        }
    }
    CoUninitialize();
}
