// The review screen: the BIOS settings to set by hand, and the restart with its confirmation.
#include <algorithm>

#include "gui/screens/screen.h"

namespace {

constexpr int kRestart = 310, kCloseReview = 311, kRestartNow = 312, kNotYet = 313;

void DrawRestartButtons(ScreenContext& c, const RectF& panel, ReviewScreenState& state, ScreenOps& ops) {
    const float width = std::min((panel.Width() - 12) / 2, 250.0f);
    const float left = panel.left + (panel.Width() - (2 * width + 12)) / 2;
    const RectF first = RectF::Xywh(left, panel.bottom - 4 - 34, width, 34);
    const RectF second = RectF::Xywh(left + width + 12, panel.bottom - 4 - 34, width, 34);
    if (!state.confirmOpen) {
        if (c.ui.Button(kRestart, first, L"Restart computer", {ButtonKind::Primary})) state.confirmOpen = true;
        if (c.ui.Button(kCloseReview, second, L"Close")) ops.RequestClose();
        return;
    }
    c.renderer.Text(L"Windows will restart immediately. Set the BIOS items above on the next boot if they are not set yet.",
                   RectF{panel.left + 16, first.top - 30, panel.right - 16, first.top - 6}, Font::Paragraph13,
                   palette::Alert, Align::Center);
    if (c.ui.Button(kRestartNow, first, L"Restart now", {ButtonKind::Danger})) ops.RestartComputer();
    if (c.ui.Button(kNotYet, second, L"Not yet")) state.confirmOpen = false;
}

}  // namespace

void DrawReview(ScreenContext& c, const FrameSnapshot&, ReviewScreenState& state, ScreenOps& ops) {
    const RectF& area = c.layout.content;
    c.ui.Panel(area);
    const RectF inner = area.Inset(24, 20);
    c.renderer.Text(L"Before you restart", RectF{inner.left, inner.top, inner.right, inner.top + 34}, Font::Heading22,
                   palette::CoolWhite);
    c.renderer.Text(L"Windows cannot change BIOS. Set these, then restart so they and the kernel flags take effect.",
                   RectF{inner.left, inner.top + 40, inner.right, inner.top + 70}, Font::Paragraph16, palette::Icy);
    c.renderer.Text(L"Lock the CPU multiplier. Disable Intel Turbo / EIST / Speed Shift, or AMD PBO / Precision Boost.\n"
                   L"Disable deep C-states. Leave C1 if the machine will not POST without it.\n"
                   L"Enable XMP (Intel) or DOCP (AMD) at the RAM's rated frequency, and DRAM voltage if the profile needs it.\n"
                   L"SATA/NVMe in AHCI. Enable Above 4G / Resizable BAR if you want ReBAR.\n"
                   L"If anything is unstable: Settings \u2192 System Restore \u2192 'Quorvantis pre-tune', or Quorvantis.exe "
                   L"--uninstall.",
                   RectF{inner.left, inner.top + 84, inner.right, inner.bottom - 100}, Font::Paragraph16, palette::CoolWhite);
    DrawRestartButtons(c, area, state, ops);
}

