// The GPU Clean screen: the adapter and the vendor's offer, and the lookup, download and trimmed
// install, phase by phase.
#include <algorithm>

#include "foundation/text.h"
#include "gui/screens/screen.h"

namespace {
constexpr int kGpuPrimary = 320, kGpuSecondary = 321, kGpuSkip = 322;
}  // namespace

void DrawGpuClean(ScreenContext& c, const FrameSnapshot& s, ScreenOps& ops) {
    const ScreenLayout& layout = c.layout;
    const int phase = s.gpuPhase;
    const GpuDriverOffer& offer = s.offer;
    c.ui.Panel(layout.mainChart);
    const RectF chart = layout.mainChart.Inset(18, 14);
    c.renderer.Text(L"GPU Clean", RectF{chart.left, chart.top, chart.right, chart.top + 30}, Font::Heading22, palette::CoolWhite);
    c.renderer.Text(L"Display adapter", RectF{chart.left, chart.top + 40, chart.right, chart.top + 60}, Font::Bold13,
                   palette::CoolWhite);
    std::wstring adapter;
    if (!offer.adapterName.empty()) {
        adapter = offer.adapterName;
        if (!offer.currentDriver.empty()) adapter += L"\n" + offer.currentDriver;
        if (!offer.version.empty()) adapter += L"\n" + offer.packageName + L"  " + offer.version;
        if (!offer.notes.empty()) adapter += L"\n" + offer.notes;
    } else if (s.gpuProbed) {
        adapter = s.gpu.name + L"\n" + s.gpu.summary;
    } else {
        adapter = L"Reading the display adapter\u2026";
    }
    c.renderer.Text(adapter, RectF{chart.left, chart.top + 62, chart.right, chart.top + 150}, Font::Paragraph13, palette::Icy);
    c.renderer.Text(L"NVIDIA and AMD packages are downloaded only from the vendor. You will be asked again before anything "
                   L"is installed.",
                   RectF{chart.left, chart.top + 156, chart.right, chart.bottom}, Font::Paragraph13, palette::Icy);
    DrawLogColumn(c, s);

    const RectF panel = layout.stepPanel;
    c.ui.Panel(panel);
    const RectF inner = panel.Inset(18, 14);
    const RectF heading{inner.left, inner.top, inner.right, inner.top + 30};
    const RectF body{inner.left, inner.top + 36, inner.right, inner.bottom - 90};
    const RectF primary = RectF::Xywh(inner.left, inner.bottom - 38, 230, 36);
    const RectF secondary = RectF::Xywh(inner.left + 242, inner.bottom - 38, 150, 36);
    const RectF skip = RectF::Xywh(inner.right - 150, inner.bottom - 38, 150, 36);
    const auto skipStep = [&] { ops.SkipGpuDriver(true); };

    if (!s.gpuCleanAvailable && phase == GpuPhaseNone) {
        // Said plainly rather than run as a lookup that can only fail.
        c.renderer.Text(L"Not available in this build", heading, Font::Heading22, palette::CoolWhite);
        c.renderer.Text(L"The driver lookup, download and trimmed install are not part of this build yet. Nothing is looked "
                       L"up, downloaded or installed. Install the vendor's driver by hand if you need a newer one; GPU Config "
                       L"works with the driver already installed.",
                       body, Font::Paragraph13, palette::Icy);
        if (c.ui.Button(kGpuPrimary, primary, L"Continue", {ButtonKind::Primary, true})) skipStep();
        if (c.ui.Button(kGpuSecondary, secondary, L"Home")) ops.GoHome();
        return;
    }
    switch (phase) {
    case GpuPhaseNone:
    case GpuPhaseLooking:
        c.renderer.Text(L"Looking up the current driver", heading, Font::Heading22, palette::CoolWhite);
        c.renderer.Text(L"Reading the display adapter and asking the vendor for the current package.", body,
                       Font::Paragraph13, palette::Icy);
        if (phase == GpuPhaseNone && c.ui.Button(kGpuPrimary, primary, L"Check again", {ButtonKind::Primary})) {
            ops.GpuLookup();
        }
        break;
    case GpuPhaseFound:
    case GpuPhaseDownloading:
    case GpuPhaseDownloaded: {
        c.renderer.Text(offer.packageName + (offer.version.empty() ? L"" : L"  " + offer.version), heading, Font::Heading22,
                       palette::CoolWhite);
        std::wstring text = offer.description;
        if (phase == GpuPhaseFound && !offer.Downloadable() && !offer.error.empty()) text += L"\n\n" + offer.error;
        if (phase == GpuPhaseDownloading) text += L"\n\nDownloading. This does not install the driver yet.";
        if (phase == GpuPhaseDownloaded) {
            text += L"\n\nInstall the trimmed driver now? The display will flicker, this window may go blank until the "
                    L"installer finishes, and a restart is required afterward.";
        }
        c.renderer.Text(text, body, Font::Paragraph13, palette::Icy);
        if (phase == GpuPhaseFound) {
            if (!offer.Downloadable()) {
                if (c.ui.Button(kGpuPrimary, primary, L"Check again", {ButtonKind::Primary})) ops.GpuLookup();
            } else {
                const std::wstring label =
                    offer.size > 0 ? L"Download  |  " + FormatSize(offer.size)
                                   : std::wstring(offer.vendor == GpuNvidia ? L"Download NVIDIA driver" : L"Download AMD driver");
                if (c.ui.Button(kGpuPrimary, primary, label, {ButtonKind::Primary, true})) ops.GpuDownload();
            }
        } else if (phase == GpuPhaseDownloading) {
            const double fraction = std::clamp(s.view.progress.fraction, 0.0, 1.0);
            const RectF bar{inner.left, inner.bottom - 78, inner.right, inner.bottom - 70};
            c.renderer.FillRect(bar, palette::Blueprint, 4);
            c.renderer.FillRect(RectF{bar.left, bar.top, bar.left + bar.Width() * static_cast<float>(fraction), bar.bottom},
                               palette::Electric, 4);
            std::wstring amount = FormatText(L"%d%%", static_cast<int>(fraction * 100));
            if (offer.size > 0) {
                amount += L"    " + FormatSize(static_cast<uint64_t>(fraction * static_cast<double>(offer.size))) + L"  of  " +
                          FormatSize(offer.size);
            }
            c.renderer.Text(amount, RectF{inner.left, inner.bottom - 66, inner.right, inner.bottom - 46}, Font::Mono12,
                           palette::CoolWhite);
            if (c.ui.Button(kGpuSecondary, RectF::Xywh(inner.right - 140, inner.bottom - 38, 140, 36), L"Stop",
                           {ButtonKind::Danger})) {
                ops.StopStep(SlotGpuDriver);
            }
        } else if (c.ui.Button(kGpuPrimary, primary, L"Install trimmed driver", {ButtonKind::Primary, true})) {
            ops.GpuInstall();
        }
        break;
    }
    case GpuPhaseInstalling:
        c.renderer.Text(L"Installing", heading, Font::Heading22, palette::CoolWhite);
        c.renderer.Text(L"Installing the trimmed driver. The display may flicker, and this window may go blank until the "
                       L"installer finishes. Leave this step running.",
                       body, Font::Paragraph13, palette::Icy);
        break;
    case GpuPhaseInstalled:
        c.renderer.Text(L"Installed", heading, Font::Heading22, palette::CoolWhite);
        c.renderer.Text(L"The trimmed driver is installed. Restart Windows before it is fully in use. GPU Config can write its "
                       L"settings now.",
                       body, Font::Paragraph13, palette::Icy);
        if (c.ui.Button(kGpuPrimary, primary, L"Continue  -  configure GPU", {ButtonKind::Primary, true})) ops.ContinueAfterDriver();
        break;
    case GpuPhaseFailed:
        c.renderer.Text(L"The driver step failed.", heading, Font::Heading22, palette::Alert);
        c.renderer.Text(s.gpuStatus, body, Font::Paragraph13, palette::CoolWhite);
        if (c.ui.Button(kGpuPrimary, primary, L"Retry", {ButtonKind::Primary})) ops.RetryGpuClean();
        break;
    case GpuPhaseManual:
        c.renderer.Text(L"No vendor package can be installed from here.", heading, Font::Heading22, palette::CoolWhite);
        c.renderer.Text(L"NVIDIA: graphics driver only. Skip the NVIDIA App, telemetry, ShadowPlay, and HD audio.\n"
                       L"AMD: choose Driver Only. Skip Adrenalin, the overlay, Chill, and the other extras.\n"
                       L"DDU in Safe Mode is optional if an older package left leftovers.\n"
                       L"Afterburner and RivaTuner are installed by the GPU step. BIOS Resizable BAR stays manual.",
                       body, Font::Paragraph13, palette::Icy);
        if (c.ui.Button(kGpuPrimary, primary, L"Continue", {ButtonKind::Primary, true})) skipStep();
        if (c.ui.Button(kGpuSecondary, secondary, L"Check again")) ops.GpuLookup();
        break;
    default:
        break;
    }
    const bool waiting = phase == GpuPhaseFound || phase == GpuPhaseDownloaded || phase == GpuPhaseFailed;
    if (waiting && c.ui.Button(kGpuSkip, skip, L"Skip this step")) skipStep();
}

