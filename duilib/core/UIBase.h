#pragma once
// Geometry, colours and attribute-value parsing shared by the skin library's controls,
// builder and paint manager. No window system here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace DuiLib {

struct UiPoint {
    int x = 0;
    int y = 0;
};

struct UiSize {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const UiSize& a, const UiSize& b) { return a.cx == b.cx && a.cy == b.cy; }
};

struct UiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    // Half-open, like the window system: the right and bottom edges lie outside.
    bool Contains(UiPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool Intersects(const UiRect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    UiRect Deflated(const UiRect& by) const {
        return {left + by.left, top + by.top, right - by.right, bottom - by.bottom};
    }
    friend bool operator==(const UiRect& a, const UiRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    friend bool operator!=(const UiRect& a, const UiRect& b) { return !(a == b); }
};

// A colour as the layouts write it: alpha << 24 | red << 16 | green << 8 | blue.
using Argb = std::uint32_t;

constexpr std::uint8_t AlphaOf(Argb c) { return static_cast<std::uint8_t>(c >> 24); }
constexpr std::uint8_t RedOf(Argb c) { return static_cast<std::uint8_t>(c >> 16); }
constexpr std::uint8_t GreenOf(Argb c) { return static_cast<std::uint8_t>(c >> 8); }
constexpr std::uint8_t BlueOf(Argb c) { return static_cast<std::uint8_t>(c); }
// Text and border colours ignore their alpha byte: "#00FFFFFF" is opaque white.
constexpr Argb Opaque(Argb c) { return c | 0xFF000000u; }

// "#AARRGGBB", exactly eight hexadecimal digits.
std::optional<Argb> ParseColor(std::wstring_view text);
// A decimal integer with an optional sign, nothing else.
std::optional<int> ParseInt(std::wstring_view text);
// "left,top,right,bottom".
std::optional<UiRect> ParseRect(std::wstring_view text);
// "width,height".
std::optional<UiSize> ParseSize(std::wstring_view text);
// Only "true" is true.
bool ParseBool(std::wstring_view text);

// Letter case ignored for ASCII letters only, so the result never depends on the locale.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
std::wstring ToLowerAscii(std::wstring_view text);
// UTF-16 (Windows) or UTF-32 (elsewhere) to UTF-8; a broken surrogate becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);

}  // namespace DuiLib
