#include "gui/widgets.h"

#include <cmath>

void Ui::BeginFrame(const FrameInput& frameInput, double frameDt, double frameClock) {
    input = frameInput;
    dt = frameDt;
    clock = frameClock;
    hand = false;
    descriptionCaption.clear();
    descriptionText.clear();
}

void Ui::EndFrame() {
    for (auto& [id, a] : animations_) {
        if (a.ripple <= 0) continue;
        const float grown = (1 - a.ripple) * std::max(a.rect.Width(), a.rect.Height());
        r.Glow(a.rippleX, a.rippleY, 8 + grown, palette::Icy, 0.35f * a.ripple);
        a.ripple = std::max(0.0f, a.ripple - static_cast<float>(dt) * 2.5f);
    }
}

void Ui::Panel(const RectF& rect, float alpha) {
    r.FillRect(rect, palette::Blueprint.WithAlpha(alpha * 0.5f), 10);
    r.StrokeRect(rect, palette::Muted.WithAlpha(0.45f), 1, 10);
}

void Ui::Describe(const RectF& rect, const std::wstring& caption, const std::wstring& text) {
    if (!Hovered(rect)) return;
    descriptionCaption = caption;
    descriptionText = text;
}

bool Ui::Button(int id, const RectF& rect, const std::wstring& label, const ButtonOptions& options) {
    ButtonAnimation& a = animations_[id];
    a.rect = rect;
    const bool hovered = !options.disabled && Hovered(rect);
    if (hovered) hand = true;
    // Eases toward the pointer's state at the same pace at any frame rate.
    const float target = hovered ? 1.0f : 0.0f;
    a.hover = target + (a.hover - target) * static_cast<float>(std::exp(-12 * dt));
    const bool clicked = !options.disabled && ((input.click && rect.Contains(input.clickX, input.clickY)) ||
                                               (options.enterKey && input.enter));
    if (clicked) {
        a.ripple = 1;
        a.rippleX = input.click ? input.clickX : (rect.left + rect.right) / 2;
        a.rippleY = input.click ? input.clickY : (rect.top + rect.bottom) / 2;
    }

    Color fill = palette::Blueprint.WithAlpha(0.55f);
    Color edge = palette::Muted;
    Color text = palette::CoolWhite;
    switch (options.kind) {
    case ButtonKind::Primary:
        fill = palette::Electric.WithAlpha(0.80f);
        edge = palette::Icy;
        break;
    case ButtonKind::Quiet:
        fill = palette::Background.WithAlpha(0.3f);
        text = palette::Icy;
        break;
    case ButtonKind::Danger:
        fill = palette::Alert.WithAlpha(0.25f);
        edge = palette::Alert;
        break;
    case ButtonKind::Secondary:
        break;
    }
    if (options.disabled) {
        fill = fill.WithAlpha(fill.a * 0.35f);
        edge = edge.WithAlpha(0.35f);
        text = palette::Muted;
    }
    if (options.pulse && !options.disabled) {
        const float breath = 0.5f + 0.5f * static_cast<float>(std::sin(3.1 * clock));
        r.Glow((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2, rect.Width() * 0.7f, palette::Electric,
               0.18f + 0.22f * breath);
    }
    r.FillRect(rect, fill.Toward(palette::Electric, 0.35f * a.hover), 8);
    r.StrokeRect(rect, edge.Toward(palette::CoolWhite, 0.5f * a.hover), 1.2f, 8);
    r.Text(label, rect.Inset(8, 0), options.font, text, Align::Center, true);
    return clicked;
}

bool Ui::CheckBox(int id, const RectF& rect, const std::wstring& label, bool& value) {
    const RectF box = RectF::Xywh(rect.left, rect.top + (rect.Height() - 16) / 2, 16, 16);
    const bool clicked = Button(id, box, L"", ButtonOptions{value ? ButtonKind::Primary : ButtonKind::Secondary}) ||
                         (Clicked(rect) && !Clicked(box));
    if (Hovered(rect)) hand = true;
    if (clicked) value = !value;
    if (value) {
        r.Line(box.left + 3.5f, box.top + 8.5f, box.left + 7, box.top + 12, palette::CoolWhite, 2);
        r.Line(box.left + 7, box.top + 12, box.left + 13, box.top + 4.5f, palette::CoolWhite, 2);
    }
    r.Text(label, RectF{box.right + 8, rect.top, rect.right, rect.bottom}, Font::Body12, palette::CoolWhite,
           Align::Leading, true);
    return clicked;
}
