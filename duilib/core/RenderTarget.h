#pragma once
// What a control asks of the surface it is drawn on. The window side draws with GDI;
// tests record the calls.

#include <string>
#include <string_view>

#include "duilib/core/UIBase.h"

namespace DuiLib {

// How text sits in its rectangle.
enum TextStyle : unsigned {
    TextLeft = 0,
    TextCenter = 1u << 0,
    TextRight = 1u << 1,
    TextVCenter = 1u << 2,
    TextSingleLine = 1u << 3,
    TextWordBreak = 1u << 4,
    TextHorizontalMask = TextCenter | TextRight,
};

class IRenderTarget {
public:
    virtual ~IRenderTarget() = default;
    // Blends by the colour's alpha; alpha 0 draws nothing.
    virtual void FillColor(const UiRect& rect, Argb color) = 0;
    // A frame of the given width inside the rectangle, opaque.
    virtual void DrawFrame(const UiRect& rect, int width, Argb color) = 0;
    // The named image of the skin, stretched to the rectangle, with per-pixel alpha.
    virtual void DrawImage(const std::wstring& name, const UiRect& rect) = 0;
    // Opaque text in the font of that id (the default font when there is none).
    virtual void DrawText(const UiRect& rect, std::wstring_view text, int fontId, Argb color,
                          unsigned style) = 0;
};

}  // namespace DuiLib
