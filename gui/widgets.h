#pragma once
// Immediate-mode widgets: each is drawn and tested in the same call and reports its click.
// A widget goes id -> layout -> behaviour -> draw -> returns the click; the only state kept
// between frames is each button's hover and ripple animation, by id.
#include <map>
#include <string>

#include "gui/renderer.h"
#include "gui/ui_types.h"

// The pointer and keys of one frame, in device-independent pixels.
struct FrameInput {
    float x = -1, y = -1;  // pointer
    bool down = false;
    bool click = false;  // released this frame
    float clickX = -1, clickY = -1;
    bool enter = false;
    int wheel = 0;  // notches, positive away from the user
};

enum class ButtonKind { Primary, Secondary, Quiet, Danger };

struct ButtonOptions {
    ButtonKind kind = ButtonKind::Secondary;
    bool enterKey = false;  // Enter clicks it too
    bool pulse = false;     // breathes to draw the eye
    bool disabled = false;
    Font font = Font::Bold13;
};

class Ui {
public:
    explicit Ui(Renderer& renderer) : r(renderer) {}

    // Starts a frame with its input, its time step and the animation clock.
    void BeginFrame(const FrameInput& input, double dt, double clock);
    // Draws the click ripples over everything.
    void EndFrame();

    // True when the pointer is inside (and, for clickable elements, shows the hand).
    bool Hovered(const RectF& rect) const { return rect.Contains(input.x, input.y); }
    bool Clicked(const RectF& rect) const { return input.click && rect.Contains(input.clickX, input.clickY); }
    bool Button(int id, const RectF& rect, const std::wstring& label, const ButtonOptions& options = {});
    bool CheckBox(int id, const RectF& rect, const std::wstring& label, bool& value);
    void Panel(const RectF& rect, float alpha = 0.55f);
    // The element under the pointer describes itself in the description panel.
    void Describe(const RectF& rect, const std::wstring& caption, const std::wstring& text);

    Renderer& r;
    FrameInput input;
    double dt = 0;
    double clock = 0;
    bool hand = false;  // something clickable is under the pointer
    std::wstring descriptionCaption, descriptionText;

private:
    struct ButtonAnimation {
        float hover = 0;
        float ripple = 0;  // 1 right after a click, fading to 0
        float rippleX = 0, rippleY = 0;
        RectF rect;
    };
    std::map<int, ButtonAnimation> animations_;
};
