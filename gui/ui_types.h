#pragma once
// Geometry and colour for the window's drawing, in device-independent pixels. Pure values.
#include <algorithm>
#include <cstdint>

struct RectF {
    float left = 0, top = 0, right = 0, bottom = 0;
    float Width() const { return right - left; }
    float Height() const { return bottom - top; }
    bool Contains(float x, float y) const { return x >= left && x < right && y >= top && y < bottom; }
    RectF Inset(float dx, float dy) const { return {left + dx, top + dy, right - dx, bottom - dy}; }
    static RectF Xywh(float x, float y, float w, float h) { return {x, y, x + w, y + h}; }
};

struct PointF {
    float x = 0, y = 0;
};

struct Color {
    float r = 0, g = 0, b = 0, a = 1;
    Color WithAlpha(float alpha) const { return {r, g, b, alpha}; }
    // Part of the way from this colour toward another.
    Color Toward(const Color& other, float t) const {
        return {r + (other.r - r) * t, g + (other.g - g) * t, b + (other.b - b) * t, a + (other.a - a) * t};
    }
};

constexpr Color Rgb(uint32_t hex, float alpha = 1) {
    return {((hex >> 16) & 0xFF) / 255.0f, ((hex >> 8) & 0xFF) / 255.0f, (hex & 0xFF) / 255.0f, alpha};
}

namespace palette {
inline constexpr Color Background = Rgb(0x071638);
inline constexpr Color Blueprint = Rgb(0x123A91);
inline constexpr Color Electric = Rgb(0x347BFF);
inline constexpr Color Icy = Rgb(0x8DB8FF);
inline constexpr Color CoolWhite = Rgb(0xF4F7FF);
inline constexpr Color Muted = Rgb(0x4D72B8);
inline constexpr Color Alert = Rgb(0xFF8A9A);
}  // namespace palette

// The fifteen text formats, in the order they are created.
enum class Font : int {
    Display26 = 0,     // Bruno Ace SC 26
    Title16Bold,       // Philosopher 700 16
    Gruppo12,          // Gruppo 12
    Body12,            // Philosopher 12
    Body11,            // Philosopher 11
    Gruppo13,          // Gruppo 13
    Paragraph13,       // Philosopher 13.5, wrapping
    Mono12,            // Consolas 12.5
    Mono11,            // Consolas 11
    MonoBold15,        // Consolas 700 15
    Display40,         // Bruno Ace SC 40
    Bold13,            // Philosopher 700 13.5
    Bold16,            // Philosopher 700 16
    Heading22,         // Philosopher 700 22, wrapping
    Paragraph16,       // Philosopher 16, wrapping
    Count
};

enum class Align { Leading, Center, Trailing };
